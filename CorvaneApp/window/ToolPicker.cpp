#include "window/ToolPicker.hpp"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#include "model/AppModel.hpp"
#include "window/BoardCommands.hpp"
#include "panels/PanelStyle.hpp"

namespace corvane {

ToolButton::ToolButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setFont(ui::pixelFont(11));
    setCursor(Qt::PointingHandCursor);
}

QSize ToolButton::sizeHint() const {
    QFont bold = font();
    bold.setBold(true);  // sized for the bold title, so the strip does not shift when the tool changes
    const QFontMetrics fm(bold);
    return QSize(fm.horizontalAdvance(text()) + 16, fm.height() + 6);
}

void ToolButton::setCurrent(bool current) {
    setChecked(current);
    QFont f = font();
    f.setBold(current);
    setFont(f);
    update();
}

void ToolButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isChecked()) {
        QColor accent = palette().color(QPalette::Highlight);
        accent.setAlphaF(0.25f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 5, 5);
        p.fillPath(shape, accent);
    }
    p.setPen(palette().color(QPalette::ButtonText));
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, text());
}

QString ToolPicker::buttonTitle(Tool tool) {
    switch (tool) {
    case Tool::select: return QStringLiteral("Inspect");
    case Tool::pan: return QStringLiteral("Pan");
    case Tool::measureDistance: return QStringLiteral("Measure");
    case Tool::measureX: return QStringLiteral("\u0394X");
    case Tool::measureY: return QStringLiteral("\u0394Y");
    case Tool::annotateArrow: return QStringLiteral("\u2197 Arrow");
    case Tool::annotateRect: return QStringLiteral("\u25AD Rect");
    case Tool::annotateText: return QStringLiteral("T Text");
    }
    return {};
}

QString ToolPicker::buttonName(Tool tool) {
    static const char* names[] = {"select",   "pan",           "measureDistance", "measureX",
                                  "measureY", "annotateArrow", "annotateRect",    "annotateText"};
    return QStringLiteral("tool.") + QLatin1String(names[static_cast<int>(Tool::Value(tool))]);
}

namespace {
QPushButton* linkButton(const QString& title, const QString& name, QWidget* parent) {
    auto* button = ui::linkButton(title, parent);
    button->setObjectName(name);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

ToolPicker::ToolPicker(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
    setObjectName("toolPicker");
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 5, 10, 5);
    row->setSpacing(6);
    for (const Tool tool : Tool::allCases()) {
        auto* button = new ToolButton(buttonTitle(tool), this);
        button->setObjectName(buttonName(tool));
        // Every click drops a half-finished measurement, also on the current tool.
        connect(button, &QAbstractButton::clicked, this, [this, tool] {
            if (!model_) return;
            model_->setTool(tool);
            model_->setPendingMeasureAnchor(std::nullopt);
            refresh();
        });
        row->addWidget(button);
        buttons_.push_back(button);
    }
    row->addStretch(1);
    auto* clear = linkButton(QStringLiteral("Clear annotations"), QStringLiteral("tool.clearAnnotations"), this);
    connect(clear, &QPushButton::clicked, this, [this] {
        if (model_) model_->setAnnotations({});
    });
    row->addWidget(clear);
    auto* copy = linkButton(QStringLiteral("Copy Screenshot"), QStringLiteral("tool.copyScreenshot"), this);
    connect(copy, &QPushButton::clicked, this, [this] {
        if (model_) BoardCommands::copyScreenshot(*model_);
    });
    row->addWidget(copy);

    connect(&model, &AppModel::toolChanged, this, &ToolPicker::refresh);
    refresh();
}

void ToolPicker::refresh() {
    if (!model_) return;
    const auto tools = Tool::allCases();
    for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setCurrent(tools[i] == model_->tool());
}

} // namespace corvane
