#pragma once
// The left column: the layer list, the board summary and, while comparing, the changes per layer.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <QAbstractButton>
#include <QPointer>
#include <QScrollArea>

#include "checks/BoardSummaryEngine.hpp"
#include "model/AppModel.hpp"

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace corvane {

class LayerRow;

class SummaryGrid : public QWidget {
    Q_OBJECT
public:
    SummaryGrid(const BoardSummary& summary, Units units, QWidget* parent = nullptr);
    void setSummary(const BoardSummary& summary, Units units, BoardSizeSource sizeSource = BoardSizeSource::outline);
    // The (label, value) rows shown for a summary, in order; absent optional values leave their row out. A size
    // that is the extent of all layers is followed by a row that says so.
    static std::vector<std::pair<std::string, std::string>> rows(const BoardSummary& summary, Units units,
                                                                 BoardSizeSource sizeSource = BoardSizeSource::outline);
    // "36 (30 PTH / 6 NPTH)"; holes whose plating the files leave open are counted as such.
    static std::string drillsText(const BoardSummary& summary);
    const std::vector<std::pair<std::string, std::string>>& shownRows() const { return shown_; }

private:
    QWidget* row(const std::string& label, const std::string& value);
    QVBoxLayout* layout_ = nullptr;
    std::vector<std::pair<std::string, std::string>> shown_;
};

// One clickable change line; the whole width, the empty part after the text included, is the hit area.
class ChangeButton : public QAbstractButton {
    Q_OBJECT
public:
    ChangeButton(const DiffChange& change, const QColor& color, const QString& prefix, QWidget* parent = nullptr);
    static QString changeText(const DiffChange& change);
    // " @ (x, y)": never shortened, since it is what tells one change from the next.
    static QString positionText(const DiffChange& change);
    const DiffChange& change() const { return change_; }
    QSize sizeHint() const override;
    // The line as painted at the present width: the object type gives way first.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString shownChange() const;

    DiffChange change_;
    QColor color_;
    QString prefix_;
    QString text_;
};

class CompareRowView : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t linesPerGroup = 30;

    CompareRowView(AppModel* model, const CompareRow& row, QWidget* parent = nullptr);
    void setRow(const CompareRow& row);
    ChangeButton* changeButton(const DiffChange& change, const QColor& color, const QString& prefix);
    static QString headerCountText(const CompareRow& row);
    // Empty when the row shows every change.
    static QString moreText(const CompareRow& row);
    // The start the package's file names share ("ESP32_RevA-"): a row named by its file gives that way first
    // when the column is narrow, so that what tells the files apart stays.
    void setSharedStart(const QString& start);

private:
    QPointer<AppModel> model_;
    QVBoxLayout* layout_ = nullptr;
    std::optional<CompareRow> shown_;
    QString sharedStart_;
};

class SidebarView : public QScrollArea {
    Q_OBJECT
public:
    explicit SidebarView(AppModel* model, QWidget* parent = nullptr);
    LayerRow* layerRow(const std::string& id) const;
    CompareRowView* compareRow(const std::string& layerKey) const;
    // The start most file names of a package share, up to a separator ("video-", "kit-dev-coldfire-"): the
    // longest shared by the largest group of names with the same first word; empty when no two share one.
    static std::string sharedStart(const std::vector<std::string>& names);
    // The same of a package's file names; empty without a package.
    static QString fileNameStart(const AppModel::PackagePtr& package);
    // Hides or shows the layer rows below the "Layers" header, so that what follows is in reach on a deep stack.
    void toggleLayers();
    bool layersShown() const;
    // "Only in <revision>: <file>" for each file of either revision that has no counterpart in the other.
    static std::vector<std::string> unmatchedLines(const PackageDiff& diff);

private:
    void syncLayers();
    void syncSolo();
    void syncSummary();
    void syncCompare();
    void syncUnmatched();
    QLabel* sectionHeader(const QString& title, const char* name);
    void setLayersShown(bool shown);

    QPointer<AppModel> model_;
    QToolButton* layersHeader_ = nullptr;
    QWidget* layersList_ = nullptr;
    QVBoxLayout* layersBox_ = nullptr;
    QLabel* summaryHeader_ = nullptr;
    // In compare mode revision A's summary stands above the shown revision's, each under its name.
    QLabel* baseSummaryLabel_ = nullptr;
    SummaryGrid* baseSummary_ = nullptr;
    QLabel* summaryLabel_ = nullptr;
    SummaryGrid* summary_ = nullptr;
    QLabel* compareHeader_ = nullptr;
    QVBoxLayout* compareBox_ = nullptr;
    QVBoxLayout* unmatchedBox_ = nullptr;
    std::map<std::string, LayerRow*> layerRows_;
    std::map<std::string, CompareRowView*> compareRows_;
    bool comparing_ = false;
    // The layer list was shown when a comparison folded it away.
    bool layersFoldedForCompare_ = false;
};

} // namespace corvane
