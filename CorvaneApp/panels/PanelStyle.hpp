#pragma once
// Small building blocks shared by the side panels and the sheets: pixel-sized fonts, the named colours,
// symbol glyphs and the flat "link" buttons.
#include <string>

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>

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

// Shows the drawn symbol `name` on a label or button, sized to the widget's font, and keeps the name on the
// widget as the property "symbol". An invalid colour is the window's text colour.
void setSymbol(QWidget* widget, const char* symbol, const QColor& color);
QLabel* symbolLabel(const char* symbol, const QColor& color, int pixels, QWidget* parent = nullptr);

QLabel* textLabel(const QString& text, const QFont& font, const QColor& color = QColor(), QWidget* parent = nullptr);

// A one-line label that cuts its text with "…" (at `mode`) to the width it is given, never below its
// height; text() stays the whole text. Whoever sets the text also sets it as the tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode, QWidget* parent = nullptr) : QLabel(parent), mode_(mode) {}
    QSize minimumSizeHint() const override;
    // The text as painted now.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
};
// An elided label in `font` and `color` showing `text`, with the whole text as its tooltip.
ElidedLabel* elidedLabel(const QString& text, Qt::TextElideMode mode, const QFont& font, const QColor& color,
                         QWidget* parent);
// A flat button that reads as a link; never the dialog's default button.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
// A small indeterminate progress bar, shown while a sheet's work runs.
QProgressBar* busyIndicator(const char* objectName, QWidget* parent);
// A plain push button that Enter in a text field does not trigger.
QPushButton* plainButton(const QString& text, QWidget* parent = nullptr);

} // namespace corvane::ui
