#include "canvas/OverlayView.hpp"

#include <QPainter>

#include "model/AppModel.hpp"

namespace corvane {

OverlayView::OverlayView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setObjectName(QStringLiteral("canvas.overlay"));
}

void OverlayView::paintEvent(QPaintEvent*) {
    AppModel* m = model ? model() : nullptr;
    if (!m) return;
    QPainter painter(this);
    if (!painter.isActive()) return;
    OverlayPainter::draw(painter, QSizeF(size()), m->camera(), *m, false, &grid_);
}

} // namespace corvane
