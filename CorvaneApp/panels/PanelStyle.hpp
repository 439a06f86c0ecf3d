#pragma once
// Small building blocks shared by the side panels and the sheets: pixel-sized fonts, the named colours,
// symbol glyphs and the flat "link" buttons.
#include <string>

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QTextLayout>

class QLayout;
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

// Whether `font` (with the fonts Qt falls back to) has a glyph for every character of `text`: a missing one is
// drawn as an empty box.
bool drawsEveryCharacter(const QString& text, const QFont& font);

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
    // A start the text shares with its neighbours (the package name every file name begins with, say): when
    // the text does not fit, that start is the first to give way.
    void setSharedStart(const QString& start);
    // A start that gives way only after the rest has given its shared start ("Only in ESP32_RevA: " before a file
    // name: the revision is what the line says), and then no further than to half the room, in its middle.
    void setKeptStart(const QString& start);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // `text` shortened to `room` pixels, its shared start giving way first.
    QString elided(const QString& text, int room) const;

    Qt::TextElideMode mode_;
    QString sharedStart_;
    QString keptStart_;
};
// A label that wraps its text at blanks, and inside a word longer than a line, so that a long message or path
// shows whole at any width. Its text is also its tooltip.
class WrappedLabel : public QLabel {
    Q_OBJECT
public:
    explicit WrappedLabel(QWidget* parent = nullptr);
    void setWholeText(const QString& text);
    // The number of lines the text takes at `width` pixels.
    int linesAt(int width) const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Lays the text out in lines `width` pixels wide; returns their height.
    int layOut(QTextLayout& layout, int width) const;
};

// An elided label in `font` and `color` showing `text`, with the whole text as its tooltip.
ElidedLabel* elidedLabel(const QString& text, Qt::TextElideMode mode, const QFont& font, const QColor& color,
                         QWidget* parent);
// A "label … value" row whose value is never cut: it keeps its whole width on the label's line while the label,
// shortened first, keeps room for a few characters; otherwise it moves to a line of its own below the label,
// right-aligned and wrapped at blanks (inside a word only when the word alone is wider than the row, as a long
// file name is), so a number is never split. The value label is named `valueName`.
class ValueRow : public QWidget {
    Q_OBJECT
public:
    ValueRow(const QString& label, const QFont& labelFont, const QColor& labelColor, const QString& value,
             const QFont& valueFont, const char* valueName, QWidget* parent = nullptr);
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // Whether the value stands on a line of its own at the present width.
    bool valueBelow() const { return valueBelow(width()); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    bool valueBelow(int width) const;
    int valueWidth() const;
    void place();

    ElidedLabel* name_ = nullptr;
    QLabel* value_ = nullptr;
};
QWidget* labelValueRow(const QString& label, const QFont& labelFont, const QColor& labelColor, const QString& value,
                       const QFont& valueFont, const char* valueName, QWidget* parent);

// Empties `box`, deleting its widgets and nested layouts.
void clearLayout(QLayout* box);

// A flat button that reads as a link; never the dialog's default button.
QPushButton* linkButton(const QString& text, QWidget* parent = nullptr);
// A small indeterminate progress bar, shown while a sheet's work runs.
QProgressBar* busyIndicator(const char* objectName, QWidget* parent);
// A plain push button that Enter in a text field does not trigger.
QPushButton* plainButton(const QString& text, QWidget* parent = nullptr);

} // namespace corvane::ui
