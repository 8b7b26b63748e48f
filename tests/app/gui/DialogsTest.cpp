// The progress window and the help window (their captions are in the main window's test).

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>

#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

TEST(ProcessingDialog, DisablesItsOwnerUntilDestroyedAndRefusesToClose) {
    QWidget owner;
    owner.show();
    auto dialog = std::make_unique<TdlgProcessing>(&owner);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(owner.isEnabled());
    // Disabling the owner must not disable the dialog, or Cancel could not be pressed.
    EXPECT_TRUE(Child(*dialog, "btnCancel")->isEnabled());
    EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QCloseEvent request;
    QApplication::sendEvent(dialog.get(), &request);
    EXPECT_FALSE(request.isAccepted());
    EXPECT_FALSE(dialog->IsCancelled());
    owner.hide();
    dialog.reset();
    EXPECT_TRUE(owner.isEnabled());
    EXPECT_TRUE(owner.isVisible());  // shown again
}

TEST(ProcessingDialog, ProgressBarShowsTheShareOfInputRead) {
    TdlgProcessing dialog(nullptr);
    auto* bar = Child<QProgressBar>(dialog, "barProgress");
    EXPECT_EQ(bar->value(), 0);
    struct Step {
        std::uint64_t consumed, total;
        int maximum, value;
    };
    for (const Step& step :
         {Step{250, 1000, 1000, 250}, Step{5'000'000'000'000ULL, 10'000'000'000'000ULL, 1000, 500},
          Step{1200, 1000, 1000, 1000},  // a file that grew while read
          Step{77, 0, 0, 0}}) {          // size unknown: a busy bar
        dialog.ShowProgress(step.consumed, step.total);
        EXPECT_EQ(bar->maximum(), step.maximum);
        if (step.maximum > 0) {
            EXPECT_EQ(bar->value(), step.value);
        }
    }
    kstest::ExpectNothingClippedOrOverlapping(dialog);
}

TEST(HelpDialog, HandsTheLinksToTheDesktopAndSaysWhenItCannot) {
    FakeFormServices services;
    TdlgHelp help(nullptr, services);
    help.show();
    EXPECT_TRUE(Child<QLabel>(help, "Label2")->font().bold());
    const char* const links[] = {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"};
    for (const char* name : links) {
        auto* link = Child<QLabel>(help, name);
        EXPECT_TRUE(link->font().underline()) << name;
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor) << name;
        EXPECT_EQ(link->palette().color(QPalette::WindowText), help.palette().color(QPalette::Link))
            << name;
    }
    kstest::ExpectNothingClippedOrOverlapping(help);

    // A link's caption is its target: changing it changes what is opened. A desktop that
    // cannot open them: one message each, and nothing else changes.
    Child<QLabel>(help, "lblBSRWebSite")->setText(QStringLiteral("https://example.org/products"));
    for (bool opens : {true, false}) {
        services.addressOpens = opens;
        for (const char* name : links) {
            QTest::mouseClick(Child(help, name), Qt::LeftButton);
        }
    }
    QTest::mouseClick(Child(help, "lblEmail"), Qt::RightButton);  // not a click on a link
    const std::string site = "address " MTCONVERT_CONVERTER_URL;
    const std::string products = "address https://example.org/products";
    const std::string mail = "address mailto:" MTCONVERT_SUPPORT_EMAIL;
    const std::string browser = "error Error|Cannot open Internet browser to view web site.";
    EXPECT_EQ(services.Take(), (Log{site, products, mail, site, browser, products, browser, mail,
                                    "error Error|Cannot send email."}));
    EXPECT_TRUE(help.isVisible());
}

}  // namespace
