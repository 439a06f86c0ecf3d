#pragma once
// "Quick Checks": the latest check report, the preset the checks use, and a way to find each problem.
#include <QPointer>

#include "model/AppModel.hpp"
#include "sheets/SheetFrame.hpp"

class QLabel;
class QScrollArea;
class QToolButton;

namespace corvane {

class ChecksSheet : public SheetFrame {
    Q_OBJECT
public:
    static constexpr double locateSpanMM = 12.0;

    explicit ChecksSheet(AppModel* model, QWidget* parent = nullptr);
    static QString countsText(const DFMReport& report);
    static QString presetLabel(const std::optional<ManufacturingPreset>& preset);

private:
    void syncReport();
    void syncPresets();
    QWidget* issueRow(const CheckIssue& issue, QWidget* parent);

    QPointer<AppModel> model_;
    QLabel* counts_ = nullptr;
    QToolButton* presetMenu_ = nullptr;
    QScrollArea* list_ = nullptr;
    QWidget* passed_ = nullptr;
};

} // namespace corvane
