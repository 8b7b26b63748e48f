#pragma once
// The application object of the converter's desktop program: owns the QApplication,
// carries the application title, runs the event loop, and handles pending events for
// code that runs long on the user-interface thread.

#include <QApplication>
#include <QString>
#include <exception>

class FormServices;
class QWidget;

class FormApplication {
public:
    FormApplication(int& argc, char** argv);
    FormApplication(const FormApplication&) = delete;
    FormApplication& operator=(const FormApplication&) = delete;

    // The name under which the desktop lists the running program (task bar, switcher).
    void SetTitle(const QString& title);
    static QString Title();

    // Runs the event loop until the last window has closed.
    int Run();

    // Handles every event already waiting, then returns.
    static void ProcessMessages();

    // The display for errors that no window handles itself: a message box whose caption
    // is the application title and whose text is the error's own.
    static void ShowException(FormServices& services, QWidget* parent, const std::exception& error);

private:
    QApplication application_;
};
