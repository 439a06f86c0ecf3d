#pragma once
// Small building blocks shared by the side panels and the sheets: pixel-sized fonts, the named colours,
// symbol glyphs and the flat "link" buttons.
#include <string>

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace corvane::ui {

inline QString qs(const std::string& text) { return QString::fromStdString(text); }
inline std::string ss(const QString& text) { return text.toStdString(); }

// Point sizes are device-independent pixels; a point size would come out a third too large at 96 dpi.
QFont pixelFont(int pixels, QFont::Weight weight = QFont::Normal, bool monospacedDigits = false);
// The text styles the panels use, by name.
QFont captionFont();
QFont caption2Font();
QFont headlineFont();

QColor green();
QColor red();
QColor orange();
QColor blue();
QColor purple();
QColor teal();
QColor indigo();
QColor secondaryColor();
QColor tertiaryColor();

void setTextColor(QWidget* widget, const QColor& color);

// The glyph drawn for a symbol name; the name itself is kept on the widget as the property "symbol".
QString glyphFor(const char* symbol);
void setSymbol(QWidget* widget, const char* symbol, const QColor& color);
QLabel* symbolLabel(const char* symbol, const QColor& color, int pixels, QWidget* parent = nullptr);

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color = QColor(), QWidget* parent = nullptr);
// A flat button that reads as a link; never the dialog's default button.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
// A small indeterminate progress bar, shown while a sheet's work runs.
QProgressBar* busyIndicator(const char* objectName, QWidget* parent);
// A plain push button that Enter in a text field does not trigger.
QPushButton* plainButton(const QString& text, QWidget* parent = nullptr);

} // namespace corvane::ui
