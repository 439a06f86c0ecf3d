#include "window/StatusBarView.hpp"

#include <algorithm>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <QPainter>

#include "checks/PackageWarnings.hpp"
#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"
#include "panels/SymbolIcons.hpp"
#include "model/Format.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

namespace {
constexpr double kMMPerMil = 0.0254;

QString qs(const std::string& s) { return QString::fromStdString(s); }

QLabel* captionLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setFont(ui::captionFont());
    ui::setTextColor(label, ui::secondaryColor());
    return label;
}

QCheckBox* toggle(const QString& title, const QString& name, QWidget* parent) {
    auto* box = new QCheckBox(title, parent);
    box->setObjectName(name);
    box->setFont(ui::captionFont());
    box->setFocusPolicy(Qt::NoFocus);
    return box;
}
} // namespace

std::string StatusBarView::cursorText(const Vec2& point, Units units) {
    if (units == Units::mil)
        return "X " + formatFixed(point.x / kMMPerMil, 1) + "  Y " + formatFixed(point.y / kMMPerMil, 1) + " mil";
    return "X " + formatFixed(point.x, 3) + "  Y " + formatFixed(point.y, 3) + " mm";
}

std::string StatusBarView::zoomText(double pxPerMM) { return formatFixed(pxPerMM, 1) + "\u00D7"; }

std::string StatusBarView::warningsText(std::size_t count) {
    // Named apart from the checks' warnings, which the inspector and Quick Checks count beside these.
    return std::to_string(count) + (count == 1 ? " package warning" : " package warnings");
}

std::size_t StatusBarView::packageWarningCount(const AppModel& model) {
    std::size_t count = 0;
    if (model.package()) count += packageWarnings(*model.package(), model.dfmReport()).size();
    if (model.compareBase()) count += packageWarnings(*model.compareBase(), model.compareBaseReport()).size();
    return count;
}

StatusBarView::StatusBarView(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
    setObjectName("statusBar");
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(10, 4, 10, 4);
    rows->setSpacing(2);
    row_ = new QHBoxLayout();
    QHBoxLayout* row = row_;
    row->setSpacing(8);
    rows->addLayout(row);

    // The package name gives way first: it is also the sidebar's and the window's subject.
    packageName_ = new ui::ElidedLabel(Qt::ElideMiddle, this);
    packageName_->setObjectName("status.package");
    packageName_->setFont(ui::captionFont());
    ui::setTextColor(packageName_, ui::secondaryColor());
    fileCount_ = captionLabel("status.fileCount", this);
    row->addWidget(packageName_);
    row->addWidget(fileCount_);
    // The package's own warnings, counted where they are seen at all times; a click lists them.
    warnings_ = new QPushButton(this);
    warnings_->setObjectName("status.warnings");
    warnings_->setFlat(true);
    warnings_->setAutoDefault(false);
    warnings_->setFocusPolicy(Qt::NoFocus);
    warnings_->setCursor(Qt::PointingHandCursor);
    warnings_->setFont(ui::captionFont());
    warnings_->setIcon(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), ui::orange()));
    warnings_->setIconSize(QSize(11, 11));
    warnings_->setProperty("symbol", QStringLiteral("exclamationmark.triangle.fill"));
    warnings_->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 2px; }"));
    ui::setTextColor(warnings_, ui::orange());
    connect(warnings_, &QPushButton::clicked, this, [] { Notifications::post(Notifications::openChecksSheet2); });
    row->addWidget(warnings_);
    row->addStretch(1);
    cursor_ = new QLabel(this);
    cursor_->setObjectName("status.cursor");
    cursor_->setFont(ui::pixelFont(11, QFont::Normal, true));
    row->addWidget(cursor_);
    zoom_ = captionLabel("status.zoom", this);
    row->addWidget(zoom_);
    message_ = new ui::ElidedLabel(Qt::ElideRight, this);
    message_->setObjectName("status.message");
    message_->setFont(ui::captionFont());
    ui::setTextColor(message_, ui::secondaryColor());
    message_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    row->addWidget(message_);
    // A message too long for the line (an import error naming its file, say) gets a line of its own,
    // wrapped, so it is read whole; the switches stay where they are.
    messageLine_ = new ui::WrappedLabel(this);
    messageLine_->setObjectName("status.messageLine");
    messageLine_->setFont(ui::captionFont());
    ui::setTextColor(messageLine_, ui::secondaryColor());
    messageLine_->hide();

    grid_ = toggle(QStringLiteral("Grid"), QStringLiteral("status.grid"), this);
    origin_ = toggle(QStringLiteral("Origin"), QStringLiteral("status.origin"), this);
    crosshair_ = toggle(QStringLiteral("Crosshair"), QStringLiteral("status.crosshair"), this);
    row->addWidget(grid_);
    row->addWidget(origin_);
    row->addWidget(crosshair_);
    rows->addWidget(messageLine_);
    connect(grid_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showGrid() != on) model_->setShowGrid(on);
    });
    connect(origin_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showOrigin() != on) model_->setShowOrigin(on);
    });
    connect(crosshair_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showCrosshair() != on) model_->setShowCrosshair(on);
    });

    // The warnings change only with a package or its checks; the rest of the line with every pointer move.
    for (auto signal : {&AppModel::packageChanged, &AppModel::compareBaseChanged, &AppModel::dfmReportChanged,
                        &AppModel::compareBaseReportChanged}) {
        connect(&model, signal, this, &StatusBarView::syncWarnings);
    }
    for (auto signal : {&AppModel::packageChanged, &AppModel::compareBaseChanged, &AppModel::cursorWorldChanged,
                        &AppModel::unitsChanged,
                        &AppModel::cameraChanged, &AppModel::statusMessageChanged, &AppModel::showGridChanged,
                        &AppModel::showOriginChanged, &AppModel::showCrosshairChanged}) {
        connect(&model, signal, this, &StatusBarView::refresh);
    }
    syncWarnings();
    refresh();
}

