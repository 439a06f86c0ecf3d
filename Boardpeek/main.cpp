// Boardpeek: the board preview program. Three ways in:
//   QLHARNESS_URL=FILE [QLHARNESS_OUT=PNG] boardpeek   writes the preview as a PNG (no display needed)
//   boardpeek --thumbnail INPUT OUTPUT SIZE              the thumbnail, as boardpeek-thumbnailer makes it
//   boardpeek FILE                                       shows the preview in a window
// The window side lives in a module loaded here (PreviewView.hpp): the program itself binds no window
// system, so the board's import and picture begin at once and the module loads beside them.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <span>
#include <string>
#include <system_error>

#include "BoardHeap.hpp"
#include "CpuDeadline.hpp"
#include "PreviewPicture.hpp"
#include "PreviewView.hpp"
#include "Thumbnailer.hpp"
#include "model/Format.hpp"
#include "model/ParallelFor.hpp"

using namespace corvane;

namespace {

void writeStderrLine(const std::string& line) {
    const std::string bytes = line + "\n";
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(2, p, left);
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

// The window side, from beside this program (a build) or from its installed place; null, with the reason on
// standard error, when neither loads.
const PreviewView* loadPreviewView() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    std::string reasons;
    for (const std::filesystem::path& place : {self.parent_path(), self.parent_path().parent_path() / "lib/corvane"}) {
        if (ec) break;
        if (void* module = ::dlopen((place / previewViewModule).c_str(), RTLD_NOW | RTLD_LOCAL))
            if (const auto* view = static_cast<const PreviewView*>(::dlsym(module, previewViewSymbol))) return view;
        if (const char* why = ::dlerror()) reasons += std::string("\n  ") + why;
    }
    writeStderrLine(std::string("boardpeek: cannot load its window side (") + previewViewModule + ")" + reasons);
    return nullptr;
}

// Writes the harness's capture and ends the process: success is reported only once the file is in place.
[[noreturn]] void finishHarness(const PreviewView::Capture& capture, const std::string& outPath) {
    if (!capture.failure.empty()) writeStderrLine("preparePreviewOfFile threw: " + capture.failure);
    if (!capture.picture) std::_Exit(4);
    int code = 0;
    if (capture.picture->writePNG(outPath)) {
        writeStderrLine("harness preview written: " + outPath);
    } else {
        writeStderrLine("harness preview not written: " + outPath);
        code = 1;
    }
    if (const auto& s = capture.imageSize)
        writeStderrLine("preview image: (" + formatFixed(s->first, 1) + ", " + formatFixed(s->second, 1) + ")");
    else
        writeStderrLine("no image view (fallback shown)");
    std::_Exit(code);
}

} // namespace

int main(int argc, char** argv) {
    capDataMemory();
    if (argc >= 2 && std::strcmp(argv[1], "--thumbnail") == 0)
        return runThumbnailer(std::span<char* const>(argv + 2, static_cast<std::size_t>(argc - 2)), "boardpeek",
                              "usage: boardpeek --thumbnail INPUT OUTPUT SIZE");

    if (const char* target = std::getenv("QLHARNESS_URL")) {
        prepareHeapForBoard(target, 4 * (PreviewPicture::width * PreviewPicture::height +
                                         PreviewPicture::harnessWidth * PreviewPicture::harnessHeight));
        // The import and the picture need no window system: begin them while it loads and starts, with the
        // threads they will want, since none can start while a library loads.
        PreviewUnderWay picture(target);
        startPoolThreads();
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const PreviewView* view = loadPreviewView();
        if (!view) std::_Exit(3);
        const char* out = std::getenv("QLHARNESS_OUT");
        const std::string outPath = out ? out : "/tmp/ql_preview.png";
        view->captureHarness(
            argc, argv, [&picture] { return picture.get(); }, [&picture] { return picture.ready(); },
            [&outPath](const PreviewView::Capture& c) { finishHarness(c, outPath); });
        std::_Exit(4);
    }

    if (argc != 2) {
        std::cerr << "usage: boardpeek FILE\n       boardpeek --thumbnail INPUT OUTPUT SIZE\n";
        return 2;
    }
    const PreviewView* view = loadPreviewView();
    if (!view) return 3;
    const std::filesystem::path file = argv[1];
    return endProcess(view->showWindow(argc, argv, [&file] { return preparePreview(file); }));
}
