#include <gtest/gtest.h>

#include <QApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>

#include "GLTestSupport.hpp"

namespace corvane::gltest {

bool glAvailable() {
    static const bool available = [] {
        QOpenGLContext context;
        QSurfaceFormat format = GLBoardRenderer::surfaceFormat();
        format.setSamples(0);
        context.setFormat(format);
        if (!context.create()) return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        return surface.isValid() && context.makeCurrent(&surface) &&
               context.format().version() >= qMakePair(3, 3);
    }();
    return available;
}

} // namespace corvane::gltest

int main(int argc, char** argv) {
    corvane::GLBoardRenderer::installDefaultSurfaceFormat();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (!corvane::gltest::glAvailable()) {
        std::fprintf(stderr, "no OpenGL 3.3 context can be made here: the GL tests are skipped\n");
    }
    return RUN_ALL_TESTS();
}
