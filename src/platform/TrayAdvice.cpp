#include "platform/TrayHostWatcher.h"

namespace quillary {

QString trayAdviceFor(const QString& currentDesktop)
{
    // GNOME Shell hosts no tray of its own; this extension (packaged by most distributions, on Debian
    // as gnome-shell-extension-appindicator) adds a StatusNotifierItem host.
    for (const QString& desktop : currentDesktop.split(u':', Qt::SkipEmptyParts)) {
        if (desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("on GNOME the \"AppIndicator and KStatusNotifierItem Support\" extension "
                                  "brings one");
    }
    return {};
}

} // namespace quillary
