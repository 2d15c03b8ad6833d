#pragma once

#include "platform/LoginItemService.h"

#include <QString>

namespace quillary {

// Launch at login through a desktop entry in the user's XDG autostart folder, which the
// session manager reads at login. Absent entry = not registered; Hidden=true = turned off.
class XdgAutostartLoginItem final : public LoginItemService {
public:
    explicit XdgAutostartLoginItem(QString autostartDirectory, QString executablePath, QString appId);

    Status status() const override;
    std::optional<QString> registerApp() override;
    std::optional<QString> unregisterApp() override;

    // `<autostartDirectory>/<appId>.desktop`.
    QString entryPath() const;

    // The Exec= value, as written in the file, that runs `executablePath` with no arguments:
    // quoted where needed, then escaped as a string value, with `%` doubled.
    static QString desktopExecValue(const QString& executablePath);

private:
    QString m_autostartDirectory;
    QString m_executablePath;
    QString m_appId;
};

} // namespace quillary
