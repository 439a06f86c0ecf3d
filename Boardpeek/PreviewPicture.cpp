#include "PreviewPicture.hpp"

#include <exception>
#include <new>
#include <system_error>
#include <thread>

#include "CpuDeadline.hpp"
#include "import/PackageImporter.hpp"
#include "render/SoftwareRenderer.hpp"

namespace corvane {

namespace {

// The imported package and its picture, or why there is none.
struct ImportedAndDrawn {
    std::optional<PCBPackage> package;
    std::optional<RasterImage> image;
    std::string importError;
};

ImportedAndDrawn importAndDraw(const std::filesystem::path& url) {
    ImportedAndDrawn out;
    try {
        out.package = PackageImporter{.hashFiles = false, .readInParts = true}.importAny(url);
    } catch (const std::exception& e) {
        out.importError = e.what();
        return out;
    }
    SoftwareRenderer renderer;
    out.image = renderer.render(*out.package, SizePx{PreviewPicture::width, PreviewPicture::height}, std::nullopt, false);
    if (!out.image) out.image = renderer.render(*out.package, SizePx{800, 600}, std::nullopt, false);
    return out;
}

std::string layerNames(const PCBPackage& package) {
    std::string layers;
    for (std::size_t i = 0; i < package.files.size(); ++i) {
        if (i) layers += " \u00B7 ";
        layers += package.files[i].layerType.displayName();
    }
    return layers;
}

void freeBeside(PCBPackage&& package) {
    try {
        std::thread([gone = std::move(package)] {}).detach();
    } catch (const std::system_error&) {
        // No thread to spare: it is freed here.
    }
}

} // namespace

struct PreviewUnderWay::Work {
    std::optional<WorkWithinCpuTime<ImportedAndDrawn>> drawing;
    std::exception_ptr notBegun;  // why it could not be begun
};

PreviewUnderWay::PreviewUnderWay(const std::filesystem::path& url) : work_(std::make_unique<Work>()) {
    try {
        work_->drawing.emplace([url] { return importAndDraw(url); });
    } catch (...) {
        work_->notBegun = std::current_exception();
    }
}

PreviewUnderWay::~PreviewUnderWay() = default;

bool PreviewUnderWay::ready() const { return work_->notBegun || work_->drawing->ended(); }

PreviewPicture PreviewUnderWay::get() {
    PreviewPicture picture;
    std::optional<ImportedAndDrawn> done;
    try {
        if (work_->notBegun) std::rethrow_exception(work_->notBegun);
        done = work_->drawing->get();
    } catch (const std::bad_alloc&) {
        // The process's memory cap, reached where neither the import nor the drawing ends on it.
        picture.message = PreviewPicture::tooMuchMemory;
        return picture;
    }
    if (!done) {
        picture.message = PreviewPicture::tooLong;
    } else if (!done->package) {
        picture.message = std::string(PreviewPicture::notRecognized) + done->importError + ")";
    } else {
        picture.title = done->package->name;
        picture.layers = layerNames(*done->package);
        picture.image = std::move(done->image);
        if (!picture.image) picture.message = PreviewPicture::cannotRender;
        freeBeside(std::move(*done->package));
    }
    return picture;
}

PreviewPicture preparePreview(const std::filesystem::path& url) { return PreviewUnderWay(url).get(); }

} // namespace corvane
