// Conversions run through the main window's button: its checks, the file written, the
// messages, the progress window and Cancel. The engine's own rules are the engine tests'.

#include <QProgressBar>
#include <filesystem>
#include <tuple>

#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using namespace std::string_literals;
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
    const std::string valid = "warning Warning|Please enter a valid ";
    for (auto [input, output, size, warning] : {
             std::tuple{""s, ""s, "", valid + "input file name."},
             {in, ""s, "", valid + "output file name."},
             {in, out, "", valid + "scanner header length."},
             {in, dir.File("IN.CSV"), "50",
              "warning Warning|You cannot choose the same file name for the input and the "
              "output."s},
         }) {
        SetNames(input, output);
        Edit("edtScannerHeaderSize")->setText(size);
        EXPECT_EQ(Create(), Log{warning});
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.File("IN.CSV")));
}

TEST_F(Conversion, ResultOrErrorIsShownAndOnlyAFinishedRunCountsAsConverted) {
    WriteWholeFile(in, "xy,z\r\na,b,c\r\nno comma\r\n");
    SetNames(in, out);
    Edit("edtScannerHeaderSize")->setText("2");
    Click("chkRemoveColHeaders");  // the first line is data now
    EXPECT_EQ(Create(), Log{"error Error|\"" + in +
                            "\" is not a valid comma separated file.\nPlease choose a new input "
                            "file."});
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(ClosingAsks());

    WriteWholeFile(in, "xy,z\r\na,b,c\r\n");
    bool progressGoneFormEnabled = false;
    services.onMessage = [&] {
        progressGoneFormEnabled = FindTopLevel<TdlgProcessing>() == nullptr && form.isEnabled();
    };
    const std::string done =
        "information Conversion Completed.|File converted.\nAll records are now length ";
    EXPECT_EQ(Create(), Log{done + "5"});
    EXPECT_TRUE(progressGoneFormEnabled);
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_FALSE(ClosingAsks());
    // Without the insert option an empty size passes.
    Click("chkInsertHeaderField");
    EXPECT_TRUE(ClosingAsks());
    Edit("edtScannerHeaderSize")->clear();
    EXPECT_EQ(Create(), Log{done + "3"});
}

// While the run goes the main window is disabled and stays open, the progress window
// cannot be closed or escaped; Cancel stops the run, keeping whole records and showing
// nothing, and the main window comes back.
TEST_F(Conversion, CancelDuringALongRunKeepsWholeRecordsAndShowsNothing) {
    std::string content = "id,answer\r\n";
    std::string records;
    for (int i = 0; i < 1000; ++i) {
        const std::string number = std::to_string(100000 + i);
        content += number + "," + static_cast<char>('a' + i % 26) + "\r\n";
        records += number + static_cast<char>('a' + i % 26) + "\n";
    }
    WriteWholeFile(in, content);
    SetNames(in, out);
    Click("chkInsertHeaderField");
    int rounds = 0;
    // The first time the run lets events through this takes a while (as a slow desktop
    // would), so the run lets them through again soon after; Cancel is pressed then.
    std::function<void()> pressLater = [&] {
        TdlgProcessing* dialog = FindTopLevel<TdlgProcessing>();
        ASSERT_NE(dialog, nullptr);
        if (++rounds == 1) {
            EXPECT_FALSE(form.isEnabled());
            EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
            EXPECT_FALSE(form.close() || dialog->close());
            QTest::keyClick(dialog, Qt::Key_Escape);
            form.hide();
            QTest::qSleep(30);
            QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
            return;
        }
        ASSERT_TRUE(dialog->isVisible());
        QTest::mouseClick(Child<QPushButton>(*dialog, "btnCancel"), Qt::LeftButton);
    };
    QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
    Press("btnOK");
    EXPECT_EQ(rounds, 2);
    EXPECT_TRUE(services.log.empty());
    EXPECT_TRUE(form.isEnabled() && form.isVisible());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // Whole records, in order, from the first up to the one Cancel was pressed during.
    const std::string output = ReadWholeFile(out);
    EXPECT_TRUE(output.size() > 8 && output.size() < records.size() && output.size() % 8 == 0 &&
                records.compare(0, output.size(), output) == 0)
        << output.size();
    EXPECT_TRUE(ClosingAsks());  // a cancelled run is no conversion
}

TEST(ProcessingDialog, ProgressBarShowsTheShareOfInputRead) {
    TdlgProcessing dialog(nullptr);
    auto* bar = Child<QProgressBar>(dialog, "barProgress");
    for (auto [consumed, total, shown] : {
             std::tuple{250ULL, 1000ULL, "250/1000"},
             {5'000'000'000'000ULL, 10'000'000'000'000ULL, "500/1000"},
             {1200ULL, 1000ULL, "1000/1000"},  // a file that grew while read
             {77ULL, 0ULL, "-1/0"},            // size unknown: a busy bar
         }) {
        dialog.ShowProgress(consumed, total);
        EXPECT_EQ(std::to_string(bar->value()) + "/" + std::to_string(bar->maximum()), shown);
    }
}

}  // namespace
