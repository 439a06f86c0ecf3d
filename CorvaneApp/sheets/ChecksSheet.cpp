#include "sheets/ChecksSheet.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/NotificationHub.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

ChecksSheet::ChecksSheet(AppModel* model, QWidget* parent)
    : SheetFrame(parent, "sheet.checks", "checkmark.shield.fill", green(), "Quick Checks", 12), model_(model) {
    setMinimumSize(560, 400);
    counts_ = textLabel(QString(), captionFont(), secondaryColor(), this);
    counts_->setObjectName("checks.counts");
    headerRow()->addWidget(counts_);
    presetMenu_ = new QToolButton(this);
    presetMenu_->setObjectName("checks.preset");
    presetMenu_->setPopupMode(QToolButton::InstantPopup);
    presetMenu_->setMenu(new QMenu(presetMenu_));
    headerRow()->addWidget(presetMenu_);
    auto* edit = plainButton("Edit Presets\u2026", this);
    edit->setObjectName("checks.editPresets");
    // This sheet stays open; the presets sheet opens over it.
    connect(edit, &QPushButton::clicked, this, [] { Notifications::post(Notifications::openPresetSheet); });
    headerRow()->addWidget(edit);

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

    connect(model, &AppModel::dfmReportChanged, this, &ChecksSheet::syncReport);
    connect(model, &AppModel::presetsChanged, this, &ChecksSheet::syncPresets);
    connect(model, &AppModel::activePresetChanged, this, &ChecksSheet::syncPresets);
    syncReport();
    syncPresets();
}

QString ChecksSheet::countsText(const DFMReport& report) {
    return qs(std::to_string(report.errorCount()) + " errors \u00B7 " + std::to_string(report.warningCount()) + " warnings");
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

QWidget* ChecksSheet::issueRow(const CheckIssue& issue, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName("checks.issue");
    auto* h = new QHBoxLayout(row);
    h->setSpacing(8);
    h->setContentsMargins(4, 4, 4, 4);
    static constexpr const char* symbols[] = {"xmark.octagon.fill", "exclamationmark.triangle.fill", "info.circle.fill"};
    const QColor colors[] = {red(), orange(), blue()};
    const auto severity = static_cast<std::size_t>(static_cast<CheckSeverity::Value>(issue.severity));
    auto* icon = symbolLabel(symbols[severity], colors[severity], 13, row);
    icon->setObjectName("checks.severity");
    h->addWidget(icon, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(2);
    auto* title = textLabel(qs(issue.title), pixelFont(12, QFont::DemiBold), QColor(), row);
    title->setObjectName("checks.title");
    texts->addWidget(title);
    auto* message = textLabel(qs(issue.message), captionFont(), secondaryColor(), row);
    message->setObjectName("checks.message");
    message->setWordWrap(true);
    texts->addWidget(message);
    if (issue.fileName) {
        auto* file = textLabel(qs(*issue.fileName), caption2Font(), tertiaryColor(), row);
        file->setObjectName("checks.file");
        texts->addWidget(file);
    }
    h->addLayout(texts, 1);
    if (issue.position) {
        auto* locate = linkButton("Locate", row);
        locate->setObjectName("checks.locate");
        const Vec2 at = *issue.position;
        connect(locate, &QPushButton::clicked, this, [this, at] {
            if (model_) model_->zoomTo(at, locateSpanMM);
        });
        h->addWidget(locate, 0, Qt::AlignTop);
    }
    return row;
}

void ChecksSheet::syncReport() {
    if (!model_) return;
    const auto& report = model_->dfmReport();
    counts_->setVisible(report.has_value());
    if (report) counts_->setText(countsText(*report));
    const bool listed = report && !report->issues.empty();
    list_->setVisible(listed);
    passed_->setVisible(!listed);
    auto* content = new QWidget();
    auto* v = new QVBoxLayout(content);
    v->setSpacing(2);
    if (listed)
        for (const auto& issue : report->issues) v->addWidget(issueRow(issue, content));
    v->addStretch(1);
    list_->setWidget(content);
}

} // namespace corvane
