#pragma once
// Opens the sheets when their notifications are posted: one sheet per name, a second request raises it.
// A sheet asked for from an open sheet (checks -> "Edit Presets...") opens over that sheet. Sheets open over
// the canvas, leaving the tool row, the status bar and the side panels in view.
#include <functional>
#include <map>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "model/AppModel.hpp"

class QDialog;

namespace corvane {

class SheetPresenter : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<QDialog*(AppModel* model, QWidget* parent)>;

    SheetPresenter(QWidget* window, AppModel* model);
    // The open sheet for a notification name, if any.
    QDialog* sheet(const QString& name) const;
    void present(const QString& name);
    void addSheet(const QString& name, Factory factory);
    // Where sheets open: over the canvas, between the tool row and the status bar (global coordinates).
    QRect sheetArea() const;

private:
    QPointer<QWidget> window_;
    QPointer<AppModel> model_;
    std::map<QString, Factory> factories_;
    std::map<QString, QPointer<QDialog>> open_;
};

} // namespace corvane
