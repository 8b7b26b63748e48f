#pragma once
// What the converter's windows ask of the desktop: message boxes, the open and save
// dialogs, and handing an address to the desktop's browser or mail program. Each window
// is given one FormServices and goes through it for all of these, so that the same
// window runs on the real desktop (QtFormServices) and under a program that answers in
// its place.

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

// The icon a message box shows; the caption and the text are the caller's.
enum class MessageKind { Information, Warning, Error, Question };

// An open-file or save-file dialog as the window describes it.
struct FileDialogRequest {
    QString title;
    QString initialFile;            // preselected name, may be empty
    QString directory;              // the folder to start in when no name is preselected
    QStringList nameFilters;        // "Description (*.a *.b)", the first is selected
    QString defaultSuffix;          // added to a name typed without an extension; empty: none
    bool fileMustExist = false;     // open: only an existing file can be chosen
    bool confirmOverwrite = false;  // save: ask before replacing an existing file
};

class FormServices {
public:
    virtual ~FormServices() = default;

    // A message box with an OK button; returns when the user has closed it.
    virtual void ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                             MessageKind kind) = 0;
    // A message box with Yes and No buttons; true only for Yes.
    virtual bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) = 0;
    // The chosen file name, or nothing when the user cancelled.
    virtual std::optional<QString> GetOpenFileName(QWidget* parent,
                                                   const FileDialogRequest& request) = 0;
    virtual std::optional<QString> GetSaveFileName(QWidget* parent,
                                                   const FileDialogRequest& request) = 0;
    // Hands a web or "mailto:" address to the desktop; false when nothing could open it.
    virtual bool OpenAddress(const QString& address) = 0;
};
