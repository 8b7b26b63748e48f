// The main window's captions, keyboard rules, browse dialogs, dropped files, closing and
// help, without running a conversion.

#include <gtest/gtest.h>

#include <QMimeData>
#include <QUrl>

#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using MainWindow = kstest::WindowTest;

// Every caption, default and enabled state of the three windows, against the list kept
// in captions.txt beside this file.
TEST_F(MainWindow, EveryCaptionOfTheThreeWindows) {
    std::string captions = kstest::DescribeControls(form);
    {
        TdlgProcessing processing(&form);
        captions += kstest::DescribeControls(processing);
    }
    TdlgHelp help(&form, services);
    captions += kstest::DescribeControls(help);
    EXPECT_EQ(captions, kstest::ReadWholeFile(GUI_TESTS_DIR "/captions.txt"));
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
        ASSERT_EQ(QApplication::focusWidget(), Child(form, name)) << "expected " << name;
    }
}

TEST_F(MainWindow, HeaderSizeTakesTwoDigitsAndIsGreyedWithoutTheInsertOption) {
    SetNames("in.csv", "out.txt");
    QLineEdit* size = Edit("edtScannerHeaderSize");
    size->clear();
    QTest::keyClicks(size, QStringLiteral("a-+ x"));
    EXPECT_EQ(size->text(), QString());
    EXPECT_FALSE(ClosingAsks());                     // letters are no change
    QTest::keyClicks(size, QStringLiteral("4q27"));  // a third digit does not fit
    EXPECT_EQ(size->text(), QStringLiteral("42"));
    QTest::keyClick(size, Qt::Key_Backspace);
    QTest::keyClick(size, Qt::Key_Home);
    QTest::keyClick(size, Qt::Key_Delete);  // keys without a character keep working
    EXPECT_EQ(size->text(), QString());
    EXPECT_TRUE(ClosingAsks());

    const QColor editColour = size->palette().color(QPalette::Base);
    Click("chkInsertHeaderField");
    EXPECT_FALSE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), form.palette().color(QPalette::Button));
    Click("chkInsertHeaderField");
    EXPECT_TRUE(size->isEnabled());
    EXPECT_EQ(size->palette().color(QPalette::Base), editColour);
}

TEST_F(MainWindow, ClosingAsksOnlyAfterAChangeWithBothNamesFilledIn) {
    Click("chkInsertHeaderField");
    for (auto [input, output] : {std::pair{"in.csv", ""}, {"", "out.txt"}}) {
        SetNames(input, output);
        EXPECT_FALSE(ClosingAsks()) << input << output;
    }
    SetNames("in.csv", "out.txt");
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.Take(), Log{"question Confirm Close|You have not converted your "
                                   "file.\nAre you sure you want to close?"});
    services.answerYes = true;
    Press("btnClose");
    EXPECT_FALSE(form.isVisible());
}

TEST_F(MainWindow, BrowseDialogsStartFromTheNameOrTheFolderLastUsedForTheBox) {
    SetNames("/data/old.csv", "first.txt");
    Press("btnOutputBrowse");  // cancelled: nothing changes
    EXPECT_EQ(Edit("edtOutputFile")->text(), QStringLiteral("first.txt"));
    EXPECT_FALSE(ClosingAsks());
    const std::string folder = dir.Path().string();
    services.answer = QString::fromStdString(folder + "/survey.csv");
    Press("btnInputBrowse");
    EXPECT_EQ(Edit("edtInputFile")->text(), *services.answer);
    EXPECT_TRUE(ClosingAsks());
    EXPECT_EQ(services.Take(),
              (Log{"save Save Output As|first.txt||Text Files (*.txt *.dat)|txt|confirm overwrite",
                   "open Select Input File|/data/old.csv||Comma Separated Text Files (*.txt *.csv "
                   "*.del);All Files (*)||must exist"}));

    // An empty box starts in the folder of the last choice for that box, in a window of a
    // later run too; the other box has none yet.
    FakeFormServices later;
    TfrmMain next(later);
    for (const char* button : {"btnInputBrowse", "btnOutputBrowse"}) {
        QTest::mouseClick(Child<QPushButton>(next, button), Qt::LeftButton);
    }
    EXPECT_EQ(later.Take(), (Log{"open Select Input File||" + folder +
                                     "|Comma Separated Text Files (*.txt *.csv *.del);All Files "
                                     "(*)||must exist",
                                 "save Save Output As|||Text Files (*.txt *.dat)|txt|confirm "
                                 "overwrite"}));
}

// Drags `mime` over the box and drops it there, as the file manager does; true when the
// box took the drag.
bool Drop(QLineEdit* box, QMimeData& mime) {
    QDragEnterEvent enter(box->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(box, &enter);
    QDropEvent drop(QPointF(box->rect().center()), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(box, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

TEST_F(MainWindow, FileDroppedOnABoxIsTakenAsIfChosenInItsDialog) {
    SetNames("in.csv", "out.txt");
    QMimeData text;
    text.setText(QStringLiteral("typed"));
    Drop(Edit("edtInputFile"), text);  // not a file: an edit box's own drop, no change
    EXPECT_FALSE(ClosingAsks());

    const std::string file = dir.File("dropped.csv");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(file)),
                   QUrl::fromLocalFile(QStringLiteral("/other.csv"))});
    EXPECT_TRUE(Drop(Edit("edtInputFile"), files));
    EXPECT_EQ(Edit("edtInputFile")->text().toStdString(), file);
    EXPECT_TRUE(ClosingAsks());
    Edit("edtInputFile")->clear();
    Press("btnInputBrowse");
    EXPECT_EQ(services.Take(), Log{"open Select Input File||" + dir.Path().string() +
                                   "|Comma Separated Text Files (*.txt *.csv *.del);All Files "
                                   "(*)||must exist"});
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
            QTest::mouseClick(Child<QPushButton>(*help, "btnOK"), Qt::LeftButton);
        },
        Qt::QueuedConnection);
    Press("btnHelp");
    EXPECT_EQ(caption, QStringLiteral("Getting Help"));
    EXPECT_EQ(seenParent, &form);
    EXPECT_EQ(form.findChild<TdlgHelp*>(), nullptr);
}

}  // namespace
