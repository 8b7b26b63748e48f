// The converter's windows driven through their real controls on the offscreen platform,
// with a stand-in for the desktop that logs every message box, question, file dialog and
// address as a line of text and answers as the test set up; and the desktop's own message
// boxes and file dialogs as the windows ask for them.

#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FormApplication.h"
#include "FormServices.h"
#include "InputChecks.h"
#include "QtFormServices.h"
#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "TfrmMain.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;
using kstest::WriteWholeFile;
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

// Empties what the windows remember; a member before the window, so that the window starts
// from nothing.
struct ClearedSettings {
    ClearedSettings() { QSettings().clear(); }
};

// A shown main window on the stand-in, a fresh temporary directory and empty settings.
class MainWindow : public ::testing::Test {
protected:
    MainWindow() : form(services) { form.show(); }

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

    // Presses "Create Converted File"; what it showed.
    Log Create() {
        Press("btnOK");
        return services.Take();
    }

    ClearedSettings cleared;
    kstest::TempDir dir;
    FakeFormServices services;
    TfrmMain form;
    std::string in = dir.File("in.csv");
    std::string out = dir.File("out.txt");
    std::string layout = dir.File("out.layout.csv");
};

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
    for (const char* name :
         {"btnInputBrowse", "edtOutputFile", "btnOutputBrowse", "btnOK", "btnClose",
          "chkInsertHeaderField", "edtScannerHeaderSize", "chkRemoveColHeaders", "chkColumnLayout",
          "RichEdit1", "btnHelp", "edtInputFile"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), Child(form, name)) << "expected " << name;
    }
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    // Group captions in bold, the controls inside them not.
    EXPECT_TRUE(Child(form, "gbxOptions")->font().bold() && !Child(form, "Label1")->font().bold());
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
              ReadWholeFile(GUI_TESTS_DIR "/captions.txt"));
    // The window is destroyed with the focus in the layout box, which then ends its editing.
    help.close();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    Click("chkColumnLayout");
    Edit("edtColumnLayoutFile")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Edit("edtColumnLayoutFile"));
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

// A file chosen in a box's dialog, dropped on the box or named at start-up is taken as a
// change; a box's dialog starts from its name, or when it is empty from the folder of the
// last file taken for that box, in a later run too.
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
    // A file named at start-up is taken into the input box like a browse choice.
    next.OpenInputFile("/elsewhere/survey.csv");
    EXPECT_EQ(Child<QLineEdit>(next, "edtInputFile")->text(), "/elsewhere/survey.csv");
}

// Help opens the help window modally over the main window, with the addresses of the
// running program; OK closes and destroys it.
TEST_F(MainWindow, HelpOpensModallyWithTheProgramsAddresses) {
    WhenShown<TdlgHelp>([&](TdlgHelp& help) {
        EXPECT_EQ(help.parentWidget(), &form);
        QTest::mouseClick(Child(help, "lblConverterWebSite"), Qt::LeftButton);
        QTest::mouseClick(Child<QPushButton>(help, "btnOK"), Qt::LeftButton);
    });
    Press("btnHelp");
    EXPECT_EQ(form.findChild<TdlgHelp*>(), nullptr);
    EXPECT_EQ(
        services.Take(),
        Log{"address " +
            BuiltInHelpAddresses(QCoreApplication::applicationDirPath()).converter.toStdString()});
}

// The links go to the desktop, a link's caption being its target, and a desktop that
// cannot open them is reported; a row without an address is left out.
TEST(HelpWindow, LinksGoToTheDesktopAndRowsWithoutAnAddressAreLeftOut) {
    FakeFormServices services;
    TdlgHelp help(
        nullptr, services,
        {"file:///usr/share/doc/README.md", "https://example.org/products", "help@example.org"});
    help.show();
    EXPECT_TRUE(Child<QLabel>(help, "Label2")->font().bold());
    for (bool opens : {true, false}) {
        services.addressOpens = opens;
        for (const char* name : {"lblConverterWebSite", "lblBSRWebSite", "lblEmail"}) {
            auto* link = Child<QLabel>(help, name);
            EXPECT_TRUE(link->isVisible() && link->font().underline() &&
                        link->cursor().shape() == Qt::PointingHandCursor &&
                        link->palette().color(QPalette::WindowText) ==
                            help.palette().color(QPalette::Link))
                << name;
            QTest::mouseClick(link, Qt::LeftButton);
        }
    }
    QTest::mouseClick(Child(help, "lblEmail"), Qt::RightButton);  // not a click
    const std::string readme = "address file:///usr/share/doc/README.md";
    const std::string products = "address https://example.org/products";
    const std::string mail = "address mailto:help@example.org";
    const std::string browser = "error Error|Cannot open Internet browser to view web site.";
    EXPECT_EQ(services.Take(), (Log{readme, products, mail, readme, browser, products, browser,
                                    mail, "error Error|Cannot send email."}));

    TdlgHelp bare(nullptr, services, {"file:///usr/share/doc/README.md", "", ""});
    bare.show();
    QString shown;
    for (const char* name : {"Label1", "lblConverterWebSite", "Label3", "lblBSRWebSite", "Label4",
                             "lblEmail", "btnOK"}) {
        shown += Child(bare, name)->isVisible() ? QString(name) + " " : "";
    }
    EXPECT_EQ(shown, "Label1 lblConverterWebSite btnOK ");
}

