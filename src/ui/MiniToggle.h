#pragma once
// The compact pill switch of the panels. It flips on the press itself (no drag, no
// animation) and reports through onToggle; setting isOn from code never reports.

#include <QWidget>

#include <functional>

class MiniToggle : public QWidget {
    Q_OBJECT

public:
    explicit MiniToggle(QWidget* parent = nullptr);

    bool isOn() const { return on_; }
    void setOn(bool on);

    // Called after every change the user makes.
    std::function<void()> onToggle;

    // Track colours: disabled whatever the state, on, off.
    static QColor disabledTrack() { return QColor::fromRgbF(0.18f, 0.18f, 0.18f); }
    static QColor offTrack() { return QColor::fromRgbF(0.32f, 0.32f, 0.32f); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateCursor();

    bool on_ = false;
};
