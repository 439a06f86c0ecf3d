// Stand-ins for the sheets that are not built yet, so their menu items and toolbar buttons open something.
// When a sheet is built, its line goes from the list below and the presenter registers the real one.
#include "sheets/SheetPlaceholders.hpp"

#include <QLabel>
#include <QVBoxLayout>

#include "model/NotificationHub.hpp"
#include "panels/PanelStyle.hpp"
#include "sheets/SheetFrame.hpp"
#include "sheets/SheetPresenter.hpp"

namespace corvane {

namespace {

class PlaceholderSheet : public SheetFrame {
public:
    PlaceholderSheet(QWidget* parent, const char* name, const char* symbol, const QString& title)
        : SheetFrame(parent, name, symbol, ui::blue(), title, 12) {
        auto* note = ui::textLabel(QStringLiteral("Not available in this version."), ui::captionFont(),
                                   ui::secondaryColor(), this);
        note->setObjectName("sheet.placeholder");
        body()->addWidget(note);
        footerRow()->addStretch(1);
        finishFooter();
        resize(520, 320);
    }
};

SheetPresenter::Factory placeholder(const char* name, const char* symbol, const char* title) {
    return [=](AppModel*, QWidget* parent) -> QDialog* {
        return new PlaceholderSheet(parent, name, symbol, QString::fromUtf8(title));
    };
}

} // namespace

void addSheetPlaceholders(SheetPresenter& presenter) {
    presenter.addSheet(Notifications::openCompareSheet,
                       placeholder("sheet.compare", "arrow.left.arrow.right.circle.fill", "Gerber Compare"));
    presenter.addSheet(Notifications::openWorkspaceSheet,
                       placeholder("sheet.workspace", "square.stack.3d.up.fill", "Revision Workspace"));
    presenter.addSheet(Notifications::openReportSheet,
                       placeholder("sheet.report", "doc.richtext.fill", "Export PDF Report"));
}

} // namespace corvane
