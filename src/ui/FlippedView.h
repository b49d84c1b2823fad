#pragma once
// The root container of the panels. Widget coordinates already run top-down, so every
// frame of the panel layouts is measured from its top-left corner as written.

#include <QWidget>

class FlippedView : public QWidget {
public:
    using QWidget::QWidget;
};
