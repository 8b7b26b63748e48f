// The main window's checks before a conversion and conversions run through its button:
// the file written, the messages, the progress window, Cancel.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>

#include "FakeFormServices.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class Conversion : public kstest::WindowTest {
protected:
    void PressCreate() { QTest::mouseClick(Get<QPushButton>("btnOK"), Qt::LeftButton); }

    // The one message shown so far, as "caption|text".
    std::string OnlyMessage() {
        EXPECT_EQ(services.messages.size(), 1u);
        if (services.messages.empty()) {
            return {};
        }
        const ShownMessage& shown = services.messages.back();
        return (shown.caption + QLatin1Char('|') + shown.text).toStdString();
    }

    // Many short records with a header line: a run long enough to be cancelled.
    std::string WriteLongInput(const std::string& name, int records) {
        std::string content = "id,answer\r\n";
        for (int i = 0; i < records; ++i) {
            char line[32];
            std::snprintf(line, sizeof line, "%06d,%c\r\n", i, 'a' + i % 26);
            content += line;
        }
        WriteWholeFile(dir.File(name), content);
        return dir.File(name);
    }
};

TEST_F(Conversion, BothNamesEmptyWarnsOnlyOfTheInput) {
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Warning|Please enter a valid input file name.");
    EXPECT_EQ(services.messages[0].kind, MessageKind::Warning);
}

TEST_F(Conversion, MissingInputFileOrOutputNameWarns) {
    SetNames(dir.File("missing.csv"), dir.File("out.txt"));
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Warning|Please enter a valid input file name.");

    services.messages.clear();
    WriteWholeFile(dir.File("in.csv"), "a,b\n");
    SetNames(dir.File("in.csv"), "");
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Warning|Please enter a valid output file name.");
}

TEST_F(Conversion, NamesDifferingOnlyInCaseAreTheSameFile) {
    WriteWholeFile(dir.File("data.csv"), "h\na,b\n");
    SetNames(dir.File("data.csv"), dir.File("DATA.CSV"));
    PressCreate();
    EXPECT_EQ(OnlyMessage(),
              "Warning|You cannot choose the same file name for the input and the output.");
    EXPECT_FALSE(std::filesystem::exists(dir.File("DATA.CSV")));
    EXPECT_EQ(ReadWholeFile(dir.File("data.csv")), "h\na,b\n");
}

TEST_F(Conversion, EmptyHeaderSizeBlocksOnlyWhileTheInsertOptionIsOn) {
    WriteWholeFile(dir.File("in.csv"), "h\na,b\n");
    SetNames(dir.File("in.csv"), dir.File("out.txt"));
    Edit("edtScannerHeaderSize")->clear();
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Warning|Please enter a valid scanner header length.");
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.txt")));

    services.messages.clear();
    Click(Check("chkInsertHeaderField"));
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 2");
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")), "ab\n");
}

TEST_F(Conversion, CreateWritesTheFileAndReportsTheLengthWithTheProgressWindowGone) {
    WriteWholeFile(dir.File("in.csv"), "Q1,Q2,Q3\r\na,b,c\r\nd,e,f\r\n");
    SetNames(dir.File("in.csv"), dir.File("out.txt"));
    Edit("edtScannerHeaderSize")->setText(QStringLiteral("2"));
    bool progressGone = false;
    bool formEnabled = false;
    services.onMessage = [&] {
        progressGone = FindTopLevel<TdlgProcessing>() == nullptr;
        formEnabled = form.isEnabled();
    };
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 5");
    EXPECT_EQ(services.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")), "  abc\n  def\n");
    EXPECT_TRUE(progressGone);
    EXPECT_TRUE(formEnabled);
}

TEST_F(Conversion, OptionsAreReadWhenTheButtonIsPressed) {
    WriteWholeFile(dir.File("in.csv"), "x,y\na,b\n");
    SetNames(dir.File("in.csv"), dir.File("out.txt"));
    Click(Check("chkRemoveColHeaders"));  // the first line is data now
    PressCreate();
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")),
              std::string(50, ' ') + "xy\n" + std::string(50, ' ') + "ab\n");
    EXPECT_EQ(OnlyMessage(),
              "Conversion Completed.|File converted.\nAll records are now length 52");
}

