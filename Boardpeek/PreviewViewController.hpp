#pragma once
// The preview's view: the picture of a board with its title and layer list, or a message when there is no
// picture. Uses nothing of the core but the picture's layout, so that the module it is built into binds
// only the window system's libraries (PreviewView.hpp).
#include <QImage>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "PreviewPicture.hpp"

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

    // A fresh dark root view.
    void loadView();
    // Shows the board's picture with its title and layer list, or the picture's message.
    void show(const PreviewPicture& picture);
    QWidget* view() const { return view_.get(); }

private:
    std::unique_ptr<QWidget> makeRoot() const;
    void showMessage(const QString& text);
    void showBoard(const QImage& image, const std::string& title, const std::string& layers);
    std::unique_ptr<QWidget> view_;
};

// `rect` of the view as QWidget::grab() draws it; absent where grab() gives no pixmap.
std::optional<RasterImage> captureView(QWidget& view, const QRect& rect);

} // namespace corvane
