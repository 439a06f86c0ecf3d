#pragma once
// The strip above the canvas: one button per canvas tool, then "Clear annotations" and "Copy Screenshot".
#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

class QPushButton;
class QToolButton;

#include "model/Tool.hpp"

namespace corvane {

class AppModel;

// A flat tool button: bold with an accent backdrop while its tool is the current one.
class ToolButton : public QAbstractButton {
    Q_OBJECT
public:
    ToolButton(const QString& title, QWidget* parent);
    QSize sizeHint() const override;
    void setCurrent(bool current);
    // The drawn symbol that stands in for a title character the font may lack ("↗", "▭", "Δ"), or null.
    static const char* standInSymbol(QChar c);
    // Room left and right of the title, together.
    void setPadding(int padding);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int padding_ = 16;
};

class ToolPicker : public QWidget {
    Q_OBJECT
public:
    ToolPicker(AppModel& model, QWidget* parent = nullptr);

    // The title each tool's button shows (shorter than the tool's own title).
    static QString buttonTitle(Tool tool);
    // "tool." followed by the case name.
    static QString buttonName(Tool tool);

    // The width the strip needs with room to spare between the tools and both links shown, or (compact)
    // with tighter tools and the links behind the overflow button.
    int widthNeeded(bool compact) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int fullSpacing = 6;
    static constexpr int compactSpacing = 2;
    static constexpr int fullPadding = 16;
    static constexpr int compactPadding = 10;

    void refresh();
    void fitToWidth();

    QPointer<AppModel> model_;
    std::vector<ToolButton*> buttons_;
    QPushButton* clear_ = nullptr;
    QPushButton* copy_ = nullptr;
    QToolButton* overflow_ = nullptr;
    bool compact_ = false;
};

} // namespace corvane
