#include "sheets/ChecksSheet.hpp"

#include <algorithm>

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <tuple>

#include "model/NotificationHub.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

ChecksSheet::ChecksSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.checks", "checkmark.shield.fill", green(), "Quick Checks", 12), model_(model) {
    setMinimumSize(minimumSheetWidth, 400);
    setPreferredSize(QSize(560, 400));
    counts_ = textLabel(QString(), captionFont(), secondaryColor(), this);
    counts_->setObjectName("checks.counts");
    headerRow()->addWidget(counts_);
    // The preset controls on a line of their own: beside the title they would crowd it out of a narrow window.
    auto* controls = new QHBoxLayout();
    controls->addStretch(1);
    presetMenu_ = new QToolButton(this);
    presetMenu_->setObjectName("checks.preset");
    presetMenu_->setPopupMode(QToolButton::InstantPopup);
    presetMenu_->setMenu(new QMenu(presetMenu_));
    controls->addWidget(presetMenu_);
    auto* edit = plainButton("Edit Presets\u2026", this);
    edit->setObjectName("checks.editPresets");
    // This sheet stays open; the presets sheet opens over it.
    connect(edit, &QPushButton::clicked, this, [] { Notifications::post(Notifications::openPresetSheet); });
    controls->addWidget(edit);
    body()->addLayout(controls);

    list_ = new QScrollArea(this);
    list_->setObjectName("checks.list");
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body()->addWidget(list_, 1);
    passed_ = new QWidget(this);
    passed_->setObjectName("checks.passed");
    auto* passedBox = new QVBoxLayout(passed_);
    passedBox->setSpacing(8);
    passedBox->addStretch(1);
    passedBox->addWidget(symbolLabel("checkmark.seal.fill", green(), 40, passed_), 0, Qt::AlignHCenter);
    passedBox->addWidget(textLabel("All quick checks passed.", pixelFont(13), secondaryColor(), passed_), 0, Qt::AlignHCenter);
    passedBox->addStretch(1);
    body()->addWidget(passed_, 1);

    auto* note = textLabel("Deterministic checks only. Professional rules (min trace/space/annular) use your preset "
                           "values \u2014 no factory data is hard-coded.",
                           caption2Font(), tertiaryColor(), this);
    note->setWordWrap(true);
    footerRow()->addWidget(note, 1);
    footerRow()->addStretch(0);
    finishFooter();

    for (auto signal : {&AppModel::dfmReportChanged, &AppModel::compareBaseReportChanged, &AppModel::packageChanged,
                        &AppModel::compareBaseChanged})
        connect(model, signal, this, &ChecksSheet::syncReport);
    connect(model, &AppModel::presetsChanged, this, &ChecksSheet::syncPresets);
    connect(model, &AppModel::activePresetChanged, this, &ChecksSheet::syncPresets);
    syncReport();
    syncPresets();
}

QString ChecksSheet::countsText(const DFMReport& report) {
    const std::int64_t errors = report.errorCount(), warnings = report.warningCount();
    return qs(std::to_string(errors) + (errors == 1 ? " error \u00B7 " : " errors \u00B7 ") + std::to_string(warnings) +
              (warnings == 1 ? " warning" : " warnings"));
}

QString ChecksSheet::presetLabel(const std::optional<ManufacturingPreset>& preset) {
    return qs("Preset: " + (preset ? preset->name : std::string("None")));
}

void ChecksSheet::syncPresets() {
    if (!model_) return;
    presetMenu_->setText(presetLabel(model_->activePreset()));
    QMenu* menu = presetMenu_->menu();
    menu->clear();
    QAction* none = menu->addAction("None");
    connect(none, &QAction::triggered, this, [this] {
        if (model_) model_->setActivePreset(std::nullopt);
    });
    for (const auto& preset : model_->presets()) {
        QAction* item = menu->addAction(qs(preset.name));
        // A copy: the list may change while the menu is open.
        connect(item, &QAction::triggered, this, [this, preset] {
            if (model_) model_->setActivePreset(preset);
        });
    }
}

