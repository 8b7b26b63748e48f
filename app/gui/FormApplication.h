#pragma once
// The application object of the converter's desktop program: owns the QApplication,
// carries the application title, runs the event loop, and handles pending events for
// code that runs long on the user-interface thread.
//
// The title is not Qt's application display name: Qt appends that to every window's
// caption ("caption — title"), and each window here shows its own caption alone. The
// desktop lists the running program under its desktop entry's name (matched through the
// desktop file name), which is this title.

#include <QApplication>
#include <QString>
#include <exception>

class FormServices;
class QWidget;

// The application title: what the desktop lists the program as, and the caption of errors
// that no window handles itself. The windows' own captions differ.
inline constexpr const char* kApplicationTitle =
    "Menu*Tally Data File Converter  (CSV to Fixed Width)";

class FormApplication {
public:
    FormApplication(int& argc, char** argv);
    FormApplication(const FormApplication&) = delete;
    FormApplication& operator=(const FormApplication&) = delete;

    // The application title; until one is set, the application name.
    static void SetTitle(const QString& title);
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
