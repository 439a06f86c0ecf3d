#pragma once
// Every symbol the program shows (toolbar, welcome panel, layer rows, inspector, sheets), drawn here as small
// vector pictures, so that none depends on an icon theme or on a font that may lack the glyph. Widgets
// showing one carry its name in the dynamic property "symbol".
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace corvane {

// The names symbolPixmap draws; any other name is drawn as a plain ring.
const QStringList& knownSymbols();

// The symbol `name` in `color`, `size` pixels square (logical).
QPixmap symbolPixmap(const QString& name, const QColor& color, int size);
QIcon symbolIcon(const QString& name, const QColor& color);

} // namespace corvane
