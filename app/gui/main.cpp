// mtconvert-gui: the converter's desktop program. One window: two file names, three
// options, one button.

#include <exception>

#include "FormApplication.h"
#include "QtFormServices.h"
#include "TfrmMain.h"

namespace {
// What the desktop lists the running program as; the window's own caption differs.
const char* const kApplicationTitle = "Menu*Tally Data File Converter  (CSV to Fixed Width)";
}  // namespace

int main(int argc, char** argv) {
    FormApplication application(argc, argv);
    QtFormServices services;
    try {
        application.SetTitle(QString::fromLatin1(kApplicationTitle));
        TfrmMain frmMain(services);
        frmMain.show();
        application.Run();
    } catch (const std::exception& error) {
        FormApplication::ShowException(services, nullptr, error);
    }
    return 0;
}
