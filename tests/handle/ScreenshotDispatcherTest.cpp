// What happens to a recognised screenshot: queued, auto-moved, or filed and trashed from the card.
// Real folders and the real worker; no window and no watch.
#include "handle/ScreenshotDispatcher.h"
#include "core/OwnOutputs.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "handle/CuePlayer.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>

using namespace quillary;

namespace {

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class ScreenshotDispatcherTest : public ::testing::Test, public test::SessionHome {
protected:
    ScreenshotDispatcherTest()
    {
        registerDefaultSettings(store);
        folders.seedDefaults();
        QDir().mkpath(shots);
    }

    QString shot(const QString& name) const { return shots + u'/' + name; }
    QString dir(const QString& standardName) const
    {
        return standardDirectoryURL(standardName).toLocalFile();
    }
    // Writes the screenshots and hands them over as one scan would.
    void take(const QStringList& names)
    {
        QImage image(40, 30, QImage::Format_ARGB32);
        image.fill(QColor(200, 30, 90));
        QStringList paths;
        for (const QString& name : names) {
            EXPECT_TRUE(image.save(shot(name), "PNG"));
            paths.append(shot(name));
        }
        dispatcher.handleNewScreenshots(paths);
    }
    FolderConfig named(const QString& name) const
    {
        for (const FolderConfig& folder : folders.folders())
            if (folder.name == name)
                return folder;
        ADD_FAILURE() << "no folder " << name.toStdString();
        return {};
    }
    FolderConfig addFolder(const QString& name, const QString& prefix, bool includeDate,
                           const QString& format)
    {
        FolderConfig folder = makeCustomFolder(name, QStringLiteral("Desktop"));
        folder.prefix = prefix;
        folder.includeDate = includeDate;
        folder.fileFormat = format;
        folders.save(QList<FolderConfig>(folders.folders()) << folder);
        return folder;
    }
    void fileFirstInto(const FolderConfig& folder)
    {
        dispatcher.popupMove(dispatcher.screenshotQueue().first(), folder.idText());
    }

    QString shots = home.filePath(QStringLiteral("Shots"));
    FolderStore folders{store};
    OwnOutputs ownOutputs;
    test::FakeSoundOutput* sounds = new test::FakeSoundOutput;
    CuePlayer cues{std::unique_ptr<SoundOutput>(sounds)};
    ScreenshotDispatcher dispatcher{folders, ownOutputs, &cues};
};

TEST_F(ScreenshotDispatcherTest, AutoMoveFilesRenamedAndConvertedSilentlyUnlessThePopupWins)
{
    const FolderConfig work = addFolder("Work", "Quillary", true, "JPG");
    store.setText(prefs::selectedFolderID, work.idText());
    store.setBool(prefs::autoMove, true);
    take({"Screenshot queued.png"});
    EXPECT_EQ(dispatcher.screenshotQueue().size(), 1) << "the popup wins over auto-move";

    store.setBool(prefs::showPopup, false);
    take({"Screenshot 1.png"});
    dispatcher.waitForMoves();
    const QString expected = dir("Desktop") + QStringLiteral("/Work/Quillary_") +
                             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                             QStringLiteral("_001.jpg");
    EXPECT_EQ(QImageReader(expected).format(), "jpeg") << expected.toStdString();
    EXPECT_FALSE(QFileInfo::exists(shot("Screenshot 1.png")));
    EXPECT_TRUE(ownOutputs.contains(expected));
    EXPECT_TRUE(sounds->played.empty()) << "an automatic move is silent";

    store.setText(prefs::selectedFolderID, QStringLiteral("00000000-0000-0000-0000-00000000DEAD"));
    take({"Screenshot stays.png"});
    store.setBool(prefs::autoMove, false);
    take({"Screenshot left.png"});
    dispatcher.waitForMoves();
    EXPECT_EQ(filesIn(shots),
              (QStringList{"Screenshot left.png", "Screenshot queued.png", "Screenshot stays.png"}));
    EXPECT_EQ(dispatcher.screenshotQueue().size(), 1);
}

TEST_F(ScreenshotDispatcherTest, TheCardFilesTrashesAndAdvancesThroughTheQueue)
{
    store.setBool(prefs::popupSoundEnabled, true);
    store.setText(prefs::popupSoundLevel, QStringLiteral("med"));
    QSignalSpy headChanged(&dispatcher, &ScreenshotDispatcher::queueHeadChanged);
    take({"Screenshot a.png", "Screenshot b.png", "Screenshot c.png", "Screenshot d.png"});
    ASSERT_EQ(dispatcher.screenshotQueue().size(), 4);
    EXPECT_EQ(headChanged.count(), 1) << "one card for the whole scan";
    ASSERT_EQ(sounds->played.size(), 1u);
    EXPECT_DOUBLE_EQ(sounds->played.back().volume, 0.22);

    // Renaming off: the file keeps its name, unless that name is taken in the target.
    const QString documents = dir("Documents");
    QDir().mkpath(documents);
    test::writeFile(documents + QStringLiteral("/Screenshot b.png"), "already here");
    fileFirstInto(named("Documents"));
    fileFirstInto(named("Documents"));
    dispatcher.waitForMoves();
    EXPECT_EQ(filesIn(documents), (QStringList{"Screenshot a.png", "Screenshot b.png"}));
    EXPECT_EQ(test::readFile(documents + QStringLiteral("/Screenshot b.png")), "already here")
        << "never replaced";
    EXPECT_TRUE(QFileInfo::exists(shot("Screenshot b.png")));

    dispatcher.popupMove(dispatcher.screenshotQueue().first(), QStringLiteral("no-such-folder"));
    EXPECT_TRUE(QFileInfo::exists(shot("Screenshot c.png")));
    dispatcher.popupDelete(dispatcher.screenshotQueue().first());
    EXPECT_FALSE(QFileInfo::exists(shot("Screenshot d.png")));
    EXPECT_TRUE(
        QFileInfo::exists(home.filePath(QStringLiteral(".local/share/Trash/files/Screenshot d.png"))));
    EXPECT_TRUE(dispatcher.screenshotQueue().isEmpty());
    EXPECT_EQ(headChanged.count(), 5) << "each action goes on to the next card";
}

TEST_F(ScreenshotDispatcherTest, RenamedMovesIntoTheSameFolderNumberOnEvenBeforeTheyFinish)
{
    const FolderConfig pdfs = addFolder("PDFs", "Doc", false, "pdf");
    take({"Screenshot 1.png", "Screenshot 2.png", "Screenshot 3.png"});
    for (int i = 0; i < 3; ++i)
        fileFirstInto(pdfs);
    dispatcher.waitForMoves();
    EXPECT_EQ(filesIn(dir("Desktop") + QStringLiteral("/PDFs")),
              (QStringList{"Doc_001.pdf", "Doc_002.pdf", "Doc_003.pdf"}));
    EXPECT_TRUE(filesIn(shots).isEmpty());
}

// A renamed move whose name is taken meanwhile gets the next number, and that name is our own
// output too. A move that cannot happen says why.
TEST_F(ScreenshotDispatcherTest, TheFinalNameOfAMoveIsKnown)
{
    const FolderConfig jpegs = addFolder("JPEGs", "Doc", false, "jpg");
    // Noise is slow to convert: the worker is still busy with it when the second name is taken.
    QImage noise(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QString big = home.filePath(QStringLiteral("big.png"));
    ASSERT_TRUE(noise.save(big));
    take({"Screenshot small.png"});

    const QString folder = dir("Desktop") + QStringLiteral("/JPEGs/");
    dispatcher.moveScreenshot(QUrl::fromLocalFile(big), jpegs);
    fileFirstInto(jpegs);
    QFile taken(folder + QStringLiteral("Doc_002.jpg"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << "the small one was placed already";
    taken.close();
    dispatcher.waitForMoves();
    EXPECT_EQ(filesIn(folder), (QStringList{"Doc_001.jpg", "Doc_002.jpg", "Doc_003.jpg"}));
    EXPECT_TRUE(ownOutputs.contains(folder + QStringLiteral("Doc_003.jpg")));
}

TEST_F(ScreenshotDispatcherTest, AFailedMoveSaysWhy)
{
    take({"Screenshot taken.png"});
    const QString documents = dir("Documents");
    QDir().mkpath(documents);
    test::writeFile(documents + QStringLiteral("/Screenshot taken.png"), "already here");
    testing::internal::CaptureStdout();
    fileFirstInto(named("Documents"));
    dispatcher.waitForMoves();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              ("❌ Move failed: " + shot("Screenshot taken.png") + " → " + documents +
               "/Screenshot taken.png: a file with that name already exists\n")
                  .toStdString());
}

} // namespace
