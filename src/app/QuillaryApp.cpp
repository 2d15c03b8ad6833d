#include "app/QuillaryApp.h"

#include "QuillaryVersion.h"
#include "app/AppDelegate.h"
#include "app/Interaction.h"
#include "app/Preferences.h"
#include "handle/ImageLimits.h"
#include "platform/LoginItemService.h"

#include <QTimer>

namespace quillary {

QuillaryApp::QuillaryApp(int& argc, char** argv)
    : m_application(argc, argv)
{
    QApplication::setOrganizationName(QStringLiteral("Quillary"));
    QApplication::setApplicationName(QStringLiteral("Quillary"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // A tray app: closing the settings window or the card must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);
    applyImageDecodingLimits();

    m_delegate = std::make_unique<AppDelegate>(Preferences::standard(), AppServices::createDefault());
}

QuillaryApp::~QuillaryApp() = default;

int QuillaryApp::exec()
{
    QTimer::singleShot(0, m_delegate.get(), &AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}

} // namespace quillary
