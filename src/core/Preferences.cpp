#include "core/Preferences.h"

#include "core/Diagnostics.h"
#include "core/FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quillary {
QString keyName(const PreferenceKey& key)
{
    return QString::fromLatin1(key.name.data(), static_cast<qsizetype>(key.name.size()));
}

namespace {

// The INI backend hands values back as text once they have been through the file, but as their
// original type while still cached; both forms are accepted, anything else is not a value of the type.
std::optional<bool> asBool(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(u"true", Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(u"false", Qt::CaseInsensitive) == 0)
            return false;
    }
    return std::nullopt;
}

// Infinity and NaN are no usable number, whether written as text or stored as a binary @Variant.
std::optional<double> asDouble(const QVariant& value)
{
    bool ok = false;
    double number = 0.0;
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        ok = true;
        number = value.toDouble();
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toDouble(&ok);
        break;
    default:
        break;
    }
    if (ok && std::isfinite(number))
        return number;
    return std::nullopt;
}

std::optional<QString> asText(const QVariant& value)
{
    // A hand-edited `a, b` comes back as a list; it is not text.
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

std::optional<QByteArray> asData(const QVariant& value)
{
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return std::nullopt;
}

// Creates `path` with `bytes`, synced; false (and nothing left) when it exists or a write fails.
bool createFileWith(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += written;
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok)
        ::unlink(path.constData());
    return ok;
}

// Keeps the bytes of a settings file that did not parse whole next to it, as "<file>.unreadable"
// (or "-2", "-3", … when that name holds something else), never replacing a file: the next write
// keeps only what could be read. The copy's path, or nothing when none could be made.
std::optional<QString> keepUnreadableCopy(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        QString copy = filePath + QStringLiteral(".unreadable");
        if (attempt > 1)
            copy += u'-' + QString::number(attempt);
        const QByteArray native = toNativePath(copy);
        if (createFileWith(native, bytes))
            return copy;
        if (errno != EEXIST)
            return std::nullopt;
        QFile existing(copy); // the same damage found at an earlier start is kept once
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes)
            return copy;
    }
    return std::nullopt;
}

} // namespace

