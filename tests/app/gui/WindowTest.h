#pragma once
// Window tests: a stand-in for the desktop that logs every message box, question, file
// dialog and address as one line of text and answers as the test set up, and a fixture
// with a shown TfrmMain on it, a fresh temporary directory, empty settings and helpers.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FormServices.h"
#include "TfrmMain.h"
#include "support/TempDir.h"

using Log = std::vector<std::string>;

class FakeFormServices : public FormServices {
public:
    // "error Error|Cannot send email.", "question Confirm Close|...", "save <request>",
    // "address mailto:...".
    void ShowMessage(QWidget*, const QString& text, const QString& caption,
                     MessageKind kind) override;
    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override;
    std::optional<QString> GetOpenFileName(QWidget*, const FileDialogRequest& request) override;
    std::optional<QString> GetSaveFileName(QWidget*, const FileDialogRequest& request) override;
    bool OpenAddress(const QString& address) override;
    // The log so far; it starts again empty.
    Log Take() { return std::exchange(log, {}); }

    Log log;
    bool answerYes = true;
    std::optional<QString> answer;  // of every file dialog
    bool addressOpens = true;
    std::function<void()> onMessage;  // runs while the message box would be up
};

// The one top-level window of type T that is alive, or null.
template <class T>
T* FindTopLevel() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<T*>(widget)) {
            return found;
        }
    }
    return nullptr;
}

// The named child of `parent`; a missing one fails the test by an exception.
template <class T = QWidget>
T* Child(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) {
        throw std::runtime_error(std::string("no control ") + name);
    }
    return child;
}

namespace kstest {

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : form(services) {
        QSettings().clear();
        form.show();
    }

    QLineEdit* Edit(const char* name) { return Child<QLineEdit>(form, name); }
    void Press(const char* button) {
        QTest::mouseClick(Child<QPushButton>(form, button), Qt::LeftButton);
    }
    // A mouse click on the check box itself, as a user makes it.
    void Click(const char* name);
    void SetNames(const std::string& input, const std::string& output) {
        Edit("edtInputFile")->setText(QString::fromStdString(input));
        Edit("edtOutputFile")->setText(QString::fromStdString(output));
    }
    // Whether closing the window asks before closing without a conversion (the question is
    // not logged). The answer is No, so the window stays.
    bool ClosingAsks();

    TempDir dir;
    FakeFormServices services;
    TfrmMain form;
};

// Every label, button and check box of the window is at least as large as its text needs,
// and no two controls of the same parent cover each other.
void ExpectNothingClippedOrOverlapping(QWidget& window);

// The caption and the state of every named control of the window, a line each.
std::string DescribeControls(QWidget& window);

}  // namespace kstest
