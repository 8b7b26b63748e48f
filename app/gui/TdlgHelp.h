#pragma once
// The "Getting Help" window: where to read about the converter, the product site, and the
// support address. Each link's caption is also the address handed to the desktop; the
// build sets the three (CMake cache variables MTCONVERT_CONVERTER_URL, MTCONVERT_SITE_URL,
// MTCONVERT_SUPPORT_EMAIL).

#include <QDialog>

class FormServices;
class LinkLabel;
class QLabel;
class QPushButton;

class TdlgHelp : public QDialog {
    Q_OBJECT

public:
    TdlgHelp(QWidget* owner, FormServices& services);

public slots:
    void lblConverterWebSiteClick();
    void lblBSRWebSiteClick();
    void lblEmailClick();
    void btnOKClick();

private:
    void OpenWebSite(const QString& address);

    QLabel* Label2;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    LinkLabel* lblConverterWebSite;
    LinkLabel* lblBSRWebSite;
    LinkLabel* lblEmail;
    QPushButton* btnOK;
    FormServices& services_;
};
