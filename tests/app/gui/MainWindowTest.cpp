// The three windows' captions and layout, and the main window driven through its controls
// without converting: keys, the closing question, browse dialogs, dropped files and help.

#include <QAbstractButton>
#include <QLabel>
#include <QMimeData>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>

#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "WindowTest.h"

namespace {

using MainWindow = kstest::WindowTest;

// The caption or content of a control, with its state.
QString CaptionOf(QWidget& control) {
    QString caption;
    for (const char* property : {"title", "text", "plainText"}) {
        if (QVariant value = control.property(property); value.isValid()) {
            caption = value.toString().replace('\n', "\n  ");
            break;
        }
    }
    if (control.property("checkable").toBool()) {
        caption = (control.property("checked").toBool() ? "[x] " : "[ ] ") + caption;
    }
    if (control.property("readOnly").toBool()) {
        caption = "(read-only)\n  " + caption;
    }
    return qobject_cast<QLineEdit*>(&control) ? '"' + caption + '"' : caption;
}

// Checks that a control lies inside its parent, clear of its siblings and as large as its
// text needs.
void ExpectLaidOut(QWidget& parent, QWidget& control, const QList<QWidget*>& siblings) {
    const std::string name = control.objectName().toStdString();
    EXPECT_TRUE(parent.rect().contains(control.geometry())) << name << " leaves";
    for (QWidget* sibling : siblings) {
        EXPECT_FALSE(control.geometry().intersects(sibling->geometry()))
            << name << " overlaps " << sibling->objectName().toStdString();
    }
    auto* label = qobject_cast<QLabel*>(&control);
    if (label != nullptr && label->wordWrap()) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
    } else if (label != nullptr || qobject_cast<QAbstractButton*>(&control)) {
        EXPECT_GE(control.width(), control.sizeHint().width()) << name;
    } else if (auto* text = qobject_cast<QTextEdit*>(&control)) {
        // Every line on a row of its own, and all rows in view.
        EXPECT_EQ(text->document()->lineCount(), text->document()->blockCount()) << name;
        EXPECT_LE(text->document()->size().height(), text->viewport()->height()) << name;
    }
}

// The caption and state of every named control in a window, a line each, checking the
// layout of each on the way. Windows inside it are not its controls.
QString Inspect(QWidget& parent) {
    QString lines = parent.isWindow() ? parent.objectName() + ": " + parent.windowTitle() : "";
    QList<QWidget*> siblings;
    for (QWidget* control : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->isWindow()) {
            continue;
        }
        const QString name = control->objectName();
        const QString caption = CaptionOf(*control);
        // The help window's links are build settings, not captions of the program.
        if (!name.isEmpty() && !caption.isEmpty() && !control->inherits("LinkLabel")) {
            lines += '\n' + name + ": " + caption + (control->isEnabled() ? "" : " (disabled)");
        }
        if (!name.isEmpty() && control->isVisibleTo(&parent)) {
            ExpectLaidOut(parent, *control, siblings);
            siblings << control;
        }
        lines += Inspect(*control);
    }
    return lines;
}

// Captions, defaults and states against captions.txt beside this file; nothing clipped or
// overlapping; the main window fixed in size without maximize, tabbing in its order.
TEST_F(MainWindow, CaptionsLayoutAndTabOrderOfTheThreeWindows) {
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Edit("edtInputFile")->setFocus();
    for (const char* name : {"btnInputBrowse", "edtOutputFile", "btnOutputBrowse", "btnOK",
                             "btnClose", "chkInsertHeaderField", "edtScannerHeaderSize",
                             "chkRemoveColHeaders", "RichEdit1", "btnHelp", "edtInputFile"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Child(form, name)) << "expected " << name;
    }
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint),
              Qt::WindowMinimizeButtonHint);
    QString captions = Inspect(form) + "\n";
    {
        TdlgProcessing processing(&form);
        captions += Inspect(processing) + "\n";
    }
    TdlgHelp help(&form, services);
    help.show();
    QApplication::processEvents();
    EXPECT_EQ((captions + Inspect(help) + "\n").toStdString(),
              kstest::ReadWholeFile(GUI_TESTS_DIR "/captions.txt"));
}

// The header size box takes two digits and is greyed without the insert option. Closing
// asks after a change only when both names are filled in.
TEST_F(MainWindow, HeaderSizeKeysAndTheClosingQuestion) {
    SetNames("in.csv", "out.txt");
    QLineEdit* size = Edit("edtScannerHeaderSize");
    size->clear();
    QTest::keyClicks(size, "a-+ x");
    EXPECT_EQ(size->text(), "");
    EXPECT_FALSE(ClosingAsks());     // letters are no change
    QTest::keyClicks(size, "4q27");  // a third digit does not fit
    EXPECT_EQ(size->text(), "42");
    QTest::keyClicks(size, "\b");
    QTest::keyClick(size, Qt::Key_Home);
    QTest::keyClick(size, Qt::Key_Delete);  // keys without a character keep working
    EXPECT_EQ(size->text(), "");
    for (auto [input, output] : {std::pair{"in.csv", ""}, {"", "out.txt"}}) {
        SetNames(input, output);
        EXPECT_FALSE(ClosingAsks()) << input << output;
    }
    SetNames("in.csv", "out.txt");
    services.answerYes = false;
    EXPECT_FALSE(form.close());
    EXPECT_EQ(services.Take(), Log{"question Confirm Close|You have not converted your "
                                   "file.\nAre you sure you want to close?"});
    const QColor editColour = size->palette().color(QPalette::Base);
    for (QColor colour : {form.palette().color(QPalette::Button), editColour}) {
        Click("chkInsertHeaderField");
        EXPECT_EQ(size->isEnabled(), colour == editColour);
        EXPECT_EQ(size->palette().color(QPalette::Base), colour);
    }
    services.answerYes = true;
    Press("btnClose");
    EXPECT_FALSE(form.isVisible());
}

