// The main window's controls, layout, keyboard rules, browse dialogs, closing and help,
// without running a conversion.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextEdit>

#include "FakeFormServices.h"
#include "TdlgHelp.h"
#include "TfrmMain.h"
#include "WindowTest.h"

namespace {

using MainWindow = kstest::WindowTest;

const QString kConfirmText =
    QStringLiteral("You have not converted your file.\nAre you sure you want to close?");

TEST_F(MainWindow, ControlsShowTheirCaptionsAndDefaults) {
    EXPECT_EQ(form.windowTitle(),
              QStringLiteral("Menu*Tally Data File Converter 1.0 (CSV to Fixed Width)"));
    EXPECT_EQ(Get<QGroupBox>("gbxInfo")->title(), QStringLiteral("Background"));
    EXPECT_EQ(Get<QGroupBox>("gbxParameters")->title(), QStringLiteral("Specify Data Files:"));
    EXPECT_EQ(Get<QGroupBox>("gbxOptions")->title(), QStringLiteral("Conversions:"));
    EXPECT_EQ(Get<QLabel>("Label2")->text(),
              QStringLiteral("The purpose of this program is to convert questionnaire data files "
                             "in comma separated values (CSV) format to the fixed width format "
                             "required by Menu*Tally."));
    EXPECT_EQ(Get<QLabel>("lblInputFile")->text(),
              QStringLiteral("Input File (Questionnaire Data in CSV File):"));
    EXPECT_EQ(Get<QLabel>("lblOutputFile")->text(),
              QStringLiteral("Output File (Questionnaire Data converted to Fixed Width Format)::"));
    EXPECT_EQ(Get<QLabel>("Label1")->text(),
              QStringLiteral("Varnel Questionnaire Data Dictionaries (QDD) typically include a "
                             "field for \"Scanner Header\".  Since some scanners do not include "
                             "this field, you have the option of inserting spaces to match the "
                             "QDD."));
    EXPECT_EQ(Get<QPushButton>("btnInputBrowse")->text(), QStringLiteral("Browse..."));
    EXPECT_EQ(Get<QPushButton>("btnOutputBrowse")->text(), QStringLiteral("Browse..."));
    EXPECT_EQ(Get<QPushButton>("btnOK")->text(), QStringLiteral("Create Converted File"));
    EXPECT_EQ(Get<QPushButton>("btnClose")->text(), QStringLiteral("Close"));
    EXPECT_EQ(Get<QPushButton>("btnHelp")->text(), QStringLiteral("Help..."));
    EXPECT_TRUE(Edit("edtInputFile")->text().isEmpty());
    EXPECT_TRUE(Edit("edtOutputFile")->text().isEmpty());

    QCheckBox* removeCommas = Check("chkRemoveCommas");
    EXPECT_EQ(removeCommas->text(), QStringLiteral("Remove Commas"));
    EXPECT_TRUE(removeCommas->isChecked());
    EXPECT_FALSE(removeCommas->isEnabled());
    EXPECT_EQ(Check("chkRemoveColHeaders")->text(), QStringLiteral("Remove Column Headers"));
    EXPECT_TRUE(Check("chkRemoveColHeaders")->isChecked());
    EXPECT_EQ(Check("chkInsertHeaderField")->text(),
              QStringLiteral("Insert characters at the beginning of each record.  Number of "
                             "characters to insert:"));
    EXPECT_TRUE(Check("chkInsertHeaderField")->isChecked());
    EXPECT_EQ(Edit("edtScannerHeaderSize")->text(), QStringLiteral("50"));
    EXPECT_EQ(Edit("edtScannerHeaderSize")->maxLength(), 2);
    EXPECT_TRUE(Edit("edtScannerHeaderSize")->isEnabled());

    QTextEdit* background = Get<QTextEdit>("RichEdit1");
    EXPECT_TRUE(background->isReadOnly());
    EXPECT_EQ(background->toPlainText(),
              QStringLiteral(
                  "Questionnaire data files are typically created by scanning paper forms.  "
                  "Menu*Tally requires files in a \n"
                  "fixed-width format (also known as fixed-column format).  The fields in "
                  "fixed-width files are not separated \n"
                  "by a delimiting character.  In fixed width files there are no commas, tabs, "
                  "or other characters \n"
                  "separating the fields.  Rather, the fields are a specified length (that is, "
                  "a specific number of columns).  \n"
                  "\n"
                  "Some scanners and scanning software do not create files in fixed width "
                  "format.  This program will \n"
                  "convert files with comma delimiters (CSV files) to fixed width files."));
}

TEST_F(MainWindow, WindowIsFixedWithoutMaximizeAndLaidOutAsDesigned) {
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_GE(form.width(), 570);
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));

    // Background, then the files, then the options, then the buttons at the bottom right.
    EXPECT_LT(Get<QWidget>("gbxInfo")->geometry().bottom(),
              Get<QWidget>("gbxParameters")->geometry().top());
    EXPECT_LT(Get<QWidget>("gbxParameters")->geometry().bottom(),
              Get<QWidget>("gbxOptions")->geometry().top());
    EXPECT_LT(Get<QWidget>("gbxOptions")->geometry().bottom(),
              Get<QWidget>("btnOK")->geometry().top());
    EXPECT_LT(Get<QWidget>("btnOK")->geometry().right(), Get<QWidget>("btnClose")->x());
    EXPECT_LT(Get<QWidget>("btnClose")->geometry().right(), Get<QWidget>("btnHelp")->x());
    EXPECT_GT(Get<QWidget>("btnOK")->x(), form.width() / 3);
    // Each label above its edit box, each Browse button beside its box.
    EXPECT_LT(Get<QWidget>("lblInputFile")->geometry().bottom(), Edit("edtInputFile")->y());
    EXPECT_LT(Edit("edtInputFile")->geometry().bottom(), Get<QWidget>("lblOutputFile")->y());
    EXPECT_LT(Get<QWidget>("lblOutputFile")->geometry().bottom(), Edit("edtOutputFile")->y());
    EXPECT_LT(Edit("edtInputFile")->geometry().right(), Get<QWidget>("btnInputBrowse")->x());
    EXPECT_LT(Edit("edtOutputFile")->geometry().right(), Get<QWidget>("btnOutputBrowse")->x());
    EXPECT_LT(Check("chkInsertHeaderField")->geometry().right(), Edit("edtScannerHeaderSize")->x());
}

