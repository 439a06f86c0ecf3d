#include "window/MainWindowView.hpp"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QResizeEvent>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "canvas/CanvasContainerView.hpp"
#include "model/AppModel.hpp"
#include "model/NotificationHub.hpp"
#include "window/BoardCommands.hpp"
#include "panels/DetailsPanel.hpp"
#include "panels/SidebarView.hpp"
#include "sheets/SheetPresenter.hpp"
#include "window/StatusBarView.hpp"
#include "panels/SymbolIcons.hpp"
#include "window/ToolPicker.hpp"
#include "window/WelcomeView.hpp"

namespace corvane {

namespace {

// The canvas fills this area; the welcome panel floats centred over it.
class CanvasStack : public QWidget {
public:
    CanvasStack(QWidget* parent) : QWidget(parent) {}
    QWidget* canvas = nullptr;
    QWidget* overlay = nullptr;

    void place() {
        if (canvas) canvas->setGeometry(rect());
        if (overlay) {
            const QSize hint = overlay->sizeHint().boundedTo(size());
            overlay->setGeometry(QRect(QPoint((width() - hint.width()) / 2, (height() - hint.height()) / 2), hint));
            overlay->raise();
        }
    }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }
};

QWidget* limitWidth(QWidget* panel, int minimum, int maximum) {
    panel->setMinimumWidth(minimum);
    panel->setMaximumWidth(maximum);
    return panel;
}

} // namespace

MainWindowView::MainWindowView(AppModel& model, QWidget* parent) : QWidget(parent), model_(&model) {
    setObjectName("mainWindowView");
    setAcceptDrops(true);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("mainSplitter");
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(1);
    root->addWidget(splitter_);

    splitter_->addWidget(limitWidth(new SidebarView(&model, splitter_), sidebarMinWidth, sidebarMaxWidth));

    auto* column = new QWidget(splitter_);
    column->setObjectName("canvasColumn");
    column->setMinimumWidth(940 - sidebarMinWidth - inspectorMinWidth - 2 * splitter_->handleWidth());
    auto* columnStack = new QVBoxLayout(column);
    columnStack->setContentsMargins(0, 0, 0, 0);
    columnStack->setSpacing(0);
    auto* picker = new ToolPicker(model, column);
    picker->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    columnStack->addWidget(picker);
    auto* stack = new CanvasStack(column);
    stack->setObjectName("canvasStack");
    canvasHost_ = std::make_unique<CanvasHost>(&model);
    canvas_ = canvasHost_->makeView(stack);
    welcome_ = new WelcomeView(model, stack);
    stack->canvas = canvas_;
    stack->overlay = welcome_;
    columnStack->addWidget(stack, 1);
    auto* status = new StatusBarView(model, column);
    status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    columnStack->addWidget(status);
    splitter_->addWidget(column);

    splitter_->addWidget(limitWidth(new DetailsPanel(&model, splitter_), inspectorMinWidth, inspectorMaxWidth));
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setStretchFactor(2, 0);

    buildToolbar();

    // The presenter answers the six sheet notifications.
    sheets_ = new SheetPresenter(this, &model);
    connect(&model, &AppModel::packageChanged, this, &MainWindowView::refreshWelcome);
    connect(&model, &AppModel::cameraChanged, this, &MainWindowView::refreshToolbar);
    connect(&model, &AppModel::unitsChanged, this, &MainWindowView::refreshToolbar);
    refreshWelcome();
    refreshToolbar();
}

MainWindowView::~MainWindowView() = default;

