#pragma once
// Fonts for the text styles the panels name, and the few symbols they show, drawn here so that nothing
// depends on an icon theme. Widgets showing a symbol carry its name in the dynamic property "symbol".
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

namespace corvane {

enum class TextStyle { largeTitle, headline, body, caption, caption2 };

// Pixel-sized, so the text keeps its size on screens of any reported density.
QFont textStyleFont(TextStyle style);
QFont systemFontOfPixelSize(int pixelSize, bool bold = false);

// The symbol `name` in `color`, `size` pixels square (logical).
QPixmap symbolPixmap(const QString& name, const QColor& color, int size);
QIcon symbolIcon(const QString& name, const QColor& color);

} // namespace corvane
