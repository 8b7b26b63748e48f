#pragma once
// The small progress window shown while a file is converted. It appears as soon as it is
// created and disables its owner; its Cancel button is then the only control that takes
// input, and only while the conversion is inside CheckCancel(). Destroying it enables the
// owner again and brings it to the front. It cannot be closed from its title bar.

#include <QDialog>
#include <QPointer>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

class TdlgProcessing : public QDialog {
    Q_OBJECT

public:
    // owner may be null; a non-null owner is disabled while the dialog lives.
    explicit TdlgProcessing(QWidget* owner);
    ~TdlgProcessing() override;

    // Handles every event waiting for the desktop (a click on Cancel among them), then
    // tells whether the user pressed Cancel.
    bool CheckCancel();

    // Shows how much of the input has been read; total 0 means unknown.
    void ShowProgress(std::uint64_t consumed, std::uint64_t total);

    bool IsCancelled() const { return Cancelled; }

public slots:
    void btnCancelClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void Cancel();

    QPushButton* btnCancel;
    QLabel* lblProcessing;
    QProgressBar* barProgress;
    bool Cancelled = false;
    QPointer<QWidget> owner_;
};
