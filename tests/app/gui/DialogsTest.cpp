// The progress window and the help window.

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "FakeFormServices.h"
#include "LinkLabel.h"
#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

template <class T>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        ADD_FAILURE() << "no control " << name;
    }
    return child;
}

QString Text(QWidget& parent, const char* name) {
    QLabel* label = Child<QLabel>(parent, name);
    return label ? label->text() : QString();
}

TEST(ProcessingDialog, ShowsAtOnceAndDisablesItsOwnerUntilDestroyed) {
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<TdlgProcessing>(&owner);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Converting file"));
    EXPECT_EQ(Text(*dialog, "lblProcessing"), QStringLiteral("Please wait. . ."));
    EXPECT_EQ(Child<QPushButton>(*dialog, "btnCancel")->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(owner.isEnabled());
    // Disabling the owner must not disable the dialog, or Cancel could not be pressed.
    EXPECT_TRUE(dialog->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(*dialog, "btnCancel")->isEnabled());
    EXPECT_FALSE(dialog->IsCancelled());

    owner.hide();
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_TRUE(owner.isVisible());
}

TEST(ProcessingDialog, CannotBeClosedByACloseRequestOrEscape) {
    QWidget owner;
    TdlgProcessing dialog(&owner);
    const Qt::WindowFlags flags = dialog.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));

    EXPECT_FALSE(dialog.close());
    QCloseEvent request;
    QApplication::sendEvent(&dialog, &request);
    EXPECT_FALSE(request.isAccepted());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.IsCancelled());
    EXPECT_FALSE(owner.isEnabled());
}

TEST(ProcessingDialog, CheckCancelHandlesTheWaitingClickOnCancel) {
    QWidget owner;
    TdlgProcessing dialog(&owner);
    EXPECT_FALSE(dialog.CheckCancel());

    // The click waits in the event queue, as it does while a conversion runs.
    QPushButton* cancel = Child<QPushButton>(dialog, "btnCancel");
    QMetaObject::invokeMethod(
        cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); }, Qt::QueuedConnection);
    EXPECT_FALSE(dialog.IsCancelled());
    EXPECT_TRUE(dialog.CheckCancel());
    EXPECT_FALSE(dialog.isVisible());   // hidden at once
    EXPECT_TRUE(dialog.CheckCancel());  // and it stays cancelled
    EXPECT_FALSE(owner.isEnabled());    // until the conversion destroys it
}

TEST(ProcessingDialog, ProgressBarShowsTheShareOfInputRead) {
    TdlgProcessing dialog(nullptr);
    QProgressBar* bar = Child<QProgressBar>(dialog, "barProgress");
    EXPECT_EQ(bar->value(), 0);
    dialog.ShowProgress(250, 1000);
    EXPECT_EQ(bar->maximum(), 1000);
    EXPECT_EQ(bar->value(), 250);
    // Large files: no overflow of the per-mille arithmetic.
    dialog.ShowProgress(5'000'000'000'000ULL, 10'000'000'000'000ULL);
    EXPECT_EQ(bar->value(), 500);
    dialog.ShowProgress(1200, 1000);  // a file that grew while being read
    EXPECT_EQ(bar->value(), 1000);
    dialog.ShowProgress(77, 0);  // size unknown: a busy bar
    EXPECT_EQ(bar->maximum(), 0);
}

