// Renders the desktop program's three windows on the current platform (offscreen when
// QT_QPA_PLATFORM is unset) and saves them as PNG files:
//
//   mtconvert-gui-screenshots DIRECTORY
//
// writes main-window.png, progress-dialog.png and help-dialog.png into DIRECTORY.

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>

#include "QtFormServices.h"
#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "TfrmMain.h"

namespace {

bool Save(QWidget& window, const QDir& directory, const char* name) {
    QApplication::processEvents();
    const QString file = directory.filePath(QString::fromLatin1(name));
    if (!window.grab().save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(file), window.width(), window.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: mtconvert-gui-screenshots DIRECTORY\n");
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    QtFormServices services;  // nothing is clicked, so no dialog of the desktop opens
    // The windows as a new user first sees them, not as this user's settings left them.
    QTemporaryDir settings;
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settings.path());
    }

    TfrmMain frmMain(services);
    frmMain.show();
    bool saved = Save(frmMain, directory, "main-window.png");
    {
        TdlgProcessing processing(&frmMain);
        processing.ShowProgress(42, 100);
        saved = Save(processing, directory, "progress-dialog.png") && saved;
    }
    // As installed by the package, not as found from the build folder.
    TdlgHelp help(&frmMain, services, BuiltInHelpAddresses(QStringLiteral("/usr/bin")));
    help.show();
    saved = Save(help, directory, "help-dialog.png") && saved;
    return saved ? 0 : 1;
}
