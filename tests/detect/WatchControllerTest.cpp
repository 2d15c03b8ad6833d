// The watch and its scans, end to end: a real folder, the real monitor, the real clock.
#include "detect/WatchController.h"
#include "core/NotificationCenter.h"
#include "core/OwnOutputs.h"
#include "support/Fakes.h"
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

class WatchControllerTest : public ::testing::Test, public test::SessionHome {
protected:
    void SetUp() override
    {
        registerDefaultSettings(store);
        QObject::connect(&watch, &WatchController::screenshotsFound,
                         [this](const QStringList& paths) { found += paths; });
        watch.startWatching();
        ASSERT_TRUE(QFileInfo(screenshotFolder).isDir()) << "a missing screenshot folder is created";
    }

    QString shot(const QString& name) const { return screenshotFolder + u'/' + name; }
    void take(const QString& name, const QString& software = {})
    {
        test::writeFile(shot(name), pngBytes(software));
    }
    bool seen(const QString& name) const { return watch.seenScreenshotPaths().contains(shot(name)); }
    QStringList foundNames() const
    {
        QStringList names;
        for (const QString& path : found)
            names.append(QString(path).remove(screenshotFolder + u'/'));
        return names;
    }
    bool waitForFound(qsizetype count, std::chrono::milliseconds timeout = 3000ms)
    {
        return test::waitUntil([&] { return found.size() >= count; }, timeout) && found.size() == count;
    }

    QString screenshotFolder = home.filePath(QStringLiteral("Pictures/Screenshots"));
    OwnOutputs ownOutputs;
    WatchController watch{store, ownOutputs, [this] { return screenshotFolder; }};
    QStringList found;
};

TEST_F(WatchControllerTest, NewScreenshotsAreQueuedOnceOldestFirstEvenAcrossARestart)
{
    take("Screenshot from 2026-12-06 10-00-00.png");
    ASSERT_TRUE(waitForFound(1));

    take("IMG_0001.png");
    take("IMG_0002.png", "gnome-screenshot");
    QThread::msleep(20);
    take("Bildschirmfoto 2.PNG");
    ASSERT_TRUE(waitForFound(3));
    test::processEventsFor(600ms); // later scans from the same burst add nothing
    EXPECT_EQ(foundNames(), (QStringList{"Screenshot from 2026-12-06 10-00-00.png", "IMG_0002.png",
                                         "Bildschirmfoto 2.PNG"}));
    EXPECT_FALSE(seen("IMG_0001.png"));

    // The seen set survives a restart of the watch: the rescan queues nothing again.
    watch.startWatching();
    test::writeFile(shot("unrelated.txt"), "x");
    test::processEventsFor(700ms);
    EXPECT_EQ(found.size(), 3);
}