// Without a distributor's page the converter link is the README installed with the program,
// found from the program's folder under any prefix; the other two are the build's alone.
TEST(HelpWindow, BuiltInAddressesLeadToTheInstalledReadme) {
    for (const char* prefix : {"/usr", "/opt/my tools"}) {
        const HelpAddresses addresses = BuiltInHelpAddresses(QString(prefix) + "/bin");
        const QString installed =
            QDir(prefix).filePath(MTCONVERT_INSTALL_DOCDIR) + QStringLiteral("/README.md");
        if (QString(MTCONVERT_CONVERTER_URL).isEmpty()) {
            EXPECT_TRUE(addresses.converter.startsWith("file:///"))
                << addresses.converter.toStdString();
            // What the desktop is handed for the caption.
            EXPECT_EQ(QUrl::fromUserInput(addresses.converter).toLocalFile(), installed);
        } else {
            EXPECT_EQ(addresses.converter, MTCONVERT_CONVERTER_URL);
        }
        EXPECT_EQ(addresses.site, MTCONVERT_SITE_URL);
        EXPECT_EQ(addresses.supportEmail, MTCONVERT_SUPPORT_EMAIL);
    }
}

// Each window hands the window system its own caption, and Qt adds nothing to it: Qt
// appends the application display name to every caption once one is set, so the
// application title is kept elsewhere. It is the caption of errors no window handles and
// the name the desktop entry lists the program under.
TEST_F(MainWindow, WindowsShowTheirOwnCaptionsAloneAndTheTitleStaysTheApplications) {
    FormApplication::SetTitle(kApplicationTitle);
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
    TdlgProcessing processing(&form);
    TdlgHelp help(&form, services);
    help.show();
    for (auto [window, caption] : {std::pair<QWidget*, const char*>{&form, kMainWindowCaption},
                                   {&processing, "Converting file"},
                                   {&help, "Getting Help"}}) {
        ASSERT_NE(window->windowHandle(), nullptr) << caption;
        EXPECT_EQ(window->windowHandle()->title(), caption);
    }
    FormApplication::ShowException(services, &form, std::runtime_error("out of memory"));
    EXPECT_EQ(services.Take(), Log{"error " + std::string(kApplicationTitle) + "|out of memory"});
    FormApplication::SetTitle({});
    const std::string entry = ReadWholeFile(MTCONVERT_GUI_SOURCE_DIR "/mtconvert-gui.desktop");
    EXPECT_NE(entry.find("\nName=" + QString(kApplicationTitle).simplified().toStdString() + "\n"),
              std::string::npos);
}

// A failed check shows its warning and writes nothing (the checks themselves are the
// engine tests'); a run shows its result or its error, and only a finished run counts as
// a conversion.
TEST_F(MainWindow, WarningResultOrErrorIsShownAndOnlyAFinishedRunCountsAsConverted) {
    EXPECT_EQ(Create(), Log{"warning Warning|Please enter a valid input file name."});
    WriteWholeFile(in, "xy,z\r\na,b,c\r\nno comma\r\n");
    SetNames(in, dir.File("IN.CSV"));
    EXPECT_EQ(Create(), Log{"warning Warning|You cannot choose the same file name for the input "
                            "and the output."});
    EXPECT_FALSE(std::filesystem::exists(dir.File("IN.CSV")));
    SetNames(in, out);
    Edit("edtScannerHeaderSize")->setText("2");
    Click("chkRemoveColHeaders");  // the first line is data now
    EXPECT_EQ(Create(), Log{"error Error|\"" + in +
                            "\" is not a valid comma separated file.\nPlease choose a new input "
                            "file."});
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_TRUE(form.isEnabled());
    EXPECT_TRUE(ClosingAsks());

    WriteWholeFile(in, "xy,z\r\na,b,c\r\n");
    bool progressGoneFormEnabled = false;
    services.onMessage = [&] {
        progressGoneFormEnabled = FindTopLevel<TdlgProcessing>() == nullptr && form.isEnabled();
    };
    const std::string done =
        "information Conversion Completed.|File converted.\nAll records are now length ";
    EXPECT_EQ(Create(), Log{done + "5"});
    EXPECT_TRUE(progressGoneFormEnabled);
    EXPECT_EQ(ReadWholeFile(out), "  xyz\n  abc\n");
    EXPECT_FALSE(ClosingAsks());
    // Without the insert option an empty size passes.
    Click("chkInsertHeaderField");
    EXPECT_TRUE(ClosingAsks());
    Edit("edtScannerHeaderSize")->clear();
    EXPECT_EQ(Create(), Log{done + "3"});
}