namespace {

// A row of the findings list: its symbol at the top left, then a column for its texts (laid out by the
// caller, which adds the column once it is filled).
struct FindingRow {
    QWidget* row;
    QHBoxLayout* h;
    QVBoxLayout* texts;
};

FindingRow findingRow(const char* name, const char* symbol, const QColor& color, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName(name);
    auto* h = new QHBoxLayout(row);
    h->setSpacing(8);
    h->setContentsMargins(4, 4, 4, 4);
    h->addWidget(symbolLabel(symbol, color, 13, row), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    return {row, h, texts};
}

} // namespace

QWidget* ChecksSheet::issueRow(const CheckIssue& issue, QWidget* parent) {
    static constexpr const char* symbols[] = {"xmark.octagon.fill", "exclamationmark.triangle.fill", "info.circle.fill"};
    const QColor colors[] = {red(), orange(), blue()};
    const auto severity = static_cast<std::size_t>(static_cast<CheckSeverity::Value>(issue.severity));
    auto [row, h, texts] = findingRow("checks.issue", symbols[severity], colors[severity], parent);
    h->itemAt(0)->widget()->setObjectName("checks.severity");
    auto* title = textLabel(qs(issue.title), pixelFont(12, QFont::DemiBold), QColor(), row);
    title->setObjectName("checks.title");
    title->setWordWrap(true);
    texts->addWidget(title);
    auto* message = textLabel(qs(issue.message), captionFont(), secondaryColor(), row);
    message->setObjectName("checks.message");
    message->setWordWrap(true);
    texts->addWidget(message);
    if (issue.fileName) {
        auto* file = elidedLabel(qs(*issue.fileName), Qt::ElideMiddle, caption2Font(), tertiaryColor(), row);
        file->setObjectName("checks.file");
        texts->addWidget(file);
    }
    h->addLayout(texts, 1);
    if (issue.position) {
        auto* locate = linkButton("Locate", row);
        locate->setObjectName("checks.locate");
        const Vec2 at = *issue.position;
        connect(locate, &QPushButton::clicked, this, [this, at] { this->locate(at); });
        h->addWidget(locate, 0, Qt::AlignTop);
    }
    return row;
}

QWidget* ChecksSheet::warningRow(const PackageWarning& warning, QWidget* parent) {
    auto [row, h, texts] = findingRow("checks.packageWarning", "exclamationmark.triangle.fill", orange(), parent);
    // Warnings name files and paths: shown whole, wrapped inside a long name if need be.
    auto* text = new WrappedLabel(row);
    text->setObjectName("checks.warningText");
    text->setFont(captionFont());
    text->setWholeText(qs(warning.text));
    texts->addWidget(text);
    if (!warning.files.empty()) {
        auto* files = new WrappedLabel(row);
        files->setObjectName("checks.warningFiles");
        files->setFont(caption2Font());
        setTextColor(files, tertiaryColor());
        files->setWholeText(qs(warning.filesText()));
        texts->addWidget(files);
    }
    h->addLayout(texts, 1);
    return row;
}

void ChecksSheet::addStateLine(QVBoxLayout* box, const char* name, const QString& text, const char* symbol,
                               const QColor& color) {
    auto* line = new QWidget(box->parentWidget());
    line->setObjectName(name);
    auto* h = new QHBoxLayout(line);
    h->setContentsMargins(4, 4, 4, 4);
    h->setSpacing(8);
    if (symbol) h->addWidget(symbolLabel(symbol, color, 13, line));
    auto* label = textLabel(text, captionFont(), secondaryColor(), line);
    label->setWordWrap(true);
    h->addWidget(label, 1);
    box->addWidget(line);
}

bool ChecksSheet::addFindings(QVBoxLayout* box, const std::optional<DFMReport>& report, const PCBPackage* package,
                              bool compact) {
    const std::vector<PackageWarning> warnings = package ? packageWarnings(*package, report) : std::vector<PackageWarning>{};
    // Nothing is said to have passed that has not run.
    if (!package) {
        addStateLine(box, "checks.noBoard", "No board is open.", nullptr, QColor());
        return true;
    }
    if (!report) {
        addStateLine(box, "checks.pending",
                     model_ && model_->checksPending() ? "The checks are running\u2026" : "No checks run yet.", nullptr,
                     QColor());
    } else if (report->issues.empty()) {
        if (warnings.empty() && !compact) return false;
        addStateLine(box, "checks.passedLine", "All quick checks passed.", "checkmark.seal.fill", green());
    } else {
        for (const auto& issue : report->issues) box->addWidget(issueRow(issue, box->parentWidget()));
    }
    if (!warnings.empty()) {
        auto* header = textLabel(qs("Package warnings (" + std::to_string(warnings.size()) + ")"),
                                 pixelFont(11, QFont::DemiBold), secondaryColor(), box->parentWidget());
        header->setObjectName("checks.packageWarnings");
        box->addWidget(header);
        for (const auto& w : warnings) box->addWidget(warningRow(w, box->parentWidget()));
    }
    return true;
}

namespace {

// The largest of the four strips of `canvas` beside `cover`, by its shorter side; the whole canvas when the
// two do not meet.
QRect freeStrip(const QRect& canvas, const QRect& cover) {
    if (!canvas.intersects(cover)) return canvas;
    const QRect strips[] = {
        QRect(QPoint(canvas.left(), canvas.top()), QPoint(cover.left() - 1, canvas.bottom())),
        QRect(QPoint(cover.right() + 1, canvas.top()), QPoint(canvas.right(), canvas.bottom())),
        QRect(QPoint(canvas.left(), canvas.top()), QPoint(canvas.right(), cover.top() - 1)),
        QRect(QPoint(canvas.left(), cover.bottom() + 1), QPoint(canvas.right(), canvas.bottom())),
    };
    QRect best;
    int bestSide = 0;
    for (const QRect& strip : strips) {
        const QRect part = strip.intersected(canvas);
        const int side = part.isValid() ? std::min(part.width(), part.height()) : 0;
        if (side > bestSide) {
            best = part;
            bestSide = side;
        }
    }
    return best;
}

int shorterSide(const QRect& r) { return r.isValid() ? std::min(r.width(), r.height()) : 0; }

} // namespace

ChecksSheet::Placement ChecksSheet::placementBeside(const QRect& sheet, const QRect& canvas, const QRect& window) {
    const Placement here{sheet, freeStrip(canvas, sheet)};
    if (shorterSide(here.free) >= leastFreeSidePx) return here;
    // Against either side of the window, or the top or bottom of the canvas (between the tools and the status
    // bar); of those, where the free part is largest, and of equals the nearest.
    const int m = areaMargin;
    const int xs[] = {sheet.left(), window.left() + m, std::max(window.left() + m, window.right() - m - sheet.width() + 1)};
    const int ys[] = {sheet.top(), canvas.top() + m, std::max(canvas.top() + m, canvas.bottom() - m - sheet.height() + 1)};
    Placement best = here;
    int bestSide = shorterSide(here.free), bestDistance = 0;
    for (int x : xs) {
        for (int y : ys) {
            const QRect moved(QPoint(x, y), sheet.size());
            const QRect free = freeStrip(canvas, moved);
            const int side = shorterSide(free);
            const int distance = (moved.topLeft() - sheet.topLeft()).manhattanLength();
            if (side > bestSide || (side == bestSide && distance < bestDistance)) {
                best = Placement{moved, free};
                bestSide = side;
                bestDistance = distance;
            }
        }
    }
    return best;
}

void ChecksSheet::locate(Vec2 at) {
    if (!model_) return;
    QWidget* canvas = model_->canvasView();
    if (!canvas || !canvas->isVisible() || !isVisible()) return model_->locate(at, locateSpanMM);
    // The sheet stays open beside the place, not over it: the reviewer goes from one finding to the next.
    const QRect canvasRect(canvas->mapToGlobal(QPoint(0, 0)), canvas->size());
    QWidget* window = canvas->window();
    const QRect windowRect(window->mapToGlobal(QPoint(0, 0)), window->size());
    const QRect frame = frameGeometry();
    const Placement placed = placementBeside(frame, canvasRect, windowRect);
    if (placed.sheet.topLeft() != frame.topLeft()) move(pos() + (placed.sheet.topLeft() - frame.topLeft()));
    const QRect free(canvas->mapFromGlobal(placed.free.topLeft()), placed.free.size());
    model_->locate(at, locateSpanMM, QRectF(free));
}

void ChecksSheet::syncReport() {
    if (!model_) return;
    const AppModel::PackagePtr& shown = model_->package();
    const AppModel::PackagePtr& base = model_->compareBase();
    const auto& report = model_->dfmReport();
    counts_->setVisible(report.has_value() && !base);
    if (report) counts_->setText(countsText(*report));

    auto* content = new QWidget();
    auto* v = new QVBoxLayout(content);
    v->setSpacing(2);
    bool listed = true;
    if (base) {
        // Comparing: both revisions whole, revision A first, each under its name with its counts.
        const auto titles = model_->revisionTitles();
        for (const auto& [label, revisionReport, package] : {std::tuple{titles[0], &model_->compareBaseReport(), base.get()},
                                                             std::tuple{titles[1], &model_->dfmReport(), shown.get()}}) {
            std::string heading = label;
            if (*revisionReport) heading += "  \u00B7  " + ss(countsText(**revisionReport));
            auto* header = elidedLabel(qs(heading), Qt::ElideMiddle, pixelFont(12, QFont::DemiBold), QColor(), content);
            header->setObjectName("checks.revision");
            v->addSpacing(4);
            v->addWidget(header);
            addFindings(v, *revisionReport, package, true);
        }
    } else {
        listed = addFindings(v, report, shown.get(), false);
    }
    v->addStretch(1);
    list_->setWidget(content);
    list_->setVisible(listed);
    passed_->setVisible(!listed);
}

} // namespace corvane
