#include "app/QuillaryApp.h"

#include "QuillaryVersion.h"
#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "core/Diagnostics.h"
#include "core/Interaction.h"
#include "core/Preferences.h"
#include "imaging/ImageLimits.h"
#include "platform/LoginItemService.h"
#include "platform/TerminationSignals.h"

#include <QTimer>

#include <cstdlib>

namespace quillary {
namespace {

// How long a quitting Quillary waits for conversions in flight; the session does not wait forever.
constexpr int kQuitWaitSeconds = 5;
// How long a later launch waits for the running one to answer (which may be starting itself).
constexpr int kHandOverMsecs = 5000;

} // namespace

QuillaryApp::QuillaryApp(int& argc, char** argv)
    : m_application(argc, argv)
{
    QApplication::setOrganizationName(QStringLiteral("Quillary"));
    QApplication::setApplicationName(QStringLiteral("Quillary"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setDesktopFileName(QString::fromLatin1(kAppId));
    // A tray app: closing the settings window or the card must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);
}

QuillaryApp::~QuillaryApp()
{
    // The delegate goes first: the lock keeps a later launch out until it is gone.
    m_delegate.reset();
    m_instance.reset();
}

int QuillaryApp::exec(RemoteCommand command)
{
    m_instance = std::make_unique<SingleInstance>();
    QString problem;
    if (m_instance->claim(&problem) == SingleInstance::Claim::alreadyRunning)
        return handOver(command);
    if (!problem.isEmpty())
        printLine(problem);
    if (command == RemoteCommand::quit) {
        printLine(QStringLiteral("📍 Quillary: Not running; nothing to quit"));
        return 0;
    }

    applyImageDecodingLimits();
    m_delegate = std::make_unique<AppDelegate>(Preferences::standard(), AppServices::createDefault());
    m_terminationSignals = TerminationSignals::install();
    if (m_terminationSignals) {
        QObject::connect(m_terminationSignals.get(), &TerminationSignals::received,
                         m_terminationSignals.get(), [this](const QString& name) { quitOnRequest(name); });
    }
    QTimer::singleShot(0, m_delegate.get(), [this, command] {
        m_delegate->applicationDidFinishLaunching();
        if (command != RemoteCommand::show)
            apply(command);
        QString listenProblem;
        const auto answer = [this](const QString& word) {
            RemoteCommand request = RemoteCommand::show;
            if (!remoteCommandFromWord(word, &request))
                return QStringLiteral("Already running, but it does not know the request '%1'").arg(word);
            return apply(request);
        };
        if (!m_instance->listen(answer, &listenProblem))
            printLine(listenProblem);
    });
    const int status = QApplication::exec();

    if (!m_delegate->finishMovesBeforeQuit(kQuitWaitSeconds * 1000)) {
        printLine(
            QStringLiteral("⚠️ Quillary: Conversions still running after %1 seconds; quitting without "
                           "waiting for them")
                .arg(kQuitWaitSeconds));
        std::_Exit(status); // the mover would wait for them when destroyed
    }
    return status;
}

int QuillaryApp::handOver(RemoteCommand command)
{
    const std::optional<QString> reply = m_instance->send(remoteCommandWord(command), kHandOverMsecs);
    if (!reply) {
        printLine(
            QStringLiteral("⚠️ Quillary: Another Quillary holds %1 but did not answer; not starting a "
                           "second one")
                .arg(m_instance->lockPath()));
        return 1;
    }
    printLine(QStringLiteral("📍 Quillary: ") + *reply);
    return 0;
}

QString QuillaryApp::apply(RemoteCommand command)
{
    AppDelegate& delegate = *m_delegate;
    switch (command) {
    case RemoteCommand::show:
        delegate.pruneScreenshotQueue();
        if (delegate.screenshotQueue().isEmpty())
            delegate.openSettings();
        else
            delegate.showPopupForQueueHead(true);
        return QStringLiteral("Already running; asked it to show itself");
    case RemoteCommand::settings:
        delegate.openSettings();
        return QStringLiteral("Already running; asked it to open its settings window");
    case RemoteCommand::showPending:
        delegate.pruneScreenshotQueue();
        if (delegate.screenshotQueue().isEmpty())
            return QStringLiteral("Already running; no screenshot is waiting");
        delegate.showPopupForQueueHead(true);
        return QStringLiteral("Already running; asked it to show the waiting screenshot");
    case RemoteCommand::pause:
        delegate.setPaused(true);
        return QStringLiteral("Already running; paused it");
    case RemoteCommand::resume:
        delegate.setPaused(false);
        return QStringLiteral("Already running; resumed it");
    case RemoteCommand::quit:
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return QStringLiteral("Already running; asked it to quit");
    }
    return {};
}

void QuillaryApp::quitOnRequest(const QString& signalName)
{
    // At logout SIGHUP follows SIGTERM at once; one quit is enough.
    if (m_quitting)
        return;
    m_quitting = true;
    printLine(QStringLiteral("📍 Quillary: Quitting on %1").arg(signalName));
    QCoreApplication::quit();
}

} // namespace quillary
