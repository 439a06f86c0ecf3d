// The desktop program: the application, its delegate, and the files named on the command line.
#include <filesystem>
#include <vector>

#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.hpp"
#include "canvas/GLBoardRenderer.hpp"

int main(int argc, char** argv) {
    corvane::GLBoardRenderer::installDefaultSurfaceFormat();
    QApplication app(argc, argv);
    corvane::GLBoardRenderer::startLoadingDriver();
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setOrganizationName(QStringLiteral("Corvane"));
    QApplication::setQuitOnLastWindowClosed(true);

    std::vector<std::filesystem::path> paths;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) paths.emplace_back(arguments[i].toStdString());

    corvane::AppDelegate::prefetchLaunchImports(paths);
    corvane::AppDelegate delegate;
    // Launching has finished once the event loop runs; files handed over at launch import after the hooks.
    QTimer::singleShot(0, &delegate, [&delegate, paths] {
        delegate.applicationDidFinishLaunching();
        delegate.openURLs(paths);
    });
    return app.exec();
}