// While the run goes the main window is disabled and stays open, the progress window
// cannot be closed or escaped; Cancel stops the run, keeping whole records and showing
// nothing (and no layout of an earlier run), and the main window comes back.
TEST_F(MainWindow, CancelDuringALongRunKeepsWholeRecordsAndShowsNothing) {
    std::string content = "id,answer\r\n";
    std::string records;
    for (int i = 100000; i < 101000; ++i) {
        content += std::to_string(i) + ",a\r\n";
        records += std::to_string(i) + "a\n";
    }
    WriteWholeFile(in, content);
    SetNames(in, out);
    Click("chkInsertHeaderField");
    Click("chkColumnLayout");
    WriteWholeFile(layout, "of an earlier output");
    int rounds = 0;
    // The first time the run lets events through this takes a while (as a slow desktop
    // would), so the run lets them through again soon after; Cancel is pressed then.
    std::function<void()> pressLater = [&] {
        TdlgProcessing* dialog = FindTopLevel<TdlgProcessing>();
        ASSERT_NE(dialog, nullptr);
        if (++rounds == 1) {
            EXPECT_FALSE(form.isEnabled());
            EXPECT_FALSE(dialog->windowFlags().testFlag(Qt::WindowCloseButtonHint));
            EXPECT_FALSE(form.close() || dialog->close());
            QTest::keyClick(dialog, Qt::Key_Escape);
            form.hide();
            QTest::qSleep(30);
            QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
            return;
        }
        ASSERT_TRUE(dialog->isVisible());
        QTest::mouseClick(Child<QPushButton>(*dialog, "btnCancel"), Qt::LeftButton);
    };
    QMetaObject::invokeMethod(&form, pressLater, Qt::QueuedConnection);
    Press("btnOK");
    EXPECT_EQ(rounds, 2);
    EXPECT_TRUE(services.log.empty());
    EXPECT_TRUE(form.isEnabled() && form.isVisible());
    EXPECT_EQ(FindTopLevel<TdlgProcessing>(), nullptr);
    // Whole records, in order, from the first up to the one Cancel was pressed during.
    const std::string output = ReadWholeFile(out);
    EXPECT_TRUE(output.size() > 8 && output.size() < records.size() && output.size() % 8 == 0 &&
                records.compare(0, output.size(), output) == 0)
        << output.size();
    EXPECT_FALSE(std::filesystem::exists(layout));
    EXPECT_TRUE(ClosingAsks());  // a cancelled run is no conversion
}

