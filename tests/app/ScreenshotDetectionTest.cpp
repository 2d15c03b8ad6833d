// The delegate's watch and scan, end to end: a real folder, the real monitor, the real clock.
#include "app/AppDelegate.h"
#include "core/NotificationCenter.h"
#include "detect/WatchController.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QThread>

#include <sys/stat.h>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

QByteArray pngBytes(const QString& software = {})
{
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::darkMagenta);
    if (!software.isEmpty())
        image.setText(QStringLiteral("Software"), software);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

class ScreenshotDetectionTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void SetUp() override
    {
        screenshotFolder = home.filePath(QStringLiteral("Pictures/Screenshots"));
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(QFileInfo(screenshotFolder).isDir()) << "a missing screenshot folder is created";
    }

    QString shot(const QString& name) const { return screenshotFolder + u'/' + name; }
    void take(const QString& name, const QString& software = {})
    {
        test::writeFile(shot(name), pngBytes(software));
    }
    bool seen(const QString& name) const
    {
        return delegate->watch().seenScreenshotPaths().contains(shot(name));
    }
    QStringList queuedNames() const
    {
        QStringList names;
        for (const QUrl& url : delegate->screenshotQueue())
            names.append(url.toLocalFile().remove(screenshotFolder + u'/'));
        return names;
    }
    bool waitForQueueLength(qsizetype length, std::chrono::milliseconds timeout = 3000ms)
    {
        return test::waitUntil([&] { return delegate->screenshotQueue().size() >= length; }, timeout) &&
               delegate->screenshotQueue().size() == length;
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(ScreenshotDetectionTest, NewScreenshotsAreQueuedOnceOldestFirstEvenAcrossARestart)
{
    take("Screenshot from 2026-12-06 10-00-00.png");
    ASSERT_TRUE(waitForQueueLength(1));

    take("IMG_0001.png");
    take("IMG_0002.png", "gnome-screenshot");
    QThread::msleep(20);
    take("Bildschirmfoto 2.PNG");
    ASSERT_TRUE(waitForQueueLength(3));
    test::processEventsFor(600ms); // later scans from the same burst add nothing
    EXPECT_EQ(queuedNames(), (QStringList{"Screenshot from 2026-12-06 10-00-00.png", "IMG_0002.png",
                                          "Bildschirmfoto 2.PNG"}));
    EXPECT_FALSE(seen("IMG_0001.png"));

    // The seen set survives a restart of the watch: the rescan queues nothing again.
    delegate->startWatching();
    test::writeFile(shot("unrelated.txt"), "x");
    test::processEventsFor(700ms);
    EXPECT_EQ(delegate->screenshotQueue().size(), 3);
}

TEST_F(ScreenshotDetectionTest, UnfinishedFilesWaitUnmarkedUntilDoneEvenWithoutAnotherEvent)
{
    const QByteArray png = pngBytes();
    QFile file(shot("Screenshot slow.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png.left(png.size() / 2));
    file.flush();
    test::processEventsFor(900ms);
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty()) << "half a PNG is never handed on";

    // Writing without closing makes no folder event: only the follow-up scans can see it.
    file.write(png.mid(png.size() / 2));
    file.flush();
    EXPECT_TRUE(waitForQueueLength(1, 2000ms));
    file.close();

    test::writeFile(shot("Screenshot empty.png"), {});
    test::processEventsFor(700ms);
    EXPECT_EQ(delegate->screenshotQueue().size(), 1);
    EXPECT_FALSE(seen("Screenshot empty.png"));
    take("Screenshot empty.png");
    EXPECT_TRUE(waitForQueueLength(2));
}

TEST_F(ScreenshotDetectionTest, PausingDropsEventsResumingCatchesUpAndWithoutThePopupOnlyMarksSeen)
{
    store.setBool(prefs::isPaused, true);
    take("Screenshot paused.png");
    test::processEventsFor(800ms);
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
    EXPECT_TRUE(delegate->watch().seenScreenshotPaths().isEmpty());

    store.setBool(prefs::isPaused, false);
    QThread::msleep(20);
    take("Screenshot resumed.png");
    ASSERT_TRUE(waitForQueueLength(2));
    EXPECT_EQ(queuedNames(), (QStringList{"Screenshot paused.png", "Screenshot resumed.png"}));

    store.setBool(prefs::showPopup, false);
    take("Screenshot quiet.png");
    ASSERT_TRUE(test::waitUntil([&] { return seen("Screenshot quiet.png"); }));
    store.setBool(prefs::showPopup, true); // a later scan does not bring it back
    test::writeFile(shot("other.txt"), "x");
    test::processEventsFor(700ms);
    EXPECT_EQ(delegate->screenshotQueue().size(), 2);
}

TEST_F(ScreenshotDetectionTest, ACustomFolderIsWatchedUntilItDisappearsAndABlockedOneOnceItIsThere)
{
    const QString custom = home.filePath(QStringLiteral("My Shots"));
    ASSERT_TRUE(QDir().mkpath(custom));
    delegate->setCustomWatchFolder(QUrl::fromLocalFile(custom));
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8());
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), custom);
    EXPECT_TRUE(delegate->isUsingCustomWatchFolder());
    test::writeFile(custom + QStringLiteral("/Screenshot custom.png"), pngBytes());
    ASSERT_TRUE(waitForQueueLength(1));

    // A folder that cannot be bookmarked leaves the previous choice in place.
    delegate->setCustomWatchFolder(QUrl::fromLocalFile(home.filePath(QStringLiteral("nowhere"))));
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), custom);

    ASSERT_TRUE(QDir(custom).removeRecursively());
    testing::internal::CaptureStdout();
    delegate->scanWatchedFolder(QUrl::fromLocalFile(custom));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("❌ Monitor Error: ", 0), 0u) << output;
    EXPECT_NE(output.find("No such file or directory"), std::string::npos) << output;
    delegate->startWatching();
    EXPECT_EQ(delegate->currentWatchURL().toLocalFile(), screenshotFolder);
    EXPECT_FALSE(delegate->isUsingCustomWatchFolder());
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8())
        << "the bookmark stays for the next start";

    screenshotFolder = home.filePath(QStringLiteral("blocked"));
    test::writeFile(screenshotFolder, "a file where the folder should be");
    delegate->startWatching();
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
    ASSERT_TRUE(QFile::remove(screenshotFolder));
    delegate->startWatching();
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::active);
}

