// The main window's controls, keyboard rules, browse dialogs, closing and help, without
// running a conversion.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

#include "TdlgHelp.h"
#include "WindowTest.h"

namespace {

using MainWindow = kstest::WindowTest;

TEST_F(MainWindow, ControlsShowTheirCaptionsAndDefaults) {
    EXPECT_EQ(form.windowTitle(),
              QStringLiteral("Menu*Tally Data File Converter 1.0 (CSV to Fixed Width)"));
    const std::pair<const char*, const char*> captions[] = {
        {"gbxInfo", "Background"},
        {"gbxParameters", "Specify Data Files:"},
        {"gbxOptions", "Conversions:"},
        {"Label2",
         "The purpose of this program is to convert questionnaire data files in comma separated "
         "values (CSV) format to the fixed width format required by Menu*Tally."},
        {"lblInputFile", "Input File (Questionnaire Data in CSV File):"},
        {"lblOutputFile", "Output File (Questionnaire Data converted to Fixed Width Format)::"},
        {"Label1",
         "Varnel Questionnaire Data Dictionaries (QDD) typically include a field for \"Scanner "
         "Header\".  Since some scanners do not include this field, you have the option of "
         "inserting spaces to match the QDD."},
        {"btnInputBrowse", "Browse..."},
        {"btnOutputBrowse", "Browse..."},
        {"btnOK", "Create Converted File"},
        {"btnClose", "Close"},
        {"btnHelp", "Help..."},
        {"chkRemoveCommas", "Remove Commas"},
        {"chkRemoveColHeaders", "Remove Column Headers"},
        {"chkInsertHeaderField",
         "Insert characters at the beginning of each record.  Number of characters to insert:"},
    };
    for (auto [name, caption] : captions) {
        QWidget* control = Get<QWidget>(name);
        QString text;
        if (auto* box = qobject_cast<QGroupBox*>(control)) {
            text = box->title();
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            text = label->text();
        } else {
            text = Get<QAbstractButton>(name)->text();
        }
        EXPECT_EQ(text.toStdString(), caption) << name;
    }
    EXPECT_TRUE(Edit("edtInputFile")->text().isEmpty());
    EXPECT_TRUE(Edit("edtOutputFile")->text().isEmpty());
    EXPECT_TRUE(Check("chkRemoveCommas")->isChecked());
    EXPECT_FALSE(Check("chkRemoveCommas")->isEnabled());
    EXPECT_TRUE(Check("chkRemoveColHeaders")->isChecked());
    EXPECT_TRUE(Check("chkInsertHeaderField")->isChecked());
    EXPECT_EQ(Edit("edtScannerHeaderSize")->text(), QStringLiteral("50"));

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

TEST_F(MainWindow, FixedSizeWithoutMaximizeNothingClippedAndTabInItsOrder) {
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    kstest::ExpectNothingClippedOrOverlapping(form);

    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Edit("edtInputFile")->setFocus();
    for (const char* name : {"btnInputBrowse", "edtOutputFile", "btnOutputBrowse", "btnOK",
                             "btnClose", "chkInsertHeaderField", "edtScannerHeaderSize",
                             "chkRemoveColHeaders", "RichEdit1", "btnHelp", "edtInputFile"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Get<QWidget>(name)) << "expected " << name;
    }
}

TEST_F(MainWindow, ClearingTheInsertOptionDisablesAndGreysTheHeaderSize) {
    QLineEdit* size = Edit("edtScannerHeaderSize");
    const QColor editColour = size->palette().color(QPalette::Base);
    Click(Check("chkInsertHeaderField"));
    EXPECT_FALSE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), form.palette().color(QPalette::Button));
    Click(Check("chkInsertHeaderField"));
    EXPECT_TRUE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), editColour);
}

