#include "core/NotificationCenter.h"

#include "core/Threading.h"

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
        postTo(app, [this] { emit quillaryWatchStateChanged(); });
        return;
    }
    emit quillaryWatchStateChanged();
}

} // namespace quillary
