#pragma once
// Everything the canvas shows above the board: grid, origin marker, board box, measurements, annotations,
// selection, the place "Locate" went to and compare highlight, and the cursor crosshair. Stateless; the on-screen overlay, the software
// canvas and the screenshots all paint through it.
#include <cstdint>
#include <optional>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QSizeF>

#include "model/CameraState.hpp"
#include "canvas/CanvasTransform.hpp"
#include "model/Annotation.hpp"
#include "checks/MeasureEngine.hpp"

namespace corvane {

class AppModel;

// The grid painted once for a camera and target size, so that a pointer move does not stroke it again.
// Compositing the cached lines gives the same picture as stroking them onto the target.
class GridCache {
public:
    void paint(QPainter& painter, const QSizeF& size, const CameraState& camera);
    void invalidate() { valid_ = false; }

private:
    QImage image_;
    QSizeF size_;
    CameraState camera_;
    double devicePixelRatio_ = 1;
    bool valid_ = false;
};

struct OverlayPainter {
    struct GridSteps {
        double major = 0;  // millimetres between major lines
        double minor = 0;  // a fifth of the major step
    };
    // Most lines one grid style may have; finer grids are not drawn.
    static constexpr double maxLinesPerStyle = 4096;

    // Paints the whole overlay over a target of `size` (Qt coordinates, y down). `isExport` leaves out the
    // grid, the origin marker and the crosshair. A grid cache, when given, stands in for stroking the grid.
    // The painter's state is restored before returning.
    static void draw(QPainter& painter, const QSizeF& size, const CameraState& camera, const AppModel& model,
                     bool isExport, GridCache* gridCache = nullptr);
    static void drawGrid(QPainter& painter, const QSizeF& size, const CameraState& camera);
    static void drawMeasurement(const BoardMeasurement& measurement, QPainter& painter, const CanvasTransform& vp,
                                Units units, bool provisional);
    static void drawAnnotation(const Annotation& annotation, QPainter& painter, const CanvasTransform& vp);

    // The steps drawGrid uses at `pxPerMM` view points per millimetre; none for a scale that is not finite
    // and positive.
    static std::optional<GridSteps> gridSteps(double pxPerMM);
    // Orange, pink, green by the index modulo 3; negative indices wrap the same way.
    static QColor annotationColor(std::int64_t colorIndex);
};

} // namespace corvane
