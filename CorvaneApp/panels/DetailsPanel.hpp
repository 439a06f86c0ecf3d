#pragma once
// The right column, titled "Inspector": the picked object's details, the measurement list, the latest
// checks and the privacy note.
#include <QPointer>
#include <QScrollArea>

#include "model/AppModel.hpp"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace corvane {

class DetailsPanel : public QScrollArea {
    Q_OBJECT
public:
    static constexpr std::size_t shownIssues = 6;
    static constexpr const char* hintText =
        "Click any object with the Inspect tool to see layer, type, position, size, aperture, polarity and net info.";
    static constexpr const char* privacyText = "100% local \u2014 files never leave this computer";

    explicit DetailsPanel(AppModel* model, QWidget* parent = nullptr);
    static QString measurementsTitle(std::size_t count);
    // "3 package warnings": the package's own warnings, counted beside the checks'.
    static QString packageWarningsText(std::size_t count);

private:
    void syncSelection();
    void syncMeasurements();
    void syncChecks();
    // One revision's check counts (or that none ran yet) and its package's warning count.
    void addCounts(const std::optional<DFMReport>& report, const PCBPackage* package, bool withDetails);

    QPointer<AppModel> model_;
    QVBoxLayout* inspectBox_ = nullptr;
    QLabel* measurementsHeader_ = nullptr;
    QVBoxLayout* measurementsBox_ = nullptr;
    QVBoxLayout* checksBox_ = nullptr;
};

} // namespace corvane
