#include "TfrmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "ColumnLayout.h"
#include "ConversionEngine.h"
#include "FormApplication.h"
#include "FormServices.h"
#include "TdlgHelp.h"
#include "TdlgProcessing.h"
#include "core/KsCallpath.h"
#include "core/KsException.h"

namespace {

const char* const kClassName = "TfrmMain";
const char* const kErrorCaption = "Error";
const char* const kHeaderSizeKeys = "0123456789\b";
const char* const kLayoutFileWarning = "Please enter a valid column layout file name.";
// What the window remembers of the layout between runs; a file name only when typed.
const char* const kWriteLayoutKey = "columnLayout/write";
const char* const kLayoutFileKey = "columnLayout/file";
// Width of the window as designed; wider when the desktop's fonts need it.
constexpr int kDesignedWidth = 570;

const char* const kBackgroundLines[] = {
    "Questionnaire data files are typically created by scanning paper forms.  Menu*Tally "
    "requires files in a ",
    "fixed-width format (also known as fixed-column format).  The fields in fixed-width files "
    "are not separated ",
    "by a delimiting character.  In fixed width files there are no commas, tabs, or other "
    "characters ",
    "separating the fields.  Rather, the fields are a specified length (that is, a specific "
    "number of columns).  ",
    "",
    "Some scanners and scanning software do not create files in fixed width format.  This "
    "program will ",
    "convert files with comma delimiters (CSV files) to fixed width files.",
};

// A read-only text box as tall as its text at the width it is given, so that the text
// shows whole whatever font the desktop uses.
class FittedTextEdit : public QTextEdit {
public:
    using QTextEdit::QTextEdit;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        std::unique_ptr<QTextDocument> copy(document()->clone());
        copy->setTextWidth(width - 2 * frameWidth());
        return static_cast<int>(copy->size().height()) + 2 * frameWidth();
    }
    QSize sizeHint() const override {
        const int width = QTextEdit::sizeHint().width();
        return {width, heightForWidth(width)};
    }
};

template <class Widget>
Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

std::string FileNameOf(const QLineEdit* edit) {
    return QFile::encodeName(edit->text()).toStdString();
}

}  // namespace

// Shows the progress window while the engine runs and passes Cancel on to it. Pending
// events are handled, and the progress bar redrawn, at most every kEventIntervalMs:
// doing either after every one of hundreds of thousands of short records would cost
// more than converting them.
class TfrmMain::ProcessingObserver : public ConversionObserver {
public:
    explicit ProcessingObserver(TfrmMain& form) : form_(form) {}

    void Started() override {
        dialog_ = std::make_unique<TdlgProcessing>(&form_);
        form_.repaint();
    }
    bool CheckCancel() override {
        // The first record always handles events: the progress window shows at once. The
        // clock itself is read only every kRecordsPerClockRead records.
        if (sinceEvents_.isValid() &&
            (++records_ % kRecordsPerClockRead != 0 || sinceEvents_.elapsed() < kEventIntervalMs)) {
            return dialog_->IsCancelled();
        }
        sinceEvents_.start();
        dialog_->ShowProgress(consumed_, total_);
        return dialog_->CheckCancel();
    }
    void Progress(std::uint64_t consumed, std::uint64_t total) override {
        consumed_ = consumed;
        total_ = total;
    }
    void Finished() override {
        if (dialog_) {
            // A Cancel pressed during the last records counts even when the engine did
            // not ask again before its input ended.
            cancelledAtEnd_ = dialog_->CheckCancel();
            dialog_.reset();
        }
        form_.repaint();
    }
    bool CancelledAtEnd() const { return cancelledAtEnd_; }

    static constexpr qint64 kEventIntervalMs = 10;
    static constexpr unsigned kRecordsPerClockRead = 32;

private:
    TfrmMain& form_;
    std::unique_ptr<TdlgProcessing> dialog_;
    QElapsedTimer sinceEvents_;
    unsigned records_ = 0;
    std::uint64_t consumed_ = 0;
    std::uint64_t total_ = 1;  // nothing read yet: an empty bar, not a busy one
    bool cancelledAtEnd_ = false;
};

