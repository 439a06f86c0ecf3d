#pragma once
// The menu bar: "Corvane", "File", "View", "Tools" and "Help", no Edit or Window menu, so Ctrl+C copies a
// board screenshot and Ctrl+W opens the revision workspace.
class QMenuBar;

namespace corvane {

class AppDelegate;

// Adds the five menus to an empty bar.
void buildMainMenu(QMenuBar& bar, AppDelegate& delegate);

} // namespace corvane