TEST_F(Conversion, CompletedConversionClearsTheChangeSoClosingAsksNothing) {
    WriteWholeFile(dir.File("in.csv"), "h\na,b\n");
    SetNames(dir.File("in.csv"), dir.File("out.txt"));
    Click(Check("chkRemoveColHeaders"));
    Click(Check("chkRemoveColHeaders"));
    PressCreate();
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());
}

TEST_F(Conversion, ErrorIsShownUnderErrorAndTheWindowStaysUsable) {
    const std::string input = dir.File("in.csv");
    WriteWholeFile(input, "h\na,b\nno comma here\nc,d\n");
    SetNames(input, dir.File("out.txt"));
    Click(Check("chkInsertHeaderField"));  // a change, so closing will ask
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Error|\"" + input +
                                 "\" is not a valid comma separated file.\nPlease choose a new "
                                 "input file.");
    EXPECT_EQ(services.messages[0].kind, MessageKind::Error);
    // The records before the bad line are kept.
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")), "ab\n");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);

    // Still usable: a good input converts, and the failed run did not count as one.
    services.messages.clear();
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    WriteWholeFile(input, "h\na,b\nc,d\n");
    PressCreate();
    EXPECT_EQ(OnlyMessage(), "Conversion Completed.|File converted.\nAll records are now length 2");
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")), "ab\ncd\n");
}

TEST_F(Conversion, CancelAtTheFirstRecordKeepsItAndShowsNothing) {
    const std::string input = WriteLongInput("in.csv", 20000);
    SetNames(input, dir.File("out.txt"));
    Edit("edtScannerHeaderSize")->setText(QStringLiteral("1"));
    Click(Check("chkRemoveColHeaders"));
    Click(Check("chkRemoveColHeaders"));
    bool formDisabled = false;
    // Waits in the queue until the conversion first lets events through.
    QMetaObject::invokeMethod(
        &form,
        [&] {
            TdlgProcessing* dialog = FindTopLevel<TdlgProcessing>();
            ASSERT_NE(dialog, nullptr);
            formDisabled = !form.isEnabled();
            QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCancel")),
                              Qt::LeftButton);
        },
        Qt::QueuedConnection);
    PressCreate();
    EXPECT_TRUE(formDisabled);
    EXPECT_TRUE(services.messages.empty());
    EXPECT_EQ(ReadWholeFile(dir.File("out.txt")), " 000000a\n");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // A cancelled run is no conversion: closing still asks.
    services.answerYes = false;
    EXPECT_FALSE(form.close());
}

TEST_F(Conversion, CancelWhileTheRunGoesOnKeepsTheRecordItWasPressedDuring) {
    const int records = 1000;
    const std::string input = WriteLongInput("in.csv", records);
    SetNames(input, dir.File("out.txt"));
    Click(Check("chkInsertHeaderField"));
    int rounds = 0;
    // The first time the run lets events through, this takes a while (as a slow desktop
    // would), so the run lets them through again soon after; Cancel is pressed then.
    std::function<void()> pressLater = [&] {
        if (++rounds == 1) {
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
    EXPECT_TRUE(services.messages.empty());
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // Whole records, in order, from the first up to the one Cancel was pressed during.
    const std::string output = ReadWholeFile(dir.File("out.txt"));
    ASSERT_EQ(output.size() % 8, 0u);
    const std::size_t written = output.size() / 8;
    EXPECT_GT(written, 1u);
    EXPECT_LT(written, static_cast<std::size_t>(records));
    for (std::size_t i = 0; i < written; ++i) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "%06zu%c\n", i, static_cast<char>('a' + i % 26));
        ASSERT_EQ(output.compare(i * 8, 8, expected), 0) << "record " << i + 1;
    }
}

}  // namespace
