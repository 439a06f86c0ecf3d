#include "panels/LayerRow.hpp"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/Format.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

using namespace ui;

const std::vector<LayerRole>& layerRoles() {
    static const std::vector<LayerRole> roles = {
        {"Top Copper", LayerType::copper(CopperLayerID::top())},
        {"Bottom Copper", LayerType::copper(CopperLayerID::bottom())},
        {"Inner 1", LayerType::copper(CopperLayerID::inner(1))},
        {"Inner 2", LayerType::copper(CopperLayerID::inner(2))},
        {"Inner 3", LayerType::copper(CopperLayerID::inner(3))},
        {"Inner 4", LayerType::copper(CopperLayerID::inner(4))},
        {"Top Solder Mask", LayerType::solderMask(CopperLayerID::top())},
        {"Bottom Solder Mask", LayerType::solderMask(CopperLayerID::bottom())},
        {"Top Silkscreen", LayerType::silkscreen(CopperLayerID::top())},
        {"Bottom Silkscreen", LayerType::silkscreen(CopperLayerID::bottom())},
        {"Top Paste", LayerType::paste(CopperLayerID::top())},
        {"Bottom Paste", LayerType::paste(CopperLayerID::bottom())},
        {"Board Outline", LayerType::outline()},
        {"Drill", LayerType::drill()},
        {"Unknown", LayerType::unknown()},
    };
    return roles;
}

namespace {
// Inner layers 1 to 4 are among the fixed roles; the fifth and later follow "Inner 4" with codes from here.
constexpr std::int64_t kFixedInnerLayers = 4;
constexpr std::size_t kInnerFourPosition = 5;
constexpr int kFirstExtraInnerCode = 15;
// Beyond any real stack (a hundred layers): a file claiming inner layer 10^9 must not build a menu that long.
constexpr std::int64_t kMostInnerLayersOffered = 98;
} // namespace

std::int64_t innerLayersOffered(const PCBPackage& package, const std::string& fileName) {
    std::int64_t copper = 1;  // the file itself, as copper
    std::int64_t highestInner = 0;
    bool top = false, bottom = false;
    for (const auto& f : package.files) {
        const auto* cu = f.layerType.as<LayerType::Copper>();
        if (!cu || f.fileName == fileName) continue;
        ++copper;
        top = top || cu->side.as<CopperLayerID::Top>();
        bottom = bottom || cu->side.as<CopperLayerID::Bottom>();
        if (const auto* in = cu->side.as<CopperLayerID::Inner>()) highestInner = std::max(highestInner, in->number);
    }
    const std::int64_t inner = copper - (top ? 1 : 0) - (bottom ? 1 : 0);
    return std::min(kMostInnerLayersOffered, std::max({kFixedInnerLayers, inner, highestInner}));
}

std::vector<LayerMenuEntry> layerMenuEntries(std::int64_t innerLayers) {
    const auto& roles = layerRoles();
    std::vector<LayerMenuEntry> entries;
    for (std::size_t i = 0; i < roles.size(); ++i) {
        entries.push_back({roles[i], static_cast<int>(i)});
        if (i != kInnerFourPosition) continue;
        const std::int64_t last = std::min(innerLayers, kMostInnerLayersOffered);
        for (std::int64_t n = kFixedInnerLayers + 1; n <= last; ++n)
            entries.push_back({{"Inner " + formatInt(n), LayerType::copper(CopperLayerID::inner(n))},
                               kFirstExtraInnerCode + static_cast<int>(n - kFixedInnerLayers - 1)});
    }
    return entries;
}

std::optional<LayerType> layerRoleOfCode(int code) {
    const auto& roles = layerRoles();
    if (code >= 0 && code < static_cast<int>(roles.size())) return roles[static_cast<std::size_t>(code)].type;
    const std::int64_t inner = kFixedInnerLayers + 1 + (static_cast<std::int64_t>(code) - kFirstExtraInnerCode);
    if (code < kFirstExtraInnerCode || inner > kMostInnerLayersOffered) return std::nullopt;
    return LayerType::copper(CopperLayerID::inner(inner));
}

// ---- Role menu target -------------------------------------------------------------------------------------

LayerTypeTarget& LayerTypeTarget::shared() {
    static LayerTypeTarget* target = new LayerTypeTarget();  // lives until the process ends
    return *target;
}

QVariant LayerTypeTarget::actionData(AppModel* model, const std::string& fileName, int roleCode) {
    return QVariantList{QVariant::fromValue<QObject*>(model), qs(fileName), roleCode};
}

