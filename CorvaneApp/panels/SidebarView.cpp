#include "panels/SidebarView.hpp"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/Format.hpp"
#include "panels/LayerRow.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

// ---- Summary ----------------------------------------------------------------------------------------------

SummaryGrid::SummaryGrid(const BoardSummary& summary, Units units, QWidget* parent) : QWidget(parent) {
    setObjectName("sidebar.summary");
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(4);
    setSummary(summary, units);
}

std::string SummaryGrid::drillsText(const BoardSummary& s) {
    const std::int64_t unstated = BoardSummaryEngine::unstatedPlatingCount(s);
    const std::string total = std::to_string(s.drillCount);
    if (unstated > 0 && s.pthCount == 0 && s.npthCount == 0) return total + " (plating not stated)";
    std::string text = total + " (" + std::to_string(s.pthCount) + " PTH / " + std::to_string(s.npthCount) + " NPTH";
    if (unstated > 0) text += " / " + std::to_string(unstated) + " not stated";
    return text + ")";
}

std::vector<std::pair<std::string, std::string>> SummaryGrid::rows(const BoardSummary& s, Units units,
                                                                   BoardSizeSource sizeSource) {
    const auto len = [&](double mm) { return units.format(mm, 2); };
    std::vector<std::pair<std::string, std::string>> out;
    out.emplace_back("Board", len(s.widthMM) + " \u00D7 " + len(s.heightMM));
    // Without an outline the size is the extent of the copper, masks and holes: not the edge of the board.
    if (sizeSource == BoardSizeSource::layerExtent) out.emplace_back("Size from", "extent of all layers");
    out.emplace_back("Layers", std::to_string(s.copperLayerCount) + " copper");
    out.emplace_back("Pads", std::to_string(s.padCount));
    out.emplace_back("Drills", drillsText(s));
    if (s.minTrackMM) out.emplace_back("Min Track", len(*s.minTrackMM));
    if (s.minSpaceMM) out.emplace_back("Min Space", len(*s.minSpaceMM) + (s.minSpaceReliable ? "" : " (est.)"));
    if (s.smallestDrillMM) out.emplace_back("Smallest Drill", len(*s.smallestDrillMM));
    return out;
}

QWidget* SummaryGrid::row(const std::string& label, const std::string& value) {
    QWidget* w = labelValueRow(qs(label), pixelFont(11), secondaryColor(), qs(value), pixelFont(11, QFont::Normal, true),
                               "summary.value", this);
    w->setObjectName(qs("summary:" + label));
    return w;
}

void SummaryGrid::setSummary(const BoardSummary& summary, Units units, BoardSizeSource sizeSource) {
    auto fresh = rows(summary, units, sizeSource);
    if (fresh == shown_) return;
    shown_ = std::move(fresh);
    clearLayout(layout_);
    for (const auto& [label, value] : shown_) layout_->addWidget(row(label, value));
}

// ---- Change lines -----------------------------------------------------------------------------------------

ChangeButton::ChangeButton(const DiffChange& change, const QColor& color, const QString& prefix, QWidget* parent)
    : QAbstractButton(parent), change_(change), color_(color), prefix_(prefix), text_(changeText(change)) {
    setObjectName("compare.change");
    setText(prefix + " " + text_);
    setToolTip(text());  // the whole line, however narrow the column
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QString ChangeButton::changeText(const DiffChange& change) { return qs(change.objectType) + positionText(change); }

QString ChangeButton::positionText(const DiffChange& change) {
    // Raw millimetres whatever the display unit: the positions identify the object, they are not lengths.
    return qs(" @ (" + formatFixed(change.position.x, 2) + ", " + formatFixed(change.position.y, 2) + ")");
}

QString ChangeButton::shownChange() const {
    const QFontMetrics prefixMetrics(pixelFont(11, QFont::Bold));
    const QFontMetrics textMetrics(pixelFont(10));
    const QString position = positionText(change_);
    const int room = width() - prefixMetrics.horizontalAdvance(prefix_) - 4 - textMetrics.horizontalAdvance(position);
    return textMetrics.elidedText(qs(change_.objectType), Qt::ElideRight, std::max(0, room)) + position;
}

QString ChangeButton::shownText() const { return prefix_ + " " + shownChange(); }

QSize ChangeButton::sizeHint() const {
    const QFontMetrics prefixMetrics(pixelFont(11, QFont::Bold));
    const QFontMetrics textMetrics(pixelFont(10));
    return QSize(prefixMetrics.horizontalAdvance(prefix_) + 4 + textMetrics.horizontalAdvance(text_),
                 std::max(prefixMetrics.height(), textMetrics.height()));
}

void ChangeButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (isDown()) p.fillRect(rect(), palette().color(QPalette::Highlight).lighter(170));
    const QFont prefixFont = pixelFont(11, QFont::Bold);
    p.setFont(prefixFont);
    p.setPen(color_);
    const int prefixWidth = QFontMetrics(prefixFont).horizontalAdvance(prefix_);
    p.drawText(QRect(0, 0, prefixWidth, height()), Qt::AlignVCenter | Qt::AlignLeft, prefix_);
    const QFont textFont = pixelFont(10);
    p.setFont(textFont);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect textRect(prefixWidth + 4, 0, std::max(0, width() - prefixWidth - 4), height());
    p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft, shownChange());
}

