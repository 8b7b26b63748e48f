#pragma once
// Window tests: a stand-in for the desktop that logs every message box, question, file
// dialog and address as a line of text and answers as the test set up, and a fixture with
// a shown TfrmMain, a fresh temporary directory and empty settings.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FormServices.h"
#include "TfrmMain.h"
#include "support/TempDir.h"

using Log = std::vector<std::string>;

class FakeFormServices : public FormServices {
public:
    // "error Error|Cannot send email.", "question Confirm Close|...", "address mailto:..."
    void ShowMessage(QWidget*, const QString& text, const QString& caption,
                     MessageKind kind) override {
        const char* const kinds[] = {"information ", "warning ", "error ", "question "};
        Add(kinds[static_cast<int>(kind)] + caption + '|' + text);
        if (onMessage) {
            onMessage();
        }
    }
    bool AskYesNo(QWidget*, const QString& text, const QString& caption) override {
        Add("question " + caption + '|' + text);
        return answerYes;
    }
    // "open Title|initial file|folder|filters|default suffix|must exist|confirm overwrite"
    std::optional<QString> GetOpenFileName(QWidget*, const FileDialogRequest& request) override {
        return Dialog("open ", request);
    }
    std::optional<QString> GetSaveFileName(QWidget*, const FileDialogRequest& request) override {
        return Dialog("save ", request);
    }
    bool OpenAddress(const QString& address) override {
        Add("address " + address);
        return addressOpens;
    }
    // The log so far; it starts again empty.
    Log Take() { return std::exchange(log, {}); }

    Log log;
    bool answerYes = true;
    std::optional<QString> answer;  // of every file dialog
    bool addressOpens = true;
    std::function<void()> onMessage;  // runs while the message box would be up

private:
    void Add(const QString& line) { log.push_back(line.toStdString()); }
    std::optional<QString> Dialog(const char* kind, const FileDialogRequest& r) {
        Add(kind + QStringList{r.title, r.initialFile, r.directory, r.nameFilters.join(';'),
                               r.defaultSuffix, r.fileMustExist ? "must exist" : "",
                               r.confirmOverwrite ? "confirm overwrite" : ""}
                       .join('|'));
        return answer;
    }
};

// The named child of `parent`; a missing one fails the test by an exception.
template <class T = QWidget>
T* Child(const QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(name);
    return child != nullptr ? child : throw std::runtime_error(std::string("no control ") + name);
}

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
    void Click(const char* checkBox) { Child<QCheckBox>(form, checkBox)->click(); }
    void SetNames(const std::string& input, const std::string& output) {
        Edit("edtInputFile")->setText(QString::fromStdString(input));
        Edit("edtOutputFile")->setText(QString::fromStdString(output));
    }
    // Whether closing the window asks first; the answer is No, so the window stays, and
    // the question is taken off the log.
    bool ClosingAsks() {
        services.answerYes = false;
        const std::size_t logged = services.log.size();
        const bool closed = form.close();
        form.show();
        const bool asked = services.log.size() == logged + 1;
        EXPECT_EQ(closed, !asked);
        services.log.resize(logged);
        return asked;
    }

    TempDir dir;
    FakeFormServices services;
    TfrmMain form;
};

}  // namespace kstest
