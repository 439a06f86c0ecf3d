#pragma once
// The board canvas when no OpenGL context can be made: the layers painted with QPainter, with the overlay
// painted into the same picture, so that a grab of this view alone shows what the user sees.
#include <QImage>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include "model/CameraState.hpp"
#include "canvas/OverlayPainter.hpp"

namespace corvane {

class AppModel;
class CanvasContainerView;

class SoftwareCanvasView : public QWidget {
    Q_OBJECT
public:
    explicit SoftwareCanvasView(QWidget* parent = nullptr);

    AppModel* model() const { return model_; }
    void setModel(AppModel* model);
    QPointer<CanvasContainerView> canvas;

    // The painted board is kept until the camera, the size or the layers change; this drops it.
    void invalidateBoard();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintBoard(const QSizeF& size, double devicePixelRatio);

    QPointer<AppModel> model_;
    QList<QMetaObject::Connection> connections_;
    QImage board_;  // background and layers, without the overlay
    QSizeF boardSize_;
    CameraState boardCamera_;
    double boardPixelRatio_ = 0;
    bool boardValid_ = false;
    GridCache grid_;
};

} // namespace corvane