Preferences::Preferences(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(filePath)
{
    // Symbolic links are followed: a link to a regular file is fine.
    const QFileInfo file(filePath);
    if (file.exists() && !file.isFile()) {
        printLine(
            QStringLiteral("⚠️ Quillary: The settings file %1 is not a regular file; using defaults and "
                           "not saving")
                .arg(filePath));
        return;
    }
    // A file that is there but cannot be read is left alone: the store then lives in memory only.
    if (file.exists()) {
        const int fd = ::open(toNativePath(filePath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            printLine(
                QStringLiteral("⚠️ Quillary: The settings file %1 could not be read (%2); using defaults "
                               "and not saving")
                    .arg(filePath, QString::fromLocal8Bit(std::strerror(errno))));
            return;
        }
        ::close(fd);
    }
    m_settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
    (void)m_settings->allKeys(); // sections are parsed when first read: a damaged one shows only then
    if (m_settings->status() != QSettings::FormatError)
        return;
    // The values that could be read are used; the next write would drop the rest, so it is kept.
    if (const std::optional<QString> copy = keepUnreadableCopy(filePath)) {
        printLine(
            QStringLiteral("⚠️ Quillary: The settings file %1 could not be read whole; it was kept as "
                           "%2 before being replaced")
                .arg(filePath, *copy));
        return;
    }
    printLine(
        QStringLiteral("⚠️ Quillary: The settings file %1 could not be read whole and no copy of it "
                       "could be kept; using what could be read and not saving")
            .arg(filePath));
    for (const QString& key : m_settings->allKeys())
        m_unsaved.insert(key, m_settings->value(key));
    m_settings.reset();
}

Preferences::~Preferences() = default;

Preferences& Preferences::standard()
{
    // Where QSettings keeps organization "Quillary", application "Quillary" in the user scope. Not
    // asked of a QSettings: making one reads the file, which must be checked first.
    static Preferences* store =
        new Preferences(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                            .filePath(QStringLiteral("Quillary/Quillary.conf")));
    return *store;
}

void Preferences::registerDefaults(const QVariantMap& defaults)
{
    const QMutexLocker lock(&m_mutex);
    m_registered.insert(defaults);
}

QVariant Preferences::storedValue(const PreferenceKey& key) const
{
    const QMutexLocker lock(&m_mutex);
    return m_settings ? m_settings->value(keyName(key)) : m_unsaved.value(keyName(key));
}

QVariant Preferences::registeredDefault(const PreferenceKey& key) const
{
    const QMutexLocker lock(&m_mutex);
    return m_registered.value(keyName(key));
}

bool Preferences::boolValue(const PreferenceKey& key) const
{
    if (const auto stored = asBool(storedValue(key)))
        return *stored;
    if (const auto registered = asBool(registeredDefault(key)))
        return *registered;
    return key.isRegistered ? false : key.boolDefault;
}

QString Preferences::textValue(const PreferenceKey& key) const
{
    if (const auto stored = asText(storedValue(key)))
        return *stored;
    if (const auto registered = asText(registeredDefault(key)))
        return *registered;
    return key.isRegistered ? QString() : QString::fromUtf8(key.textDefault.data(), key.textDefault.size());
}

std::optional<QByteArray> Preferences::dataValue(const PreferenceKey& key) const
{
    if (auto stored = asData(storedValue(key)))
        return stored;
    return asData(registeredDefault(key));
}

double Preferences::doubleValue(const PreferenceKey& key) const
{
    if (const auto stored = asDouble(storedValue(key)))
        return *stored;
    if (const auto registered = asDouble(registeredDefault(key)))
        return *registered;
    return key.isRegistered ? 0.0 : key.doubleDefault;
}

bool Preferences::hasStoredValue(const PreferenceKey& key) const
{
    const QMutexLocker lock(&m_mutex);
    return m_settings ? m_settings->contains(keyName(key)) : m_unsaved.contains(keyName(key));
}

void Preferences::setBool(const PreferenceKey& key, bool value)
{
    write(key, value);
}
void Preferences::setText(const PreferenceKey& key, const QString& value)
{
    write(key, value);
}
void Preferences::setData(const PreferenceKey& key, const QByteArray& value)
{
    write(key, value);
}
void Preferences::setDouble(const PreferenceKey& key, double value)
{
    write(key, value);
}
void Preferences::removeValue(const PreferenceKey& key)
{
    write(key, QVariant());
}
void Preferences::setStoredValue(const PreferenceKey& key, const QVariant& value)
{
    write(key, value);
}

void Preferences::write(const PreferenceKey& key, const QVariant& value)
{
    const QString name = keyName(key);
    {
        const QMutexLocker lock(&m_mutex);
        if (!m_settings) {
            if (value.isValid())
                m_unsaved.insert(name, value);
            else
                m_unsaved.remove(name);
        } else {
            if (value.isValid())
                m_settings->setValue(name, value);
            else
                m_settings->remove(name);
            m_settings->sync();
        }
    }
    emit valueChanged(name);
}

QString Preferences::fileName() const
{
    const QMutexLocker lock(&m_mutex);
    return m_settings ? m_settings->fileName() : m_filePath;
}

void registerDefaultSettings(Preferences& store)
{
    QVariantMap defaults;
    for (const PreferenceKey& key : prefs::allKeys) {
        if (!key.isRegistered)
            continue;
        const QString name = keyName(key);
        switch (key.type) {
        case PreferenceType::Boolean:
            defaults.insert(name, key.boolDefault);
            break;
        case PreferenceType::Text:
            defaults.insert(name, QString::fromUtf8(key.textDefault.data(), key.textDefault.size()));
            break;
        case PreferenceType::Double:
            defaults.insert(name, key.doubleDefault);
            break;
        case PreferenceType::Data:
            break;
        }
    }
    store.registerDefaults(defaults);
}

} // namespace quillary
