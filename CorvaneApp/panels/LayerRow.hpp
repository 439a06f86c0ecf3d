#pragma once
// One row of the sidebar's layer list and the menu that corrects a file's detected role.
#include <optional>
#include <string>
#include <vector>

#include <QColor>
#include <QFrame>
#include <QPointer>
#include <QTimer>

#include "model/AppModel.hpp"
#include "panels/PanelStyle.hpp"

class QAction;
class QColorDialog;
class QLabel;
class QMenu;
class QToolButton;

namespace corvane {

// The fifteen roles the menu always offers, in menu order; a role's position here is its code.
struct LayerRole {
    std::string title;
    LayerType type;
};
const std::vector<LayerRole>& layerRoles();

// How many inner copper layers the menu offers for the file `fileName` of `package`: at least four, and as
// many as the stack would have with that file as copper, so every inner layer of a larger board can be set.
std::int64_t innerLayersOffered(const PCBPackage& package, const std::string& fileName);

// One entry of the role menu: the fixed roles, with the inner layers past the fourth after "Inner 4".
// The code names the role apart from the menu's length (see layerRoleOfCode).
struct LayerMenuEntry {
    LayerRole role;
    int code;
};
std::vector<LayerMenuEntry> layerMenuEntries(std::int64_t innerLayers);
std::optional<LayerType> layerRoleOfCode(int code);

// Receives every role menu choice and hands it to the model once the menu has closed.
class LayerTypeTarget : public QObject {
    Q_OBJECT
public:
    static LayerTypeTarget& shared();
    // The action's data: the model, the file name and the role's code (layerMenuEntries).
    static QVariant actionData(AppModel* model, const std::string& fileName, int roleCode);
public Q_SLOTS:
    void pick(QAction* action);

private:
    LayerTypeTarget() = default;
};

// The swatch's colour popup: a colour picker with alpha, without buttons, closed by clicking elsewhere.
class LayerColorPopup : public QFrame {
    Q_OBJECT
public:
    LayerColorPopup(AppModel* model, std::string layerId, QWidget* parent);
    QColorDialog* picker() const { return picker_; }

private:
    void colorPicked(const QColor& color);
    void flush();

    QPointer<AppModel> model_;
    std::string layerId_;
    QColorDialog* picker_ = nullptr;
    QTimer throttle_;
    std::optional<QColor> pending_;
};

class LayerRow : public QFrame {
    Q_OBJECT
public:
    // Dragging in the colour picker sends at most one colour to the model per this many milliseconds.
    static constexpr int colorThrottleMS = 50;

    LayerRow(AppModel* model, const LayerState& layer, QWidget* parent = nullptr);
    const std::string& layerId() const { return layer_.id; }
    // Shows the given state; the row keeps its widgets, so an open colour popup stays open.
    void update(const LayerState& layer);
    void updateSolo();
    // The start this row's file name shares with the other files of the package: it gives way first.
    void setSharedStart(const QString& start) { name_->setSharedStart(start); }
    // Builds the role menu for this row's file; the caller owns it.
    QMenu* buildTypeMenu(QWidget* parent) const;
    // Pops the role menu up at (40, 24) of the window and returns when it closes.
    void presentTypeMenu();
    void openColorPopup();
    LayerColorPopup* colorPopup() const { return popup_; }
    static QString detailText(const LayerState& layer);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The model's current state of this row's layer, or the row's own copy when the model has none.
    LayerState current() const;

    QPointer<AppModel> model_;
    LayerState layer_;
    QToolButton* visible_ = nullptr;
    QToolButton* swatch_ = nullptr;
    ui::ElidedLabel* name_ = nullptr;
    QLabel* detail_ = nullptr;
    QToolButton* solo_ = nullptr;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
    QToolButton* more_ = nullptr;
    QPointer<LayerColorPopup> popup_;
};

} // namespace corvane
