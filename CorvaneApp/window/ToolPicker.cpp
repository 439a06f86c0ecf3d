#include "window/ToolPicker.hpp"

#include <vector>

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QToolButton>

#include "model/AppModel.hpp"
#include "window/BoardCommands.hpp"
#include "panels/PanelStyle.hpp"
#include "panels/SymbolIcons.hpp"

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
    return QSize(fm.horizontalAdvance(text()) + padding_, fm.height() + 6);
}

void ToolButton::setPadding(int padding) {
    if (padding == padding_) return;
    padding_ = padding;
    updateGeometry();
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
    if (ui::drawsEveryCharacter(text(), font())) {
        p.drawText(rect(), Qt::AlignCenter, text());
        return;
    }
    // The font lacks one of the title's symbols: that symbol is drawn as a picture, the rest stays text.
    const QFontMetrics metrics(font());
    const int side = metrics.ascent();
    struct Piece {
        QString text;
        const char* symbol = nullptr;
        int width = 0;
    };
    std::vector<Piece> pieces;
    for (const QChar c : text()) {
        const char* symbol = standInSymbol(c);
        if (symbol && !ui::drawsEveryCharacter(QString(c), font())) {
            pieces.push_back({QString(), symbol, side});
        } else if (pieces.empty() || pieces.back().symbol) {
            pieces.push_back({QString(c)});
        } else {
            pieces.back().text += c;
        }
    }
    int total = 0;
    for (auto& piece : pieces) {
        if (!piece.symbol) piece.width = metrics.horizontalAdvance(piece.text);
        total += piece.width;
    }
    int x = (width() - total) / 2;
    for (const auto& piece : pieces) {
        if (piece.symbol) {
            const QPixmap picture = symbolPixmap(QString::fromUtf8(piece.symbol), p.pen().color(), side);
            p.drawPixmap(x, (height() - side) / 2, picture);
        } else {
            p.drawText(QRect(x, 0, piece.width, height()), Qt::AlignVCenter | Qt::AlignLeft, piece.text);
        }
        x += piece.width;
    }
}

const char* ToolButton::standInSymbol(QChar c) {
    switch (c.unicode()) {
    case 0x2197: return "arrow.up.right";
    case 0x25AD: return "rectangle";
    case 0x0394: return "delta";
    default: return nullptr;
    }
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
    row->setSpacing(fullSpacing);
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
    auto clearAnnotations = [this] {
        if (model_) model_->setAnnotations({});
    };
    auto copyScreenshot = [this] {
        if (model_) BoardCommands::copyScreenshot(*model_);
    };
    clear_ = linkButton(QStringLiteral("Clear annotations"), QStringLiteral("tool.clearAnnotations"), this);
    connect(clear_, &QPushButton::clicked, this, clearAnnotations);
    row->addWidget(clear_);
    copy_ = linkButton(QStringLiteral("Copy Screenshot"), QStringLiteral("tool.copyScreenshot"), this);
    connect(copy_, &QPushButton::clicked, this, copyScreenshot);
    row->addWidget(copy_);
    // Where the strip is too narrow for both links, they move into a menu behind this button.
    overflow_ = new QToolButton(this);
    overflow_->setObjectName(QStringLiteral("tool.more"));
    overflow_->setAutoRaise(true);
    overflow_->setFocusPolicy(Qt::NoFocus);
    overflow_->setPopupMode(QToolButton::InstantPopup);
    overflow_->setFont(ui::pixelFont(12));
    overflow_->setToolTip(QStringLiteral("Clear annotations, Copy Screenshot"));
    overflow_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
    ui::setSymbol(overflow_, "ellipsis", QColor());
    auto* menu = new QMenu(overflow_);
    connect(menu->addAction(QStringLiteral("Clear annotations")), &QAction::triggered, this, clearAnnotations);
    connect(menu->addAction(QStringLiteral("Copy Screenshot")), &QAction::triggered, this, copyScreenshot);
    overflow_->setMenu(menu);
    overflow_->hide();
    row->addWidget(overflow_);

    connect(&model, &AppModel::toolChanged, this, &ToolPicker::refresh);
    refresh();
}

int ToolPicker::widthNeeded(bool compact) const {
    const auto* row = static_cast<const QHBoxLayout*>(layout());
    const QMargins margins = row->contentsMargins();
    const int spacing = compact ? compactSpacing : fullSpacing;
    int width = margins.left() + margins.right();
    for (const ToolButton* button : buttons_) {
        QFont bold = button->font();
        bold.setBold(true);
        width += QFontMetrics(bold).horizontalAdvance(button->text()) + (compact ? compactPadding : fullPadding) + spacing;
    }
    if (compact) return width + overflow_->sizeHint().width();
    return width + clear_->sizeHint().width() + spacing + copy_->sizeHint().width();
}

void ToolPicker::fitToWidth() {
    // Shorter gaps first, then the links go behind the overflow button: every tool stays one click away.
    const bool compact = width() < widthNeeded(false);
    if (compact == compact_ && overflow_->isVisible() == compact) return;
    compact_ = compact;
    static_cast<QHBoxLayout*>(layout())->setSpacing(compact ? compactSpacing : fullSpacing);
    for (ToolButton* button : buttons_) button->setPadding(compact ? compactPadding : fullPadding);
    clear_->setVisible(!compact);
    copy_->setVisible(!compact);
    overflow_->setVisible(compact);
}

void ToolPicker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    fitToWidth();
}

void ToolPicker::refresh() {
    if (!model_) return;
    const auto tools = Tool::allCases();
    for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setCurrent(tools[i] == model_->tool());
}

} // namespace corvane
