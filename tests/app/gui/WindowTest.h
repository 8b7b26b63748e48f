#pragma once
// Fixture for tests of the main window: a shown TfrmMain on a recording FormServices, a
// fresh temporary directory, and helpers to reach and work its controls.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "FakeFormServices.h"
#include "support/TempDir.h"
#include "TfrmMain.h"

namespace kstest {

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : form(services) { form.show(); }

    template <class T>
    T* Get(const char* name) {
        T* control = form.findChild<T*>(QString::fromLatin1(name));
        if (control == nullptr) {
            throw std::runtime_error(std::string("no control ") + name);
        }
        return control;
    }
    QLineEdit* Edit(const char* name) { return Get<QLineEdit>(name); }
    QCheckBox* Check(const char* name) { return Get<QCheckBox>(name); }

    // A mouse click on the box itself, as a user makes it.
    static void Click(QCheckBox* box) {
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator =
            box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
    }

    void SetNames(const std::string& input, const std::string& output) {
        Edit("edtInputFile")->setText(QString::fromStdString(input));
        Edit("edtOutputFile")->setText(QString::fromStdString(output));
    }

    FakeFormServices services;
    TfrmMain form;
    TempDir dir;
};

// Every label, button and check box of the window is at least as large as its text needs,
// and no two controls of the same parent cover each other.
void ExpectNothingClippedOrOverlapping(QWidget& window);

}  // namespace kstest
