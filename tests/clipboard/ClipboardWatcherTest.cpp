#include "clipboard/ClipboardWatcher.h"

#include "core/OwnOutputs.h"
#include "core/Preferences.h"
#include "platform/ClipboardSource.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QHash>

#include <vector>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

class FakeClipboard final : public ClipboardSource {
public:
    void copy(QHash<QString, QByteArray> content)
    {
        m_content = std::move(content);
        ++m_changes;
    }
    qint64 changeCount() const override { return m_changes; }
    QStringList formats() const override { return m_content.keys(); }
    QByteArray data(const QString& type) const override { return m_content.value(type); }
    QString unavailableReason() const override { return {}; }

private:
    QHash<QString, QByteArray> m_content;
    qint64 m_changes = 7; // not zero: whatever the session had before launch
};

QHash<QString, QByteArray> pngContent(const QImage& image)
{
    return {{"image/png", test::encoded(image, "png")}, {"text/html", "<img>"}};
}

// A watcher on a fake clipboard, with time and timers under the test's hand.
class Rig : public test::SessionHome {
public:
    Rig()
    {
        auto source = std::make_unique<FakeClipboard>();
        clipboard = source.get();
        ClipboardWatcherHooks hooks;
        hooks.now = [this] { return now; };
        hooks.secondsSinceEpoch = [] { return qint64(1764950400); };
        hooks.schedule = [this](std::chrono::milliseconds delay, std::function<void()> action) {
            scheduled.push_back({delay, std::move(action)});
        };
        watcher = std::make_unique<ClipboardWatcher>(store, std::move(source), ownOutputs, hooks);
        QObject::connect(watcher.get(), &ClipboardWatcher::toastRequested, [this] { ++toasts; });
        QObject::connect(watcher.get(), &ClipboardWatcher::cueRequested, [this] { ++cues; });
        store.setBool(prefs::isClipboardSyncEnabled, true);
    }

    // One tick, with everything it handed to the worker done and reported back.
    void tick()
    {
        watcher->checkPasteboard();
        watcher->waitForSaves();
        QCoreApplication::sendPostedEvents();
    }

    // Runs and drops the scheduled actions of `delay`; returns how many.
    int runScheduled(std::chrono::milliseconds delay)
    {
        int ran = 0;
        for (auto& entry : std::exchange(scheduled, {})) {
            if (entry.first == delay) {
                entry.second();
                ++ran;
            } else {
                scheduled.push_back(std::move(entry));
            }
        }
        watcher->waitForSaves();
        return ran;
    }

