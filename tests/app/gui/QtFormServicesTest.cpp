// The desktop's message boxes and file dialogs as the windows ask for them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "QtFormServices.h"
#include "support/TempDir.h"

namespace {

// Runs `check` on the next modal window once its event loop is going.
template <class Modal, class Check>
void WhenShown(Check check) {
    QMetaObject::invokeMethod(
        qApp,
        [check] {
            auto* modal = qobject_cast<Modal*>(QApplication::activeModalWidget());
            ASSERT_NE(modal, nullptr);
            check(*modal);
        },
        Qt::QueuedConnection);
}

// Questions answered Yes or No; an open dialog for an existing file; a save dialog that
// asks before overwriting and, with no name given, starts in the folder given.
TEST(QtFormServices, DialogsAreSetUpAsRequested) {
    QtFormServices services;
    for (auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        WhenShown<QMessageBox>([answer](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle() + box.text(), "Confirm CloseSure?");
            EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
            box.button(answer)->click();
        });
        EXPECT_EQ(services.AskYesNo(nullptr, "Sure?", "Confirm Close"), answer == QMessageBox::Yes);
    }
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("survey.csv"), "a,b\n");
    const QString file = QString::fromStdString(dir.File("survey.csv"));
    const QStringList filters{"Comma Separated (*.csv)", "All (*)"};
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Select Input File");
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.nameFilters(), filters);
        static_cast<QDialog&>(dialog).accept();  // as the Open button does
    });
    EXPECT_EQ(services.GetOpenFileName(nullptr, {"Select Input File", file, {}, filters, {}, true}),
              file);
    // With no name, the dialog starts in the folder given.
    const QString folder = QString::fromStdString(dir.Path().string());
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog.defaultSuffix(), "txt");
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.directory().absolutePath(), folder);
        dialog.reject();
    });
    EXPECT_EQ(services.GetSaveFileName(nullptr, {{}, {}, folder, {}, "txt", false, true}),
              std::nullopt);
}

}  // namespace
