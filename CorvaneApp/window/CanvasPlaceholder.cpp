// Stand-in for the board canvas until it exists: an empty dark view that registers with the model and
// reports its size, so the window, the fitting logic and the capture hooks can run.
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QWidget>

#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"
#include "window/CanvasSlots.hpp"

namespace corvane {

namespace {
class CanvasPlaceholder : public QWidget {
public:
    CanvasPlaceholder(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
        setObjectName("canvas.placeholder");
        setMinimumSize(100, 100);
        model.setCanvasView(this);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor::fromRgbF(0.075f, 0.08f, 0.1f));
    }
    void resizeEvent(QResizeEvent* e) override {
        if (model_) model_->canvasSizeChanged(QSizeF(e->size()));
        Notifications::post(Notifications::overlayNeedsDisplay);
    }

private:
    QPointer<AppModel> model_;
};
} // namespace

QWidget* makeCanvasHost(AppModel& model, QWidget* parent) { return new CanvasPlaceholder(model, parent); }

bool copyBoardScreenshot(AppModel&) { return false; }

} // namespace corvane
