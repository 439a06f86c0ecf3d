#pragma once
// The named notifications that let menu commands, views and the canvas reach each other without holding
// one another. Posting is synchronous on the GUI thread; a name nobody observes does nothing.
#include <functional>

#include <QObject>
#include <QString>

namespace corvane {

class Notifications : public QObject {
    Q_OBJECT
public:
    static constexpr const char* corvaneOpen = "Corvane.open";
    static constexpr const char* openReportSheet = "Corvane.openReportSheet";
    static constexpr const char* openCompareSheet = "Corvane.openCompareSheet";
    static constexpr const char* openDrillSheet = "Corvane.openDrillSheet";
    static constexpr const char* openChecksSheet2 = "Corvane.openChecksSheet2";
    static constexpr const char* openPresetSheet = "Corvane.openPresetSheet";
    static constexpr const char* openWorkspaceSheet = "Corvane.openWorkspaceSheet";
    static constexpr const char* overlayNeedsDisplay = "Corvane.overlayNeedsDisplay";

    // The process-wide hub; made on first use, on the GUI thread.
    static Notifications& center();

    // Runs every observer of `name`, in the order they were added, before returning.
    static void post(const QString& name);
    // `handler` runs for each post of `name` until `context` is destroyed or the connection is broken.
    static QMetaObject::Connection observe(const QString& name, const QObject* context, std::function<void()> handler);

Q_SIGNALS:
    void posted(const QString& name);

private:
    Notifications() = default;
};

} // namespace corvane
