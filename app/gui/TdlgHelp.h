#pragma once
// The "Getting Help" window: where to read about the converter, the product site, and the
// support address. Each link's caption is also the address handed to the desktop.

#include <QDialog>
#include <QString>

class FormServices;
class LinkLabel;
class QLabel;
class QPushButton;

// Where the help window's links lead; an empty site or support address leaves its row out.
struct HelpAddresses {
    QString converter;
    QString site;
    QString supportEmail;
};

// The addresses a distributor gave the build (CMake cache variables MTCONVERT_CONVERTER_URL,
// MTCONVERT_SITE_URL, MTCONVERT_SUPPORT_EMAIL). Without a converter page, the README
// installed with the program: a file:// address under the documentation folder, found
// from `programFolder`, the folder the program runs from, so that it holds wherever the
// program was installed.
HelpAddresses BuiltInHelpAddresses(const QString& programFolder);

class TdlgHelp : public QDialog {
    Q_OBJECT

public:
    // With the built-in addresses of the running program.
    TdlgHelp(QWidget* owner, FormServices& services);
    TdlgHelp(QWidget* owner, FormServices& services, const HelpAddresses& addresses);

public slots:
    void lblConverterWebSiteClick();
    void lblBSRWebSiteClick();
    void lblEmailClick();
    void btnOKClick();

private:
    // Places the heading, the captions with their links and OK.
    void LayOut();
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
