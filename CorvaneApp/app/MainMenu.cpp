#include "app/MainMenu.hpp"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include "app/AppDelegate.hpp"

namespace corvane {

namespace {

QMenu* menu(QMenuBar& bar, const QString& title, const QString& name) {
    QMenu* m = bar.addMenu(title);
    m->setObjectName(name);
    return m;
}

template <class F>
QAction* item(QMenu* m, const QString& title, const QString& name, QList<QKeySequence> keys, F&& action) {
    QAction* a = m->addAction(title);
    a->setObjectName(name);
    a->setShortcuts(keys);
    QObject::connect(a, &QAction::triggered, m, std::forward<F>(action));
    return a;
}

QKeySequence ctrl(int key) { return QKeySequence(Qt::CTRL | key); }

} // namespace

void buildMainMenu(QMenuBar& bar, AppDelegate& d) {
    QMenu* app = menu(bar, QStringLiteral("Corvane"), QStringLiteral("menu.app"));
    item(app, QStringLiteral("About Corvane"), "action.about", {}, [&d] { d.showAbout(); });
    app->addSeparator();
    // Kept for its place and shortcut; there are no preferences yet.
    QAction* prefs = app->addAction(QStringLiteral("Preferences\u2026"));
    prefs->setObjectName("action.preferences");
    prefs->setShortcut(ctrl(Qt::Key_Comma));
    prefs->setEnabled(false);
    app->addSeparator();
    QAction* quit = item(app, QStringLiteral("Quit Corvane"), "action.quit", {ctrl(Qt::Key_Q)}, [&d] { d.quit(); });
    quit->setMenuRole(QAction::NoRole);

    QMenu* file = menu(bar, QStringLiteral("File"), QStringLiteral("menu.file"));
    item(file, QStringLiteral("Open Package\u2026"), "action.openFile", {ctrl(Qt::Key_O)}, [&d] { d.openPanel(); });
    item(file, QStringLiteral("Export PDF Report\u2026"), "action.exportReport", {ctrl(Qt::Key_E)},
         [&d] { d.exportReport(); });
    file->addSeparator();
    item(file, QStringLiteral("Copy Screenshot"), "action.copyShot", {ctrl(Qt::Key_C)}, [&d] { d.copyShot(); });

    QMenu* view = menu(bar, QStringLiteral("View"), QStringLiteral("menu.view"));
    item(view, QStringLiteral("Fit Board"), "action.fitBoard", {ctrl(Qt::Key_F)}, [&d] { d.fitBoard(); });
    // "=" is the unshifted "+" key on most layouts.
    item(view, QStringLiteral("Zoom In"), "action.zoomIn", {ctrl(Qt::Key_Plus), ctrl(Qt::Key_Equal)},
         [&d] { d.zoomIn(); });
    item(view, QStringLiteral("Zoom Out"), "action.zoomOut", {ctrl(Qt::Key_Minus)}, [&d] { d.zoomOut(); });
    view->addSeparator();
    item(view, QStringLiteral("Bottom View (Mirror)"), "action.toggleMirror", {ctrl(Qt::Key_M)},
         [&d] { d.toggleMirror(); });
    QMenu* units = view->addMenu(QStringLiteral("Units"));
    units->setObjectName("menu.units");
    item(units, QStringLiteral("Millimetres"), "action.unitsMM", {}, [&d] { d.unitsMM(); });
    item(units, QStringLiteral("Mil"), "action.unitsMil", {}, [&d] { d.unitsMil(); });

    QMenu* tools = menu(bar, QStringLiteral("Tools"), QStringLiteral("menu.tools"));
    item(tools, QStringLiteral("Gerber Compare\u2026"), "action.openCompare", {ctrl(Qt::Key_K)},
         [&d] { d.openCompare(); });
    item(tools, QStringLiteral("Drill View\u2026"), "action.openDrill", {ctrl(Qt::Key_D)}, [&d] { d.openDrill(); });
    item(tools, QStringLiteral("Quick Checks\u2026"), "action.openChecks", {ctrl(Qt::Key_L)}, [&d] { d.openChecks(); });
    item(tools, QStringLiteral("Manufacturing Presets\u2026"), "action.openPresets", {}, [&d] { d.openPresets(); });
    item(tools, QStringLiteral("Revision Workspace\u2026"), "action.openWorkspace", {ctrl(Qt::Key_W)},
         [&d] { d.openWorkspace(); });

    QMenu* help = menu(bar, QStringLiteral("Help"), QStringLiteral("menu.help"));
    item(help, QStringLiteral("Privacy: 100% Local Review"), "action.privacy", {}, [&d] { d.showPrivacy(); });
}

} // namespace corvane