void LayerTypeTarget::pick(QAction* action) {
    if (!action) return;
    const QVariantList data = action->data().toList();
    if (data.size() != 3 || !data[1].canConvert<QString>() || data[2].typeId() != QMetaType::Int) return;
    QPointer<AppModel> model = qobject_cast<AppModel*>(data[0].value<QObject*>());
    const auto role = layerRoleOfCode(data[2].toInt());
    if (!model || !role) return;
    const std::string fileName = ss(data[1].toString());
    const LayerType type = *role;
    // Queued, so the model changes only after the menu's own event handling has finished.
    QMetaObject::invokeMethod(
        model.data(),
        [model, fileName, type] {
            if (model) model->setManualLayerType(fileName, type);
        },
        Qt::QueuedConnection);
}

// ---- Colour popup -----------------------------------------------------------------------------------------

LayerColorPopup::LayerColorPopup(AppModel* model, std::string layerId, QWidget* parent)
    : QFrame(parent, Qt::Popup), model_(model), layerId_(std::move(layerId)) {
    setObjectName("layerRow.colorPopup");
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    picker_ = new QColorDialog(this);
    picker_->setWindowFlags(Qt::Widget);
    picker_->setOptions(QColorDialog::ShowAlphaChannel | QColorDialog::NoButtons | QColorDialog::DontUseNativeDialog);
    picker_->setWindowTitle("Color");
    layout->addWidget(picker_);
    throttle_.setSingleShot(true);
    throttle_.setInterval(LayerRow::colorThrottleMS);
    connect(&throttle_, &QTimer::timeout, this, &LayerColorPopup::flush);
    connect(picker_, &QColorDialog::currentColorChanged, this, &LayerColorPopup::colorPicked);
}

void LayerColorPopup::colorPicked(const QColor& color) {
    pending_ = color;
    // The first change of a drag goes through at once; later ones wait for the interval to end.
    if (!throttle_.isActive()) {
        flush();
        throttle_.start();
    }
}

void LayerColorPopup::flush() {
    if (!pending_ || !model_) return;
    const QColor color = *pending_;
    pending_.reset();
    model_->setLayerColor(layerId_, color);
}

// ---- Row --------------------------------------------------------------------------------------------------

namespace {

constexpr int kSwatchSide = 11;

// The layer's colour in a ring that stands out on the light sidebar, so a white silkscreen or a pale drill
// layer's swatch is seen too.
QIcon swatchIcon(const QColor& color) {
    QPixmap pixmap(kSwatchSide, kSwatchSide);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 0, 140), 1));
    p.setBrush(color);
    p.drawEllipse(QRectF(0.5, 0.5, kSwatchSide - 1, kSwatchSide - 1));
    return QIcon(pixmap);
}

QToolButton* iconButton(const char* symbol, const QColor& color, int pixels, const char* name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFont(pixelFont(pixels));
    button->setFocusPolicy(Qt::NoFocus);
    setSymbol(button, symbol, color);
    return button;
}

} // namespace

LayerRow::LayerRow(AppModel* model, const LayerState& layer, QWidget* parent) : QFrame(parent), model_(model), layer_(layer) {
    setObjectName(qs("layerRow:" + layer.id));
    // Two lines beside the visibility switch and the swatch: the file name, which may be shortened, with the
    // small buttons; below them the role with its count across the row's whole width, wrapped at a blank
    // rather than cut where even that is too narrow.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);

    visible_ = iconButton("eye", QColor(), 12, "layerRow.visible", this);
    connect(visible_, &QToolButton::clicked, this, [this] {
        if (!model_) return;
        const LayerState now = current();
        model_->setLayerVisible(now.id, !now.visible);
    });
    grid->addWidget(visible_, 0, 0, 2, 1, Qt::AlignVCenter);

    swatch_ = new QToolButton(this);
    swatch_->setObjectName("layerRow.swatch");
    swatch_->setAutoRaise(true);
    swatch_->setIconSize(QSize(kSwatchSide, kSwatchSide));
    swatch_->setFocusPolicy(Qt::NoFocus);
    connect(swatch_, &QToolButton::clicked, this, &LayerRow::openColorPopup);
    grid->addWidget(swatch_, 0, 1, 2, 1, Qt::AlignVCenter);

    // The files of a package share a long prefix: the middle gives way, the end that tells them apart stays.
    name_ = elidedLabel(QString(), Qt::ElideMiddle, pixelFont(12, QFont::Medium), QColor(), this);
    name_->setObjectName("layerRow.name");
    grid->addWidget(name_, 0, 2);
    detail_ = textLabel(QString(), pixelFont(10), secondaryColor(), this);
    detail_->setObjectName("layerRow.detail");
    detail_->setWordWrap(true);
    grid->addWidget(detail_, 1, 2, 1, 4);
    grid->setColumnStretch(2, 1);

    solo_ = iconButton("s.circle", secondaryColor(), 12, "layerRow.solo", this);
    solo_->setToolTip("Solo");
    connect(solo_, &QToolButton::clicked, this, [this] {
        if (model_) model_->toggleSolo(layer_.id);
    });
    solo_->setFixedSize(18, 18);
    grid->addWidget(solo_, 0, 3);

    up_ = iconButton("chevron.up", QColor(), 8, "layerRow.up", this);
    down_ = iconButton("chevron.down", QColor(), 8, "layerRow.down", this);
    up_->setToolTip("Move up");
    down_->setToolTip("Move down");
    connect(up_, &QToolButton::clicked, this, [this] {
        if (model_) model_->moveLayer(layer_.id, true);
    });
    connect(down_, &QToolButton::clicked, this, [this] {
        if (model_) model_->moveLayer(layer_.id, false);
    });
    // One above the other, as small as their chevrons.
    up_->setFixedSize(14, 9);
    down_->setFixedSize(14, 9);
    auto* order = new QVBoxLayout();
    order->setContentsMargins(0, 0, 0, 0);
    order->setSpacing(0);
    order->addWidget(up_);
    order->addWidget(down_);
    grid->addLayout(order, 0, 4);

    more_ = iconButton("ellipsis", QColor(), 12, "layerRow.more", this);
    more_->setFixedSize(18, 18);
    more_->setPopupMode(QToolButton::InstantPopup);
    more_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    auto* moreMenu = new QMenu(more_);
    QAction* correct = moreMenu->addAction("Correct layer type\u2026");
    // After the small menu has closed, so the role menu is the only one tracking.
    connect(correct, &QAction::triggered, this, [this] { QTimer::singleShot(0, this, &LayerRow::presentTypeMenu); });
    more_->setMenu(moreMenu);
    grid->addWidget(more_, 0, 5);

    update(layer);
}

