#include "sheets/SheetPresenter.hpp"

#include <QApplication>
#include <QDialog>

#include "model/NotificationHub.hpp"
#include "sheets/ChecksSheet.hpp"
#include "sheets/CompareSheet.hpp"
#include "sheets/DrillSheet.hpp"
#include "sheets/PresetSheet.hpp"
#include "sheets/ReportSheet.hpp"
#include "sheets/SheetFrame.hpp"
#include "sheets/WorkspaceSheet.hpp"

namespace corvane {

namespace {

template <class Sheet>
SheetPresenter::Factory make() {
    return [](AppModel* model, QWidget* parent) -> QDialog* { return new Sheet(model, parent); };
}

} // namespace

SheetPresenter::SheetPresenter(QWidget* window, AppModel* model) : QObject(window), window_(window), model_(model) {
    addSheet(Notifications::openDrillSheet, make<DrillSheet>());
    addSheet(Notifications::openChecksSheet2, make<ChecksSheet>());
    addSheet(Notifications::openPresetSheet, make<PresetSheet>());
    addSheet(Notifications::openCompareSheet, make<CompareSheet>());
    addSheet(Notifications::openWorkspaceSheet, make<WorkspaceSheet>());
    addSheet(Notifications::openReportSheet, make<ReportSheet>());
}

void SheetPresenter::addSheet(const QString& name, Factory factory) {
    const bool observed = factories_.count(name) > 0;
    factories_[name] = std::move(factory);
    if (!observed) Notifications::observe(name, this, [this, name] { present(name); });
}

QDialog* SheetPresenter::sheet(const QString& name) const {
    const auto it = open_.find(name);
    return it == open_.end() ? nullptr : it->second.data();
}

QRect SheetPresenter::sheetArea() const {
    QWidget* canvas = window_ ? window_->findChild<QWidget*>(QStringLiteral("canvasStack")) : nullptr;
    if (!canvas || !canvas->isVisible()) return {};
    return QRect(canvas->mapToGlobal(QPoint(0, 0)), canvas->size());
}

void SheetPresenter::present(const QString& name) {
    if (!model_ || !window_) return;
    // A sheet that was closed but not yet deleted is not open any more.
    if (QDialog* existing = sheet(name); existing && existing->isVisible()) {
        existing->raise();
        existing->activateWindow();
        return;
    }
    const auto it = factories_.find(name);
    if (it == factories_.end()) return;
    QWidget* parent = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!parent) parent = window_;
    QDialog* dialog = it->second(model_.data(), parent);
    open_[name] = dialog;
    if (auto* frame = qobject_cast<SheetFrame*>(dialog)) frame->placeOver(sheetArea());
    dialog->open();
}

} // namespace corvane
