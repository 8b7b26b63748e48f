#pragma once
// The converter's main window: the two file names, the conversion options, and the
// buttons that convert, close and open the help window. It checks the names and the
// header size before converting, runs the conversion with the progress window up, and
// asks before closing when something was changed and nothing converted since. On request
// it also writes the output's column layout; whether it does, and a layout file name the
// user typed, are remembered for the next run.

#include <QWidget>
#include <functional>
#include <string>

#include "InputChecks.h"

class FormServices;
struct FileDialogRequest;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;
struct ConversionOptions;
struct ConversionResult;

// Caption of the main window (the application title differs from it).
inline constexpr const char* kMainWindowCaption =
    "Menu*Tally Data File Converter 1.0 (CSV to Fixed Width)";

class TfrmMain : public QWidget {
    Q_OBJECT

public:
    explicit TfrmMain(FormServices& services, QWidget* parent = nullptr);
    ~TfrmMain() override;
    // Puts a file named at start-up (the desktop's "Open with") into the input box, taken
    // like a file chosen through its browse dialog.
    void OpenInputFile(const QString& name);

    // Runs one conversion with the options as the controls show them; throws KsException.
    void Convert();

public slots:
    void btnOKClick();
    void btnCloseClick();
    void btnInputBrowseClick();
    void btnOutputBrowseClick();
    void btnHelpClick();
    void chkInsertHeaderFieldClick();
    void chkRemoveColHeadersClick();
    void chkColumnLayoutClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ProcessingObserver;

    void BuildControls();
    void BuildInfoGroup();
    void BuildFileGroup();
    void BuildOptionsGroup();
    void BuildLayoutRow();
    void UseGroupFonts();
    void ConnectHandlers();
    void BuildLayout();
    void SetTabOrder();
    void FormClose(QCloseEvent* event);
    // Where a browse dialog for `box` starts.
    void StartFrom(const QLineEdit* box, FileDialogRequest& request) const;
    // A file chosen for `box` in its dialog or dragged onto it: the name goes into the box,
    // it counts as a change, and its folder is remembered for the box.
    void TakeChosenFile(QLineEdit* box, const QString& name);
    QString FolderKey(const QLineEdit* box) const;
    // Drag and drop of a local file onto a file-name box; true when the event was taken.
    bool FileDragEvent(QLineEdit* box, QEvent* event);
    // True when the key is swallowed.
    bool edtScannerHeaderSizeKeyPress(QKeyEvent* key);
    void OnOKClick();
    void OnHelpClick();
    ConversionInputs ReadInputs() const;
    // The output's run with the progress window up; a layout file left by an earlier run
    // is removed when the run fails or is cancelled, since it no longer describes the output.
    ConversionResult RunConversion(const ConversionOptions& options, const std::string& layoutFile);
    // The completion message, with where the layout went or why it was not written.
    void ShowCompletion(const ConversionOptions& options, const ConversionResult& result,
                        const std::string& layoutFile);
    // The layout file box follows the output's name until the user types a name of their own.
    void edtOutputFileChange();
    void edtColumnLayoutFileEdited();
    void edtColumnLayoutFileExit();
    void RestoreLayoutSettings();
    // Greys an edit box like a button face while it does not count.
    void ShowEnabled(QLineEdit* edit, bool enabled);
    void ShowError(const char* message);
    // Runs an event handler's body; a KsException gets the handler's call-path line and
    // its message is shown under "Error", other exceptions go to the default display.
    void RunHandler(const char* handler, const std::function<void()>& body);

    QGroupBox* gbxParameters;
    QLabel* lblInputFile;
    QLineEdit* edtInputFile;
    QLineEdit* edtOutputFile;
    QPushButton* btnInputBrowse;
    QPushButton* btnOutputBrowse;
    QPushButton* btnOK;
    QPushButton* btnClose;
    QGroupBox* gbxOptions;
    QCheckBox* chkRemoveCommas;
    QCheckBox* chkInsertHeaderField;
    QLineEdit* edtScannerHeaderSize;
    QGroupBox* gbxInfo;
    QLabel* Label2;
    QLabel* lblOutputFile;
    QTextEdit* RichEdit1;
    QPushButton* btnHelp;
    QCheckBox* chkRemoveColHeaders;
    QLabel* Label1;
    QCheckBox* chkColumnLayout;
    QLineEdit* edtColumnLayoutFile;
    bool NotConverted = false;
    bool layoutFileTyped_ = false;

    FormServices& services_;
};