// Drags `mime` over the box and drops it there, as the file manager does; true when the
// box took both.
bool Drop(QLineEdit* box, QMimeData& mime) {
    QDragEnterEvent enter(box->rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(box, &enter);
    QDropEvent drop(QPointF(box->rect().center()), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(box, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

// A file chosen in a box's dialog or dropped on the box is taken as a change; a box's
// dialog starts from its name, or when it is empty from the folder of the last file taken
// for that box, in a later run too.
TEST_F(MainWindow, ChosenAndDroppedFilesAreTakenAndTheirFoldersRemembered) {
    QMimeData text;
    text.setText("typed");
    Drop(Edit("edtInputFile"), text);  // not a file: the edit box's own drop
    SetNames("/data/old.csv", "first.txt");
    Press("btnOutputBrowse");  // cancelled
    EXPECT_FALSE(ClosingAsks());
    const std::string folder = dir.Path().string();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QString::fromStdString(folder + "/sub/out.txt")),
                   QUrl::fromLocalFile("/other.txt")});
    EXPECT_TRUE(Drop(Edit("edtOutputFile"), files));
    EXPECT_EQ(Edit("edtOutputFile")->text().toStdString(), folder + "/sub/out.txt");
    EXPECT_TRUE(ClosingAsks());
    services.answer = QString::fromStdString(folder + "/survey.csv");
    Press("btnInputBrowse");
    EXPECT_EQ(Edit("edtInputFile")->text(), *services.answer);
    const std::string open = "open Select Input File|";
    const std::string filters =
        "|Comma Separated Text Files (*.txt *.csv *.del);All Files (*)||must exist|";
    const std::string save = "save Save Output As|";
    const std::string saveFilters = "|Text Files (*.txt *.dat)|txt||confirm overwrite";
    EXPECT_EQ(services.Take(),
              (Log{save + "first.txt|" + saveFilters, open + "/data/old.csv|" + filters}));

    FakeFormServices later;
    TfrmMain next(later);
    for (const char* button : {"btnInputBrowse", "btnOutputBrowse"}) {
        QTest::mouseClick(Child<QPushButton>(next, button), Qt::LeftButton);
    }
    EXPECT_EQ(later.Take(),
              (Log{open + "|" + folder + filters, save + "|" + folder + "/sub" + saveFilters}));
}

// Help opens the help window modally over the main window. Its links go to the desktop,
// a link's caption being its target, and a desktop that cannot open them is reported;
// OK closes and destroys it.
TEST_F(MainWindow, HelpWindowHandsItsLinksToTheDesktop) {
    QMetaObject::invokeMethod(
        &form,
        [&] {
            auto* help = qobject_cast<TdlgHelp*>(QApplication::activeModalWidget());
            ASSERT_NE(help, nullptr);
            EXPECT_EQ(help->parentWidget(), &form);
            EXPECT_TRUE(Child<QLabel>(*help, "Label2")->font().bold());
            Child<QLabel>(*help, "lblBSRWebSite")->setText("https://example.org/products");
            for (bool opens : {true, false}) {
                services.addressOpens = opens;
                for (const char* name : {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"}) {
                    auto* link = Child<QLabel>(*help, name);
                    EXPECT_TRUE(link->font().underline() &&
                                link->cursor().shape() == Qt::PointingHandCursor &&
                                link->palette().color(QPalette::WindowText) ==
                                    help->palette().color(QPalette::Link))
                        << name;
                    QTest::mouseClick(link, Qt::LeftButton);
                }
            }
            QTest::mouseClick(Child(*help, "lblEmail"), Qt::RightButton);  // not a click
            QTest::mouseClick(Child<QPushButton>(*help, "btnOK"), Qt::LeftButton);
        },
        Qt::QueuedConnection);
    Press("btnHelp");
    EXPECT_EQ(form.findChild<TdlgHelp*>(), nullptr);
    const std::string site = "address " MTCONVERT_CONVERTER_URL;
    const std::string products = "address https://example.org/products";
    const std::string mail = "address mailto:" MTCONVERT_SUPPORT_EMAIL;
    const std::string browser = "error Error|Cannot open Internet browser to view web site.";
    EXPECT_EQ(services.Take(), (Log{site, products, mail, site, browser, products, browser, mail,
                                    "error Error|Cannot send email."}));
}

}  // namespace
