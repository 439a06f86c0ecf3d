#pragma once
// The strip above the canvas: one button per canvas tool, then "Clear annotations" and "Copy Screenshot".
#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

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

protected:
    void paintEvent(QPaintEvent* event) override;
};

class ToolPicker : public QWidget {
    Q_OBJECT
public:
    ToolPicker(AppModel& model, QWidget* parent = nullptr);

    // The title each tool's button shows (shorter than the tool's own title).
    static QString buttonTitle(Tool tool);
    // "tool." followed by the case name.
    static QString buttonName(Tool tool);

private:
    void refresh();

    QPointer<AppModel> model_;
    std::vector<ToolButton*> buttons_;
};

} // namespace corvane