void StatusBarView::refresh() {
    if (!model_) return;
    const AppModel& m = *model_;
    if (const auto& package = m.package()) {
        packageName_->setText(qs(package->name));
        fileCount_->setText(qs(std::to_string(package->files.size()) + " files"));
    } else {
        packageName_->setText(QStringLiteral("Drop a manufacturer ZIP to start"));
        fileCount_->clear();
    }
    if (const auto& point = m.cursorWorld()) {
        cursor_->setText(qs(cursorText(*point, m.units())));
        cursor_->setVisible(true);
    } else {
        cursor_->clear();
        cursor_->setVisible(false);
    }
    zoom_->setText(qs(zoomText(m.camera().pxPerMM)));
    message_->setText(qs(m.statusMessage()));
    message_->setToolTip(message_->text());
    messageLine_->setWholeText(message_->text());
    packageName_->setToolTip(packageName_->text());
    const QSignalBlocker g(grid_), o(origin_), c(crosshair_);
    grid_->setChecked(m.showGrid());
    origin_->setChecked(m.showOrigin());
    crosshair_->setChecked(m.showCrosshair());
    fitToWidth();
}

void StatusBarView::syncWarnings() {
    if (!model_) return;
    const std::size_t warnings = packageWarningCount(*model_);
    warningCount_ = warnings;
    warnings_->setToolTip(qs(std::to_string(warnings) + (warnings == 1 ? " package warning" : " package warnings") +
                             ": files not read, elements left out, units assumed \u2014 listed under Quick Checks"));
    warnings_->setVisible(warnings > 0);
    fitToWidth();
}

int StatusBarView::cursorRoom() const {
    // Room for a position on a board of up to a metre, or for the one shown, kept whether or not the pointer is
    // over the canvas, so that nothing on the line moves or gives way as the pointer comes and goes.
    const Units units = model_ ? model_->units() : Units(Units::mm);
    const QFontMetrics metrics = cursor_->fontMetrics();
    const int board = metrics.horizontalAdvance(qs(cursorText(Vec2{-888.888, -888.888}, units)));
    return std::max(board, metrics.horizontalAdvance(cursor_->text())) + 2;
}

void StatusBarView::fitToWidth() {
    // What must show: the warning count, the room for the cursor, the zoom and the switches; where they are too
    // wide the count drops its words. Then the package name (its start, at least), the file count, and the
    // message on this line if it fits whole; otherwise the message goes to a line of its own.
    const QMargins margins = layout()->contentsMargins();
    const int spacing = row_->spacing();
    const bool loaded = model_ && model_->package();
    const int cursorWidth = loaded ? cursorRoom() : 0;
    cursor_->setMinimumWidth(cursorWidth);
    const auto mustShow = [&] {
        int used = margins.left() + margins.right() + (loaded ? cursorWidth + spacing : 0);
        for (QWidget* w : {static_cast<QWidget*>(warnings_), static_cast<QWidget*>(zoom_), static_cast<QWidget*>(grid_),
                           static_cast<QWidget*>(origin_), static_cast<QWidget*>(crosshair_)})
            if (!w->isHidden()) used += w->sizeHint().width() + spacing;
        return used;
    };
    warnings_->setText(qs(warningsText(warningCount_)));
    if (mustShow() > width()) warnings_->setText(qs(std::to_string(warningCount_)));
    int used = mustShow();
    const int nameWidth = packageName_->fontMetrics().horizontalAdvance(packageName_->text()) + 1;
    const int nameKeeps = std::max(0, std::min({nameWidth, packageNameKeepsPx, width() - used - spacing}));
    packageName_->setMinimumWidth(nameKeeps);
    used += nameKeeps + spacing;
    const bool countFits = loaded && used + fileCount_->sizeHint().width() + spacing <= width();
    fileCount_->setVisible(countFits);
    if (countFits) used += fileCount_->sizeHint().width() + spacing;
    const QString& message = message_->text();
    const int messageWidth = message_->fontMetrics().horizontalAdvance(message) + 1;
    const bool messageFits = used + messageWidth + spacing <= width();
    // A message on this line is shown whole; beyond the start it keeps, the package name gives way to it.
    message_->setMinimumWidth(messageFits ? messageWidth : 0);
    message_->setVisible(!message.isEmpty() && messageFits);
    messageLine_->setVisible(!message.isEmpty() && !messageFits);
}

void StatusBarView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitToWidth();
}

} // namespace corvane