TEST_F(MainWindow, NoTextIsClippedAndNoControlsOverlap) {
    kstest::ExpectNothingClippedOrOverlapping(form);
}

TEST_F(MainWindow, TabMovesThroughTheControlsInTheirOrder) {
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Edit("edtInputFile")->setFocus();
    const char* order[] = {"btnInputBrowse",
                           "edtOutputFile",
                           "btnOutputBrowse",
                           "btnOK",
                           "btnClose",
                           "chkInsertHeaderField",
                           "edtScannerHeaderSize",
                           "chkRemoveColHeaders",
                           "RichEdit1",
                           "btnHelp",
                           "edtInputFile"};
    for (const char* name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Get<QWidget>(name)) << "expected " << name;
    }
}

TEST_F(MainWindow, ClearingTheInsertOptionDisablesAndGreysTheHeaderSize) {
    QLineEdit* size = Edit("edtScannerHeaderSize");
    const QColor editColour = size->palette().color(QPalette::Base);
    Click(Check("chkInsertHeaderField"));
    EXPECT_FALSE(Check("chkInsertHeaderField")->isChecked());
    EXPECT_FALSE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), form.palette().color(QPalette::Button));
    Click(Check("chkInsertHeaderField"));
    EXPECT_TRUE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), editColour);
}

TEST_F(MainWindow, HeaderSizeTakesTwoDigitsAndNothingElse) {
    QLineEdit* size = Edit("edtScannerHeaderSize");
    size->clear();
    QTest::keyClick(size, Qt::Key_A);
    QTest::keyClicks(size, QStringLiteral("-+ x"));
    EXPECT_EQ(size->text(), QString());
    QTest::keyClick(size, Qt::Key_4);
    QTest::keyClick(size, Qt::Key_Q);
    QTest::keyClick(size, Qt::Key_2);
    EXPECT_EQ(size->text(), QStringLiteral("42"));
    QTest::keyClick(size, Qt::Key_7);  // a third digit
    EXPECT_EQ(size->text(), QStringLiteral("42"));
    QTest::keyClick(size, Qt::Key_Backspace);
    EXPECT_EQ(size->text(), QStringLiteral("4"));
    // Keys without a character keep working.
    QTest::keyClick(size, Qt::Key_9);
    QTest::keyClick(size, Qt::Key_Home);
    QTest::keyClick(size, Qt::Key_Delete);
    EXPECT_EQ(size->text(), QStringLiteral("9"));
}

TEST_F(MainWindow, LetterInTheHeaderSizeIsNoChangeButADigitIs) {
    SetNames("in.csv", "out.txt");
    QTest::keyClick(Edit("edtScannerHeaderSize"), Qt::Key_Z);
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());

    form.show();
    QTest::keyClick(Edit("edtScannerHeaderSize"), Qt::Key_1);  // refused by the length, counted
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    ASSERT_EQ(services.questions.size(), 1u);
}

