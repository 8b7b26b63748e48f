// The main window's checks before a conversion and conversions run through its button:
// the file written, the messages, the progress window, Cancel. The engine's own rules are
// the engine tests'.

#include <gtest/gtest.h>

#include <filesystem>

#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class Conversion : public kstest::WindowTest {
protected:
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");

    // Presses "Create Converted File"; what it showed.
    Log Create() {
        Press("btnOK");
        return services.Take();
    }
};

TEST_F(Conversion, ChecksWarnOfTheFirstProblemOnlyAndWriteNothing) {
    WriteWholeFile(in, "h\na,b\n");
    struct Case {
        std::string input, output, headerSize, warning;
    };
    for (const Case& c : {
             Case{"", "", "", "Please enter a valid input file name."},
             Case{dir.File("missing.csv"), out, "50", "Please enter a valid input file name."},
             Case{in, "", "", "Please enter a valid output file name."},
             Case{in, dir.File("IN.CSV"), "50",
                  "You cannot choose the same file name for the input and the output."},
             Case{in, out, "", "Please enter a valid scanner header length."},
         }) {
        SetNames(c.input, c.output);
        Edit("edtScannerHeaderSize")->setText(QString::fromStdString(c.headerSize));
        EXPECT_EQ(Create(), Log{"warning Warning|" + c.warning});
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("IN.CSV")));
}

TEST_F(Conversion, ResultOrErrorIsShownAndOnlyAFinishedRunCountsAsConverted) {
    WriteWholeFile(in, "xy,z\r\na,b,c\r\nno comma\r\n");
    SetNames(in, out);
    Edit("edtScannerHeaderSize")->setText(QStringLiteral("2"));
    Click("chkRemoveColHeaders");  // the first line is data now
    EXPECT_EQ(Create(), Log{"error Error|\"" + in +
                            "\" is not a valid comma separated file.\nPlease choose a new input "
                            "file."});
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(ClosingAsks());

    WriteWholeFile(in, "xy,z\r\na,b,c\r\n");
    bool progressGone = false;
    bool formEnabled = false;
    services.onMessage = [&] {
        progressGone = FindTopLevel<TdlgProcessing>() == nullptr;
        formEnabled = form.isEnabled();
    };
    EXPECT_EQ(Create(), Log{"information Conversion Completed.|File converted.\nAll records are "
                            "now length 5"});
    EXPECT_TRUE(progressGone);
    EXPECT_TRUE(formEnabled);
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_FALSE(ClosingAsks());

    // Without the insert option an empty size passes.
    Click("chkInsertHeaderField");
    Edit("edtScannerHeaderSize")->clear();
    EXPECT_EQ(Create(), Log{"information Conversion Completed.|File converted.\nAll records are "
                            "now length 3"});
}

TEST_F(Conversion, CancelDuringALongRunKeepsWholeRecordsAndShowsNothing) {
    std::string content = "id,answer\r\n";
    std::string records;
    for (int i = 0; i < 1000; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "%06d,%c\r\n", i, 'a' + i % 26);
        content += line;
        records += std::string(line, 6) + line[7] + "\n";
    }
    WriteWholeFile(in, content);
    SetNames(in, out);
    Click("chkInsertHeaderField");
    int rounds = 0;
    bool formDisabled = false;
    bool closeRefused = false;
    // The first time the run lets events through, this takes a while (as a slow desktop
    // would), so the run lets them through again soon after; Cancel is pressed then. The
    // progress window cannot be closed any other way.
    std::function<void()> pressLater = [&] {
        TdlgProcessing* dialog = FindTopLevel<TdlgProcessing>();
        ASSERT_NE(dialog, nullptr);
        if (++rounds == 1) {
            formDisabled = !form.isEnabled();
            closeRefused = !form.close() && !dialog->close();
            QTest::keyClick(dialog, Qt::Key_Escape);
            QTest::qSleep(30);
            QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
            return;
        }
        ASSERT_TRUE(dialog->isVisible());  // Escape did not remove it
        QTest::mouseClick(Child<QPushButton>(*dialog, "btnCancel"), Qt::LeftButton);
    };
    QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
    Press("btnOK");
    EXPECT_EQ(rounds, 2);
    EXPECT_TRUE(formDisabled);
    EXPECT_TRUE(closeRefused);
    EXPECT_TRUE(services.log.empty());
    EXPECT_TRUE(form.isEnabled());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // Whole records, in order, from the first up to the one Cancel was pressed during.
    const std::string output = ReadWholeFile(out);
    EXPECT_EQ(output.size() % 8, 0u);
    EXPECT_GT(output.size(), 8u);
    EXPECT_LT(output.size(), records.size());
    EXPECT_EQ(records.compare(0, output.size(), output), 0);
    EXPECT_TRUE(ClosingAsks());  // a cancelled run is no conversion
}

}  // namespace
