// The two widgets of the map page: PanelMap, which reports its resizes, and
// Image1, which shows the map bitmap and reports the mouse position over it.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace quarvex {

class TMapPanel : public QWidget {
    Q_OBJECT
public:
    explicit TMapPanel(QWidget* parent = nullptr) : QWidget(parent) {}
    std::function<void()> OnResize;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

class TMapImage : public QWidget {
    Q_OBJECT
public:
    explicit TMapImage(QWidget* parent = nullptr);
    // The bitmap shown; drawn on by the map view between repaints.
    QImage Picture;
    std::function<void(int column, int row)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

} // namespace quarvex
