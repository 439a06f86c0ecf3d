#pragma once
// The symbols of the toolbar and the welcome panel, drawn here as small line pictures so that nothing
// depends on an icon theme. Widgets showing one carry its name in the dynamic property "symbol".
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace corvane {

// The symbol `name` in `color`, `size` pixels square (logical).
QPixmap symbolPixmap(const QString& name, const QColor& color, int size);
QIcon symbolIcon(const QString& name, const QColor& color);

} // namespace corvane
