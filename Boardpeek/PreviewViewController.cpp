#include "PreviewViewController.hpp"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <thread>
#include <unistd.h>

#include "CpuDeadline.hpp"
#include "render/SoftwareRenderer.hpp"
#include "render/RasterImage.hpp"
#include "import/PackageImporter.hpp"

namespace corvane {

namespace {

const QColor kRootGrey = QColor::fromRgbF(0.08f, 0.08f, 0.08f, 1.0f);
const QColor kSecondaryLabel = QColor(235, 235, 245, 153);
const QColor kTertiaryLabel = QColor(235, 235, 245, 77);

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

// The picture as a QImage over the same pixels, which it keeps alive.
QImage toQImage(const RasterImage& image) {
    using Pixels = std::shared_ptr<const std::vector<std::uint32_t>>;
    auto* keep = new Pixels(image.pixels);
    return QImage(reinterpret_cast<const uchar*>(image.pixels->data()), image.width, image.height, image.width * 4,
                  QImage::Format_ARGB32_Premultiplied, [](void* p) { delete static_cast<Pixels*>(p); }, keep);
}

// Keeps the title pinned to the top, the footer to the bottom and the image between them, so the
// text never covers the board whatever the window size.
class BoardRoot : public QWidget {
public:
    BoardRoot(BoardImageView* image, QLabel* title, QLabel* footer) : image_(image), title_(title), footer_(footer) {}

protected:
    void resizeEvent(QResizeEvent* e) override {
        const int w = e->size().width(), h = e->size().height();
        image_->setGeometry(12, 28, std::max(0, w - 24), std::max(0, h - 56));
        title_->setGeometry(12, 10, std::max(0, w - 24), 18);
        footer_->setGeometry(12, h - 22, std::max(0, w - 24), 14);
    }

private:
    BoardImageView* image_;
    QLabel* title_;
    QLabel* footer_;
};

class MessageRoot : public QWidget {
public:
    explicit MessageRoot(QLabel* label) : label_(label) {}

protected:
    void resizeEvent(QResizeEvent* e) override {
        label_->setGeometry(40, 40, std::max(0, e->size().width() - 80), std::max(0, e->size().height() - 80));
    }

private:
    QLabel* label_;
};

void styleRoot(QWidget* root) {
    root->setAutoFillBackground(true);
    QPalette pal = root->palette();
    pal.setColor(QPalette::Window, kRootGrey);
    root->setPalette(pal);
    root->resize(640, 480);
}

void colorLabel(QLabel* label, const QColor& color) {
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, color);
    label->setPalette(pal);
}

// The view as QWidget::grab() draws it, drawn straight into the pixels of the picture to write instead of a
// pixmap copied twice: the pixmap grab() fills is 32-bit RGB, the opaque premultiplied ARGB the PNG writer
// takes once its alpha is set. Absent where grab() gives no pixmap.
std::optional<RasterImage> captureView(QWidget& view, const QRect& rect) {
    if (!rect.intersects(view.rect())) return std::nullopt;
    const qreal ratio = view.devicePixelRatio();
    const QSize size = (QSizeF(rect.size()) * ratio).toSize();
    auto pixels = std::make_shared<std::vector<std::uint32_t>>(static_cast<std::size_t>(size.width()) * size.height());
    {
        QImage target(reinterpret_cast<uchar*>(pixels->data()), size.width(), size.height(), size.width() * 4,
                      QImage::Format_RGB32);
        target.setDevicePixelRatio(ratio);
        view.render(&target, QPoint(), QRegion(rect),
                    QWidget::DrawWindowBackground | QWidget::DrawChildren | QWidget::IgnoreMask);
    }
    for (std::uint32_t& p : *pixels) p |= 0xFF000000u;
    return RasterImage{size.width(), size.height(), std::move(pixels)};
}

} // namespace

void BoardImageView::setImage(const QImage& image, QSizeF sizeInPoints) {
    image_ = image;
    size_ = sizeInPoints;
    update();
}

void BoardImageView::paintEvent(QPaintEvent*) {
    if (image_.isNull() || size_.width() <= 0 || size_.height() <= 0) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const double k = std::min(width() / size_.width(), height() / size_.height());
    const QSizeF shown(size_.width() * k, size_.height() * k);
    const QRectF target((width() - shown.width()) / 2, (height() - shown.height()) / 2, shown.width(), shown.height());
    p.drawImage(target, image_);
}

PreviewViewController::PreviewViewController() = default;
PreviewViewController::~PreviewViewController() = default;

std::unique_ptr<QWidget> PreviewViewController::makeRoot() const {
    auto root = std::make_unique<QWidget>();
    styleRoot(root.get());
    return root;
}

void PreviewViewController::loadView() { view_ = makeRoot(); }

void PreviewViewController::showMessage(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    colorLabel(label, kSecondaryLabel);
    auto root = std::make_unique<MessageRoot>(label);
    label->setParent(root.get());
    styleRoot(root.get());
    view_ = std::move(root);
}

