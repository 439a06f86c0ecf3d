#include "panels/DetailsPanel.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <tuple>

#include "checks/PackageWarnings.hpp"
#include "model/NotificationHub.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

namespace {

QLabel* header(const QString& title, const char* name, QWidget* parent) {
    auto* label = textLabel(title, pixelFont(11, QFont::DemiBold), secondaryColor(), parent);
    label->setObjectName(name);
    return label;
}

QLabel* wrapped(const QString& text, const QFont& font, const QColor& color, const char* name, QWidget* parent) {
    auto* label = textLabel(text, font, color, parent);
    label->setWordWrap(true);
    label->setObjectName(name);
    return label;
}

} // namespace

DetailsPanel::DetailsPanel(AppModel* model, QWidget* parent) : QScrollArea(parent), model_(model) {
    setObjectName("inspector");
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    auto* box = new QVBoxLayout(content);
    box->setContentsMargins(10, 8, 10, 8);
    box->setSpacing(6);

    box->addWidget(header("Inspector", "inspector.inspectHeader", content));
    inspectBox_ = new QVBoxLayout();
    inspectBox_->setSpacing(2);
    box->addLayout(inspectBox_);

    box->addSpacing(8);
    measurementsHeader_ = header(QString(), "inspector.measurementsHeader", content);
    box->addWidget(measurementsHeader_);
    measurementsBox_ = new QVBoxLayout();
    measurementsBox_->setSpacing(2);
    box->addLayout(measurementsBox_);
    auto* clearButton = new QPushButton("Clear measurements", content);
    clearButton->setObjectName("inspector.clear");
    clearButton->setFont(captionFont());
    clearButton->setAutoDefault(false);
    connect(clearButton, &QPushButton::clicked, this, [this] {
        if (model_) model_->clearMeasurements();
    });
    box->addWidget(clearButton, 0, Qt::AlignLeft);

    box->addSpacing(8);
    box->addWidget(header("Quick Checks", "inspector.checksHeader", content));
    checksBox_ = new QVBoxLayout();
    checksBox_->setSpacing(4);
    box->addLayout(checksBox_);

    box->addSpacing(8);
    box->addWidget(header("Privacy", "inspector.privacyHeader", content));
    auto* privacy = new QHBoxLayout();
    privacy->addWidget(symbolLabel("lock.shield", green(), 11, content));
    auto* privacyLabel = wrapped(privacyText, captionFont(), green(), "inspector.privacy", content);
    privacy->addWidget(privacyLabel, 1);
    box->addLayout(privacy);
    box->addStretch(1);
    setWidget(content);

    connect(model, &AppModel::selectionChanged, this, &DetailsPanel::syncSelection);
    connect(model, &AppModel::unitsChanged, this, &DetailsPanel::syncSelection);
    connect(model, &AppModel::measurementsChanged, this, &DetailsPanel::syncMeasurements);
    for (auto signal : {&AppModel::dfmReportChanged, &AppModel::compareBaseReportChanged, &AppModel::packageChanged,
                        &AppModel::compareBaseChanged, &AppModel::compareBaseNameChanged})
        connect(model, signal, this, &DetailsPanel::syncChecks);
    syncSelection();
    syncMeasurements();
    syncChecks();
}

QString DetailsPanel::measurementsTitle(std::size_t count) {
    return qs("Measurements (last " + std::to_string(count) + ")");
}

void DetailsPanel::syncSelection() {
    if (!model_) return;
    clearLayout(inspectBox_);
    QWidget* content = widget();
    const auto& selection = model_->selection();
    if (!selection) {
        inspectBox_->addWidget(wrapped(hintText, captionFont(), secondaryColor(), "inspector.hint", content));
        return;
    }
    for (const auto& [label, value] : model_->measureEngine().inspect(*selection, model_->units())) {
        // A value too long for the label's line gets one of its own, wrapped at blanks only: a value wrapped
        // inside its numbers reads as three values.
        QWidget* row = labelValueRow(qs(label), pixelFont(11), secondaryColor(), qs(value),
                                     pixelFont(11, QFont::Normal, true), "inspector.value", content);
        row->setObjectName(qs("inspector.row:" + label));
        inspectBox_->addWidget(row);
    }
}