LayerState LayerRow::current() const {
    if (model_) {
        for (const auto& l : model_->layerStates())
            if (l.id == layer_.id) return l;
    }
    return layer_;
}

QString LayerRow::detailText(const LayerState& layer) {
    return qs(layer.typeName + " \u00B7 " + std::to_string(layer.objectCount));
}

void LayerRow::update(const LayerState& layer) {
    layer_ = layer;
    setSymbol(visible_, layer.visible ? "eye" : "eye.slash", layer.visible ? QColor() : secondaryColor());
    swatch_->setIcon(swatchIcon(layer.color));
    swatch_->setProperty("color", layer.color);
    name_->setText(qs(layer.displayName));
    name_->setToolTip(name_->text());
    detail_->setText(detailText(layer));
    detail_->setToolTip(detail_->text());
    updateSolo();
}

void LayerRow::updateSolo() {
    const bool soloed = model_ && model_->soloSet().count(layer_.id) > 0;
    setSymbol(solo_, "s.circle", soloed ? orange() : secondaryColor());
    solo_->setProperty("soloed", soloed);
}

QMenu* LayerRow::buildTypeMenu(QWidget* parent) const {
    auto* menu = new QMenu(parent);
    menu->setObjectName("layerTypeMenu");
    const std::int64_t inner = model_ && model_->package() ? innerLayersOffered(*model_->package(), layer_.id) : 0;
    for (const auto& entry : layerMenuEntries(inner)) {
        QAction* action = menu->addAction(qs(entry.role.title));
        action->setData(LayerTypeTarget::actionData(model_.data(), layer_.id, entry.code));
        connect(action, &QAction::triggered, &LayerTypeTarget::shared(), [action] { LayerTypeTarget::shared().pick(action); });
    }
    return menu;
}

void LayerRow::presentTypeMenu() {
    QWidget* window = this->window();
    QMenu* menu = buildTypeMenu(this);
    QPoint at(40, 24);
    if (auto* main = qobject_cast<QMainWindow*>(window); main && main->centralWidget())
        at = main->centralWidget()->mapToGlobal(at);
    else if (window)
        at = window->mapToGlobal(at);
    menu->exec(at);
    menu->deleteLater();
}

void LayerRow::openColorPopup() {
    if (popup_) {
        popup_->raise();
        return;
    }
    popup_ = new LayerColorPopup(model_.data(), layer_.id, this);
    // Starts from the model's colour: it may have been changed elsewhere since this row was drawn.
    {
        const QSignalBlocker quiet(popup_->picker());
        popup_->picker()->setCurrentColor(current().color);
    }
    popup_->adjustSize();
    popup_->move(swatch_->mapToGlobal(QPoint(0, swatch_->height())));
    popup_->show();
}

void LayerRow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !model_) return QFrame::mouseDoubleClickEvent(event);
    model_->setLayerVisible(layer_.id, true);
    model_->toggleSolo(layer_.id);
    event->accept();
}

} // namespace corvane
