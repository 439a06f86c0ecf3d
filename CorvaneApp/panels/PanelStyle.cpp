#include "panels/PanelStyle.hpp"

#include <algorithm>
#include <cmath>

#include <QAbstractButton>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHBoxLayout>
#include <QTextLayout>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>

#include "panels/SymbolIcons.hpp"

namespace corvane::ui {

QFont pixelFont(int pixels, QFont::Weight weight, bool /*monospacedDigits*/) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    // The fonts the program ships with (DejaVu, Nimbus) draw their digits at one width already, so
    // number columns keep still without a tabular-figures feature (which Qt 6.4 cannot ask for).
    return font;
}

QFont captionFont() { return pixelFont(10); }
QFont caption2Font() { return pixelFont(9); }
QFont headlineFont() { return pixelFont(13, QFont::DemiBold); }

QColor green() { return QColor(40, 167, 69); }
QColor red() { return QColor(220, 53, 47); }
QColor orange() { return QColor(242, 140, 0); }
QColor blue() { return QColor(10, 122, 255); }
QColor purple() { return QColor(175, 82, 222); }
QColor teal() { return QColor(48, 176, 199); }
QColor indigo() { return QColor(88, 86, 214); }

QColor secondaryColor() {
    QColor c = QApplication::palette().color(QPalette::WindowText);
    c.setAlphaF(0.6f);
    return c;
}

QColor tertiaryColor() {
    QColor c = QApplication::palette().color(QPalette::WindowText);
    c.setAlphaF(0.4f);
    return c;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette p = widget->palette();
    const QColor c = color.isValid() ? color : QApplication::palette().color(QPalette::WindowText);
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::Text, c);
    widget->setPalette(p);
}

bool drawsEveryCharacter(const QString& text, const QFont& font) {
    // Line breaks and tabs have no glyph of their own in any font; they are not what is checked.
    QString oneLine = text;
    for (QChar& c : oneLine)
        if (c == u'\n' || c == u'\t' || c == QChar::LineSeparator) c = u' ';
    QTextLayout layout(oneLine, font);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) line.setLineWidth(1e6);
    layout.endLayout();
    // Glyph 0 of a font is its "missing glyph" box; Qt draws it when no font it tried has the character.
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const auto glyphs = run.glyphIndexes();
        if (std::find(glyphs.begin(), glyphs.end(), 0u) != glyphs.end()) return false;
    }
    return true;
}

void setSymbol(QWidget* widget, const char* symbol, const QColor& color) {
    const QString name = QString::fromUtf8(symbol);
    widget->setProperty("symbol", name);
    const QColor ink = color.isValid() ? color : QApplication::palette().color(QPalette::WindowText);
    // Drawn a little larger than the text beside it, as a glyph of the same pixel size would look.
    const int side = widget->font().pixelSize() > 0 ? widget->font().pixelSize() + 2 : 14;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setPixmap(symbolPixmap(name, ink, side));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(QString());
        button->setIcon(symbolIcon(name, ink));
        button->setIconSize(QSize(side, side));
    }
}

QLabel* symbolLabel(const char* symbol, const QColor& color, int pixels, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(pixelFont(pixels));
    setSymbol(label, symbol, color);
    return label;
}

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    if (color.isValid()) setTextColor(label, color);
    // The side columns are narrow: a long file name is cut at the column's edge (its whole text stays
    // in the tooltip) instead of widening the column past the window.
    label->setMinimumWidth(1);
    label->setToolTip(text);
    return label;
}

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

void ElidedLabel::setSharedStart(const QString& start) {
    sharedStart_ = start;
    update();
}

void ElidedLabel::setKeptStart(const QString& start) {
    keptStart_ = start;
    update();
}

QString ElidedLabel::elided(const QString& text, int room) const {
    const QFontMetrics metrics = fontMetrics();
    if (!sharedStart_.isEmpty() && text.startsWith(sharedStart_) && text.size() > sharedStart_.size()) {
        const QString ellipsis = QStringLiteral("\u2026");
        const QString rest = text.mid(sharedStart_.size());
        return ellipsis + metrics.elidedText(rest, mode_, std::max(0, room - metrics.horizontalAdvance(ellipsis)));
    }
    return metrics.elidedText(text, mode_, room);
}