TEST_F(MainWindow, HeaderSizeTakesTwoDigitsAndOnlyADigitCountsAsAChange) {
    SetNames("in.csv", "out.txt");
    QLineEdit* size = Edit("edtScannerHeaderSize");
    size->clear();
    QTest::keyClick(size, Qt::Key_A);
    QTest::keyClicks(size, QStringLiteral("-+ x"));
    EXPECT_EQ(size->text(), QString());
    EXPECT_TRUE(form.close());  // letters are no change
    EXPECT_TRUE(services.questions.empty());

    form.show();
    QTest::keyClicks(size, QStringLiteral("4q2"));
    EXPECT_EQ(size->text(), QStringLiteral("42"));
    QTest::keyClick(size, Qt::Key_7);  // a third digit
    EXPECT_EQ(size->text(), QStringLiteral("42"));
    QTest::keyClick(size, Qt::Key_Backspace);
    QTest::keyClick(size, Qt::Key_9);
    QTest::keyClick(size, Qt::Key_Home);
    QTest::keyClick(size, Qt::Key_Delete);  // keys without a character keep working
    EXPECT_EQ(size->text(), QStringLiteral("9"));
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.questions.size(), 1u);
}

TEST_F(MainWindow, ClosingAsksOnlyAfterAChangeWithBothNamesFilledIn) {
    Click(Check("chkInsertHeaderField"));
    for (auto [input, output] : {std::pair{"in.csv", ""}, {"", "out.txt"}}) {
        SetNames(input, output);
        EXPECT_TRUE(form.close());
        form.show();
    }
    EXPECT_TRUE(services.questions.empty());

    SetNames("in.csv", "out.txt");
    Click(Check("chkRemoveColHeaders"));
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    ASSERT_EQ(services.questions.size(), 1u);
    EXPECT_EQ(services.questions[0].text,
              QStringLiteral("You have not converted your file.\nAre you sure you want to close?"));
    EXPECT_EQ(services.questions[0].caption, QStringLiteral("Confirm Close"));
    services.answerYes = true;
    QTest::mouseClick(Get<QPushButton>("btnClose"), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindow, BrowseDialogsFillTheNamesAndCountAsAChange) {
    SetNames("in.csv", "first.txt");
    QTest::mouseClick(Get<QPushButton>("btnOutputBrowse"), Qt::LeftButton);  // cancelled
    EXPECT_EQ(Edit("edtOutputFile")->text(), QStringLiteral("first.txt"));
    EXPECT_TRUE(form.close());
    EXPECT_TRUE(services.questions.empty());

    form.show();
    services.saveAnswer = QStringLiteral("/data/fixed.txt");
    QTest::mouseClick(Get<QPushButton>("btnOutputBrowse"), Qt::LeftButton);
    ASSERT_EQ(services.saveRequests.size(), 2u);
    const FileDialogRequest& save = services.saveRequests[1];
    EXPECT_EQ(save.title, QStringLiteral("Save Output As"));
    EXPECT_EQ(save.initialFile, QStringLiteral("first.txt"));
    EXPECT_EQ(save.nameFilters, QStringList({QStringLiteral("Text Files (*.txt *.dat)")}));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("txt"));
    EXPECT_TRUE(save.confirmOverwrite);
    EXPECT_EQ(Edit("edtOutputFile")->text(), QStringLiteral("/data/fixed.txt"));
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.questions.size(), 1u);

    SetNames("/data/old.csv", "");
    services.openAnswer = QStringLiteral("/data/survey.csv");
    QTest::mouseClick(Get<QPushButton>("btnInputBrowse"), Qt::LeftButton);
    ASSERT_EQ(services.openRequests.size(), 1u);
    const FileDialogRequest& open = services.openRequests[0];
    EXPECT_EQ(open.title, QStringLiteral("Select Input File"));
    EXPECT_EQ(open.initialFile, QStringLiteral("/data/old.csv"));
    EXPECT_EQ(open.nameFilters,
              QStringList({QStringLiteral("Comma Separated Text Files (*.txt *.csv *.del)"),
                           QStringLiteral("All Files (*)")}));
    EXPECT_TRUE(open.fileMustExist);
    EXPECT_EQ(Edit("edtInputFile")->text(), QStringLiteral("/data/survey.csv"));
    EXPECT_TRUE(form.close());  // no output name: nothing to ask
    EXPECT_EQ(services.questions.size(), 1u);
}

TEST_F(MainWindow, HelpOpensTheHelpWindowModallyAndOkDestroysIt) {
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
}

}  // namespace
