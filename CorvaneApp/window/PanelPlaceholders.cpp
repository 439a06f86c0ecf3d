// Stand-ins for the side panels and sheets that are not built yet. Each is replaced by removing its function
// here and defining it with the real panel or sheet.
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "window/PanelSlots.hpp"
#include "window/SheetFrame.hpp"
#include "window/Symbols.hpp"

namespace corvane {

namespace {

QWidget* placeholderPanel(const QString& name, const QString& title, QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    auto* stack = new QVBoxLayout(panel);
    stack->setContentsMargins(12, 12, 12, 12);
    auto* heading = new QLabel(title, panel);
    heading->setFont(textStyleFont(TextStyle::headline));
    stack->addWidget(heading);
    stack->addStretch(1);
    return panel;
}

QDialog* placeholderSheet(const QString& name, const QString& symbol, const QString& title, QWidget* parent) {
    auto* sheet = new SheetFrame(parent, name, symbol, QColor(0x0a, 0x84, 0xff), title);
    auto* note = new QLabel(QStringLiteral("Not available in this version."), sheet);
    note->setObjectName(name + ".placeholder");
    sheet->body()->addWidget(note);
    sheet->resize(520, 360);
    return sheet;
}

} // namespace

QWidget* makeSidebarView(AppModel&, QWidget* parent) {
    return placeholderPanel(QStringLiteral("sidebar.placeholder"), QStringLiteral("Layers"), parent);
}

QWidget* makeInspectorPanel(AppModel&, QWidget* parent) {
    return placeholderPanel(QStringLiteral("inspector.placeholder"), QStringLiteral("Inspector"), parent);
}

QDialog* makeCompareSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.compare", "arrow.left.arrow.right", "Gerber Compare", parent);
}
QDialog* makeDrillSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.drill", "circle.grid.2x2", "Drill View", parent);
}
QDialog* makeChecksSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.checks", "checkmark.shield", "Quick Checks", parent);
}
QDialog* makePresetSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.presets", "slider.horizontal.3", "Manufacturing Presets", parent);
}
QDialog* makeWorkspaceSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.workspace", "folder", "Revision Workspace", parent);
}
QDialog* makeReportSheet(AppModel&, QWidget* parent) {
    return placeholderSheet("sheet.report", "doc.richtext", "Export PDF Report", parent);
}

} // namespace corvane
