#pragma once
// FormServices on the real desktop: QMessageBox, QFileDialog and QDesktopServices.

#include "FormServices.h"

class QtFormServices : public FormServices {
public:
    void ShowMessage(QWidget* parent, const QString& text, const QString& caption,
                     MessageKind kind) override;
    bool AskYesNo(QWidget* parent, const QString& text, const QString& caption) override;
    std::optional<QString> GetOpenFileName(QWidget* parent,
                                           const FileDialogRequest& request) override;
    std::optional<QString> GetSaveFileName(QWidget* parent,
                                           const FileDialogRequest& request) override;
    bool OpenAddress(const QString& address) override;
};
