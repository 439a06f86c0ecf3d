// The preview's window side as a module the program loads at run time (PreviewView.hpp).
#include <QApplication>
#include <QFontMetrics>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "PreviewView.hpp"
#include "PreviewViewController.hpp"

namespace corvane {

namespace {

// The first board view a process lays out and draws takes milliseconds longer than the next (its labels'
// fonts and glyphs, the drawing of a scaled image): while the picture is still being made, a view like it is
// laid out and drawn once and thrown away, so that the real one is shown and captured sooner.
void warmUpBoardView() {
    constexpr int kWidth = 8, kHeight = 6;
    PreviewPicture sample;
    sample.title = "Board_1v0";
    sample.layers = "Top Copper \u00B7 Inner 1 \u00B7 Bottom Copper \u00B7 Top Silkscreen \u00B7 Drill";
    sample.image = RasterImage{kWidth, kHeight, std::make_shared<std::vector<std::uint32_t>>(kWidth * kHeight)};
    PreviewViewController controller;
    controller.loadView();
    controller.show(sample);
    QWidget* view = controller.view();
    view->resize(PreviewPicture::harnessWidth, PreviewPicture::harnessHeight);
    view->ensurePolished();
    captureView(*view, QRect(0, 0, PreviewPicture::harnessWidth, PreviewPicture::harnessHeight));
}

[[noreturn]] void captureHarness(int& argc, char** argv, const std::function<PreviewPicture()>& picture,
                                 const std::function<bool()>& pictureReady,
                                 const std::function<void(const PreviewView::Capture&)>& finish) {
    QApplication app(argc, argv);
    PreviewViewController controller;
    controller.loadView();
    PreviewView::Capture capture;
    try {
        // Setting up the fonts takes as long as a small board's picture: do it while that is made.
        QFontMetrics(QApplication::font()).height();
        if (!pictureReady()) warmUpBoardView();
        controller.show(picture());
    } catch (const std::exception& e) {
        capture.failure = e.what();
    }
    QWidget* view = controller.view();
    view->resize(PreviewPicture::harnessWidth, PreviewPicture::harnessHeight);
    view->ensurePolished();
    capture.picture = captureView(*view, QRect(0, 0, PreviewPicture::harnessWidth, PreviewPicture::harnessHeight));
    for (QObject* child : view->children()) {
        if (const auto* imageView = qobject_cast<BoardImageView*>(child); imageView && !imageView->image().isNull()) {
            capture.imageSize = std::pair(imageView->imageSize().width(), imageView->imageSize().height());
            break;
        }
    }
    finish(capture);
    std::_Exit(0);
}

int showWindow(int& argc, char** argv, const std::function<PreviewPicture()>& prepare) {
    QApplication app(argc, argv);
    PreviewViewController controller;
    controller.loadView();
    controller.show(prepare());
    QWidget* view = controller.view();
    view->setWindowTitle("Boardpeek");
    view->resize(800, 600);
    view->show();
    return app.exec();
}

} // namespace

} // namespace corvane

extern "C" __attribute__((visibility("default"))) const corvane::PreviewView corvanePreviewView{&corvane::captureHarness,
                                                                                                 &corvane::showWindow};
