#pragma once

#include <QDateTime>

namespace quillary {

// The state of the folder watch.
enum class WatchStatus {
    active,     // the last access probe of the watched folder succeeded
    noAccess,   // the probe failed, or the monitor was refused with EACCES
    notStarted, // no watch has been started yet
};

// Stand-ins for "before anything" and "after everything" in date comparisons.
inline QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}
inline QDateTime distantFuture()
{
    return QDateTime(QDate(4001, 1, 1), QTime(0, 0), Qt::UTC);
}

} // namespace quillary