void MainWindowView::buildToolbar() {
    toolbar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolbar_->setObjectName("toolbar");
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar_->setIconSize(QSize(16, 16));
    const QColor ink = palette().color(QPalette::ButtonText);

    auto button = [&](const QString& name, const QString& title, const QString& symbol, const QString& help,
                      auto&& action) {
        QAction* a = toolbar_->addAction(symbolIcon(symbol, ink), title);
        a->setObjectName(name);
        a->setToolTip(help.isEmpty() ? title : help);
        connect(a, &QAction::triggered, this, action);
        if (QWidget* w = toolbar_->widgetForAction(a)) {
            w->setObjectName(name);
            w->setProperty("symbol", symbol);
            if (help.isEmpty()) w->setToolTip(QString());
        }
        return a;
    };

    button("toolbar.open", "Open Package", "shippingbox", "Import a manufacturer ZIP, folder or single Gerber file",
           [this] { openPanel(); });
    toolbar_->addSeparator();
    button("toolbar.compare", "Compare", "arrow.left.arrow.right", "Compare two revisions",
           [this] { presentSheet(Notifications::openCompareSheet); });
    button("toolbar.drill", "Drill", "circle.grid.2x2", "Drill view with PTH/NPTH statistics",
           [this] { presentSheet(Notifications::openDrillSheet); });
    button("toolbar.checks", "Checks", "checkmark.shield", "Quick checks against your factory preset",
           [this] { presentSheet(Notifications::openChecksSheet2); });
    button("toolbar.report", "Report", "doc.richtext", "Export PDF report", [this] { presentSheet(Notifications::openReportSheet); });
    toolbar_->addSeparator();
    button("toolbar.fit", "Fit", "arrow.up.left.and.arrow.down.right", QString(), [this] { fitBoard(); });
    viewAction_ = button("toolbar.view", "Top View", "arrow.triangle.2.circlepath", "Flip top/bottom view (mirror)",
                         [this] { toggleMirror(); });
    toolbar_->addSeparator();

    unitsButton_ = new QToolButton(toolbar_);
    unitsButton_->setObjectName("toolbar.units");
    unitsButton_->setPopupMode(QToolButton::InstantPopup);
    unitsButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* menu = new QMenu(unitsButton_);
    menu->setObjectName("toolbar.units.menu");
    QAction* mm = menu->addAction(QStringLiteral("mm"));
    mm->setObjectName("toolbar.units.mm");
    connect(mm, &QAction::triggered, this, [this] {
        if (model_) model_->setUnits(Units::mm);
    });
    QAction* mil = menu->addAction(QStringLiteral("mil"));
    mil->setObjectName("toolbar.units.mil");
    connect(mil, &QAction::triggered, this, [this] {
        if (model_) model_->setUnits(Units::mil);
    });
    unitsButton_->setMenu(menu);
    toolbar_->addWidget(unitsButton_);
}

void MainWindowView::refreshToolbar() {
    if (!model_) return;
    // The title names the side shown now, not the side a click would show.
    const QString view = model_->camera().mirrored ? QStringLiteral("Bottom View") : QStringLiteral("Top View");
    viewAction_->setText(view);
    viewAction_->setToolTip(QStringLiteral("Flip top/bottom view (mirror)"));
    unitsButton_->setText(QString::fromStdString(std::string(model_->units().rawValue())).toUpper());
}

void MainWindowView::refreshWelcome() {
    if (!model_ || !welcome_) return;
    welcome_->setVisible(!model_->package());
    if (auto* stack = dynamic_cast<CanvasStack*>(welcome_->parentWidget())) stack->place();
}

void MainWindowView::openPanel() {
    if (model_) BoardCommands::openImportPanel(*model_, window(), QString::fromUtf8(openPanelMessage));
}

void MainWindowView::toggleMirror() {
    if (model_) BoardCommands::toggleMirror(*model_);
}

void MainWindowView::fitBoard() {
    if (model_) BoardCommands::fitBoard(*model_);
}

bool MainWindowView::handleDrop(const QList<QUrl>& urls) {
    if (!model_) return false;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) continue;
        model_->importURL(std::filesystem::path(url.toLocalFile().toStdString()));
        return true;
    }
    return false;
}

void MainWindowView::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindowView::dropEvent(QDropEvent* event) {
    if (handleDrop(event->mimeData()->urls())) event->acceptProposedAction();
    else event->ignore();
}

void MainWindowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (sizedOnce_) return;
    sizedOnce_ = true;
    const int handles = 2 * splitter_->handleWidth();
    splitter_->setSizes({sidebarWidth, std::max(0, width() - sidebarWidth - inspectorWidth - handles), inspectorWidth});
}

void MainWindowView::presentSheet(const QString& name) {
    if (sheets_) sheets_->present(name);
}

} // namespace corvane
