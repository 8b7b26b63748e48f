#include "WindowTest.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTextDocument>
#include <QTextEdit>

namespace kstest {

namespace {

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
    if (auto* label = qobject_cast<QLabel*>(control)) {
        if (label->wordWrap()) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << name;
        } else {
            EXPECT_GE(label->width(), label->sizeHint().width()) << name;
            EXPECT_GE(label->height(), label->fontMetrics().height()) << name;
        }
    } else if (qobject_cast<QAbstractButton*>(control)) {
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
        ExpectFits(children[i]);
        EXPECT_TRUE(parent.rect().contains(children[i]->geometry()))
            << children[i]->objectName().toStdString() << " leaves its parent";
        for (int j = i + 1; j < children.size(); ++j) {
            EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
                << children[i]->objectName().toStdString() << " overlaps "
                << children[j]->objectName().toStdString();
        }
        CheckTree(*children[i]);
    }
}

}  // namespace

void ExpectNothingClippedOrOverlapping(QWidget& window) {
    QApplication::processEvents();
    CheckTree(window);
}

}  // namespace kstest