TEST_F(WatchControllerTest, UnfinishedFilesWaitUnmarkedUntilDoneEvenWithoutAnotherEvent)
{
    const QByteArray png = pngBytes();
    QFile file(shot("Screenshot slow.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(png.left(png.size() / 2));
    file.flush();
    test::processEventsFor(900ms);
    EXPECT_TRUE(found.isEmpty()) << "half a PNG is never handed on";

    // Writing without closing makes no folder event: only the follow-up scans can see it.
    file.write(png.mid(png.size() / 2));
    file.flush();
    EXPECT_TRUE(waitForFound(1, 2000ms));
    file.close();

    test::writeFile(shot("Screenshot empty.png"), {});
    test::processEventsFor(700ms);
    EXPECT_EQ(found.size(), 1);
    EXPECT_FALSE(seen("Screenshot empty.png"));
    take("Screenshot empty.png");
    EXPECT_TRUE(waitForFound(2));
}

TEST_F(WatchControllerTest, PausingDropsEventsAndResumingCatchesUp)
{
    store.setBool(prefs::isPaused, true);
    take("Screenshot paused.png");
    test::processEventsFor(800ms);
    EXPECT_TRUE(found.isEmpty());
    EXPECT_TRUE(watch.seenScreenshotPaths().isEmpty());

    store.setBool(prefs::isPaused, false);
    QThread::msleep(20);
    take("Screenshot resumed.png");
    ASSERT_TRUE(waitForFound(2));
    EXPECT_EQ(foundNames(), (QStringList{"Screenshot paused.png", "Screenshot resumed.png"}));
}

TEST_F(WatchControllerTest, ACustomFolderIsWatchedUntilItDisappearsAndABlockedOneOnceItIsThere)
{
    const QString custom = home.filePath(QStringLiteral("My Shots"));
    ASSERT_TRUE(QDir().mkpath(custom));
    watch.setCustomWatchFolder(QUrl::fromLocalFile(custom));
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8());
    EXPECT_EQ(watch.currentWatchURL().toLocalFile(), custom);
    EXPECT_TRUE(watch.isUsingCustomWatchFolder());
    test::writeFile(custom + QStringLiteral("/Screenshot custom.png"), pngBytes());
    ASSERT_TRUE(waitForFound(1));

    // A folder that cannot be bookmarked leaves the previous choice in place.
    watch.setCustomWatchFolder(QUrl::fromLocalFile(home.filePath(QStringLiteral("nowhere"))));
    EXPECT_EQ(watch.currentWatchURL().toLocalFile(), custom);

    ASSERT_TRUE(QDir(custom).removeRecursively());
    testing::internal::CaptureStdout();
    watch.scanWatchedFolder(QUrl::fromLocalFile(custom));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output.rfind("❌ Monitor Error: ", 0), 0u) << output;
    EXPECT_NE(output.find("No such file or directory"), std::string::npos) << output;
    watch.startWatching();
    EXPECT_EQ(watch.currentWatchURL().toLocalFile(), screenshotFolder);
    EXPECT_FALSE(watch.isUsingCustomWatchFolder());
    EXPECT_EQ(store.dataValue(prefs::folderBookmark), custom.toUtf8())
        << "the bookmark stays for the next start";

    screenshotFolder = home.filePath(QStringLiteral("blocked"));
    test::writeFile(screenshotFolder, "a file where the folder should be");
    watch.startWatching();
    EXPECT_EQ(watch.watchStatus(), WatchStatus::noAccess);
    ASSERT_TRUE(QFile::remove(screenshotFolder));
    watch.startWatching();
    EXPECT_EQ(watch.watchStatus(), WatchStatus::active);
}

// A user tidying up or a sync tool deletes the folder and makes it again, and a screenshot lands in
// it before the watch is back: the scan made when it comes back finds it.
TEST_F(WatchControllerTest, AFolderThatIsDeletedIsWatchedAgainOnceItComesBack)
{
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(QDir(screenshotFolder).removeRecursively());
    EXPECT_TRUE(test::waitUntil([&] { return watch.watchStatus() == WatchStatus::noAccess; }));
    test::processEventsFor(600ms);
    EXPECT_EQ(changed.count(), 1);

    ASSERT_TRUE(QDir().mkpath(screenshotFolder));
    take("Screenshot during.png"); // before the event loop runs again, so before the watch is back
    EXPECT_TRUE(waitForFound(1));
    EXPECT_EQ(watch.watchStatus(), WatchStatus::active);
    EXPECT_EQ(changed.count(), 2);
    take("Screenshot after.png");
    EXPECT_TRUE(waitForFound(2));
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
    EXPECT_EQ(foundNames(), (QStringList{"Screenshot during.png", "Screenshot after.png"}));
}

TEST_F(WatchControllerTest, ARefusedWatchIsReportedOnce)
{
    const QString locked = home.filePath(QStringLiteral("Locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
    QSignalSpy changed(&NotificationCenter::defaultCenter(), &NotificationCenter::quillaryWatchStateChanged);
    QSignalSpy denied(&watch, &WatchController::permissionDenied);
    {
        test::PermissionBitsEnforced enforced;
        if (!enforced.isEffective())
            GTEST_SKIP() << "running as root without the means to lower its file-permission override";
        watch.setCustomWatchFolder(QUrl::fromLocalFile(locked));
    }
    EXPECT_EQ(watch.watchStatus(), WatchStatus::noAccess);
    ASSERT_TRUE(test::waitUntil([&] { return !denied.isEmpty(); }));
    test::processEventsFor(200ms);
    ::chmod(QFile::encodeName(locked).constData(), 0700);

    ASSERT_EQ(denied.count(), 1);
    EXPECT_EQ(denied.at(0).at(0).toUrl(), QUrl::fromLocalFile(locked));
    EXPECT_EQ(changed.count(), 2) << "once for the restart, once for the refusal";
    EXPECT_EQ(watch.watchStatus(), WatchStatus::noAccess);
}

} // namespace
