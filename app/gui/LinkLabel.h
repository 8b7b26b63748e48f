#pragma once
// A label drawn as a link (link colour, underlined, hand cursor) that reports a click of
// the left mouse button. Its text is what the user sees and clicks.

#include <QLabel>

class LinkLabel : public QLabel {
    Q_OBJECT

public:
    explicit LinkLabel(const QString& text, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};
