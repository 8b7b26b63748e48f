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
    WhenShown<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle() + box.text(), QStringLiteral("ErrorCannot send email."));
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
        box.button(QMessageBox::Ok)->click();
    });
    services.ShowMessage(nullptr, QStringLiteral("Cannot send email."), QStringLiteral("Error"),
                         MessageKind::Error);
    for (auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        WhenShown<QMessageBox>([answer](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle() + box.text(), QStringLiteral("Confirm CloseSure?"));
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
    FileDialogRequest open{QStringLiteral("Select Input File"),
                           QString::fromStdString(dir.File("survey.csv")),
                           {},
                           {QStringLiteral("Comma Separated (*.csv)"), QStringLiteral("All (*)")},
                           {},
                           true,
                           false};
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), open.title);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.nameFilters(), open.nameFilters);
        EXPECT_EQ(dialog.selectedNameFilter(), open.nameFilters.first());
        static_cast<QDialog&>(dialog).accept();  // as the Open button does
    });
    EXPECT_EQ(services.GetOpenFileName(nullptr, open), std::optional<QString>(open.initialFile));

    // With no name, the dialog starts in the folder given.
    FileDialogRequest save{
        {},    {},  QString::fromStdString(dir.Path().string()), {}, QStringLiteral("txt"),
        false, true};
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("txt"));
        EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.directory().absolutePath(), save.directory);
        dialog.reject();
    });
    EXPECT_EQ(services.GetSaveFileName(nullptr, save), std::nullopt);
}

}  // namespace