QString ElidedLabel::shownText() const {
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width();
    if (metrics.horizontalAdvance(text()) <= room) return text();
    if (!keptStart_.isEmpty() && text().startsWith(keptStart_) && text().size() > keptStart_.size()) {
        // The rest, its shared start given way, shows whole beside the kept start if both fit; otherwise the two
        // share the room, the kept start shortened in its middle to no less than half of it.
        const QString rest = text().mid(keptStart_.size());
        const bool shared = !sharedStart_.isEmpty() && rest.startsWith(sharedStart_) && rest.size() > sharedStart_.size();
        const int restNeeds = metrics.horizontalAdvance(shared ? QStringLiteral("\u2026") + rest.mid(sharedStart_.size()) : rest);
        const int keptRoom = std::max(room / 2, room - restNeeds);
        const QString kept = metrics.elidedText(keptStart_, Qt::ElideMiddle, keptRoom);
        return kept + elided(rest, std::max(0, room - metrics.horizontalAdvance(kept)));
    }
    return elided(text(), room);
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    p.drawText(contentsRect(), Qt::AlignVCenter | Qt::TextSingleLine | (horizontal ? horizontal : Qt::AlignLeft),
               shownText());
}

WrappedLabel::WrappedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappedLabel::setWholeText(const QString& text) {
    setText(text);
    setToolTip(text);
    updateGeometry();
}

int WrappedLabel::layOut(QTextLayout& layout, int width) const {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setAlignment(alignment() & Qt::AlignHorizontal_Mask);
    layout.setTextOption(option);
    layout.beginLayout();
    const double lineHeight = fontMetrics().lineSpacing();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        line.setPosition(QPointF(0, y));
        y += lineHeight;
    }
    layout.endLayout();
    return static_cast<int>(std::ceil(y));
}

int WrappedLabel::linesAt(int width) const {
    QTextLayout layout(text(), font());
    layOut(layout, width);
    return layout.lineCount();
}

int WrappedLabel::heightForWidth(int width) const {
    // Some glyphs reach below the font's descent where it is hinted to whole pixels (an underscore on X11):
    // the last line keeps room for them, or "kicad_pcb" reads "kicad pcb".
    constexpr int kInkBelowDescentPx = 2;
    if (text().isEmpty()) return 0;
    const QMargins m = contentsMargins();
    QTextLayout layout(text(), font());
    return layOut(layout, width - m.left() - m.right()) + kInkBelowDescentPx + m.top() + m.bottom();
}

QSize WrappedLabel::sizeHint() const {
    const QMargins m = contentsMargins();
    const int width = fontMetrics().horizontalAdvance(text()) + m.left() + m.right() + 1;
    return QSize(width, heightForWidth(width));
}

QSize WrappedLabel::minimumSizeHint() const {
    // As many lines as the width the layout gave needs; one line until it has given one (a child widget starts
    // 100 pixels wide, where a long message takes many lines).
    if (!testAttribute(Qt::WA_Resized)) {
        const QMargins m = contentsMargins();
        return QSize(0, text().isEmpty() ? 0 : fontMetrics().lineSpacing() + m.top() + m.bottom());
    }
    return QSize(0, heightForWidth(std::max(1, width())));
}

void WrappedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    // The minimum follows the width: a layout that kept the one for an earlier width would leave the label
    // short of lines, or a list holding it scrolling on into empty space.
    if (event->oldSize().width() != width() && heightForWidth(event->oldSize().width()) != heightForWidth(width()))
        updateGeometry();
}

void WrappedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect();
    QTextLayout layout(text(), font());
    layOut(layout, area.width());
    layout.draw(&p, area.topLeft());
}

