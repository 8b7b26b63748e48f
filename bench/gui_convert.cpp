// Times conversions through the desktop window: fills in the file names of a TfrmMain on
// the offscreen platform, presses "Create Converted File" and waits for the completion
// message, RUNS times; prints each time and the median in seconds. bench/gui_convert.sh
// runs it beside mtconvert on the same input.
//
//   gui_convert INPUT OUTPUT [RUNS]

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "FormServices.h"
#include "TfrmMain.h"

namespace {

// Answers in place of the user: OK to every message, which it keeps.
class UnattendedServices : public FormServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption, MessageKind) override {
        lastCaption = caption;
        lastText = text;
    }
    bool AskYesNo(QWidget*, const QString&, const QString&) override { return true; }
    std::optional<QString> GetOpenFileName(QWidget*, const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<QString> GetSaveFileName(QWidget*, const FileDialogRequest&) override {
        return std::nullopt;
    }
    bool OpenAddress(const QString&) override { return false; }

    QString lastCaption;
    QString lastText;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: gui_convert INPUT OUTPUT [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    UnattendedServices services;
    TfrmMain form(services);
    form.show();
    QApplication::processEvents();
    form.findChild<QLineEdit*>(QStringLiteral("edtInputFile"))
        ->setText(QString::fromLocal8Bit(argv[1]));
    form.findChild<QLineEdit*>(QStringLiteral("edtOutputFile"))
        ->setText(QString::fromLocal8Bit(argv[2]));
    auto* create = form.findChild<QPushButton*>(QStringLiteral("btnOK"));

    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        services.lastCaption.clear();
        QElapsedTimer timer;
        timer.start();
        create->click();
        seconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        if (services.lastCaption != QStringLiteral("Conversion Completed.")) {
            std::fprintf(stderr, "conversion failed: %s\n", qPrintable(services.lastText));
            return 1;
        }
        std::printf("run %d: %.3f s\n", run + 1, seconds.back());
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("median: %.3f s (%s)\n", seconds[seconds.size() / 2],
                qPrintable(services.lastText.replace(QLatin1Char('\n'), QLatin1Char(' '))));
    return 0;
}
