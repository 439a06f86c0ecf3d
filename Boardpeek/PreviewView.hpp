#pragma once
// The preview's window side, built as a module of its own (boardpeek-view.so) that the program loads at run
// time: the window system's libraries take tens of milliseconds to load and bind, and the board's import
// and picture need none of them, so they begin first and the module loads beside them.
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "PreviewPicture.hpp"

namespace corvane {

// The entry points of the module, found under previewViewSymbol.
struct PreviewView {
    // The harness's view as grab() draws it, and the size (points) the board's image is shown at, if it is.
    struct Capture {
        std::optional<RasterImage> picture;
        std::optional<std::pair<double, double>> imageSize;
        std::string failure;  // why the picture could not be shown, if it could not
    };
    // Starts the application, shows what `picture` gives (it may wait for it) in the harness's view, captures
    // the view and hands the capture to `finish`, which ends the process: nothing is torn down. Where
    // `picture` throws, the view shows nothing and the capture says why. `pictureReady` tells whether
    // `picture` would answer at once.
    void (*captureHarness)(int& argc, char** argv, const std::function<PreviewPicture()>& picture,
                           const std::function<bool()>& pictureReady,
                           const std::function<void(const Capture&)>& finish);
    // Starts the application and shows the picture `prepare` makes in a window until it is closed; returns
    // the application's exit code.
    int (*showWindow)(int& argc, char** argv, const std::function<PreviewPicture()>& prepare);
};

inline constexpr const char* previewViewModule = "boardpeek-view.so";
inline constexpr const char* previewViewSymbol = "corvanePreviewView";

} // namespace corvane