// ---- Compare rows -----------------------------------------------------------------------------------------

CompareRowView::CompareRowView(AppModel* model, const CompareRow& row, QWidget* parent) : QWidget(parent), model_(model) {
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(0, 2, 0, 2);
    layout_->setSpacing(3);
    setRow(row);
}

QString CompareRowView::headerCountText(const CompareRow& row) {
    const std::int64_t count = row.addedCount + row.removedCount;
    return qs(std::to_string(count) + (count == 1 ? " change" : " changes"));
}

QString CompareRowView::moreText(const CompareRow& row) {
    const std::size_t total = row.added.size() + row.removed.size();
    if (total <= 2 * linesPerGroup) return QString();
    return qs("\u2026 " + std::to_string(total - 2 * linesPerGroup) + " more");
}

ChangeButton* CompareRowView::changeButton(const DiffChange& change, const QColor& color, const QString& prefix) {
    auto* button = new ChangeButton(change, color, prefix, this);
    connect(button, &ChangeButton::clicked, this, [this, change] {
        if (model_) model_->showChange(change);
    });
    return button;
}

void CompareRowView::setRow(const CompareRow& row) {
    // Both the diff and the row list announce a new comparison; the lines are built once.
    if (shown_ && shown_->layerKey == row.layerKey && shown_->addedCount == row.addedCount &&
        shown_->removedCount == row.removedCount && shown_->added == row.added && shown_->removed == row.removed)
        return;
    shown_ = row;
    setObjectName(qs("compareRow:" + row.layerKey));
    clearLayout(layout_);
    auto* header = new QHBoxLayout();
    // A row named by its file carries the package's long name: that start gives way first, then the middle, so
    // the end that tells the files apart stays.
    auto* key = elidedLabel(qs(row.layerKey), Qt::ElideMiddle, pixelFont(12, QFont::DemiBold), QColor(), this);
    key->setObjectName("compare.key");
    key->setSharedStart(sharedStart_);
    auto* count = textLabel(headerCountText(row), captionFont(), secondaryColor(), this);
    count->setObjectName("compare.count");
    header->addWidget(key, 1);
    header->addWidget(count);
    layout_->addLayout(header);
    for (std::size_t i = 0; i < row.added.size() && i < linesPerGroup; ++i)
        layout_->addWidget(changeButton(row.added[i], green(), "+"));
    for (std::size_t i = 0; i < row.removed.size() && i < linesPerGroup; ++i)
        layout_->addWidget(changeButton(row.removed[i], red(), "\u2212"));
    const QString more = moreText(row);
    if (!more.isEmpty()) {
        auto* label = textLabel(more, caption2Font(), secondaryColor(), this);
        label->setObjectName("compare.more");
        layout_->addWidget(label);
    }
}

void CompareRowView::setSharedStart(const QString& start) {
    if (start == sharedStart_) return;
    sharedStart_ = start;
    if (auto* key = findChild<ElidedLabel*>("compare.key")) key->setSharedStart(start);
}

// ---- Sidebar ----------------------------------------------------------------------------------------------

