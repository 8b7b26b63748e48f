// The main window's checks before a conversion and conversions run through its button:
// the file written, the messages, the progress window, Cancel.

#include <gtest/gtest.h>

#include <QPushButton>

#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class Conversion : public kstest::WindowTest {
protected:
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");

    void PressCreate() { QTest::mouseClick(Get<QPushButton>("btnOK"), Qt::LeftButton); }

    // The one message shown so far, as "caption|text".
    std::string OnlyMessage() {
        EXPECT_EQ(services.messages.size(), 1u);
        if (services.messages.empty()) {
            return {};
        }
        const ShownMessage shown = services.messages.back();
        services.messages.clear();
        return (shown.caption + QLatin1Char('|') + shown.text).toStdString();
    }
};

TEST_F(Conversion, ChecksWarnOfTheFirstProblemOnlyAndWriteNothing) {
    WriteWholeFile(in, "h\na,b\n");
    struct Case {
        std::string input, output, headerSize, warning;
    };
    for (const Case& c : {
             Case{"", "", "50", "Please enter a valid input file name."},
             Case{dir.File("missing.csv"), out, "50", "Please enter a valid input file name."},
             Case{in, "", "50", "Please enter a valid output file name."},
             Case{in, dir.File("IN.CSV"), "50",
                  "You cannot choose the same file name for the input and the output."},
             Case{in, out, "", "Please enter a valid scanner header length."},
         }) {
        SetNames(c.input, c.output);
        Edit("edtScannerHeaderSize")->setText(QString::fromStdString(c.headerSize));
        PressCreate();
        ASSERT_EQ(services.messages.size(), 1u) << c.warning;
        EXPECT_EQ(services.messages[0].kind, MessageKind::Warning);
        EXPECT_EQ(OnlyMessage(), "Warning|" + c.warning);
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("IN.CSV")));

    // Without the insert option an empty size passes.
    Click(Check("chkInsertHeaderField"));
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 2");
    EXPECT_EQ(ReadWholeFile(out), "ab\n");
}

TEST_F(Conversion, CreateWritesTheFileWithTheOptionsShownAndClosingAsksNothingAfter) {
    WriteWholeFile(in, "xy,z\r\na,b,c\r\nd,e,f\r\n");
    SetNames(in, out);
    Edit("edtScannerHeaderSize")->setText(QStringLiteral("2"));
    Click(Check("chkRemoveColHeaders"));  // the first line is data now
    bool progressGone = false;
    bool formEnabled = false;
    services.onMessage = [&] {
        progressGone = FindTopLevel<TdlgProcessing>() == nullptr;
        formEnabled = form.isEnabled();
    };
    PressCreate();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 5");
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n  def\n");
    EXPECT_TRUE(progressGone);
    EXPECT_TRUE(formEnabled);
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());
}

TEST_F(Conversion, ErrorIsShownUnderErrorAndTheWindowStaysUsable) {
    WriteWholeFile(in, "h\na,b\nno comma here\nc,d\n");
    SetNames(in, out);
    Click(Check("chkInsertHeaderField"));  // a change, so closing will ask
    PressCreate();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].kind, MessageKind::Error);
    EXPECT_EQ(OnlyMessage(), "Error|\"" + in +
                                 "\" is not a valid comma separated file.\nPlease choose a new "
                                 "input file.");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // The failed run did not count as a conversion, and a good input converts.
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    WriteWholeFile(in, "h\na,b\nc,d\n");
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 2");
    EXPECT_EQ(ReadWholeFile(out), "ab\ncd\n");
}

TEST_F(Conversion, CancelDuringALongRunKeepsWholeRecordsAndShowsNothing) {
    const int records = 1000;
    std::string content = "id,answer\r\n";
    for (int i = 0; i < records; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%06d,%c\r\n", i, 'a' + i % 26);
        content += line;
    }
    WriteWholeFile(in, content);
    SetNames(in, out);
    Click(Check("chkInsertHeaderField"));
    int rounds = 0;
    bool formDisabled = false;
    bool closeRefused = false;
    // The first time the run lets events through, this takes a while (as a slow desktop
    // would), so the run lets them through again soon after; Cancel is pressed then.
    std::function<void()> pressLater = [&] {
        if (++rounds == 1) {
            formDisabled = !form.isEnabled();
            closeRefused = !form.close();
            QTest::qSleep(30);
            QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
            return;
        }
        TdlgProcessing* dialog = FindTopLevel<TdlgProcessing>();
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCancel")),
                          Qt::LeftButton);
    };
    QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
    PressCreate();
    EXPECT_EQ(rounds, 2);
    EXPECT_TRUE(formDisabled);
    EXPECT_TRUE(closeRefused);
    EXPECT_TRUE(services.messages.empty());
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // Whole records, in order, from the first up to the one Cancel was pressed during.
    const std::string output = ReadWholeFile(out);
    ASSERT_EQ(output.size() % 8, 0u);
    const std::size_t written = output.size() / 8;
    EXPECT_GT(written, 1u);
    EXPECT_LT(written, static_cast<std::size_t>(records));
    for (std::size_t i = 0; i < written; ++i) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%06zu%c\n", i, static_cast<char>('a' + i % 26));
        ASSERT_EQ(output.compare(i * 8, 8, expected), 0) << "record " << i + 1;
    }
    // A cancelled run is no conversion: closing still asks.
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.questions.size(), 1u);
}

}  // namespace
