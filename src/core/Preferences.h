#pragma once

#include "core/PreferenceKeys.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class QSettings;

namespace quillary {

// The per-user preference store: a flat map of typed values kept in an INI file.
//
// A read gives the stored value when it has the key's type, otherwise the registered default (for
// keys registered at start-up), otherwise the key's table default. Every write is synced to disk
// before it returns; QSettings writes through a temporary file and renames it over the old one, so a
// crash never leaves a half-written file. All members are safe to call from any thread.
//
// A path that holds something other than a regular file (a FIFO, a directory, a device) is never
// opened: reading a FIFO would wait for a writer forever. Nor is a file that cannot be read written
// over. The store then lives in memory only. A file that does not parse whole is first copied aside
// ("<file>.unreadable"), as the next write keeps only what could be read.
class Preferences final : public QObject {
    Q_OBJECT

public:
    // A store backed by the INI file at `filePath` (tests, tools).
    explicit Preferences(const QString& filePath, QObject* parent = nullptr);
    ~Preferences() override;

    // The application's store: organization "Quillary", application "Quillary"
    // (on Linux `$XDG_CONFIG_HOME/Quillary/Quillary.conf`).
    static Preferences& standard();

    // In-memory fallbacks for reads of absent or unusable values; never written to the file.
    void registerDefaults(const QVariantMap& defaults);

    bool boolValue(const PreferenceKey& key) const;
    QString textValue(const PreferenceKey& key) const;
    // Absent (or not data) reads as no value: a data key has no default.
    std::optional<QByteArray> dataValue(const PreferenceKey& key) const;
    double doubleValue(const PreferenceKey& key) const;

    // Whether anything at all is stored under the key, usable or not.
    bool hasStoredValue(const PreferenceKey& key) const;
    // What is stored under the key, of whatever type the file gave it; invalid when absent.
    QVariant storedValue(const PreferenceKey& key) const;

    void setBool(const PreferenceKey& key, bool value);
    void setText(const PreferenceKey& key, const QString& value);
    void setData(const PreferenceKey& key, const QByteArray& value);
    void setDouble(const PreferenceKey& key, double value);
    void removeValue(const PreferenceKey& key);
    // Stores `value` as it is, of any type; for keeping a value no typed read accepts.
    void setStoredValue(const PreferenceKey& key, const QVariant& value);

    QString fileName() const;

signals:
    // Emitted, from the writing thread, after a write or removal has reached the disk.
    void valueChanged(const QString& key);

private:
    QVariant registeredDefault(const PreferenceKey& key) const;
    void write(const PreferenceKey& key, const QVariant& value);

    mutable QMutex m_mutex;
    QString m_filePath;
    std::unique_ptr<QSettings> m_settings; // null when the path is not a regular file
    QVariantMap m_unsaved;                 // the values then
    QVariantMap m_registered;
};

QString keyName(const PreferenceKey& key);

// Registers the fallbacks of every key the preference table marks as registered.
void registerDefaultSettings(Preferences& store = Preferences::standard());

} // namespace quillary
