#pragma once
// Shared pieces of the canvas tests: a model on a private settings file, pixel probes at board points and
// colour comparisons within a few levels.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>

#include <QColor>
#include <QImage>
#include <QPainter>

#include "AppTestSupport.hpp"
#include "canvas/CanvasTransform.hpp"
#include "canvas/SystemColors.hpp"

namespace corvane::testing {

struct CanvasModel {
    ScratchSettings settings;
    AppModel model{settings.open()};

    // A model showing only what a test sets up: no grid, origin or crosshair unless switched on.
    explicit CanvasModel(bool plain = true) {
        if (!plain) return;
        model.setShowGrid(false);
        model.setShowOrigin(false);
        model.setShowCrosshair(false);
    }
    // Loads the package and drops the board-dimensions entry that loading adds.
    void load(PCBPackage package) {
        model.loadPackage(std::move(package));
        model.setMeasurements({});
    }
};

inline QImage blankImage(int w, int h, const QColor& fill = Qt::black) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

// The pixel whose area holds the view point.
inline QColor pixel(const QImage& image, QPointF viewPoint) {
    const double dpr = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(std::floor(viewPoint.x() * dpr)),
                            static_cast<int>(std::floor(viewPoint.y() * dpr)));
}

// The pixel under a board point of an image painted over `viewSize` with `camera`.
inline QColor pixelAtBoard(const QImage& image, const CameraState& camera, Vec2 board) {
    const double dpr = image.devicePixelRatio();
    const CanvasTransform t(image.width() / dpr, image.height() / dpr, camera);
    return pixel(image, t.toViewPoint(board));
}

// `top` laid over `under` at `alpha`, as 8-bit channels.
inline QColor over(const QColor& top, double alpha, const QColor& under) {
    auto mix = [&](int a, int b) { return static_cast<int>(std::lround(a * alpha + b * (1 - alpha))); };
    return QColor(mix(top.red(), under.red()), mix(top.green(), under.green()), mix(top.blue(), under.blue()));
}

inline ::testing::AssertionResult near(const QColor& actual, const QColor& expected, int tolerance = 3) {
    if (std::abs(actual.red() - expected.red()) <= tolerance && std::abs(actual.green() - expected.green()) <= tolerance &&
        std::abs(actual.blue() - expected.blue()) <= tolerance && std::abs(actual.alpha() - expected.alpha()) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "pixel (" << actual.red() << ", " << actual.green() << ", " << actual.blue()
                                         << ", " << actual.alpha() << "), expected (" << expected.red() << ", "
                                         << expected.green() << ", " << expected.blue() << ", " << expected.alpha()
                                         << ") within " << tolerance;
}

inline QColor opaque(QColor c) {
    c.setAlpha(255);
    return c;
}

inline QColor background() { return SystemColors::canvasBackground().toRgb(); }

inline const LayerState& layerState(const AppModel& m, const std::string& id) {
    for (const auto& s : m.layerStates())
        if (s.id == id) return s;
    throw std::runtime_error("no layer " + id);
}

// The colour a layer leaves over `under`.
inline QColor layerOver(const AppModel& m, const std::string& id, const QColor& under) {
    const LayerState& s = layerState(m, id);
    return over(s.color.toRgb(), s.opacity, under);
}

inline PCBObject clearObject(PCBObject o) {
    o.polarity = Polarity::clear;
    return o;
}

} // namespace corvane::testing