TfrmMain::TfrmMain(FormServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window), services_(services) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kMainWindowCaption));
    // Fixed border with system menu, minimize and close; no maximize.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    BuildControls();
    BuildLayout();
    SetTabOrder();

    const int width = qMax(kDesignedWidth, sizeHint().width());
    setFixedSize(width, heightForWidth(width));
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TfrmMain::~TfrmMain() {
    // The box that has the focus reports the end of its editing as it is destroyed, when
    // this window is no longer a TfrmMain.
    edtColumnLayoutFile->disconnect(this);
}

void TfrmMain::BuildControls() {
    BuildInfoGroup();
    BuildFileGroup();
    BuildOptionsGroup();
    btnOK = Named(new QPushButton(QStringLiteral("Create Converted File"), this), "btnOK");
    btnClose = Named(new QPushButton(QStringLiteral("Close"), this), "btnClose");
    btnHelp = Named(new QPushButton(QStringLiteral("Help..."), this), "btnHelp");
    UseGroupFonts();
    ConnectHandlers();
    RestoreLayoutSettings();
}

void TfrmMain::BuildInfoGroup() {
    gbxInfo = Named(new QGroupBox(QStringLiteral("Background"), this), "gbxInfo");
    Label2 = Named(new QLabel(QStringLiteral("The purpose of this program is to convert "
                                             "questionnaire data files in comma separated "
                                             "values (CSV) format to the fixed width format "
                                             "required by Menu*Tally."),
                              gbxInfo),
                   "Label2");
    Label2->setWordWrap(true);
    RichEdit1 = Named(new FittedTextEdit(gbxInfo), "RichEdit1");
    QStringList lines;
    for (const char* line : kBackgroundLines) {
        lines << QString::fromLatin1(line);
    }
    RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));
    RichEdit1->setReadOnly(true);
    RichEdit1->setFrameShape(QFrame::NoFrame);
    RichEdit1->setTabChangesFocus(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette face = RichEdit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    RichEdit1->setPalette(face);
    // Each of the lines on a row of its own, as they were written.
    int longest = 0;
    for (const QString& line : lines) {
        longest = qMax(longest, RichEdit1->fontMetrics().horizontalAdvance(line));
    }
    RichEdit1->setMinimumWidth(longest +
                               2 * static_cast<int>(RichEdit1->document()->documentMargin()) +
                               2 * RichEdit1->frameWidth() + 2);
    QSizePolicy fitted(QSizePolicy::Expanding, QSizePolicy::Fixed);
    fitted.setHeightForWidth(true);
    RichEdit1->setSizePolicy(fitted);
}

void TfrmMain::BuildFileGroup() {
    gbxParameters =
        Named(new QGroupBox(QStringLiteral("Specify Data Files:"), this), "gbxParameters");
    lblInputFile = Named(
        new QLabel(QStringLiteral("Input File (Questionnaire Data in CSV File):"), gbxParameters),
        "lblInputFile");
    edtInputFile = Named(new QLineEdit(gbxParameters), "edtInputFile");
    btnInputBrowse =
        Named(new QPushButton(QStringLiteral("Browse..."), gbxParameters), "btnInputBrowse");
    lblOutputFile = Named(
        new QLabel(
            QStringLiteral("Output File (Questionnaire Data converted to Fixed Width Format)::"),
            gbxParameters),
        "lblOutputFile");
    edtOutputFile = Named(new QLineEdit(gbxParameters), "edtOutputFile");
    btnOutputBrowse =
        Named(new QPushButton(QStringLiteral("Browse..."), gbxParameters), "btnOutputBrowse");
    lblInputFile->setBuddy(edtInputFile);
    lblOutputFile->setBuddy(edtOutputFile);
    // A file dragged from the file manager onto a box is taken as if chosen in its dialog.
    for (QLineEdit* box : {edtInputFile, edtOutputFile}) {
        box->installEventFilter(this);
    }
}

