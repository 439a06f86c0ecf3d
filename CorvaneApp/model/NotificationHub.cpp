#include "NotificationHub.hpp"

namespace corvane {

Notifications& Notifications::center() {
    static Notifications* hub = new Notifications();  // lives as long as the process; never torn down
    return *hub;
}

void Notifications::post(const QString& name) { Q_EMIT center().posted(name); }

QMetaObject::Connection Notifications::observe(const QString& name, const QObject* context,
                                               std::function<void()> handler) {
    return QObject::connect(
        &center(), &Notifications::posted, context,
        [name, handler = std::move(handler)](const QString& posted) {
            if (posted == name) handler();
        },
        Qt::DirectConnection);
}

} // namespace corvane
