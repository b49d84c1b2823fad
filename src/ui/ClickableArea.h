#pragma once
// An invisible overlay that turns what lies beneath it into a link while, and only while,
// showLink is true. Inert, it is transparent to the mouse: clicks and the cursor belong to
// the widgets beneath.

#include <QWidget>

#include <functional>

class ClickableArea : public QWidget {
    Q_OBJECT

public:
    explicit ClickableArea(QWidget* parent = nullptr);

    bool showLink() const { return showLink_; }
    void setShowLink(bool show);

    // Called on a press while live. A live area without it still swallows the click.
    std::function<void()> onClick;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool showLink_ = false;
};