    QString folder() const { return home.filePath("Desktop/ClipBoard"); }
    QStringList files() const // hidden ones too
    {
        return QDir(folder()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    OwnOutputs ownOutputs;
    FakeClipboard* clipboard = nullptr;
    std::unique_ptr<ClipboardWatcher> watcher;
    ClipboardWatcherHooks::Instant now{std::chrono::hours(1)};
    std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> scheduled;
    int toasts = 0;
    int cues = 0;
};

} // namespace

// Each gate either keeps a clipboard change for a later tick or uses it up for good.
TEST(ClipboardWatcherTest, GatesKeepOrUseUpTheChange)
{
    const QImage image = test::pattern(QImage::Format_RGB32, 40, 30);
    const auto set = [](PreferenceKey key, bool value) {
        return [key, value](Rig& r) { r.store.setBool(key, value); };
    };
    const struct {
        const char* what;
        QHash<QString, QByteArray> content;
        bool savedAfterwards;
        std::function<void(Rig&)> block = [](Rig&) {}, unblock = [](Rig&) {};
    } cases[] = {
        {"paused", pngContent(image), true, set(prefs::isPaused, true), set(prefs::isPaused, false)},
        {"turned off", pngContent(image), true, set(prefs::isClipboardSyncEnabled, false),
         set(prefs::isClipboardSyncEnabled, true)},
        {"a screenshot file just found", pngContent(image), true,
         [](Rig& r) {
             r.watcher->noteDesktopScreenshot();
             r.now += ClipboardWatcher::holdOffAfterScreenshot - 1ms;
         },
         [](Rig& r) { r.now += 1ms; }},
        {"a copied file with its picture",
         {{"x-special/gnome-copied-files", "copy\nfile:///tmp/a.png"},
          {"image/png", test::encoded(image, "png")}},
         false},
        {"text", {{"text/plain", "hello"}, {"UTF8_STRING", "hello"}}, false},
        {"an image that does not decode", {{"image/png", "\x89PNG\r\n\x1a\n broken"}}, false},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.tick(); // the session's clipboard from before launch is never saved
        c.block(rig);
        rig.clipboard->copy(c.content);
        rig.tick();
        EXPECT_TRUE(rig.files().isEmpty()) << c.what;
        EXPECT_EQ(rig.toasts, 0) << c.what;
        c.unblock(rig);
        rig.tick();
        EXPECT_EQ(rig.files().size(), c.savedAfterwards ? 1 : 0) << c.what;
        EXPECT_EQ(rig.toasts, c.savedAfterwards ? 1 : 0) << c.what;
    }
}

TEST(ClipboardWatcherTest, AnImageWrittenIsADuplicateUntilForgotten)
{
    const QImage first = test::pattern(QImage::Format_RGB32, 64, 48);
    const QImage second = first.mirrored(true, false);
    Rig rig;
    QDir().mkpath(rig.folder());
    test::writeFile(rig.folder() + "/Clipboard_1764950400.png", "not ours");

    rig.clipboard->copy(pngContent(first));
    rig.tick();
    ASSERT_EQ(rig.files(), QStringList({"Clipboard_1764950400-2.png", "Clipboard_1764950400.png"}));
    EXPECT_EQ(test::readFile(rig.folder() + "/Clipboard_1764950400.png"), "not ours");
    EXPECT_EQ(QImage(rig.folder() + "/Clipboard_1764950400-2.png").convertToFormat(QImage::Format_RGB32),
              first);
    EXPECT_TRUE(rig.ownOutputs.contains(rig.folder() + "/Clipboard_1764950400-2.png"));

    // The same image again: no file, but the toast all the same.
    rig.clipboard->copy(pngContent(first));
    rig.tick();
    EXPECT_EQ(rig.files().size(), 2);
    EXPECT_EQ(rig.toasts, 2);

    rig.clipboard->copy(pngContent(second));
    rig.tick();
    EXPECT_EQ(rig.files().size(), 3);
    EXPECT_EQ(QImage(rig.folder() + "/Clipboard_1764950400-3.png").convertToFormat(QImage::Format_RGB32),
              second);

    // Each write schedules one forget; the earlier one clears the later image too.
    ASSERT_EQ(rig.runScheduled(ClipboardWatcher::forgetImageAfter), 2);
    rig.clipboard->copy(pngContent(second));
    rig.tick();
    EXPECT_EQ(rig.files().size(), 4);
    EXPECT_EQ(rig.toasts, 4);
    EXPECT_EQ(rig.runScheduled(ClipboardWatcher::cueAfterToast), 0) << "the sound is off";
}

TEST(ClipboardWatcherTest, AFolderThatCannotBeWrittenStillShowsTheToastAndPlaysTheCue)
{
    Rig rig;
    rig.store.setBool(prefs::clipboardSoundEnabled, true);
    rig.store.setText(prefs::clipboardSyncFolder, "Pictures");
    QDir().mkpath(rig.home.filePath("Pictures"));
    test::writeFile(rig.home.filePath("Pictures/ClipBoard"), "a file where the folder should be");
    rig.clipboard->copy(pngContent(test::pattern(QImage::Format_RGB32, 8, 8)));
    rig.tick();
    EXPECT_EQ(rig.toasts, 1);
    EXPECT_EQ(rig.cues, 0) << "the cue waits until after the toast";
    EXPECT_EQ(rig.runScheduled(ClipboardWatcher::cueAfterToast), 1);
    EXPECT_EQ(rig.cues, 1);
    EXPECT_EQ(QDir(rig.home.filePath("Pictures")).entryList(QDir::Files | QDir::Hidden).size(), 1);
    EXPECT_FALSE(QDir(rig.home.filePath("Desktop/ClipBoard")).exists());
    // A failed write is forgotten in time like any other.
    EXPECT_EQ(rig.runScheduled(ClipboardWatcher::forgetImageAfter), 1);
}
