// 1,000 screenshots saved within one second into the watched folder, with the real delegate, monitor,
// scan and mover: in popup mode each is queued once, oldest first; in auto-move mode each is filed once
// as a JPEG. How long the UI thread stalls meanwhile is bench/'s to judge.
#include "folders/SavedFolders.h"
#include "support/FakeServices.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

constexpr int burstSize = 1000;

// A picture that carries `index` in its width, which JPEG conversion keeps.
QByteArray screenshotCarrying(int index)
{
    return test::encoded(test::pattern(QImage::Format_RGB32, 100 + index, 120), "PNG");
}

// The index a filed image carries, or -1 when it does not decode.
int indexCarriedBy(const QString& path)
{
    const QImage image(path, "JPEG");
    return image.isNull() ? -1 : image.width() - 100;
}

QStringList allEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

class LoadTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void SetUp() override
    {
        screenshotFolder = home.filePath("Shots");
        hasTrayHost = true; // the tray icon follows the queue too
        for (int i = 0; i < burstSize; ++i)
            pngs.append(screenshotCarrying(i));
    }

    // Writes the burst from another thread, paced over a little under a second, while the event loop
    // runs until `done` holds.
    bool burst(const std::function<bool()>& done)
    {
        std::atomic<bool> writing = true;
        std::thread writer([this, &writing] {
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < burstSize; ++i) {
                std::this_thread::sleep_until(start + std::chrono::microseconds(950) * i);
                QFile file(screenshotFolder +
                           QStringLiteral("/Screenshot %1.png").arg(i, 4, 10, QLatin1Char('0')));
                if (file.open(QIODevice::WriteOnly) && file.write(pngs[i]) == pngs[i].size())
                    written.append(file.fileName());
            }
            writing = false;
        });
        test::waitUntil([&] { return !writing; }, 90s);
        writer.join();
        return test::waitUntil(done, 90s);
    }

    QList<QByteArray> pngs;
    QStringList written; // by the writer thread, read once it is done
    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(LoadTest, PopupModeQueuesEveryScreenshotOnceOldestFirst)
{
    delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(burst([&] { return delegate->screenshotQueue().size() >= burstSize; }));
    test::processEventsFor(1500ms); // scans still due after the burst must not add anything again
    QStringList queued;
    for (const QUrl& url : delegate->screenshotQueue())
        queued.append(url.toLocalFile());
    EXPECT_EQ(queued, written);
}

TEST_F(LoadTest, AutoMoveFilesEveryScreenshotOnceAsAJpeg)
{
    const FolderConfig filed{QUuid::createUuid(), "Filed", "Desktop/Filed", "", true, "Shot", false, "jpg"};
    saveFolders(store, {filed});
    store.setText(prefs::selectedFolderID, filed.idText());
    store.setBool(prefs::showPopup, false);
    store.setBool(prefs::autoMove, true);
    const QString destination = home.filePath("Desktop/Filed");
    delegate = makeDelegate();
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(burst([&] {
        return allEntries(screenshotFolder).isEmpty() && allEntries(destination).size() >= burstSize;
    })) << allEntries(screenshotFolder).size()
        << " left, " << allEntries(destination).size() << " filed";
    test::processEventsFor(1500ms);
    delegate->waitForMoves();

    EXPECT_EQ(allEntries(screenshotFolder), QStringList());
    QStringList expectedNames;
    for (int n = 1; n <= burstSize; ++n)
        expectedNames.append(QStringLiteral("Shot_%1.jpg").arg(n, 3, 10, QLatin1Char('0')));
    // Nothing else in the folder, no temporary file either; Shot_1000 sorts last.
    QStringList names = allEntries(destination);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    ASSERT_EQ(names, expectedNames);
    // Numbered in the order they were taken, so each source is there once, as a JPEG that decodes.
    for (int n = 1; n <= burstSize; ++n)
        ASSERT_EQ(indexCarriedBy(QDir(destination).filePath(expectedNames[n - 1])), n - 1)
            << expectedNames[n - 1].toStdString();
}

} // namespace
