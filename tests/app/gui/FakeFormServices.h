#pragma once
// Stands in for the desktop in the window tests: records every message box, question,
// file dialog and address, and answers with what the test set up.

#include <QApplication>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "FormServices.h"

struct ShownMessage {
    QString text;
    QString caption;
    MessageKind kind;
};

class FakeFormServices : public FormServices {
public:
    void ShowMessage(QWidget*, const QString& text, const QString& caption,
                     MessageKind kind) override {
        messages.push_back({text, caption, kind});
        if (onMessage) {
            onMessage();
        }
    }
    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
        questions.push_back({text, caption, MessageKind::Question});
        return answerYes;
    }
    std::optional<QString> GetOpenFileName(QWidget*, const FileDialogRequest& request) override {
        openRequests.push_back(request);
        return openAnswer;
    }
    std::optional<QString> GetSaveFileName(QWidget*, const FileDialogRequest& request) override {
        saveRequests.push_back(request);
        return saveAnswer;
    }
    bool OpenAddress(const QString& address) override {
        addresses.push_back(address);
        return addressOpens;
    }

    std::vector<ShownMessage> messages;
    std::vector<ShownMessage> questions;
    std::vector<FileDialogRequest> openRequests;
    std::vector<FileDialogRequest> saveRequests;
    std::vector<QString> addresses;

    bool answerYes = true;
    std::optional<QString> openAnswer;
    std::optional<QString> saveAnswer;
    bool addressOpens = true;
    std::function<void()> onMessage;  // runs while the message box would be up
};

// Top-level window of type T that is currently alive, or null.
template <class T>
T* FindTopLevel() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<T*>(widget)) {
            return found;
        }
    }
    return nullptr;
}