SidebarView::SidebarView(AppModel* model, QWidget* parent) : QScrollArea(parent), model_(model) {
    setObjectName("sidebar");
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    auto* box = new QVBoxLayout(content);
    box->setContentsMargins(8, 8, 8, 8);
    box->setSpacing(6);

    // A deep stack's rows fill the column: the header folds them away, so the summary below is in reach.
    layersHeader_ = new QToolButton(content);
    layersHeader_->setObjectName("sidebar.layersHeader");
    layersHeader_->setText("Layers");
    layersHeader_->setToolTip("Show or hide the layer list");
    layersHeader_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    layersHeader_->setAutoRaise(true);
    layersHeader_->setFocusPolicy(Qt::NoFocus);
    layersHeader_->setFont(pixelFont(11, QFont::DemiBold));
    setTextColor(layersHeader_, secondaryColor());
    connect(layersHeader_, &QToolButton::clicked, this, &SidebarView::toggleLayers);
    box->addWidget(layersHeader_, 0, Qt::AlignLeft);
    layersList_ = new QWidget(content);
    layersList_->setObjectName("sidebar.layers");
    layersBox_ = new QVBoxLayout(layersList_);
    layersBox_->setContentsMargins(0, 0, 0, 0);
    layersBox_->setSpacing(0);
    box->addWidget(layersList_);
    setLayersShown(true);

    // The differences of a comparison come before the summaries of its two revisions: they are what the
    // comparison was asked for, and a summary that arrives later does not push them out of view.
    compareHeader_ = sectionHeader("Differences", "sidebar.differencesHeader");
    box->addWidget(compareHeader_);
    // A layer only one revision has comes first: it is the largest difference of all.
    unmatchedBox_ = new QVBoxLayout();
    unmatchedBox_->setSpacing(2);
    box->addLayout(unmatchedBox_);
    compareBox_ = new QVBoxLayout();
    compareBox_->setSpacing(6);
    box->addLayout(compareBox_);

    summaryHeader_ = sectionHeader("Board Summary", "sidebar.summaryHeader");
    box->addWidget(summaryHeader_);
    baseSummaryLabel_ = elidedLabel(QString(), Qt::ElideMiddle, pixelFont(10, QFont::DemiBold), QColor(), content);
    baseSummaryLabel_->setObjectName("sidebar.summaryBaseLabel");
    box->addWidget(baseSummaryLabel_);
    baseSummary_ = new SummaryGrid(BoardSummary{}, Units::mm, content);
    baseSummary_->setObjectName("sidebar.summaryBase");
    box->addWidget(baseSummary_);
    summaryLabel_ = elidedLabel(QString(), Qt::ElideMiddle, pixelFont(10, QFont::DemiBold), QColor(), content);
    summaryLabel_->setObjectName("sidebar.summaryLabel");
    box->addWidget(summaryLabel_);
    summary_ = new SummaryGrid(BoardSummary{}, Units::mm, content);
    box->addWidget(summary_);
    box->addStretch(1);
    setWidget(content);

    connect(model, &AppModel::layerStatesChanged, this, &SidebarView::syncLayers);
    connect(model, &AppModel::soloChanged, this, &SidebarView::syncSolo);
    connect(model, &AppModel::boardSummaryChanged, this, &SidebarView::syncSummary);
    connect(model, &AppModel::compareBaseSummaryChanged, this, &SidebarView::syncSummary);
    connect(model, &AppModel::compareBaseNameChanged, this, &SidebarView::syncSummary);
    connect(model, &AppModel::unitsChanged, this, &SidebarView::syncSummary);
    connect(model, &AppModel::compareDiffChanged, this, &SidebarView::syncCompare);
    connect(model, &AppModel::compareRowsChanged, this, &SidebarView::syncCompare);
    syncLayers();
    syncSummary();
    syncCompare();
}

QLabel* SidebarView::sectionHeader(const QString& title, const char* name) {
    auto* label = textLabel(title, pixelFont(11, QFont::DemiBold), secondaryColor());
    label->setObjectName(name);
    return label;
}

LayerRow* SidebarView::layerRow(const std::string& id) const {
    const auto it = layerRows_.find(id);
    return it == layerRows_.end() ? nullptr : it->second;
}