void TfrmMain::BuildOptionsGroup() {
    gbxOptions = Named(new QGroupBox(QStringLiteral("Conversions:"), this), "gbxOptions");
    chkRemoveCommas =
        Named(new QCheckBox(QStringLiteral("Remove Commas"), gbxOptions), "chkRemoveCommas");
    chkRemoveCommas->setChecked(true);
    chkRemoveCommas->setEnabled(false);
    chkRemoveColHeaders = Named(new QCheckBox(QStringLiteral("Remove Column Headers"), gbxOptions),
                                "chkRemoveColHeaders");
    chkRemoveColHeaders->setChecked(true);
    Label1 = Named(new QLabel(QStringLiteral("Varnel Questionnaire Data Dictionaries (QDD) "
                                             "typically include a field for \"Scanner "
                                             "Header\".  Since some scanners do not include "
                                             "this field, you have the option of inserting "
                                             "spaces to match the QDD."),
                              gbxOptions),
                   "Label1");
    Label1->setWordWrap(true);
    chkInsertHeaderField = Named(new QCheckBox(QStringLiteral("Insert characters at the beginning "
                                                              "of each record.  Number of "
                                                              "characters to insert:"),
                                               gbxOptions),
                                 "chkInsertHeaderField");
    chkInsertHeaderField->setChecked(true);
    edtScannerHeaderSize =
        Named(new QLineEdit(QStringLiteral("50"), gbxOptions), "edtScannerHeaderSize");
    edtScannerHeaderSize->setMaxLength(2);
    // Room for two digits; pasted text is held to digits as well.
    edtScannerHeaderSize->setFixedWidth(
        edtScannerHeaderSize->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 16);
    edtScannerHeaderSize->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,2}")), edtScannerHeaderSize));
    edtScannerHeaderSize->installEventFilter(this);
    BuildLayoutRow();
}

void TfrmMain::BuildLayoutRow() {
    chkColumnLayout = Named(new QCheckBox(QStringLiteral("Write a column layout"), gbxOptions),
                            "chkColumnLayout");
    edtColumnLayoutFile = Named(new QLineEdit(gbxOptions), "edtColumnLayoutFile");
    edtColumnLayoutFile->setAccessibleName(QStringLiteral("Column layout file"));
}

void TfrmMain::UseGroupFonts() {
    // Group captions in a larger bold face, their contents in the window's own.
    const QFont base = font();
    QFont caption = base;
    caption.setBold(true);
    caption.setPointSizeF(base.pointSizeF() * 1.25);
    QFont inner = base;
    inner.setBold(false);
    inner.setPointSizeF(base.pointSizeF());
    for (QGroupBox* box : {gbxInfo, gbxParameters, gbxOptions}) {
        box->setFont(caption);
        for (QWidget* child : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            child->setFont(inner);
        }
    }
}

void TfrmMain::ConnectHandlers() {
    connect(btnOK, &QPushButton::clicked, this, &TfrmMain::btnOKClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmMain::btnCloseClick);
    connect(btnInputBrowse, &QPushButton::clicked, this, &TfrmMain::btnInputBrowseClick);
    connect(btnOutputBrowse, &QPushButton::clicked, this, &TfrmMain::btnOutputBrowseClick);
    connect(btnHelp, &QPushButton::clicked, this, &TfrmMain::btnHelpClick);
    connect(chkInsertHeaderField, &QCheckBox::clicked, this, &TfrmMain::chkInsertHeaderFieldClick);
    connect(chkRemoveColHeaders, &QCheckBox::clicked, this, &TfrmMain::chkRemoveColHeadersClick);
    connect(chkColumnLayout, &QCheckBox::clicked, this, &TfrmMain::chkColumnLayoutClick);
    connect(edtOutputFile, &QLineEdit::textChanged, this, &TfrmMain::edtOutputFileChange);
    connect(edtColumnLayoutFile, &QLineEdit::textEdited, this,
            &TfrmMain::edtColumnLayoutFileEdited);
    connect(edtColumnLayoutFile, &QLineEdit::editingFinished, this,
            &TfrmMain::edtColumnLayoutFileExit);
}