void PreviewViewController::showBoard(const QImage& image, const PCBPackage& package) {
    auto* imageView = new BoardImageView;
    imageView->setImage(image, QSizeF(image.width() / 2, image.height() / 2));

    auto* title = new QLabel(QString::fromStdString(package.name + " \u2014 Corvane preview \u00B7 100% local"));
    QFont titleFont = title->font();
    titleFont.setPixelSize(12);
    titleFont.setWeight(QFont::Medium);
    title->setFont(titleFont);
    colorLabel(title, kSecondaryLabel);

    std::string layers;
    for (std::size_t i = 0; i < package.files.size(); ++i) {
        if (i) layers += " \u00B7 ";
        layers += package.files[i].layerType.displayName();
    }
    auto* footer = new QLabel;
    QFont footerFont = footer->font();
    footerFont.setPixelSize(10);
    footer->setFont(footerFont);
    colorLabel(footer, kTertiaryLabel);
    // Truncate the tail when the list is wider than the view.
    footer->setText(QFontMetrics(footerFont).elidedText(QString::fromStdString(layers), Qt::ElideRight, 616));
    footer->setToolTip(QString::fromStdString(layers));

    auto root = std::make_unique<BoardRoot>(imageView, title, footer);
    imageView->setParent(root.get());
    title->setParent(root.get());
    footer->setParent(root.get());
    styleRoot(root.get());
    view_ = std::move(root);
}

namespace {

// The imported package and its picture, or why there is none.
struct PreparedPreview {
    std::optional<PCBPackage> package;
    std::optional<RasterImage> image;
    std::string importError;
};

PreparedPreview importAndDraw(const std::filesystem::path& url) {
    PreparedPreview out;
    try {
        out.package = PackageImporter{}.importAny(url);
    } catch (const std::exception& e) {
        out.importError = e.what();
        return out;
    }
    SoftwareRenderer renderer;
    using View = PreviewViewController;
    out.image = renderer.render(*out.package, SizePx{View::pictureWidth, View::pictureHeight}, std::nullopt, false);
    if (!out.image) out.image = renderer.render(*out.package, SizePx{800, 600}, std::nullopt, false);
    return out;
}

} // namespace

PreviewViewController::Prepared PreviewViewController::prepare(const std::filesystem::path& url) {
    Prepared prepared;
    std::optional<PreparedPreview> done;
    try {
        done = runWithinCpuTime<PreparedPreview>([url] { return importAndDraw(url); });
    } catch (const std::bad_alloc&) {
        // The process's memory cap, reached where neither the import nor the drawing ends on it.
        prepared.message = tooMuchMemory;
        return prepared;
    }
    if (!done) {
        prepared.message = tooLong;
    } else if (!done->package) {
        prepared.message = std::string(notRecognized) + done->importError + ")";
    } else {
        prepared.package = std::move(*done->package);
        prepared.image = std::move(done->image);
        if (!prepared.image) prepared.message = cannotRender;
    }
    return prepared;
}

void PreviewViewController::show(const Prepared& prepared) {
    if (!prepared.image) {
        showMessage(QString::fromStdString(prepared.message));
        return;
    }
    showBoard(toQImage(*prepared.image), prepared.package);
}

void PreviewViewController::preparePreviewOfFile(const std::filesystem::path& url) { show(prepare(url)); }

void PreviewViewController::runHarness(const std::string& targetURL, const std::string& outPath,
                                       std::future<Prepared> prepared) {
    PreviewViewController controller;
    controller.loadView();
    std::optional<Prepared> ready;
    try {
        if (!prepared.valid()) prepared = std::async(std::launch::deferred, [&] { return prepare(targetURL); });
        // Setting up the fonts takes as long as a small board's picture: do it while that is made.
        QFontMetrics(QApplication::font()).height();
        ready = prepared.get();
        controller.show(*ready);
        // The view keeps what it shows. The package is freed beside the capture, which need not wait for it.
        std::thread([gone = std::move(ready->package)] {}).detach();
    } catch (const std::exception& e) {
        writeStderrLine(std::string("preparePreviewOfFile threw: ") + e.what());
    }
    QWidget* view = controller.view();
    view->resize(harnessWidth, harnessHeight);
    view->ensurePolished();
    const std::optional<RasterImage> captured = captureView(*view, QRect(0, 0, harnessWidth, harnessHeight));
    if (!captured) std::_Exit(4);
    const RasterImage& raster = *captured;
    // Success is reported only once the file is really in place.
    int code = 0;
    if (raster.writePNG(outPath)) {
        writeStderrLine("harness preview written: " + outPath);
    } else {
        writeStderrLine("harness preview not written: " + outPath);
        code = 1;
    }

    BoardImageView* imageView = nullptr;
    for (QObject* child : view->children()) {
        if ((imageView = qobject_cast<BoardImageView*>(child))) break;
    }
    if (imageView && !imageView->image().isNull()) {
        const QSizeF s = imageView->imageSize();
        writeStderrLine("preview image: (" + formatFixed(s.width(), 1) + ", " + formatFixed(s.height(), 1) + ")");
    } else {
        writeStderrLine("no image view (fallback shown)");
    }
    std::_Exit(code);
}

} // namespace corvane
