#pragma once
// Keeps what the canvas strokes within reach of the target. A board far from the origin, or a deep zoom,
// maps to view coordinates in the billions; handing those to the rasteriser wastes time or, for dashed
// lines, loops over every dash of the unseen length.
#include <QPainter>
#include <QPointF>
#include <QRectF>

namespace corvane::CanvasClip {

// The target grown by a margin wide enough that no line width, cap or label drawn at a clipped end shows.
QRectF reach(const QRectF& target, double margin = 1024.0);

bool isFinite(const QPointF& p);

// Cuts the segment a–b to `r`; false when no part of it lies in `r` or a coordinate is not finite. `t0`
// and `t1` receive the kept part's parameters along the original segment (0 at a, 1 at b).
bool clipSegment(QPointF& a, QPointF& b, const QRectF& r, double* t0 = nullptr, double* t1 = nullptr);

// Strokes the closed outline through `corners` with `pen`. When the outline reaches beyond `r` each edge is
// cut to it and drawn with the dash offset it has in the whole outline, so the visible dashes stay where
// they would be without the cut.
void strokeClosedOutline(QPainter& painter, const QPointF* corners, int count, const QPen& pen, const QRectF& r);

} // namespace corvane::CanvasClip
