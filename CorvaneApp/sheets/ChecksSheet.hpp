#pragma once
// "Quick Checks": the latest check report, the package's own warnings, the preset the checks use, and a way to
// find each problem. Comparing two revisions, each is listed whole under its name.
#include <QPointer>

#include "checks/PackageWarnings.hpp"
#include "model/AppModel.hpp"
#include "sheets/SheetFrame.hpp"

class QLabel;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

namespace corvane {

class ChecksSheet : public SheetFrame {
    Q_OBJECT
public:
    static constexpr double locateSpanMM = AppModel::locateSpanMM;
    // The least side of the part of the canvas a located place is shown in: the mark and a few millimetres of
    // board around it.
    static constexpr int leastFreeSidePx = 160;

    explicit ChecksSheet(AppModel* model, QWidget* parent = nullptr);
    // "1 error · 3 warnings".
    static QString countsText(const DFMReport& report);
    static QString presetLabel(const std::optional<ManufacturingPreset>& preset);

    // Where a sheet of `sheet`'s size stands for "Locate" (global coordinates): where it is, when the canvas keeps
    // a part free beside it with sides of at least leastFreeSidePx; else at the edge of the window or canvas
    // that leaves the largest such part. `free` is that part of the canvas.
    struct Placement {
        QRect sheet;
        QRect free;
    };
    static Placement placementBeside(const QRect& sheet, const QRect& canvas, const QRect& window);
    // Goes to `at`, shown beside this sheet, which moves aside first if it would cover it.
    void locate(Vec2 at);

private:
    void syncReport();
    void syncPresets();
    // One revision's findings into `box`: its check issues (or that they passed or have not run yet), then its
    // package's warnings. False when there is nothing to list: the checks ran, passed, and the package has no
    // warnings.
    bool addFindings(QVBoxLayout* box, const std::optional<DFMReport>& report, const PCBPackage* package, bool compact);
    void addStateLine(QVBoxLayout* box, const char* name, const QString& text, const char* symbol, const QColor& color);
    QWidget* issueRow(const CheckIssue& issue, QWidget* parent);
    QWidget* warningRow(const PackageWarning& warning, QWidget* parent);

    QPointer<AppModel> model_;
    QLabel* counts_ = nullptr;
    QToolButton* presetMenu_ = nullptr;
    QScrollArea* list_ = nullptr;
    QWidget* passed_ = nullptr;
};

} // namespace corvane