// With the layout on, a finished run writes the layout file beside the output and says so;
// a layout the records do not have, or a failed run, leaves none and a run still shows
// as completed. The layout file may be neither the input nor the output.
TEST_F(MainWindow, ColumnLayoutIsWrittenWithTheOutputOrWhyNotIsShown) {
    SetNames(in, out);
    Edit("edtScannerHeaderSize")->setText("2");
    EXPECT_FALSE(Edit("edtColumnLayoutFile")->isEnabled());
    Click("chkColumnLayout");
    ASSERT_TRUE(Edit("edtColumnLayoutFile")->isEnabled());
    ASSERT_EQ(Edit("edtColumnLayoutFile")->text().toStdString(), layout);
    WriteWholeFile(in, "id,name\r\n12,ab\r\n34,cd\r\n");
    const std::string done = "File converted.\nAll records are now length 6";
    EXPECT_EQ(Create(), Log{"information Conversion Completed.|" + done +
                            "\nColumn layout written to " + layout});
    EXPECT_EQ(ReadWholeFile(layout),
              "field,name,start,end,width\n0,Scanner header,1,2,2\n1,id,3,4,2\n2,name,5,6,2\n");
    EXPECT_FALSE(ClosingAsks());

    WriteWholeFile(in, "id,name\r\n12,ab\r\n1,abc\r\n");  // same length, commas elsewhere
    EXPECT_EQ(Create(), Log{"warning Warning|" + done +
                            "\n\nField 1 (\"id\") is 2 columns wide "
                            "in record 1 but 1 in record 2, so the records have no common column "
                            "layout; \"" +
                            layout + "\" was not written."});
    EXPECT_EQ(ReadWholeFile(out), "  12ab\n  1abc\n");
    EXPECT_FALSE(std::filesystem::exists(layout));
    EXPECT_FALSE(ClosingAsks());

    WriteWholeFile(in, "id,name\r\n12,ab\r\n");
    EXPECT_EQ(Create().size(), 1u);
    WriteWholeFile(in, "id,name\r\nno comma\r\n");
    EXPECT_EQ(Create().front().rfind("error Error|", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(layout));

    WriteWholeFile(out, "kept");
    for (const std::string& name : {in, dir.File("OUT.TXT"), std::string()}) {
        Edit("edtColumnLayoutFile")->setText(QString::fromStdString(name));
        EXPECT_EQ(Create(), Log{"warning Warning|" +
                                std::string(name.empty() ? "Please enter a valid column layout "
                                                           "file name."
                                                         : kLayoutSameFileWarning)})
            << name;
    }
    EXPECT_EQ(ReadWholeFile(out), "kept");
}

// The layout box follows the output's name until a name is typed there, and again once it
// is left empty; the check box and a typed name are remembered for the next window.
TEST_F(MainWindow, LayoutNameFollowsTheOutputAndTheChoiceIsRemembered) {
    QLineEdit* name = Edit("edtColumnLayoutFile");
    for (auto [output, shown] : {std::pair{"/d/answers.txt", "/d/answers.layout.csv"},
                                 {"/d.x/answers", "/d.x/answers.layout.csv"},
                                 {"", ""}}) {
        Edit("edtOutputFile")->setText(output);
        EXPECT_EQ(name->text(), shown) << output;
    }
    Click("chkColumnLayout");
    name->selectAll();
    QTest::keyClicks(name, "mine.csv");
    Edit("edtOutputFile")->setText("/d/other.txt");
    EXPECT_EQ(name->text(), "mine.csv");

    auto restarted = [&] {
        auto next = std::make_unique<TfrmMain>(services);
        Child<QLineEdit>(*next, "edtOutputFile")->setText("/e/next.txt");
        return next;
    };
    std::unique_ptr<TfrmMain> next = restarted();
    auto* nextName = Child<QLineEdit>(*next, "edtColumnLayoutFile");
    EXPECT_TRUE(Child<QCheckBox>(*next, "chkColumnLayout")->isChecked() && nextName->isEnabled());
    EXPECT_EQ(nextName->text(), "mine.csv");
    nextName->selectAll();
    QTest::keyClick(nextName, Qt::Key_Delete);
    QTest::keyClick(nextName, Qt::Key_Return);  // leaves the box as well as focus would
    EXPECT_EQ(nextName->text(), "/e/next.layout.csv");
    Child<QCheckBox>(*next, "chkColumnLayout")->click();

    next = restarted();
    EXPECT_FALSE(Child<QCheckBox>(*next, "chkColumnLayout")->isChecked());
    EXPECT_FALSE(Child<QLineEdit>(*next, "edtColumnLayoutFile")->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(*next, "edtColumnLayoutFile")->text(), "/e/next.layout.csv");
}

TEST(ProcessingDialog, ProgressBarShowsTheShareOfInputRead) {
    TdlgProcessing dialog(nullptr);
    auto* bar = Child<QProgressBar>(dialog, "barProgress");
    for (auto [consumed, total, shown] : {
             std::tuple{250ULL, 1000ULL, "250/1000"},
             {5'000'000'000'000ULL, 10'000'000'000'000ULL, "500/1000"},
             {1200ULL, 1000ULL, "1000/1000"},  // a file that grew while read
             {77ULL, 0ULL, "-1/0"},            // size unknown: a busy bar
         }) {
        dialog.ShowProgress(consumed, total);
        EXPECT_EQ(std::to_string(bar->value()) + "/" + std::to_string(bar->maximum()), shown);
    }
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
    WriteWholeFile(dir.File("survey.csv"), "a,b\n");
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
    // With no name, the dialog starts in the folder given, not in the one used last.
    const QString folder = QString::fromStdString(dir.File("saved"));
    QDir().mkdir(folder);
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
