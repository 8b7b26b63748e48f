#include "FormApplication.h"

#include "FormServices.h"

namespace {
QString& StoredTitle() {
    static QString title;
    return title;
}
}  // namespace

FormApplication::FormApplication(int& argc, char** argv) : application_(argc, argv) {
    // Matches the running windows with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("mtconvert-gui"));
    // Where the window keeps what it remembers between runs (QSettings).
    QCoreApplication::setOrganizationName(QStringLiteral("MenuTally"));
    QCoreApplication::setApplicationName(QStringLiteral("mtconvert-gui"));
}

void FormApplication::SetTitle(const QString& title) {
    StoredTitle() = title;
}

QString FormApplication::Title() {
    return StoredTitle().isEmpty() ? QCoreApplication::applicationName() : StoredTitle();
}

int FormApplication::Run() {
    return QApplication::exec();
}

void FormApplication::ProcessMessages() {
    QCoreApplication::processEvents();
}

void FormApplication::ShowException(FormServices& services, QWidget* parent,
                                    const std::exception& error) {
    services.ShowMessage(parent, QString::fromLocal8Bit(error.what()), Title(), MessageKind::Error);
}
