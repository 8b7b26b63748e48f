// mtconvert-gui: the converter's desktop program. One window: two file names, the
// conversion options, one button. "mtconvert-gui FILE" starts with FILE as the input file.

#include <exception>

#include <QCoreApplication>
#include <QStringList>

#include "FormApplication.h"
#include "QtFormServices.h"
#include "TfrmMain.h"
#include "core/KsException.h"

int main(int argc, char** argv) {
    FormApplication application(argc, argv);
    QtFormServices services;
    try {
        FormApplication::SetTitle(QString::fromLatin1(kApplicationTitle));
        TfrmMain frmMain(services);
        // The application object has taken its own options out of the arguments.
        if (const QStringList arguments = QCoreApplication::arguments(); arguments.size() > 1) {
            frmMain.OpenInputFile(arguments.at(1));
        }
        frmMain.show();
        application.Run();
    } catch (const KsException& error) {
        // Before std::exception: a memory error is a std::exception twice over.
        FormApplication::ShowException(services, nullptr, error);
    } catch (const std::exception& error) {
        FormApplication::ShowException(services, nullptr, error);
    }
    return 0;
}
