#pragma once
// The preview: imports a package, draws it off-screen and shows the picture with its title and
// layer list, or a message when anything fails. Nothing is ever reported to the caller as an error.
#include <QImage>
#include <QWidget>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "render/RasterImage.hpp"
#include "model/Model.hpp"

namespace corvane {

// Shows an image scaled proportionally (up or down) into its bounds, centred.
class BoardImageView : public QWidget {
    Q_OBJECT
public:
    explicit BoardImageView(QWidget* parent = nullptr) : QWidget(parent) {}
    void setImage(const QImage& image, QSizeF sizeInPoints);
    const QImage& image() const { return image_; }
    QSizeF imageSize() const { return size_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage image_;
    QSizeF size_;
};

class PreviewViewController {
public:
    PreviewViewController();
    ~PreviewViewController();

    // What a preview shows, made without any window: the package and its picture, or the message to show
    // instead. Needs nothing of the window system, so it may be made on any thread.
    struct Prepared {
        PCBPackage package;
        std::optional<RasterImage> image;
        std::string message;  // shown when there is no image
    };
    // Imports and renders the board.
    static Prepared prepare(const std::filesystem::path& url);

    // A fresh dark root view.
    void loadView();
    // Imports, renders and shows the board, or a message view.
    void preparePreviewOfFile(const std::filesystem::path& url);
    // Shows the board of a preview made before, or its message.
    void show(const Prepared& prepared);
    QWidget* view() const { return view_.get(); }

    // Runs one preview without a host, writes it as PNG and ends the process with its exit code. Everything
    // is written and reported by then, so nothing is torn down: a package of a million objects takes longer
    // to free than to draw. `prepared`, when given, is the preview of `targetURL` already under way (begun
    // before the application object, whose start-up it can overlap); otherwise it is made here.
    [[noreturn]] static void runHarness(const std::string& targetURL, const std::string& outPath,
                                        std::future<Prepared> prepared = {});

    // The picture of a board, and the view the harness captures, in pixels.
    static constexpr int pictureWidth = 1200, pictureHeight = 900;
    static constexpr int harnessWidth = 800, harnessHeight = 600;

    static constexpr const char* notRecognized = "Not a recognized PCB manufacturing file.\n(";
    static constexpr const char* cannotRender = "Could not render this board.";
    static constexpr const char* tooLong = "This board takes too long to preview.";
    static constexpr const char* tooMuchMemory = "This board needs too much memory to preview.";

private:
    std::unique_ptr<QWidget> makeRoot() const;
    void showMessage(const QString& text);
    void showBoard(const QImage& image, const PCBPackage& package);
    std::unique_ptr<QWidget> view_;
};

} // namespace corvane
