#include "core/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

namespace quillary {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::postWatchStateChanged()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [this] { emit quillaryWatchStateChanged(); }, Qt::QueuedConnection);
        return;
    }
    emit quillaryWatchStateChanged();
}

} // namespace quillary