TEST_F(MainWindow, ClosingAsksOnlyAfterAChangeWithBothNamesFilledIn) {
    // Typing the names is no change.
    SetNames("in.csv", "out.txt");
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());

    form.show();
    Click(Check("chkRemoveColHeaders"));
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(services.questions.size(), 1u);
    EXPECT_EQ(services.questions[0].text, kConfirmText);
    EXPECT_EQ(services.questions[0].caption, QStringLiteral("Confirm Close"));

    services.answerYes = true;
    QTest::mouseClick(Get<QPushButton>("btnClose"), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(services.questions.size(), 2u);
}

TEST_F(MainWindow, ClosingWithOneNameEmptyAsksNothing) {
    Click(Check("chkInsertHeaderField"));
    Edit("edtInputFile")->setText(QStringLiteral("in.csv"));
    EXPECT_TRUE(form.close());
    form.show();
    Edit("edtInputFile")->clear();
    Edit("edtOutputFile")->setText(QStringLiteral("out.txt"));
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());
}

TEST_F(MainWindow, InputBrowseFillsTheNameAndClosingWithoutOutputAsksNothing) {
    Edit("edtInputFile")->setText(QStringLiteral("/data/old.csv"));
    services.openAnswer = QStringLiteral("/data/survey.csv");
    QTest::mouseClick(Get<QPushButton>("btnInputBrowse"), Qt::LeftButton);
    ASSERT_EQ(services.openRequests.size(), 1u);
    const FileDialogRequest& request = services.openRequests[0];
    EXPECT_EQ(request.title, QStringLiteral("Select Input File"));
    EXPECT_EQ(request.initialFile, QStringLiteral("/data/old.csv"));
    EXPECT_EQ(request.nameFilters,
              QStringList({QStringLiteral("Comma Separated Text Files (*.txt *.csv *.del)"),
                           QStringLiteral("All Files (*)")}));
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_EQ(Edit("edtInputFile")->text(), QStringLiteral("/data/survey.csv"));

    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());
}

TEST_F(MainWindow, OutputBrowseFillsTheNameAndCountsAsAChange) {
    Edit("edtInputFile")->setText(QStringLiteral("in.csv"));
    Edit("edtOutputFile")->setText(QStringLiteral("first.txt"));
    // A cancelled dialog changes nothing.
    QTest::mouseClick(Get<QPushButton>("btnOutputBrowse"), Qt::LeftButton);
    EXPECT_EQ(Edit("edtOutputFile")->text(), QStringLiteral("first.txt"));
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());

    form.show();
    services.saveAnswer = QStringLiteral("/data/fixed.txt");
    QTest::mouseClick(Get<QPushButton>("btnOutputBrowse"), Qt::LeftButton);
    ASSERT_EQ(services.saveRequests.size(), 2u);
    const FileDialogRequest& request = services.saveRequests[1];
    EXPECT_EQ(request.title, QStringLiteral("Save Output As"));
    EXPECT_EQ(request.initialFile, QStringLiteral("first.txt"));
    EXPECT_EQ(request.nameFilters, QStringList({QStringLiteral("Text Files (*.txt *.dat)")}));
    EXPECT_EQ(request.defaultSuffix, QStringLiteral("txt"));
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_EQ(Edit("edtOutputFile")->text(), QStringLiteral("/data/fixed.txt"));
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.questions.size(), 1u);
}

TEST_F(MainWindow, HelpOpensTheHelpWindowModallyAndDestroysItAfterwards) {
    QString caption;
    QWidget* seenParent = nullptr;
    // Runs once the help window's own event loop is going.
    QMetaObject::invokeMethod(
        &form,
        [&] {
            auto* help = qobject_cast<TdlgHelp*>(QApplication::activeModalWidget());
            ASSERT_NE(help, nullptr);
            caption = help->windowTitle();
            seenParent = help->parentWidget();
            QTest::mouseClick(help->findChild<QPushButton*>(QStringLiteral("btnOK")),
                              Qt::LeftButton);
        },
        Qt::QueuedConnection);
    QTest::mouseClick(Get<QPushButton>("btnHelp"), Qt::LeftButton);
    EXPECT_EQ(caption, QStringLiteral("Getting Help"));
    EXPECT_EQ(seenParent, &form);
    EXPECT_EQ(form.findChild<TdlgHelp*>(), nullptr);
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(MainWindow, CloseRequestWhileDisabledByAConversionIsRefused) {
    SetNames("in.csv", "out.txt");
    form.setEnabled(false);  // as the progress window leaves it
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(services.questions.empty());
    form.setEnabled(true);
    EXPECT_TRUE(form.close());
}

}  // namespace
