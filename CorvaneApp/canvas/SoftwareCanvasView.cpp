#include "canvas/SoftwareCanvasView.hpp"

#include <cmath>

#include <QPainter>

#include "canvas/ScreenshotController.hpp"
#include "canvas/SystemColors.hpp"
#include "model/AppModel.hpp"

namespace corvane {


SoftwareCanvasView::SoftwareCanvasView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("canvas.software"));
}

void SoftwareCanvasView::setModel(AppModel* model) {
    if (model == model_) return;
    for (const auto& c : connections_) disconnect(c);
    connections_.clear();
    model_ = model;
    invalidateBoard();
    if (!model) return;
    // Whatever changes the painted layers; camera and size are compared at paint time.
    auto drop = [this] {
        invalidateBoard();
        update();
    };
    connections_ << connect(model, &AppModel::packageChanged, this, drop)
                 << connect(model, &AppModel::layerStatesChanged, this, drop)
                 << connect(model, &AppModel::soloChanged, this, drop)
                 << connect(model, &AppModel::compareBaseChanged, this, drop)
                 << connect(model, &AppModel::compareDiffChanged, this, drop)
                 << connect(model, &AppModel::compareRowsChanged, this, drop);
}

void SoftwareCanvasView::invalidateBoard() { boardValid_ = false; }

void SoftwareCanvasView::paintBoard(const QSizeF& size, double dpr) {
    const QSize pixels(static_cast<int>(std::ceil(size.width() * dpr)), static_cast<int>(std::ceil(size.height() * dpr)));
    if (board_.size() != pixels) board_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    board_.setDevicePixelRatio(dpr);
    board_.fill(SystemColors::canvasBackground());
    AppModel& model = *model_;
    if (model.package()) {
        if (model.compareDiff() && model.compareBase())
            ScreenshotController::paintCompare(board_, size, model.camera(), model);
        else
            ScreenshotController::paintLayers(board_, size, model.camera(), model);
    }
    boardSize_ = size;
    boardCamera_ = model.camera();
    boardPixelRatio_ = dpr;
    boardValid_ = true;
}

void SoftwareCanvasView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!painter.isActive()) return;
    if (!model_) {
        painter.fillRect(rect(), SystemColors::canvasBackground());
        return;
    }
    const QSizeF size(this->size());
    const double dpr = devicePixelRatioF();
    if (!boardValid_ || boardSize_ != size || !(boardCamera_ == model_->camera()) || boardPixelRatio_ != dpr)
        paintBoard(size, dpr);
    painter.drawImage(QPointF(0, 0), board_);
    // The overlay view stays hidden above this canvas: the overlay is painted here once, so semi-transparent
    // lines are not laid down twice and a grab of this view alone carries it.
    OverlayPainter::draw(painter, size, model_->camera(), *model_, false, &grid_);
}

} // namespace corvane
