#pragma once
// The named system colours the canvas paints with, as one fixed sRGB table so that the picture does not
// depend on the desktop theme.
#include <QColor>

namespace corvane::SystemColors {

inline QColor red(double alpha = 1.0) { return QColor::fromRgbF(255 / 255.f, 59 / 255.f, 48 / 255.f, float(alpha)); }
inline QColor orange(double alpha = 1.0) { return QColor::fromRgbF(255 / 255.f, 149 / 255.f, 0 / 255.f, float(alpha)); }
inline QColor yellow(double alpha = 1.0) { return QColor::fromRgbF(255 / 255.f, 204 / 255.f, 0 / 255.f, float(alpha)); }
inline QColor green(double alpha = 1.0) { return QColor::fromRgbF(40 / 255.f, 205 / 255.f, 65 / 255.f, float(alpha)); }
inline QColor teal(double alpha = 1.0) { return QColor::fromRgbF(48 / 255.f, 176 / 255.f, 199 / 255.f, float(alpha)); }
inline QColor cyan(double alpha = 1.0) { return QColor::fromRgbF(50 / 255.f, 173 / 255.f, 230 / 255.f, float(alpha)); }
inline QColor pink(double alpha = 1.0) { return QColor::fromRgbF(255 / 255.f, 45 / 255.f, 85 / 255.f, float(alpha)); }
inline QColor white(double alpha = 1.0) { return QColor::fromRgbF(1.f, 1.f, 1.f, float(alpha)); }
inline QColor black(double alpha = 1.0) { return QColor::fromRgbF(0.f, 0.f, 0.f, float(alpha)); }

// The canvas background.
inline QColor canvasBackground() { return QColor::fromRgbF(0.075f, 0.08f, 0.1f, 1.f); }

} // namespace corvane::SystemColors
