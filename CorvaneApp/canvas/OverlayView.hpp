#pragma once
// The transparent view above the board that paints the overlay. It takes no clicks, keys or focus: every
// input goes to the canvas container below.
#include <functional>

#include <QPointer>
#include <QWidget>

#include "canvas/OverlayPainter.hpp"

namespace corvane {

class AppModel;
class CanvasContainerView;

class OverlayView : public QWidget {
    Q_OBJECT
public:
    explicit OverlayView(QWidget* parent = nullptr);

    // Where the view finds its model at paint time; none paints nothing.
    std::function<AppModel*()> model = [] { return static_cast<AppModel*>(nullptr); };
    QPointer<CanvasContainerView> canvas;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    GridCache grid_;
};

} // namespace corvane
