#include "panels/PanelStyle.hpp"

#include <cstring>

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>

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

QString glyphFor(const char* symbol) {
    struct Entry {
        const char* name;
        const char* glyph;
    };
    // Glyphs that DejaVu Sans carries, so they render on any machine the program runs on.
    static constexpr Entry table[] = {
        {"eye", "\u25C9"},
        {"eye.slash", "\u25CC"},
        {"s.circle", "\u24C8"},
        {"chevron.up", "\u25B4"},
        {"chevron.down", "\u25BE"},
        {"ellipsis", "\u2026"},
        {"xmark.octagon.fill", "\u2716"},
        {"exclamationmark.triangle.fill", "\u26A0"},
        {"info.circle.fill", "\u2139"},
        {"checkmark.seal.fill", "\u2714"},
        {"checkmark.shield.fill", "\u2714"},
        {"lock.shield", "\u26BF"},
        {"circle.grid.2x2", "\u2237"},
        {"circle.fill", "\u25CF"},
        {"circle", "\u25CB"},
        {"slider.horizontal.3", "\u2630"},
        {"arrow.left.arrow.right.circle.fill", "\u21C4"},
        {"square.stack.3d.up.fill", "\u2261"},
        {"doc.richtext.fill", "\u2637"},
    };
    for (const auto& e : table)
        if (std::strcmp(e.name, symbol) == 0) return QString::fromUtf8(e.glyph);
    return QStringLiteral("\u25A1");
}

void setSymbol(QWidget* widget, const char* symbol, const QColor& color) {
    widget->setProperty("symbol", QString::fromUtf8(symbol));
    if (auto* label = qobject_cast<QLabel*>(widget)) label->setText(glyphFor(symbol));
    else if (auto* button = qobject_cast<QAbstractButton*>(widget)) button->setText(glyphFor(symbol));
    setTextColor(widget, color);
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
