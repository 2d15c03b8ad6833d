#include "platform/ScreenshotLocation.h"

#include "core/FileNames.h"

#include <QDir>
#include <QStandardPaths>

namespace quillary {

// No screenshot tool's settings are read here: only the home matters.
ScreenshotLocationEnvironment ScreenshotLocationEnvironment::fromProcess()
{
    ScreenshotLocationEnvironment env;
    env.home = QDir::homePath();
    return env;
}

QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env)
{
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty())
        return desktop;
    return joinPath(env.home.isEmpty() ? QDir::rootPath() : env.home, QStringLiteral("Desktop"));
}

} // namespace quillary
