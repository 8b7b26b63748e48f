// The progress window and the help window.

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

template <class T = QLabel>
T* Child(QWidget& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        throw std::runtime_error(std::string("no control ") + name);
    }
    return child;
}

TEST(ProcessingDialog, DisablesItsOwnerUntilDestroyedAndRefusesToClose) {
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<TdlgProcessing>(&owner);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Converting file"));
    EXPECT_EQ(Child(*dialog, "lblProcessing")->text(), QStringLiteral("Please wait. . ."));
    EXPECT_EQ(Child<QPushButton>(*dialog, "btnCancel")->text(), QStringLiteral("Cancel"));
    EXPECT_FALSE(owner.isEnabled());
    // Disabling the owner must not disable the dialog, or Cancel could not be pressed.
    EXPECT_TRUE(Child<QPushButton>(*dialog, "btnCancel")->isEnabled());

    EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(dialog->close());
    QCloseEvent request;
    QApplication::sendEvent(dialog.get(), &request);
    EXPECT_FALSE(request.isAccepted());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->IsCancelled());

    owner.hide();
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_TRUE(owner.isVisible());  // shown again
}

TEST(ProcessingDialog, ProgressBarShowsTheShareOfInputRead) {
    TdlgProcessing dialog(nullptr);
    QProgressBar* bar = Child<QProgressBar>(dialog, "barProgress");
    EXPECT_EQ(bar->value(), 0);
    dialog.ShowProgress(250, 1000);
    EXPECT_EQ(bar->maximum(), 1000);
    EXPECT_EQ(bar->value(), 250);
    dialog.ShowProgress(5'000'000'000'000ULL, 10'000'000'000'000ULL);  // no overflow
    EXPECT_EQ(bar->value(), 500);
    dialog.ShowProgress(1200, 1000);  // a file that grew while being read
    EXPECT_EQ(bar->value(), 1000);
    dialog.ShowProgress(77, 0);  // size unknown: a busy bar
    EXPECT_EQ(bar->maximum(), 0);
    kstest::ExpectNothingClippedOrOverlapping(dialog);
}

TEST(HelpDialog, ShowsItsLabelsAndHandsTheLinksToTheDesktop) {
    FakeFormServices services;
    TdlgHelp help(nullptr, services);
    help.show();
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Getting Help"));
    for (auto [name, text] : {
             std::pair{"Label2", "BSR and Menu*Tally Technical Support Resources:"},
             {"Label1", "Purpose and Discussion of this Data Conversion Program:"},
             {"Label3", "BSR Web Site:"},
             {"Label4", "Email Technical Support:"},
             {"lblConverterWebSite", MTCONVERT_CONVERTER_URL},
             {"lblBSRWebSite", MTCONVERT_SITE_URL},
             {"lblEmail", MTCONVERT_SUPPORT_EMAIL},
         }) {
        EXPECT_EQ(Child(help, name)->text().toStdString(), text);
    }
    EXPECT_EQ(Child<QPushButton>(help, "btnOK")->text(), QStringLiteral("OK"));
    EXPECT_TRUE(Child(help, "Label2")->font().bold());
    for (const char* name : {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"}) {
        QLabel* link = Child(help, name);
        EXPECT_TRUE(link->font().underline()) << name;
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor) << name;
        EXPECT_EQ(link->palette().color(QPalette::WindowText), help.palette().color(QPalette::Link))
            << name;
    }
    kstest::ExpectNothingClippedOrOverlapping(help);

    // A link's caption is its target: changing it changes what is opened.
    Child(help, "lblBSRWebSite")->setText(QStringLiteral("https://example.org/products"));
    QTest::mouseClick(Child(help, "lblConverterWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child(help, "lblBSRWebSite"), Qt::LeftButton);
    QTest::mouseClick(Child(help, "lblEmail"), Qt::LeftButton);
    QTest::mouseClick(Child(help, "lblEmail"), Qt::RightButton);  // not a click on a link
    EXPECT_EQ(services.addresses,
              (std::vector<QString>{QStringLiteral(MTCONVERT_CONVERTER_URL),
                                    QStringLiteral("https://example.org/products"),
                                    QStringLiteral("mailto:" MTCONVERT_SUPPORT_EMAIL)}));
    EXPECT_TRUE(services.messages.empty());

    // A desktop that cannot open them: one message each, and nothing else changes.
    services.addressOpens = false;
    for (const char* name : {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"}) {
        QTest::mouseClick(Child(help, name), Qt::LeftButton);
    }
    ASSERT_EQ(services.messages.size(), 3u);
    const QString browser = QStringLiteral("Cannot open Internet browser to view web site.");
    EXPECT_EQ(services.messages[0].text, browser);
    EXPECT_EQ(services.messages[1].text, browser);
    EXPECT_EQ(services.messages[2].text, QStringLiteral("Cannot send email."));
    for (const ShownMessage& message : services.messages) {
        EXPECT_EQ(message.caption, QStringLiteral("Error"));
        EXPECT_EQ(message.kind, MessageKind::Error);
    }
    EXPECT_TRUE(help.isVisible());
}

}  // namespace