// A user tidying up or a sync tool deletes the folder and makes it again, and a screenshot lands in
// it before the watch is back: the scan made when it comes back finds it.
TEST_F(ScreenshotDetectionTest, AFolderThatIsDeletedIsWatchedAgainOnceItComesBack)
{
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(QDir(screenshotFolder).removeRecursively());
    EXPECT_TRUE(test::waitUntil([&] { return delegate->watchStatus() == WatchStatus::noAccess; }));
    test::processEventsFor(600ms);
    EXPECT_EQ(changed.count(), 1);

    ASSERT_TRUE(QDir().mkpath(screenshotFolder));
    take("Screenshot during.png"); // before the event loop runs again, so before the watch is back
    EXPECT_TRUE(waitForQueueLength(1));
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::active);
    EXPECT_EQ(changed.count(), 2);
    take("Screenshot after.png");
    EXPECT_TRUE(waitForQueueLength(2));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("⚠️ Quillary: The watched folder " + screenshotFolder.toStdString() +
                          " is gone; waiting for it to come back\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("📍 Quillary: The watched folder " + screenshotFolder.toStdString() +
                          " is back; watching again\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("❌"), std::string::npos) << output;
    EXPECT_EQ(queuedNames(), (QStringList{"Screenshot during.png", "Screenshot after.png"}));
}

TEST_F(ScreenshotDetectionTest, ARefusedWatchShowsThePermissionAlertOnce)
{
    const QString locked = home.filePath(QStringLiteral("Locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
    interaction->answer = 0; // "Open System Settings"
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    {
        test::PermissionBitsEnforced enforced;
        if (!enforced.isEffective())
            GTEST_SKIP() << "running as root without the means to lower its file-permission override";
        delegate->setCustomWatchFolder(QUrl::fromLocalFile(locked));
    }
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
    ASSERT_TRUE(test::waitUntil([&] { return !interaction->alerts.isEmpty(); }));
    test::processEventsFor(200ms);
    ::chmod(QFile::encodeName(locked).constData(), 0700);

    ASSERT_EQ(interaction->alerts.size(), 1);
    const ModalAlert& alert = interaction->alerts.first();
    EXPECT_EQ(alert.messageText, "Permission Required");
    EXPECT_EQ(alert.informativeText, "Quillary needs access to your Locked folder to monitor for "
                                     "screenshots.\n\nPlease ensure Quillary has "
                                     "'Files and Folders' access in System Settings > Privacy & Security.");
    EXPECT_EQ(alert.buttons, (QStringList{"Open System Settings", "Dismiss"}));
    EXPECT_EQ(interaction->openedUrls, QList<QUrl>{QUrl::fromLocalFile(home.path())});
    EXPECT_EQ(changed.count(), 2) << "once for the restart, once for the refusal";
    EXPECT_EQ(delegate->watchStatus(), WatchStatus::noAccess);
}

} // namespace
