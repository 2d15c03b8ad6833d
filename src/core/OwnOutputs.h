#pragma once

#include <QMutex>
#include <QSet>
#include <QString>

namespace quillary {

// The files Quillary writes itself (moved and converted screenshots, clipboard images), registered
// by path before they exist, so that a watched folder never takes them for new screenshots.
// Safe from any thread.
class OwnOutputs final {
public:
    void add(const QString& path);
    bool contains(const QString& path) const;
    QSet<QString> paths() const;

private:
    mutable QMutex m_mutex;
    QSet<QString> m_paths;
};

} // namespace quillary
