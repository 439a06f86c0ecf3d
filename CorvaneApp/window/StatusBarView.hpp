#pragma once
// The one-line bar under the canvas: what is loaded, the cursor position, the zoom, the last status message
// and the three overlay switches.
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "model/Model.hpp"
#include "panels/PanelStyle.hpp"

class QCheckBox;

namespace corvane {

class AppModel;

class StatusBarView : public QWidget {
    Q_OBJECT
public:
    StatusBarView(AppModel& model, QWidget* parent = nullptr);

    // "X 25.400  Y -2.540 mm" or "X 1000.0  Y -100.0 mil".
    static std::string cursorText(const Vec2& point, Units units);
    // "8.0×".
    static std::string zoomText(double pxPerMM);

private:
    void refresh();

    QPointer<AppModel> model_;
    QLabel* packageName_;
    QLabel* fileCount_;
    QLabel* cursor_;
    QLabel* zoom_;
    ui::ElidedLabel* message_;
    QCheckBox* grid_;
    QCheckBox* origin_;
    QCheckBox* crosshair_;
};

} // namespace corvane
