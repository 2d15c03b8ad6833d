#include "core/OwnOutputs.h"

namespace quillary {

void OwnOutputs::add(const QString& path)
{
    const QMutexLocker lock(&m_mutex);
    m_paths.insert(path);
}

bool OwnOutputs::contains(const QString& path) const
{
    const QMutexLocker lock(&m_mutex);
    return m_paths.contains(path);
}

QSet<QString> OwnOutputs::paths() const
{
    const QMutexLocker lock(&m_mutex);
    return m_paths;
}

} // namespace quillary