CompareRowView* SidebarView::compareRow(const std::string& layerKey) const {
    const auto it = compareRows_.find(layerKey);
    return it == compareRows_.end() ? nullptr : it->second;
}

void SidebarView::syncLayers() {
    if (!model_) return;
    const auto& states = model_->layerStates();
    // Rows are kept and updated by id: recreating them would close a colour popup at its first change.
    std::map<std::string, LayerRow*> keep;
    for (const auto& state : states) {
        if (keep.count(state.id)) continue;  // ids are file names, unique within a package
        auto it = layerRows_.find(state.id);
        LayerRow* row = nullptr;
        if (it != layerRows_.end()) {
            row = it->second;
            row->update(state);
            layerRows_.erase(it);
        } else {
            row = new LayerRow(model_.data(), state, widget());
        }
        keep.emplace(state.id, row);
    }
    for (auto& [id, row] : layerRows_) delete row;
    layerRows_ = std::move(keep);
    std::vector<std::string> names;
    for (const auto& state : states) names.push_back(state.displayName);
    const QString start = qs(sharedStart(names));
    for (auto& [id, row] : layerRows_) row->setSharedStart(start);
    // Put the rows in list order; a row already in place is not moved.
    int position = 0;
    for (const auto& state : states) {
        LayerRow* row = layerRows_.at(state.id);
        if (layersBox_->indexOf(row) != position) {
            layersBox_->removeWidget(row);
            layersBox_->insertWidget(position, row);
        }
        ++position;
    }
}

QString SidebarView::fileNameStart(const AppModel::PackagePtr& package) {
    std::vector<std::string> names;
    if (package)
        for (const auto& file : package->files) names.push_back(file.fileName);
    return qs(sharedStart(names));
}

std::string SidebarView::sharedStart(const std::vector<std::string>& names) {
    const auto isSeparator = [](char c) { return c == '-' || c == '_' || c == '.' || c == ' '; };
    const auto firstWord = [&](const std::string& name) {
        const auto end = std::find_if(name.begin(), name.end(), isSeparator);
        return end == name.end() ? std::string() : std::string(name.begin(), end + 1);
    };
    std::map<std::string, std::vector<const std::string*>> groups;
    for (const auto& name : names)
        if (auto word = firstWord(name); !word.empty()) groups[word].push_back(&name);
    const auto largest = std::max_element(groups.begin(), groups.end(),
                                          [](const auto& a, const auto& b) { return a.second.size() < b.second.size(); });
    if (largest == groups.end() || largest->second.size() < 2) return {};
    std::string start = *largest->second.front();
    for (const std::string* name : largest->second) {
        const auto [a, b] = std::mismatch(start.begin(), start.end(), name->begin(), name->end());
        start.erase(a, start.end());
    }
    // Cut back to a separator, so that no word is split.
    const auto cut = std::find_if(start.rbegin(), start.rend(), isSeparator);
    start.erase(cut.base(), start.end());
    return start;
}

void SidebarView::syncSolo() {
    for (auto& [id, row] : layerRows_) row->updateSolo();
}

void SidebarView::setLayersShown(bool shown) {
    layersList_->setVisible(shown);
    setSymbol(layersHeader_, shown ? "chevron.down" : "chevron.right", secondaryColor());
    layersHeader_->setText("Layers");
    layersHeader_->setProperty("expanded", shown);
}

void SidebarView::toggleLayers() { setLayersShown(!layersShown()); }

bool SidebarView::layersShown() const { return !layersList_->isHidden(); }

void SidebarView::syncSummary() {
    if (!model_) return;
    const auto& summary = model_->boardSummary();
    const AppModel::PackagePtr& base = model_->compareBase();
    const auto& baseSummary = model_->compareBaseSummary();
    summaryHeader_->setVisible(summary.has_value() || (base && baseSummary.has_value()));
    summary_->setVisible(summary.has_value());
    if (summary && model_->package())
        summary_->setSummary(*summary, model_->units(), BoardSummaryEngine::sizeSource(*model_->package()));
    // Comparing, both revisions are summarised, each under its name.
    const bool both = base && baseSummary;
    baseSummaryLabel_->setVisible(both);
    baseSummary_->setVisible(both);
    summaryLabel_->setVisible(both && summary);
    if (!both) return;
    const auto titles = model_->revisionTitles();
    baseSummaryLabel_->setText(qs(titles[0]));
    baseSummaryLabel_->setToolTip(baseSummaryLabel_->text());
    baseSummary_->setSummary(*baseSummary, model_->units(), BoardSummaryEngine::sizeSource(*base));
    summaryLabel_->setText(qs(titles[1]));
    summaryLabel_->setToolTip(summaryLabel_->text());
}