TEST(HelpDialog, ShowsItsLabelsAndTheConfiguredLinks) {
    FakeFormServices services;
    QWidget owner;
    TdlgHelp help(&owner, services);
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Getting Help"));
    EXPECT_EQ(Text(help, "Label2"),
              QStringLiteral("BSR and Menu*Tally Technical Support Resources:"));
    EXPECT_EQ(Text(help, "Label1"),
              QStringLiteral("Purpose and Discussion of this Data Conversion Program:"));
    EXPECT_EQ(Text(help, "Label3"), QStringLiteral("BSR Web Site:"));
    EXPECT_EQ(Text(help, "Label4"), QStringLiteral("Email Technical Support:"));
    EXPECT_EQ(Text(help, "lblConverterWebSite"), QStringLiteral(MTCONVERT_CONVERTER_URL));
    EXPECT_EQ(Text(help, "lblBSRWebSite"), QStringLiteral(MTCONVERT_SITE_URL));
    EXPECT_EQ(Text(help, "lblEmail"), QStringLiteral(MTCONVERT_SUPPORT_EMAIL));
    EXPECT_EQ(Child<QPushButton>(help, "btnOK")->text(), QStringLiteral("OK"));
    EXPECT_TRUE(Child<QLabel>(help, "Label2")->font().bold());
    for (const char* name : {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"}) {
        QLabel* link = Child<QLabel>(help, name);
        EXPECT_TRUE(link->font().underline()) << name;
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor) << name;
        EXPECT_EQ(link->palette().color(QPalette::WindowText), help.palette().color(QPalette::Link))
            << name;
    }
}

TEST(HelpDialog, LinksHandTheirCaptionsToTheDesktop) {
    FakeFormServices services;
    TdlgHelp help(nullptr, services);
    help.show();
    // A link's caption is its target: changing it changes what is opened.
    Child<QLabel>(help, "lblBSRWebSite")->setText(QStringLiteral("https://example.org/products"));
    QTest::mouseClick(Child<QLabel>(help, "lblConverterWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child<QLabel>(help, "lblBSRWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child<QLabel>(help, "lblEmail"), Qt::LeftButton);
    QTest::mouseClick(Child<QLabel>(help, "lblEmail"), Qt::RightButton);  // not a click on a link
    ASSERT_EQ(services.addresses.size(), 3u);
    EXPECT_EQ(services.addresses[0], QStringLiteral(MTCONVERT_CONVERTER_URL));
    EXPECT_EQ(services.addresses[1], QStringLiteral("https://example.org/products"));
    EXPECT_EQ(services.addresses[2], QStringLiteral("mailto:" MTCONVERT_SUPPORT_EMAIL));
    EXPECT_TRUE(services.messages.empty());
}

TEST(HelpDialog, FailingDesktopShowsTheTwoMessages) {
    FakeFormServices services;
    services.addressOpens = false;
    TdlgHelp help(nullptr, services);
    help.show();
    QTest::mouseClick(Child<QLabel>(help, "lblConverterWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child<QLabel>(help, "lblBSRWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child<QLabel>(help, "lblEmail"), Qt::LeftButton);
    ASSERT_EQ(services.messages.size(), 3u);
    const QString browser = QStringLiteral("Cannot open Internet browser to view web site.");
    EXPECT_EQ(services.messages[0].text, browser);
    EXPECT_EQ(services.messages[1].text, browser);
    EXPECT_EQ(services.messages[2].text, QStringLiteral("Cannot send email."));
    for (const ShownMessage& message : services.messages) {
        EXPECT_EQ(message.caption, QStringLiteral("Error"));
        EXPECT_EQ(message.kind, MessageKind::Error);
    }
    EXPECT_TRUE(help.isVisible());  // nothing else changes
}

TEST(Dialogs, NoTextIsClippedAndNoControlsOverlap) {
    FakeFormServices services;
    TdlgProcessing processing(nullptr);
    processing.ShowProgress(1, 3);
    kstest::ExpectNothingClippedOrOverlapping(processing);
    TdlgHelp help(nullptr, services);
    help.show();
    kstest::ExpectNothingClippedOrOverlapping(help);
}

TEST(HelpDialog, OkClosesTheModalWindow) {
    FakeFormServices services;
    TdlgHelp help(nullptr, services);
    QMetaObject::invokeMethod(
        &help, [&help] { QTest::mouseClick(Child<QPushButton>(help, "btnOK"), Qt::LeftButton); },
        Qt::QueuedConnection);
    EXPECT_EQ(help.exec(), QDialog::Accepted);
    EXPECT_FALSE(help.isVisible());
}

}  // namespace
