#pragma once
// The bar under the canvas: what is loaded, the cursor position, the zoom, the last status message and the
// three overlay switches, on one line; a message too long for it gets a second line.
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "model/Model.hpp"
#include "panels/PanelStyle.hpp"

class QCheckBox;
class QHBoxLayout;
class QPushButton;

namespace corvane {

class AppModel;

class StatusBarView : public QWidget {
    Q_OBJECT
public:
    // The package name keeps at least this much of the line (or its whole width, when shorter).
    static constexpr int packageNameKeepsPx = 120;

    StatusBarView(AppModel& model, QWidget* parent = nullptr);

    // "X 25.400  Y -2.540 mm" or "X 1000.0  Y -100.0 mil".
    static std::string cursorText(const Vec2& point, Units units);
    // "8.0×".
    static std::string zoomText(double pxPerMM);
    // "3 package warnings": the package's own warnings (both revisions' in compare mode).
    static std::string warningsText(std::size_t count);
    static std::size_t packageWarningCount(const AppModel& model);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void refresh();
    void syncWarnings();
    // Shows what fits on the line at the present width; the message moves to a line of its own if need be.
    void fitToWidth();
    int cursorRoom() const;

    QPointer<AppModel> model_;
    QHBoxLayout* row_;
    ui::ElidedLabel* packageName_;
    QLabel* fileCount_;
    QPushButton* warnings_;
    std::size_t warningCount_ = 0;
    QLabel* cursor_;
    QLabel* zoom_;
    ui::ElidedLabel* message_;
    ui::WrappedLabel* messageLine_;
    QCheckBox* grid_;
    QCheckBox* origin_;
    QCheckBox* crosshair_;
};

} // namespace corvane