ElidedLabel* elidedLabel(const QString& text, Qt::TextElideMode mode, const QFont& font, const QColor& color,
                         QWidget* parent) {
    auto* label = new ElidedLabel(mode, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    if (color.isValid()) setTextColor(label, color);
    label->setText(text);
    label->setToolTip(text);
    return label;
}

namespace {
// The least room a shortened label keeps beside its value: a few characters of it.
constexpr int kLabelKeepsPx = 48;
constexpr int kRowSpacing = 6;

int longestWord(const QString& text, const QFontMetrics& metrics) {
    int widest = 0;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) widest = std::max(widest, metrics.horizontalAdvance(word));
    return widest + 1;
}
} // namespace

ValueRow::ValueRow(const QString& label, const QFont& labelFont, const QColor& labelColor, const QString& value,
                   const QFont& valueFont, const char* valueName, QWidget* parent)
    : QWidget(parent) {
    name_ = elidedLabel(label, Qt::ElideRight, labelFont, labelColor, this);
    // Wrapped at blanks, and inside a word only when the word alone is wider than the column (a long file name):
    // a value the column cannot hold on one line is shown whole, never cut at the column's edge.
    auto* wrapped = new WrappedLabel(this);
    wrapped->setFont(valueFont);
    wrapped->setWholeText(value);
    wrapped->setObjectName(valueName);
    wrapped->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value_ = wrapped;
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int ValueRow::valueWidth() const {
    // The laid-out line is measured in fractions of a pixel: rounded down, its last letter would wrap away.
    return static_cast<int>(std::ceil(QFontMetricsF(value_->font()).horizontalAdvance(value_->text()))) + 2;
}

bool ValueRow::valueBelow(int width) const {
    const int label = std::min(name_->fontMetrics().horizontalAdvance(name_->text()) + 1, kLabelKeepsPx);
    return label + kRowSpacing + valueWidth() > width;
}

int ValueRow::heightForWidth(int width) const {
    const int line = std::max(name_->sizeHint().height(), value_->fontMetrics().height());
    if (!valueBelow(width)) return line;
    return name_->sizeHint().height() + value_->heightForWidth(std::max(1, width));
}

QSize ValueRow::sizeHint() const {
    const int w = name_->fontMetrics().horizontalAdvance(name_->text()) + 1 + kRowSpacing + valueWidth();
    return QSize(w, heightForWidth(w));
}

QSize ValueRow::minimumSizeHint() const {
    // The value wraps inside a word if it must, so no word of it asks for a wider column than the panel has.
    const int w = std::min(longestWord(value_->text(), value_->fontMetrics()), kLabelKeepsPx);
    return QSize(w, heightForWidth(w));
}

void ValueRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place();
}

void ValueRow::place() {
    const int w = width();
    const int labelHeight = name_->sizeHint().height();
    if (!valueBelow(w)) {
        const int valueW = std::min(valueWidth(), w);
        const int line = std::max(labelHeight, value_->fontMetrics().height());
        name_->setGeometry(0, 0, std::max(0, w - valueW - kRowSpacing), line);
        value_->setGeometry(w - valueW, 0, valueW, line);
        return;
    }
    name_->setGeometry(0, 0, w, labelHeight);
    value_->setGeometry(0, labelHeight, w, value_->heightForWidth(std::max(1, w)));
}

QWidget* labelValueRow(const QString& label, const QFont& labelFont, const QColor& labelColor, const QString& value,
                       const QFont& valueFont, const char* valueName, QWidget* parent) {
    return new ValueRow(label, labelFont, labelColor, value, valueFont, valueName, parent);
}

void clearLayout(QLayout* box) {
    while (QLayoutItem* item = box->takeAt(0)) {
        // A nested layout is its own item: emptied, then deleted once.
        if (QLayout* inner = item->layout()) clearLayout(inner);
        delete item->widget();
        delete item;
    }
}

QPushButton* linkButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFlat(true);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setCursor(Qt::PointingHandCursor);
    button->setFont(captionFont());
    setTextColor(button, blue());
    return button;
}

QProgressBar* busyIndicator(const char* objectName, QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(objectName);
    bar->setRange(0, 0);
    bar->setMaximumHeight(8);
    bar->setTextVisible(false);
    return bar;
}

QPushButton* plainButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace corvane::ui
