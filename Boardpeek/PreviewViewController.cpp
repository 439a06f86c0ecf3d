#include "PreviewViewController.hpp"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

namespace corvane {

namespace {

const QColor kRootGrey = QColor::fromRgbF(0.08f, 0.08f, 0.08f, 1.0f);
const QColor kSecondaryLabel = QColor(235, 235, 245, 153);
const QColor kTertiaryLabel = QColor(235, 235, 245, 77);

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

void PreviewViewController::showBoard(const QImage& image, const std::string& titleText, const std::string& layers) {
    auto* imageView = new BoardImageView;
    imageView->setImage(image, QSizeF(image.width() / 2, image.height() / 2));

    auto* title = new QLabel(QString::fromStdString(titleText + " \u2014 Corvane preview \u00B7 100% local"));
    QFont titleFont = title->font();
    titleFont.setPixelSize(12);
    titleFont.setWeight(QFont::Medium);
    title->setFont(titleFont);
    colorLabel(title, kSecondaryLabel);

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

void PreviewViewController::show(const PreviewPicture& picture) {
    if (!picture.image) {
        showMessage(QString::fromStdString(picture.message));
        return;
    }
    showBoard(toQImage(*picture.image), picture.title, picture.layers);
}

// Drawn straight into the pixels of the picture to write instead of a pixmap copied twice: the pixmap grab()
// fills is 32-bit RGB, the opaque premultiplied ARGB the PNG writer takes once its alpha is set.
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

} // namespace corvane
