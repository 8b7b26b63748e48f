#include "TdlgHelp.h"

#include <QCoreApplication>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "FormServices.h"
#include "LinkLabel.h"

#if !defined(MTCONVERT_CONVERTER_URL) || !defined(MTCONVERT_DOC_FROM_PROGRAM)
#error "MTCONVERT_CONVERTER_URL and MTCONVERT_DOC_FROM_PROGRAM must be defined by the build"
#endif

namespace {

const char* const kBrowserFailed = "Cannot open Internet browser to view web site.";
const char* const kMailFailed = "Cannot send email.";
const char* const kErrorCaption = "Error";

QLabel* NamedLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

LinkLabel* NamedLink(const char* name, const QString& target, QWidget* parent) {
    auto* link = new LinkLabel(target, parent);
    link->setObjectName(QString::fromLatin1(name));
    return link;
}

}  // namespace

HelpAddresses BuiltInHelpAddresses(const QString& programFolder) {
    HelpAddresses addresses{QString::fromUtf8(MTCONVERT_CONVERTER_URL),
                            QString::fromUtf8(MTCONVERT_SITE_URL),
                            QString::fromUtf8(MTCONVERT_SUPPORT_EMAIL)};
    if (addresses.converter.isEmpty()) {
        const QString readme = QDir(programFolder)
                                   .filePath(QString::fromUtf8(MTCONVERT_DOC_FROM_PROGRAM) +
                                             QStringLiteral("/README.md"));
        addresses.converter = QUrl::fromLocalFile(QDir::cleanPath(readme)).toString();
    }
    return addresses;
}

TdlgHelp::TdlgHelp(QWidget* owner, FormServices& services)
    : TdlgHelp(owner, services, BuiltInHelpAddresses(QCoreApplication::applicationDirPath())) {}

TdlgHelp::TdlgHelp(QWidget* owner, FormServices& services, const HelpAddresses& addresses)
    : QDialog(owner), services_(services) {
    setObjectName(QStringLiteral("dlgHelp"));
    setWindowTitle(QStringLiteral("Getting Help"));
    // System menu and close button only: no minimize, no maximize, no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    Label2 = NamedLabel("Label2", QStringLiteral("BSR and Menu*Tally Technical Support Resources:"),
                        this);
    QFont heading = Label2->font();
    heading.setPointSizeF(heading.pointSizeF() * 1.25);
    heading.setBold(true);
    Label2->setFont(heading);
    Label1 = NamedLabel(
        "Label1", QStringLiteral("Purpose and Discussion of this Data Conversion Program:"), this);
    lblConverterWebSite = NamedLink("lblConverterWebSite", addresses.converter, this);
    Label3 = NamedLabel("Label3", QStringLiteral("BSR Web Site:"), this);
    lblBSRWebSite = NamedLink("lblBSRWebSite", addresses.site, this);
    Label4 = NamedLabel("Label4", QStringLiteral("Email Technical Support:"), this);
    lblEmail = NamedLink("lblEmail", addresses.supportEmail, this);
    // No address is better than an invented one: a row the distributor gave none for is
    // left out.
    for (auto [caption, link] :
         {std::pair<QLabel*, LinkLabel*>{Label3, lblBSRWebSite}, {Label4, lblEmail}}) {
        caption->setHidden(link->text().isEmpty());
        link->setHidden(link->text().isEmpty());
    }
    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);

    connect(lblConverterWebSite, &LinkLabel::clicked, this, &TdlgHelp::lblConverterWebSiteClick);
    connect(lblBSRWebSite, &LinkLabel::clicked, this, &TdlgHelp::lblBSRWebSiteClick);
    connect(lblEmail, &LinkLabel::clicked, this, &TdlgHelp::lblEmailClick);
    connect(btnOK, &QPushButton::clicked, this, &TdlgHelp::btnOKClick);
    LayOut();
    btnOK->setFocus();
}

void TdlgHelp::LayOut() {
    // Heading, then each caption with its link indented below it; OK at the bottom right,
    // level with the last link.
    const int indent = fontMetrics().averageCharWidth();
    auto* links = new QGridLayout;
    links->setColumnMinimumWidth(0, indent);
    links->setHorizontalSpacing(0);
    links->addWidget(Label1, 0, 0, 1, 2);
    links->addWidget(lblConverterWebSite, 1, 1, Qt::AlignLeft);
    links->addWidget(Label3, 2, 0, 1, 2);
    links->addWidget(lblBSRWebSite, 3, 1, Qt::AlignLeft);
    links->addWidget(Label4, 4, 0, 1, 2);
    links->addWidget(lblEmail, 5, 1, Qt::AlignLeft);
    links->setColumnStretch(1, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addLayout(links, 1);
    bottom->addWidget(btnOK, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label2);
    layout->addSpacing(indent);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TdlgHelp::lblConverterWebSiteClick() {
    OpenWebSite(lblConverterWebSite->text());
}

void TdlgHelp::lblBSRWebSiteClick() {
    OpenWebSite(lblBSRWebSite->text());
}

void TdlgHelp::lblEmailClick() {
    if (!services_.OpenAddress(QStringLiteral("mailto:") + lblEmail->text())) {
        services_.ShowMessage(this, QString::fromLatin1(kMailFailed),
                              QString::fromLatin1(kErrorCaption), MessageKind::Error);
    }
}

void TdlgHelp::btnOKClick() {
    accept();
}

void TdlgHelp::OpenWebSite(const QString& address) {
    if (!services_.OpenAddress(address)) {
        services_.ShowMessage(this, QString::fromLatin1(kBrowserFailed),
                              QString::fromLatin1(kErrorCaption), MessageKind::Error);
    }
}
