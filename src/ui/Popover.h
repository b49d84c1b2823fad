#pragma once
// The frameless panel that opens under the tray icon and closes when the user clicks
// elsewhere. It shows one content widget and takes its size.

#include <QElapsedTimer>
#include <QPointer>
#include <QRect>
#include <QWidget>

class Popover : public QWidget {
    Q_OBJECT

public:
    static constexpr int defaultWidth = 372;
    static constexpr int defaultHeight = 640;

    explicit Popover(QWidget* parent = nullptr);

    void setContentWidget(QWidget* content);
    QWidget* contentWidget() const { return content_; }
    // Follows the content's preferred size while open.
    void setContentSize(QSize size);

    bool isShown() const { return isVisible(); }
    // Opens below the anchor (the tray icon), or above it when there is no room below.
    void showRelativeTo(const QRect& anchor);
    void performClose();
    // The panel closed a moment ago (so a click on the icon now is the one that closed it).
    bool closedByThisClick() const;

    // Where the panel goes for an anchor on a screen with the given free area.
    static QPoint placement(const QRect& anchor, QSize size, const QRect& available);

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QPointer<QWidget> content_;
    QElapsedTimer sinceClosed_;
    QRect anchor_;
};
