#include "WindowTest.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QTextEdit>
#include <QVariant>

namespace {

const std::string kKinds[] = {"information ", "warning ", "error ", "question "};

std::string Describe(const FileDialogRequest& request) {
    QStringList parts{request.title, request.initialFile, request.directory,
                      request.nameFilters.join(QLatin1Char(';')), request.defaultSuffix};
    if (request.fileMustExist) {
        parts << QStringLiteral("must exist");
    }
    if (request.confirmOverwrite) {
        parts << QStringLiteral("confirm overwrite");
    }
    return parts.join(QLatin1Char('|')).toStdString();
}

// Our own controls carry names; the parts inside Qt's composite widgets do not.
QList<QWidget*> NamedChildren(QWidget& parent) {
    QList<QWidget*> named;
    for (QWidget* child : parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->objectName().isEmpty() && !child->isWindow() && child->isVisibleTo(&parent)) {
            named << child;
        }
    }
    return named;
}

void ExpectFits(QWidget* control) {
    const std::string name = control->objectName().toStdString();
    auto* label = qobject_cast<QLabel*>(control);
    if (label != nullptr && label->wordWrap()) {
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
    } else if (label != nullptr || qobject_cast<QAbstractButton*>(control)) {
        EXPECT_GE(control->width(), control->sizeHint().width()) << name;
        EXPECT_GE(control->height(), control->fontMetrics().height()) << name;
    } else if (auto* box = qobject_cast<QGroupBox*>(control)) {
        EXPECT_GT(box->width(), box->fontMetrics().horizontalAdvance(box->title())) << name;
    } else if (auto* text = qobject_cast<QTextEdit*>(control)) {
        // Every line on a row of its own, and all rows visible.
        QTextDocument* document = text->document();
        EXPECT_EQ(document->lineCount(), document->blockCount()) << name;
        EXPECT_LE(document->size().height(), text->viewport()->height()) << name;
    }
}

void CheckTree(QWidget& parent) {
    const QList<QWidget*> children = NamedChildren(parent);
    for (int i = 0; i < children.size(); ++i) {
        const std::string name = children[i]->objectName().toStdString();
        ExpectFits(children[i]);
        EXPECT_TRUE(parent.rect().contains(children[i]->geometry())) << name << " leaves";
        for (int j = i + 1; j < children.size(); ++j) {
            EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
                << name << " overlaps " << children[j]->objectName().toStdString();
        }
        CheckTree(*children[i]);
    }
}

// The caption or content of a control, with the state of a check box.
QString CaptionOf(QWidget* control) {
    QString caption;
    for (const char* property : {"title", "text", "plainText"}) {
        if (QVariant value = control->property(property); value.isValid()) {
            caption = value.toString().replace(QLatin1Char('\n'), QStringLiteral("\n  "));
            break;
        }
    }
    if (control->property("checkable").toBool()) {
        caption = (control->property("checked").toBool() ? QStringLiteral("[x] ")
                                                         : QStringLiteral("[ ] ")) +
                  caption;
    }
    if (control->property("readOnly").toBool()) {
        caption = QStringLiteral("(read-only)\n  ") + caption;
    }
    return qobject_cast<QLineEdit*>(control) ? QLatin1Char('"') + caption + QLatin1Char('"')
                                             : caption;
}

}  // namespace

void FakeFormServices::ShowMessage(QWidget*, const QString& text, const QString& caption,
                                   MessageKind kind) {
    log.push_back(kKinds[static_cast<int>(kind)] + (caption + '|' + text).toStdString());
    if (onMessage) {
        onMessage();
    }
}

bool FakeFormServices::AskYesNo(QWidget*, const QString& text, const QString& caption) {
    log.push_back("question " + (caption + '|' + text).toStdString());
    return answerYes;
}

std::optional<QString> FakeFormServices::GetOpenFileName(QWidget*, const FileDialogRequest& r) {
    log.push_back("open " + Describe(r));
    return answer;
}

std::optional<QString> FakeFormServices::GetSaveFileName(QWidget*, const FileDialogRequest& r) {
    log.push_back("save " + Describe(r));
    return answer;
}

bool FakeFormServices::OpenAddress(const QString& address) {
    log.push_back("address " + address.toStdString());
    return addressOpens;
}

namespace kstest {

void WindowTest::Click(const char* name) {
    QCheckBox* box = Child<QCheckBox>(form, name);
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator =
        box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, {}, indicator.center());
}

bool WindowTest::ClosingAsks() {
    services.answerYes = false;
    const std::size_t logged = services.log.size();
    const bool closed = form.close();
    form.show();
    const bool asked = services.log.size() == logged + 1;
    EXPECT_EQ(closed, !asked);
    if (asked) {
        services.log.pop_back();  // the question is the caller's only to count
    }
    return asked;
}

void ExpectNothingClippedOrOverlapping(QWidget& window) {
    QApplication::processEvents();
    CheckTree(window);
}

std::string DescribeControls(QWidget& window) {
    std::string lines =
        (window.objectName() + QStringLiteral(": ") + window.windowTitle()).toStdString();
    for (QWidget* control : window.findChildren<QWidget*>()) {
        const QString caption = CaptionOf(control);
        // The help window's links are build settings, not captions of the program.
        if (control->objectName().isEmpty() || caption.isEmpty() ||
            control->inherits("LinkLabel")) {
            continue;
        }
        lines += "\n" + control->objectName().toStdString() + ": " + caption.toStdString() +
                 (control->isEnabled() ? "" : " (disabled)");
    }
    return lines + "\n";
}

}  // namespace kstest
