// Boardpeek: the board preview program. Three ways in:
//   QLHARNESS_URL=FILE [QLHARNESS_OUT=PNG] boardpeek   writes the preview as a PNG (no display needed)
//   boardpeek --thumbnail INPUT OUTPUT SIZE              the desktop thumbnailer: the board only
//   boardpeek FILE                                       shows the preview in a window
#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>

#include "CpuDeadline.hpp"
#include "PreviewViewController.hpp"
#include "Thumbnailer.hpp"
#include "model/Format.hpp"

using namespace corvane;

namespace {
// A preview given up on still runs on its thread: end without the static destructors it may use.
int endProcess(int code) {
    if (!abandonedWorkRunning()) return code;
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(code);
}
} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--thumbnail") == 0) {
        if (argc != 5) {
            std::cerr << "usage: boardpeek --thumbnail INPUT OUTPUT SIZE\n";
            return 2;
        }
        std::int64_t size = 0;
        if (!parseInt64(argv[4], size) || size <= 0) size = 256;
        std::string error;
        if (!writeThumbnail(argv[2], argv[3], static_cast<int>(std::min<std::int64_t>(size, 4096)), error)) {
            std::cerr << "boardpeek: " << error << std::endl;
            return endProcess(1);
        }
        return endProcess(0);
    }

    if (const char* target = std::getenv("QLHARNESS_URL")) {
        // The import and the picture need no window system: begin them while the application starts.
        auto prepared = std::async(std::launch::async, [path = std::filesystem::path(target)] {
            return PreviewViewController::prepare(path);
        });
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QApplication app(argc, argv);
        const char* out = std::getenv("QLHARNESS_OUT");
        PreviewViewController::runHarness(target, out ? out : "/tmp/ql_preview.png", std::move(prepared));
    }

    if (argc != 2) {
        std::cerr << "usage: boardpeek FILE\n       boardpeek --thumbnail INPUT OUTPUT SIZE\n";
        return 2;
    }
    QApplication app(argc, argv);
    PreviewViewController controller;
    controller.loadView();
    controller.preparePreviewOfFile(argv[1]);
    QWidget* view = controller.view();
    view->setWindowTitle("Boardpeek");
    view->resize(800, 600);
    view->show();
    return endProcess(app.exec());
}