void TfrmMain::BuildLayout() {
    auto* info = new QVBoxLayout(gbxInfo);
    info->addWidget(Label2);
    info->addWidget(RichEdit1);

    // Each label above its edit box, the Browse button beside the box.
    auto* files = new QGridLayout(gbxParameters);
    files->addWidget(lblInputFile, 0, 0, 1, 2);
    files->addWidget(edtInputFile, 1, 0);
    files->addWidget(btnInputBrowse, 1, 1);
    files->setRowMinimumHeight(2, fontMetrics().height() / 2);
    files->addWidget(lblOutputFile, 3, 0, 1, 2);
    files->addWidget(edtOutputFile, 4, 0);
    files->addWidget(btnOutputBrowse, 4, 1);
    files->setColumnStretch(0, 1);

    auto* headerSize = new QHBoxLayout;
    headerSize->addSpacing(style()->pixelMetric(QStyle::PM_IndicatorWidth) * 2);
    headerSize->addWidget(chkInsertHeaderField);
    headerSize->addWidget(edtScannerHeaderSize);
    headerSize->addStretch();
    auto* options = new QVBoxLayout(gbxOptions);
    options->addWidget(chkRemoveCommas);
    options->addWidget(chkRemoveColHeaders);
    options->addSpacing(fontMetrics().height() / 2);
    options->addWidget(Label1);
    options->addLayout(headerSize);
    auto* layoutRow = new QHBoxLayout;
    layoutRow->addWidget(chkColumnLayout);
    layoutRow->addWidget(edtColumnLayoutFile, 1);
    options->addSpacing(fontMetrics().height() / 2);
    options->addLayout(layoutRow);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnClose);
    buttons->addWidget(btnHelp);

    auto* window = new QVBoxLayout(this);
    window->addWidget(gbxInfo);
    window->addWidget(gbxParameters);
    window->addWidget(gbxOptions);
    window->addLayout(buttons);
}

void TfrmMain::SetTabOrder() {
    // File names first, then the buttons that act on them, the options, the background
    // text and Help.
    const QWidget* order[] = {edtInputFile,
                              btnInputBrowse,
                              edtOutputFile,
                              btnOutputBrowse,
                              btnOK,
                              btnClose,
                              chkRemoveCommas,
                              chkInsertHeaderField,
                              edtScannerHeaderSize,
                              chkRemoveColHeaders,
                              chkColumnLayout,
                              edtColumnLayoutFile,
                              RichEdit1,
                              btnHelp};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
    }
    edtInputFile->setFocus();
}

ConversionInputs TfrmMain::ReadInputs() const {
    ConversionInputs inputs;
    inputs.inputFile = FileNameOf(edtInputFile);
    inputs.outputFile = FileNameOf(edtOutputFile);
    inputs.insertHeaderField = chkInsertHeaderField->isChecked();
    inputs.headerSizeText = edtScannerHeaderSize->text().toStdString();
    if (chkColumnLayout->isChecked()) {
        inputs.layoutFile = FileNameOf(edtColumnLayoutFile);
    }
    return inputs;
}

void TfrmMain::RunHandler(const char* handler, const std::function<void()>& body) {
    try {
        body();
    } catch (KsException& error) {
        error.AddCallpath(handler, kClassName, nullptr);
        ShowError(error.GetErrorMessage());
    } catch (const std::exception& error) {
        FormApplication::ShowException(services_, this, error);
    }
}

void TfrmMain::btnOKClick() {
    RunHandler("btnOKClick()", [this] { OnOKClick(); });
}

void TfrmMain::OnOKClick() {
    KsCallpath("OnOKClick()", kClassName, [&] {
        const ConversionInputs inputs = ReadInputs();
        std::optional<std::string> warning = CheckConversionInputs(inputs);
        if (!warning && chkColumnLayout->isChecked() && inputs.layoutFile.empty()) {
            warning = kLayoutFileWarning;
        }
        if (warning) {
            services_.ShowMessage(this, QString::fromStdString(*warning),
                                  QString::fromLatin1(kWarningCaption), MessageKind::Warning);
            return;
        }
        Convert();
    });
}

void TfrmMain::Convert() {
    KsCallpath("Convert()", kClassName, [&] {
        const ConversionInputs inputs = ReadInputs();
        ConversionOptions options;
        options.inputFile = inputs.inputFile;
        options.outputFile = inputs.outputFile;
        options.removeCommas = chkRemoveCommas->isChecked();
        options.removeColumnHeaders = chkRemoveColHeaders->isChecked();
        options.insertHeaderField = inputs.insertHeaderField;
        options.headerSize = static_cast<std::uint16_t>(ParseHeaderSize(inputs));
        options.checkFieldWidths = !inputs.layoutFile.empty();

        const ConversionResult result = RunConversion(options, inputs.layoutFile);
        if (result.cancelled) {
            return;
        }
        ShowCompletion(options, result, inputs.layoutFile);
        NotConverted = false;
    });
}

