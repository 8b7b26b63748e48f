#include "TdlgProcessing.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

#include "FormApplication.h"

namespace {
// The progress bar counts in thousandths of the input.
constexpr int kProgressSteps = 1000;
}  // namespace

TdlgProcessing::TdlgProcessing(QWidget* owner) : QDialog(nullptr), owner_(owner) {
    // Not a Qt child of the owner: disabling the owner would disable the dialog with it.
    // The window system still keeps it above the owner (transient parent, below).
    setObjectName(QStringLiteral("dlgProcessing"));
    setWindowTitle(QStringLiteral("Converting file"));
    // A title but no title-bar buttons: no close button, no system menu.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_DeleteOnClose, false);

    lblProcessing = new QLabel(QStringLiteral("Please wait. . ."), this);
    lblProcessing->setObjectName(QStringLiteral("lblProcessing"));
    QFont larger = lblProcessing->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.25);
    lblProcessing->setFont(larger);
    lblProcessing->setAlignment(Qt::AlignCenter);

    barProgress = new QProgressBar(this);
    barProgress->setObjectName(QStringLiteral("barProgress"));
    barProgress->setRange(0, kProgressSteps);
    barProgress->setValue(0);
    barProgress->setTextVisible(true);
    barProgress->setMinimumWidth(barProgress->fontMetrics().averageCharWidth() * 32);

    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    connect(btnCancel, &QPushButton::clicked, this, &TdlgProcessing::btnCancelClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCancel);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblProcessing);
    layout->addWidget(barProgress);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    btnCancel->setFocus();

    if (owner_) {
        winId();  // creates the native window, so that it can be given its transient parent
        if (QWindow* ownerWindow = owner_->window()->windowHandle()) {
            windowHandle()->setTransientParent(ownerWindow);
        }
        owner_->setEnabled(false);
    }
    show();
    // Centred on the owner, or on the screen without one.
    adjustSize();
    const QRect frame = frameGeometry();
    QPoint centre = owner_ ? owner_->window()->frameGeometry().center()
                           : screen()->availableGeometry().center();
    move(centre - QPoint(frame.width() / 2, frame.height() / 2));
}

TdlgProcessing::~TdlgProcessing() {
    if (owner_) {
        owner_->setEnabled(true);
        QWidget* window = owner_->window();
        window->show();
        window->raise();
        window->activateWindow();
    }
}

bool TdlgProcessing::CheckCancel() {
    FormApplication::ProcessMessages();
    return Cancelled;
}

void TdlgProcessing::ShowProgress(std::uint64_t consumed, std::uint64_t total) {
    if (total == 0) {
        barProgress->setRange(0, 0);  // a busy bar when the size is unknown
        return;
    }
    if (consumed > total) {
        consumed = total;
    }
    barProgress->setRange(0, kProgressSteps);
    barProgress->setValue(static_cast<int>(consumed * kProgressSteps / total));
}

void TdlgProcessing::btnCancelClick() {
    Cancel();
}

void TdlgProcessing::Cancel() {
    Cancelled = true;
    hide();
}

void TdlgProcessing::closeEvent(QCloseEvent* event) {
    // Only Cancel or the end of the conversion removes the dialog.
    event->ignore();
}

void TdlgProcessing::reject() {
    // Escape does not dismiss the dialog either.
}
