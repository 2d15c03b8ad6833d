#include "platform/ScreenshotLocation.h"

#include "platform/UserDirectories.h"

#include <QDir>

namespace quillary {

// No screenshot tool's settings are read here: only the user's folders matter.
ScreenshotLocationEnvironment ScreenshotLocationEnvironment::fromProcess()
{
    ScreenshotLocationEnvironment env;
    env.home = QDir::homePath();
    env.configHome = sessionConfigHome(env.home);
    return env;
}

QString screenshotSaveFolder(const ScreenshotLocationEnvironment& env)
{
    const QString home = env.home.isEmpty() ? QDir::rootPath() : env.home;
    return userDirectory(UserDirectory::desktop, home,
                         env.configHome.isEmpty() ? sessionConfigHome(home) : env.configHome);
}

ScreenshotToolNames screenshotToolNames(const QString&, const ScreenshotLocationEnvironment&)
{
    return {};
}

} // namespace quillary