ConversionResult TfrmMain::RunConversion(const ConversionOptions& options,
                                         const std::string& layoutFile) {
    ProcessingObserver observer(*this);
    ConversionResult result;
    try {
        result = ConvertFile(options, observer);
    } catch (const KsException&) {
        if (!layoutFile.empty()) {
            DiscardColumnLayout(layoutFile);
        }
        throw;
    }
    // A Cancel pressed after the last record still stops the run before its results.
    result.cancelled = result.cancelled || observer.CancelledAtEnd();
    if (result.cancelled && !layoutFile.empty()) {
        WriteColumnLayout(options, result, layoutFile, ColumnLayoutFormat::kCsv);
    }
    return result;
}

void TfrmMain::ShowCompletion(const ConversionOptions& options, const ConversionResult& result,
                              const std::string& layoutFile) {
    QString text = QString::fromLocal8Bit(CompletionMessage(result.recordLength));
    std::optional<QString> layoutError;
    if (!layoutFile.empty()) {
        try {
            WriteColumnLayout(options, result, layoutFile, ColumnLayoutFormat::kCsv);
            text += '\n' + QString::fromLocal8Bit(ColumnLayoutMessage(layoutFile));
        } catch (const KsException& error) {
            layoutError = QString::fromLocal8Bit(error.GetErrorMessage());
        }
    }
    if (layoutError) {
        // The records are converted all the same: the box says so first, then why the
        // layout is not.
        services_.ShowMessage(this, text + "\n\n" + *layoutError,
                              QString::fromLatin1(kWarningCaption), MessageKind::Warning);
        return;
    }
    services_.ShowMessage(this, text, QString::fromLatin1(kCompletionCaption),
                          MessageKind::Information);
}

void TfrmMain::ShowError(const char* message) {
    services_.ShowMessage(this, QString::fromLocal8Bit(message), QString::fromLatin1(kErrorCaption),
                          MessageKind::Error);
}

void TfrmMain::btnCloseClick() {
    close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    FormClose(event);
}

void TfrmMain::FormClose(QCloseEvent* event) {
    if (!isEnabled()) {
        // A conversion is running (the progress window disabled us): its files are open
        // and its loop is on the stack, so the window stays until it ends.
        event->ignore();
        return;
    }
    if (NotConverted && !edtInputFile->text().isEmpty() && !edtOutputFile->text().isEmpty() &&
        !services_.AskYesNo(this,
                            QStringLiteral("You have not converted your file.\n"
                                           "Are you sure you want to close?"),
                            QStringLiteral("Confirm Close"))) {
        event->ignore();
        return;
    }
    event->accept();
}

void TfrmMain::btnInputBrowseClick() {
    FileDialogRequest request;
    request.title = QStringLiteral("Select Input File");
    request.nameFilters = {QStringLiteral("Comma Separated Text Files (*.txt *.csv *.del)"),
                           QStringLiteral("All Files (*)")};
    request.fileMustExist = true;
    StartFrom(edtInputFile, request);
    if (auto name = services_.GetOpenFileName(this, request)) {
        TakeChosenFile(edtInputFile, *name);
    }
}

void TfrmMain::btnOutputBrowseClick() {
    FileDialogRequest request;
    request.title = QStringLiteral("Save Output As");
    request.nameFilters = {QStringLiteral("Text Files (*.txt *.dat)")};
    request.defaultSuffix = QStringLiteral("txt");
    request.confirmOverwrite = true;
    StartFrom(edtOutputFile, request);
    if (auto name = services_.GetSaveFileName(this, request)) {
        TakeChosenFile(edtOutputFile, *name);
    }
}

void TfrmMain::StartFrom(const QLineEdit* box, FileDialogRequest& request) const {
    // The name in the box, or else the folder a file was last chosen in for this box, in
    // this run or an earlier one.
    request.initialFile = box->text();
    if (request.initialFile.isEmpty()) {
        request.directory = QSettings().value(FolderKey(box)).toString();
    }
}

void TfrmMain::OpenInputFile(const QString& name) {
    TakeChosenFile(edtInputFile, name);
}

void TfrmMain::TakeChosenFile(QLineEdit* box, const QString& name) {
    box->setText(name);
    NotConverted = true;
    QSettings().setValue(FolderKey(box), QFileInfo(name).absolutePath());
}

