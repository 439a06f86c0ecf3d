#pragma once
// What the preview shows of a board, made without any window system: the import and the picture, which
// the program begins before it loads its window side (PreviewView.hpp).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "render/RasterImage.hpp"

namespace corvane {

struct PreviewPicture {
    std::string title;   // the package's name
    std::string layers;  // its layers' names in package order, " · " between them
    std::optional<RasterImage> image;
    std::string message;  // shown when there is no image

    // The picture of a board, and the view the harness captures, in pixels.
    static constexpr int width = 1200, height = 900;
    static constexpr int harnessWidth = 800, harnessHeight = 600;

    static constexpr const char* notRecognized = "Not a recognized PCB manufacturing file.\n(";
    static constexpr const char* cannotRender = "Could not render this board.";
    static constexpr const char* tooLong = "This board takes too long to preview.";
    static constexpr const char* tooMuchMemory = "This board needs too much memory to preview.";
};

// The preview of the board at `url`, begun on a thread of its own as soon as this is made: its import and
// picture, or why there is none.
class PreviewUnderWay {
public:
    explicit PreviewUnderWay(const std::filesystem::path& url);
    ~PreviewUnderWay();
    PreviewUnderWay(const PreviewUnderWay&) = delete;
    PreviewUnderWay& operator=(const PreviewUnderWay&) = delete;

    // Waits for the preview, once; never throws for the board's sake. The package is freed beside whatever
    // follows, on a thread of its own: a large board takes longer to free than to draw.
    PreviewPicture get();
    // Whether get() would answer at once.
    bool ready() const;

private:
    struct Work;
    std::unique_ptr<Work> work_;
};

// The preview of the board at `url`, begun and waited for.
PreviewPicture preparePreview(const std::filesystem::path& url);

} // namespace corvane