void SidebarView::syncCompare() {
    if (!model_) return;
    const bool comparing = model_->compareDiff().has_value();
    // The layer rows do not apply to the comparison's picture: they fold away while it is shown, so that its
    // differences are in view at once, and come back after it unless the reviewer opened them meanwhile.
    if (comparing && !comparing_) {
        layersFoldedForCompare_ = layersShown();
        setLayersShown(false);
        verticalScrollBar()->setValue(0);
    } else if (!comparing && comparing_) {
        if (layersFoldedForCompare_ && !layersShown()) setLayersShown(true);
        layersFoldedForCompare_ = false;
    }
    comparing_ = comparing;
    compareHeader_->setVisible(comparing);
    const std::vector<CompareRow> none;
    const auto& rows = comparing ? model_->compareRows() : none;
    const QString start = comparing ? fileNameStart(model_->package()) : QString();
    std::map<std::string, CompareRowView*> keep;
    int position = 0;
    for (const auto& row : rows) {
        if (keep.count(row.layerKey)) continue;
        auto it = compareRows_.find(row.layerKey);
        CompareRowView* view = nullptr;
        if (it != compareRows_.end()) {
            view = it->second;
            view->setRow(row);
            compareRows_.erase(it);
        } else {
            view = new CompareRowView(model_.data(), row, widget());
        }
        view->setSharedStart(start);
        keep.emplace(row.layerKey, view);
        if (compareBox_->indexOf(view) != position) {
            compareBox_->removeWidget(view);
            compareBox_->insertWidget(position, view);
        }
        ++position;
    }
    for (auto& [key, view] : compareRows_) delete view;
    compareRows_ = std::move(keep);
    syncUnmatched();
}

std::vector<std::string> SidebarView::unmatchedLines(const PackageDiff& diff) {
    std::vector<std::string> lines;
    for (const auto& file : diff.unmatchedFilesA) lines.push_back("Only in " + diff.nameA + ": " + file);
    for (const auto& file : diff.unmatchedFilesB) lines.push_back("Only in " + diff.nameB + ": " + file);
    return lines;
}

void SidebarView::syncUnmatched() {
    std::vector<std::string> lines;
    if (model_ && model_->compareDiff()) lines = unmatchedLines(*model_->compareDiff());
    std::vector<std::string> shown;
    for (int i = 0; i < unmatchedBox_->count(); ++i)
        if (auto* label = qobject_cast<QLabel*>(unmatchedBox_->itemAt(i)->widget())) shown.push_back(ss(label->text()));
    if (shown != lines) {
        clearLayout(unmatchedBox_);
        // File names of one package share a long start: the middle gives way, the end that tells them apart stays.
        for (const auto& line : lines) {
            auto* label = elidedLabel(qs(line), Qt::ElideMiddle, captionFont(), orange(), widget());
            label->setObjectName("compare.unmatched");
            unmatchedBox_->addWidget(label);
        }
    }
    if (lines.empty()) return;
    // Each line keeps the revision that has the file; the start its package's file names share gives way first.
    // Set on every change, since the comparison arrives before the revision it shows.
    const PackageDiff& diff = *model_->compareDiff();
    const QString startA = fileNameStart(model_->compareBase()), startB = fileNameStart(model_->package());
    for (int i = 0; i < unmatchedBox_->count(); ++i) {
        auto* label = qobject_cast<ElidedLabel*>(unmatchedBox_->itemAt(i)->widget());
        if (!label) continue;
        const bool inA = static_cast<std::size_t>(i) < diff.unmatchedFilesA.size();
        label->setKeptStart(qs("Only in " + (inA ? diff.nameA : diff.nameB) + ": "));
        label->setSharedStart(inA ? startA : startB);
    }
}

} // namespace corvane
