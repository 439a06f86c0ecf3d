// Boardpeek: the board preview program. Three ways in:
//   QLHARNESS_URL=FILE [QLHARNESS_OUT=PNG] boardpeek   writes the preview as a PNG (no display needed)
//   boardpeek --thumbnail INPUT OUTPUT SIZE              the thumbnail, as boardpeek-thumbnailer makes it
//   boardpeek FILE                                       shows the preview in a window
#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <span>

#include "BoardHeap.hpp"
#include "CpuDeadline.hpp"
#include "PreviewViewController.hpp"
#include "Thumbnailer.hpp"

using namespace corvane;

int main(int argc, char** argv) {
    capDataMemory();
    if (argc >= 2 && std::strcmp(argv[1], "--thumbnail") == 0)
        return runThumbnailer(std::span<char* const>(argv + 2, static_cast<std::size_t>(argc - 2)), "boardpeek",
                              "usage: boardpeek --thumbnail INPUT OUTPUT SIZE");

    if (const char* target = std::getenv("QLHARNESS_URL")) {
        prepareHeapForBoard(target, 4 * (PreviewViewController::pictureWidth * PreviewViewController::pictureHeight +
                                         PreviewViewController::harnessWidth * PreviewViewController::harnessHeight));
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
