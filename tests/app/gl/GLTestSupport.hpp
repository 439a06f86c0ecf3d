#pragma once
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <vector>

#include "canvas/CanvasTransform.hpp"
#include "canvas/GLBoardRenderer.hpp"

namespace corvane::gltest {

// Whether this process can make an OpenGL 3.3 context; tests that draw skip with a message when not.
bool glAvailable();

#define CORVANE_REQUIRE_GL()                                                                                 \
    do {                                                                                                     \
        if (!::corvane::gltest::glAvailable())                                                               \
            GTEST_SKIP() << "no OpenGL 3.3 context can be made here (run under xvfb-run -a with Mesa)";       \
    } while (0)

inline std::vector<float> rect(double minX, double minY, double maxX, double maxY) {
    const auto q = TriangleMesh::verticesOfQuad(minX, minY, maxX, maxY);
    return std::vector<float>(q.begin(), q.end());
}

inline std::vector<float> joined(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Rgb {
    int r, g, b;
};

// The pixel under a board point of an image rendered for `camera`.
inline QColor pixelAt(const QImage& image, const CameraState& camera, Vec2 board) {
    const double dpr = image.devicePixelRatio();
    const CanvasTransform t(image.width() / dpr, image.height() / dpr, camera);
    const Vec2 v = t.toView(board);
    return image.pixelColor(static_cast<int>(std::floor(v.x * dpr)), static_cast<int>(std::floor(v.y * dpr)));
}

inline ::testing::AssertionResult near(const QColor& c, Rgb expected, int tolerance = 1) {
    if (std::abs(c.red() - expected.r) <= tolerance && std::abs(c.green() - expected.g) <= tolerance &&
        std::abs(c.blue() - expected.b) <= tolerance && c.alpha() == 255) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "pixel (" << c.red() << ", " << c.green() << ", " << c.blue() << ", "
                                         << c.alpha() << "), expected (" << expected.r << ", " << expected.g
                                         << ", " << expected.b << ") within " << tolerance;
}

inline constexpr Rgb kBackground{19, 20, 26};

} // namespace corvane::gltest
