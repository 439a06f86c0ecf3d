// The preview's window side as a module the program loads at run time (PreviewView.hpp).
#include <QApplication>
#include <QFontMetrics>
#include <cstdlib>
#include <exception>
#include <string>

#include "PreviewView.hpp"
#include "PreviewViewController.hpp"

namespace corvane {

namespace {

[[noreturn]] void captureHarness(int& argc, char** argv, const std::function<PreviewPicture()>& picture,
                                 const std::function<void(const PreviewView::Capture&)>& finish) {
    QApplication app(argc, argv);
    PreviewViewController controller;
    controller.loadView();
    PreviewView::Capture capture;
    try {
        // Setting up the fonts takes as long as a small board's picture: do it while that is made.
        QFontMetrics(QApplication::font()).height();
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
