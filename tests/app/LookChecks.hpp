#pragma once
// What a person looking at a window or sheet would object to, found from its widgets: a text with a glyph
// no font has (drawn as an empty box), a one-line text wider than its label or button, a wrapped text broken
// inside a number, a shortened text without its whole form in the tooltip, an unknown symbol.
#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QToolButton>
#include <QWidget>

#include "app/AutomationHooks.hpp"
#include "panels/PanelStyle.hpp"
#include "panels/SidebarView.hpp"
#include "panels/SymbolIcons.hpp"

namespace corvane::testing {

inline std::string describe(const QWidget* w) {
    return (w->objectName().isEmpty() ? std::string(w->metaObject()->className()) : w->objectName().toStdString());
}

// Whether a line break between `before` and `after` (no blank at the break) falls inside a number.
inline bool breaksInsideNumber(QChar before, QChar after) {
    const auto numeric = [](QChar c) { return c.isDigit() || c == u'.' || c == u','; };
    return (before.isDigit() && numeric(after)) || (numeric(before) && after.isDigit());
}

// The problems of one text drawn in `font` into `width` pixels, on one line or wrapped at words.
inline void textProblems(const QWidget* w, const QString& text, const QFont& font, int width, bool wraps,
                         std::vector<std::string>& out) {
    if (text.isEmpty()) return;
    const std::string where = describe(w) + " \"" + text.toStdString() + "\": ";
    if (!ui::drawsEveryCharacter(text, font)) out.push_back(where + "a character is drawn as the missing-glyph box");
    const QFontMetrics metrics(font);
    if (!wraps) {
        for (const QString& line : text.split(u'\n'))
            if (metrics.horizontalAdvance(line) > width + 1)
                out.push_back(where + "clipped (" + std::to_string(metrics.horizontalAdvance(line)) + " px in " +
                              std::to_string(width) + ")");
        return;
    }
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    std::vector<int> starts;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        starts.push_back(line.textStart());
        // A word longer than the line is not broken but cut at the label's edge ("(7.5", "67.89").
        if (line.naturalTextWidth() > width + 1)
            out.push_back(where + "a wrapped line is clipped (" +
                          text.mid(line.textStart(), line.textLength()).trimmed().toStdString() + ")");
    }
    layout.endLayout();
    for (int start : starts) {
        if (start <= 0 || start >= text.size()) continue;
        if (breaksInsideNumber(text[start - 1], text[start])) out.push_back(where + "wrapped inside a number");
    }
}

// Whether a text or button lies partly past the sides of the list it scrolls in (a column wider than its
// panel shows its right-aligned values cut or not at all).
inline bool cutBySides(const QWidget* w) {
    for (const QWidget* up = w->parentWidget(); up; up = up->parentWidget()) {
        const auto* area = qobject_cast<const QScrollArea*>(up);
        if (!area || !area->widget() || !area->widget()->isAncestorOf(w)) continue;
        if (area->horizontalScrollBar()->isVisible()) return false;
        const QRect r(w->mapTo(area->viewport(), QPoint(0, 0)), w->size());
        return r.left() < 0 || r.right() >= area->viewport()->width() + 1;
    }
    return false;
}

// Every problem of the visible widgets under `root` (root included).
inline std::vector<std::string> lookProblems(QWidget* root) {
    std::vector<std::string> out;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        if (!w->isVisible()) continue;
        if ((qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) && cutBySides(w))
            out.push_back(describe(w) + ": cut by the sides of the list it is in");
        const QVariant symbol = w->property("symbol");
        if (symbol.isValid() && !knownSymbols().contains(symbol.toString()))
            out.push_back(describe(w) + ": symbol \"" + symbol.toString().toStdString() + "\" is not drawn");
        if (auto* elided = qobject_cast<ui::ElidedLabel*>(w)) {
            textProblems(w, elided->text(), elided->font(), INT_MAX / 2, false, out);
            if (elided->shownText() != elided->text() && elided->toolTip() != elided->text())
                out.push_back(describe(w) + " \"" + elided->text().toStdString() + "\": shortened without a tooltip");
            continue;
        }
        if (auto* wrapped = qobject_cast<ui::WrappedLabel*>(w)) {
            // Wraps inside long words too: whole at any width, as long as it is given the height of its lines.
            textProblems(w, wrapped->text(), wrapped->font(), INT_MAX / 2, false, out);
            const QRect area = wrapped->contentsRect();
            if (!wrapped->text().isEmpty() &&
                wrapped->linesAt(area.width()) * wrapped->fontMetrics().lineSpacing() > area.height() + 2)
                out.push_back(describe(w) + " \"" + wrapped->text().toStdString() + "\": lines cut off (" +
                              std::to_string(wrapped->linesAt(area.width())) + " lines in " +
                              std::to_string(area.height()) + " px)");
            continue;
        }
        if (auto* change = qobject_cast<ChangeButton*>(w)) {
            textProblems(w, change->text(), change->font(), INT_MAX / 2, false, out);
            if (!change->shownText().endsWith(ChangeButton::positionText(change->change())))
                out.push_back(describe(w) + " \"" + change->text().toStdString() + "\": position cut");
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText) continue;
            const int room = label->contentsRect().width() - 2 * label->margin() - std::max(0, label->indent());
            textProblems(w, label->text(), label->font(), room, label->wordWrap(), out);
            continue;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            textProblems(w, button->text(), button->font(), INT_MAX / 2, false, out);
            // Buttons lay out text and icon by their style: narrower than that asks for, something is cut.
            if (!button->text().isEmpty() && button->width() < button->sizeHint().width())
                out.push_back(describe(w) + " \"" + button->text().toStdString() + "\": narrower than its text (" +
                              std::to_string(button->width()) + " < " + std::to_string(button->sizeHint().width()) +
                              ")");
        }
    }
    return out;
}

inline std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// Keeps a grab of `widget` under shots/ in the build tree for people to look at, and checks it as they would.
inline void expectLooksRight(QWidget* widget, const QString& name) {
    AutomationHooks::settleWindow(widget);
    const QString folder = QDir::currentPath() + "/shots";
    QDir().mkpath(folder);
    widget->grab().save(folder + "/" + name + ".png");
    const auto problems = lookProblems(widget);
    EXPECT_TRUE(problems.empty()) << name.toStdString() << ":\n" << joined(problems);
}

} // namespace corvane::testing
