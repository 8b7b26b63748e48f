// The desktop's message boxes and file dialogs as the windows ask for them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include "QtFormServices.h"
#include "support/TempDir.h"

namespace {

// Runs once the next modal window's event loop is going.
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

TEST(QtFormServices, MessageBoxesAndQuestions) {
    QtFormServices services;
    bool seen = false;
    WhenShown<QMessageBox>([&seen](QMessageBox& box) {
        seen = true;
        EXPECT_EQ(box.windowTitle(), QStringLiteral("Error"));
        EXPECT_EQ(box.text(), QStringLiteral("Cannot send email."));
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
        box.button(QMessageBox::Ok)->click();
    });
    services.ShowMessage(nullptr, QStringLiteral("Cannot send email."), QStringLiteral("Error"),
                         MessageKind::Error);
    EXPECT_TRUE(seen);
    for (auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        WhenShown<QMessageBox>([answer](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), QStringLiteral("Confirm Close"));
            EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
            box.button(answer)->click();
        });
        EXPECT_EQ(
            services.AskYesNo(nullptr, QStringLiteral("Sure?"), QStringLiteral("Confirm Close")),
            answer == QMessageBox::Yes);
    }
}

TEST(QtFormServices, FileDialogsAreSetUpAsRequested) {
    QtFormServices services;
    kstest::TempDir dir;
    kstest::WriteWholeFile(dir.File("survey.csv"), "a,b\n");
    FileDialogRequest open;
    open.title = QStringLiteral("Select Input File");
    open.nameFilters = {QStringLiteral("Comma Separated Text Files (*.txt *.csv *.del)"),
                        QStringLiteral("All Files (*)")};
    open.fileMustExist = true;
    open.initialFile = QString::fromStdString(dir.File("survey.csv"));
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), open.title);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.nameFilters(), open.nameFilters);
        EXPECT_EQ(dialog.selectedNameFilter(), open.nameFilters.first());
        static_cast<QDialog&>(dialog).accept();  // as the Open button does
    });
    EXPECT_EQ(services.GetOpenFileName(nullptr, open), std::optional<QString>(open.initialFile));

    FileDialogRequest save;
    save.defaultSuffix = QStringLiteral("txt");
    save.confirmOverwrite = true;
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("txt"));
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        dialog.reject();
    });
    EXPECT_EQ(services.GetSaveFileName(nullptr, save), std::nullopt);
}

}  // namespace
