#pragma once
// "Manufacturing Presets": the user's factory minimums, edited one draft at a time.
#include <array>

#include <QPointer>

#include "model/AppModel.hpp"
#include "sheets/SheetFrame.hpp"

class QLineEdit;
class QTreeWidget;

namespace corvane {

class PresetSheet : public SheetFrame {
    Q_OBJECT
public:
    static ManufacturingPreset initialDraft() { return ManufacturingPreset{"My Factory", 0.1, 0.1, 0.2, 0.15}; }

    explicit PresetSheet(AppModel* model, QWidget* parent = nullptr);
    const ManufacturingPreset& draft() const { return draft_; }
    static QString rowValues(const ManufacturingPreset& preset);

    // The sheet's actions, also reached from its buttons and the list's context menu.
    void savePreset();
    void useForChecks();
    void deletePresets(const std::string& name);
    void pickRow(int row);

private:
    void syncList();
    void showDraft();
    void numberEdited(int field, const QString& text);

    QPointer<AppModel> model_;
    ManufacturingPreset draft_ = initialDraft();
    QTreeWidget* list_ = nullptr;
    QLineEdit* name_ = nullptr;
    std::array<QLineEdit*, 4> numbers_{};
};

} // namespace corvane