void DetailsPanel::syncMeasurements() {
    if (!model_) return;
    clearLayout(measurementsBox_);
    QWidget* content = widget();
    const auto& list = model_->measurements();
    measurementsHeader_->setText(measurementsTitle(list.size()));
    for (const auto& m : list) {
        QWidget* row = labelValueRow(qs(std::string(m.kind.rawValue())), captionFont(), secondaryColor(), qs(m.label),
                                     pixelFont(11, QFont::Medium, true), "inspector.measurementLabel", content);
        row->setObjectName("inspector.measurement");
        measurementsBox_->addWidget(row);
    }
    if (list.empty())
        measurementsBox_->addWidget(wrapped("Use Measure / \u0394X / \u0394Y tools on the canvas.", captionFont(),
                                            secondaryColor(), "inspector.measurementsHint", content));
}

QString DetailsPanel::packageWarningsText(std::size_t count) {
    return qs(std::to_string(count) + (count == 1 ? " package warning" : " package warnings"));
}

void DetailsPanel::addCounts(const std::optional<DFMReport>& report, const PCBPackage* package, bool withDetails) {
    QWidget* content = widget();
    const std::size_t warnings = package ? packageWarnings(*package, report).size() : 0;
    if (!report) {
        checksBox_->addWidget(wrapped("No checks run yet.", captionFont(), secondaryColor(), "inspector.noChecks", content));
    } else {
        auto* counts = new QHBoxLayout();
        counts->addWidget(symbolLabel("xmark.octagon.fill", red(), 11, content));
        auto* errors = textLabel(qs(std::to_string(report->errorCount())), pixelFont(11), red(), content);
        errors->setObjectName("inspector.errorCount");
        counts->addWidget(errors);
        counts->addSpacing(8);
        counts->addWidget(symbolLabel("exclamationmark.triangle.fill", orange(), 11, content));
        auto* warningCount = textLabel(qs(std::to_string(report->warningCount())), pixelFont(11), orange(), content);
        warningCount->setObjectName("inspector.warningCount");
        counts->addWidget(warningCount);
        counts->addStretch(1);
        if (withDetails) {
            auto* details = linkButton("Details", content);
            details->setObjectName("inspector.details");
            connect(details, &QPushButton::clicked, this, [] { Notifications::post(Notifications::openChecksSheet2); });
            counts->addWidget(details);
        }
        checksBox_->addLayout(counts);
    }
    // The package's own warnings (files not read, elements left out) belong to the review as much as the checks.
    if (warnings > 0)
        checksBox_->addWidget(wrapped(packageWarningsText(warnings), captionFont(), orange(), "inspector.packageWarnings",
                                      content));
}

void DetailsPanel::syncChecks() {
    if (!model_) return;
    clearLayout(checksBox_);
    QWidget* content = widget();
    const AppModel::PackagePtr& base = model_->compareBase();
    const AppModel::PackagePtr& shown = model_->package();
    if (base) {
        // Comparing: both revisions' counts, each under its name; the sheet lists their findings.
        const auto titles = model_->revisionTitles();
        for (const auto& [label, report, package] : {std::tuple{titles[0], &model_->compareBaseReport(), base.get()},
                                                     std::tuple{titles[1], &model_->dfmReport(), shown.get()}}) {
            auto* name = elidedLabel(qs(label), Qt::ElideMiddle, pixelFont(10, QFont::DemiBold), QColor(), content);
            name->setObjectName("inspector.revision");
            checksBox_->addWidget(name);
            addCounts(*report, package, false);
        }
        auto* details = linkButton("Details", content);
        details->setObjectName("inspector.details");
        connect(details, &QPushButton::clicked, this, [] { Notifications::post(Notifications::openChecksSheet2); });
        checksBox_->addWidget(details, 0, Qt::AlignLeft);
        return;
    }
    const auto& report = model_->dfmReport();
    addCounts(report, shown.get(), true);
    if (!report) return;
    for (std::size_t i = 0; i < report->issues.size() && i < shownIssues; ++i) {
        const auto& issue = report->issues[i];
        auto* item = new QWidget(content);
        item->setObjectName("inspector.issue");
        auto* v = new QVBoxLayout(item);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(1);
        auto* title = textLabel(qs(issue.title), pixelFont(11, QFont::Medium), QColor(), item);
        title->setObjectName("inspector.issueTitle");
        title->setWordWrap(true);
        v->addWidget(title);
        auto* message = textLabel(qs(issue.message), caption2Font(), secondaryColor(), item);
        message->setWordWrap(true);
        v->addWidget(message);
        checksBox_->addWidget(item);
    }
}

} // namespace corvane
