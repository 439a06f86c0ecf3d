#pragma once
// "Drill View": the drill table of every drill file of the open board.
#include <array>

#include <QPointer>

#include "model/AppModel.hpp"
#include "sheets/SheetFrame.hpp"

class QScrollArea;
class QVBoxLayout;

namespace corvane {

class DrillSheet : public SheetFrame {
    Q_OBJECT
public:
    explicit DrillSheet(AppModel* model, QWidget* parent = nullptr);
    // Diameter, type and count cells of one table row.
    static std::array<std::string, 3> rowTexts(const DrillStat& stat, Units units);
    static std::int64_t total(const DrillFileStats& file);

private:
    void rebuild();
    QWidget* block(const DrillFileStats& file, Units units, QWidget* parent);
    void addFiles(QVBoxLayout* box, const std::vector<DrillFileStats>& files, QWidget* content);

    QPointer<AppModel> model_;
    QScrollArea* scroll_ = nullptr;
};

} // namespace corvane
