#pragma once
// The side panels and the six sheets of the main window. Each builder lives with its panel or sheet;
// PanelPlaceholders.cpp provides a labelled stand-in for every one that is not built yet.
class QDialog;
class QWidget;

namespace corvane {

class AppModel;

QWidget* makeSidebarView(AppModel& model, QWidget* parent);
QWidget* makeInspectorPanel(AppModel& model, QWidget* parent);

// Each call makes a new sheet in its initial state; the main window presents it and deletes it on close.
QDialog* makeCompareSheet(AppModel& model, QWidget* parent);
QDialog* makeDrillSheet(AppModel& model, QWidget* parent);
QDialog* makeChecksSheet(AppModel& model, QWidget* parent);
QDialog* makePresetSheet(AppModel& model, QWidget* parent);
QDialog* makeWorkspaceSheet(AppModel& model, QWidget* parent);
QDialog* makeReportSheet(AppModel& model, QWidget* parent);

} // namespace corvane