QString TfrmMain::FolderKey(const QLineEdit* box) const {
    return box == edtInputFile ? QStringLiteral("folders/input") : QStringLiteral("folders/output");
}

bool TfrmMain::FileDragEvent(QLineEdit* box, QEvent* event) {
    auto* drag = static_cast<QDropEvent*>(event);
    const QList<QUrl> urls = drag->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        return false;  // text and other drops behave as in any edit box
    }
    drag->acceptProposedAction();
    if (event->type() == QEvent::Drop) {
        TakeChosenFile(box, urls.first().toLocalFile());
    }
    return true;
}

void TfrmMain::ShowEnabled(QLineEdit* edit, bool enabled) {
    edit->setEnabled(enabled);
    QPalette colours = edit->palette();
    colours.setColor(QPalette::Base, palette().color(enabled ? QPalette::Base : QPalette::Button));
    edit->setPalette(colours);
}

void TfrmMain::chkInsertHeaderFieldClick() {
    ShowEnabled(edtScannerHeaderSize, chkInsertHeaderField->isChecked());
    NotConverted = true;
}

void TfrmMain::chkRemoveColHeadersClick() {
    NotConverted = true;
}

void TfrmMain::chkColumnLayoutClick() {
    ShowEnabled(edtColumnLayoutFile, chkColumnLayout->isChecked());
    QSettings().setValue(QString::fromLatin1(kWriteLayoutKey), chkColumnLayout->isChecked());
    NotConverted = true;
}

void TfrmMain::RestoreLayoutSettings() {
    QSettings settings;
    chkColumnLayout->setChecked(settings.value(QString::fromLatin1(kWriteLayoutKey)).toBool());
    ShowEnabled(edtColumnLayoutFile, chkColumnLayout->isChecked());
    const QString typed = settings.value(QString::fromLatin1(kLayoutFileKey)).toString();
    layoutFileTyped_ = !typed.isEmpty();
    edtColumnLayoutFile->setText(typed);
}

void TfrmMain::edtOutputFileChange() {
    if (layoutFileTyped_) {
        return;
    }
    const std::string output = FileNameOf(edtOutputFile);
    edtColumnLayoutFile->setText(
        output.empty() ? QString() : QFile::decodeName(DefaultColumnLayoutFile(output).c_str()));
}

void TfrmMain::edtColumnLayoutFileEdited() {
    layoutFileTyped_ = true;
    QSettings().setValue(QString::fromLatin1(kLayoutFileKey), edtColumnLayoutFile->text());
}

void TfrmMain::edtColumnLayoutFileExit() {
    // A box left empty goes back to following the output (and is remembered empty).
    if (edtColumnLayoutFile->text().isEmpty() && layoutFileTyped_) {
        layoutFileTyped_ = false;
        edtOutputFileChange();
    }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtScannerHeaderSize && event->type() == QEvent::KeyPress) {
        return edtScannerHeaderSizeKeyPress(static_cast<QKeyEvent*>(event));
    }
    const QEvent::Type type = event->type();
    if ((watched == edtInputFile || watched == edtOutputFile) &&
        (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
        return FileDragEvent(static_cast<QLineEdit*>(watched), event);
    }
    return QWidget::eventFilter(watched, event);
}

bool TfrmMain::edtScannerHeaderSizeKeyPress(QKeyEvent* key) {
    const QString text = key->text();
    if (text.size() != 1) {
        return false;  // no character: arrows, Home, End and the like move as usual
    }
    const QChar character = text.front();
    if (character.unicode() < 0x80 &&
        std::strchr(kHeaderSizeKeys, static_cast<char>(character.unicode())) != nullptr &&
        character.unicode() != 0) {
        NotConverted = true;
        return false;
    }
    // Other printable characters are swallowed; control characters (Delete, Ctrl+C,
    // Ctrl+V, Enter) keep their usual meaning.
    return character.isPrint();
}

void TfrmMain::btnHelpClick() {
    RunHandler("btnHelpClick()", [this] { OnHelpClick(); });
}

void TfrmMain::OnHelpClick() {
    KsCallpath("OnHelpClick()", kClassName, [&] {
        TdlgHelp help(this, services_);
        help.exec();
    });
}
