#include "window/StatusBarView.hpp"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>

#include "model/AppModel.hpp"
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

StatusBarView::StatusBarView(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
    setObjectName("statusBar");
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    row->setSpacing(12);

    packageName_ = captionLabel("status.package", this);
    fileCount_ = captionLabel("status.fileCount", this);
    row->addWidget(packageName_);
    row->addWidget(fileCount_);
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
    // A long message gives way (down to nothing, see ElidedLabel); the switches stay visible.
    message_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    row->addWidget(message_);

    grid_ = toggle(QStringLiteral("Grid"), QStringLiteral("status.grid"), this);
    origin_ = toggle(QStringLiteral("Origin"), QStringLiteral("status.origin"), this);
    crosshair_ = toggle(QStringLiteral("Crosshair"), QStringLiteral("status.crosshair"), this);
    row->addWidget(grid_);
    row->addWidget(origin_);
    row->addWidget(crosshair_);
    connect(grid_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showGrid() != on) model_->setShowGrid(on);
    });
    connect(origin_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showOrigin() != on) model_->setShowOrigin(on);
    });
    connect(crosshair_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_ && model_->showCrosshair() != on) model_->setShowCrosshair(on);
    });

    for (auto signal : {&AppModel::packageChanged, &AppModel::cursorWorldChanged, &AppModel::unitsChanged,
                        &AppModel::cameraChanged, &AppModel::statusMessageChanged, &AppModel::showGridChanged,
                        &AppModel::showOriginChanged, &AppModel::showCrosshairChanged}) {
        connect(&model, signal, this, &StatusBarView::refresh);
    }
    refresh();
}

void StatusBarView::refresh() {
    if (!model_) return;
    const AppModel& m = *model_;
    if (const auto& package = m.package()) {
        packageName_->setText(qs(package->name));
        fileCount_->setText(qs(std::to_string(package->files.size()) + " files"));
        fileCount_->setVisible(true);
    } else {
        packageName_->setText(QStringLiteral("Drop a manufacturer ZIP to start"));
        fileCount_->clear();
        fileCount_->setVisible(false);
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
    const QSignalBlocker g(grid_), o(origin_), c(crosshair_);
    grid_->setChecked(m.showGrid());
    origin_->setChecked(m.showOrigin());
    crosshair_->setChecked(m.showCrosshair());
}

} // namespace corvane
