// What happens to a recognised screenshot: queued, auto-moved, or filed, trashed and quick-created
// from the card. Real folders, the real monitor and the real worker.
#include "app/AppDelegate.h"
#include "detect/WatchController.h"
#include "folders/SavedFolders.h"
#include "folders/StandardFolders.h"
#include "support/FakeServices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

QByteArray pngBytes()
{
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(200, 30, 90, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, "PNG");
    return bytes;
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class DispatchTest : public ::testing::Test, public test::DelegateHarness {
protected:
    void SetUp() override
    {
        screenshotFolder = home.filePath(QStringLiteral("Shots"));
        seedDefaultFolders(store);
        delegate = makeDelegate();
        delegate->applicationDidFinishLaunching();
    }

    QString shot(const QString& name) const { return screenshotFolder + u'/' + name; }
    QString standardDir(const QString& name) const { return standardDirectoryURL(name).toLocalFile(); }
    FolderConfig folderNamed(const QString& name) const
    {
        for (const FolderConfig& folder : loadSavedFolders(store))
            if (folder.name == name)
                return folder;
        ADD_FAILURE() << "no folder " << name.toStdString();
        return {};
    }
    FolderConfig addFolder(const QString& name, const QString& base, bool includeDate, const QString& prefix,
                           const QString& format)
    {
        FolderConfig folder = makeCustomFolder(name, base);
        folder.includeDate = includeDate;
        if (!prefix.isEmpty())
            folder.prefix = prefix;
        folder.fileFormat = format;
        saveFolders(store, loadSavedFolders(store) << folder);
        return folder;
    }
    void autoMoveTo(const FolderConfig& folder)
    {
        store.setText(prefs::selectedFolderID, folder.idText());
        store.setBool(prefs::showPopup, false);
        store.setBool(prefs::autoMove, true);
    }
    // Writes screenshots and waits until the scan has taken them all.
    void takeScreenshots(const QStringList& names)
    {
        for (const QString& name : names)
            test::writeFile(shot(name), pngBytes());
        ASSERT_TRUE(test::waitUntil([&] {
            return std::all_of(names.begin(), names.end(), [&](const QString& name) {
                return delegate->watch().seenScreenshotPaths().contains(shot(name));
            });
        }));
    }

    std::unique_ptr<AppDelegate> delegate;
};

TEST_F(DispatchTest, AutoMoveFilesRenamedAndConvertedUnlessThePopupWinsOrTheFolderIsGone)
{
    autoMoveTo(addFolder("Work", "Documents", true, {}, "JPG"));
    store.setBool(prefs::showPopup, true);
    takeScreenshots({"Screenshot queued.png"});
    EXPECT_EQ(delegate->screenshotQueue().size(), 1) << "the popup wins over auto-move";

    store.setBool(prefs::showPopup, false);
    test::writeFile(shot("Screenshot 1.png"), pngBytes());
    const QString work = standardDir("Documents") + QStringLiteral("/Work");
    const QString expected = work + QStringLiteral("/Quillary_") +
                             QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
                             QStringLiteral("_001.jpg");
    ASSERT_TRUE(test::waitUntil([&] { return QFileInfo::exists(expected); })) << expected.toStdString();
    delegate->waitForMoves();
    EXPECT_FALSE(QFileInfo::exists(shot("Screenshot 1.png")));
    EXPECT_EQ(QImageReader(expected).format(), "jpeg");
    EXPECT_TRUE(delegate->ownOutputs().contains(expected));
    EXPECT_EQ(delegate->screenshotQueue().size(), 1);
    EXPECT_TRUE(sounds->played.empty()) << "an automatic move is silent";

    store.setText(prefs::selectedFolderID, QStringLiteral("00000000-0000-0000-0000-00000000DEAD"));
    takeScreenshots({"Screenshot stays.png"});
    delegate->waitForMoves();
    EXPECT_EQ(filesIn(screenshotFolder), (QStringList{"Screenshot queued.png", "Screenshot stays.png"}));
    EXPECT_EQ(filesIn(work).size(), 1);
}

TEST_F(DispatchTest, TheCardFilesTrashesAndAdvancesThroughTheQueue)
{
    store.setBool(prefs::popupSoundEnabled, true);
    store.setText(prefs::popupSoundLevel, QStringLiteral("med"));
    takeScreenshots({"Screenshot a.png", "Screenshot b.png", "Screenshot c.png", "Screenshot d.png"});
    ASSERT_EQ(delegate->screenshotQueue().size(), 4);
    ASSERT_FALSE(sounds->played.empty());
    EXPECT_DOUBLE_EQ(sounds->played.back().volume, 0.22);

    // Renaming off: the file keeps its name, unless that name is taken in the target.
    const QString documents = standardDir("Documents");
    QDir().mkpath(documents);
    test::writeFile(documents + QStringLiteral("/Screenshot b.png"), "already here");
    const QString documentsID = folderNamed("Documents").idText();
    delegate->popupMove(delegate->screenshotQueue().first(), documentsID);
    delegate->popupMove(delegate->screenshotQueue().first(), documentsID);
    delegate->waitForMoves();
    EXPECT_EQ(filesIn(documents), (QStringList{"Screenshot a.png", "Screenshot b.png"}));
    EXPECT_EQ(test::readFile(documents + QStringLiteral("/Screenshot b.png")), "already here")
        << "never replaced";
    EXPECT_TRUE(QFileInfo::exists(shot("Screenshot b.png")));
    EXPECT_EQ(delegate->screenshotQueue().size(), 2);

    delegate->popupMove(delegate->screenshotQueue().first(), QStringLiteral("no-such-folder"));
    EXPECT_TRUE(QFileInfo::exists(shot("Screenshot c.png")));
    EXPECT_EQ(delegate->screenshotQueue().size(), 1);

    delegate->popupDelete(delegate->screenshotQueue().first());
    EXPECT_FALSE(QFileInfo::exists(shot("Screenshot d.png")));
    EXPECT_TRUE(
        QFileInfo::exists(home.filePath(QStringLiteral(".local/share/Trash/files/Screenshot d.png"))));
    EXPECT_TRUE(delegate->screenshotQueue().isEmpty());
}

TEST_F(DispatchTest, RenamedMovesIntoTheSameFolderNumberOnEvenBeforeTheyFinish)
{
    const FolderConfig pdfs = addFolder("PDFs", "Desktop", false, "Doc", "pdf");
    takeScreenshots({"Screenshot 1.png", "Screenshot 2.png", "Screenshot 3.png"});
    for (int i = 0; i < 3; ++i)
        delegate->popupMove(delegate->screenshotQueue().first(), pdfs.idText());
    delegate->waitForMoves();
    EXPECT_EQ(filesIn(standardDir("Desktop") + QStringLiteral("/PDFs")),
              (QStringList{"Doc_001.pdf", "Doc_002.pdf", "Doc_003.pdf"}));
    EXPECT_TRUE(filesIn(screenshotFolder).isEmpty());
}

// A renamed move whose name is taken meanwhile gets the next number: that name is our own output too.
// A move that cannot happen says why.
TEST_F(DispatchTest, TheFinalNameOfAMoveIsKnownAndAFailedMoveSaysWhy)
{
    const FolderConfig jpegs = addFolder("JPEGs", "Desktop", false, "Doc", "jpg");
    // Noise is slow to convert: the worker is still busy with it when the second name is taken. It lies
    // outside the watched folder, so the card never renders it.
    QImage noise(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QString big = home.filePath(QStringLiteral("big.png"));
    ASSERT_TRUE(noise.save(big));
    takeScreenshots({"Screenshot small.png", "Screenshot taken.png"});

    const QString folder = standardDir("Desktop") + QStringLiteral("/JPEGs/");
    delegate->popupMove(QUrl::fromLocalFile(big), jpegs.idText());
    delegate->popupMove(QUrl::fromLocalFile(shot("Screenshot small.png")), jpegs.idText());
    QFile taken(folder + QStringLiteral("Doc_002.jpg"));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << "the small one was placed already";
    taken.close();
    delegate->waitForMoves();
    EXPECT_EQ(filesIn(folder), (QStringList{"Doc_001.jpg", "Doc_002.jpg", "Doc_003.jpg"}));
    EXPECT_TRUE(delegate->ownOutputs().contains(folder + QStringLiteral("Doc_003.jpg")));

    const QString documents = standardDir("Documents");
    QDir().mkpath(documents);
    test::writeFile(documents + QStringLiteral("/Screenshot taken.png"), "already here");
    testing::internal::CaptureStdout();
    delegate->popupMove(QUrl::fromLocalFile(shot("Screenshot taken.png")), folderNamed("Documents").idText());
    delegate->waitForMoves();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              ("❌ Move failed: " + shot("Screenshot taken.png") + " → " + documents +
               "/Screenshot taken.png: a file with that name already exists\n")
                  .toStdString());
}

TEST_F(DispatchTest, AutoMoveIntoTheWatchedFolderItselfRenamesInPlaceOnce)
{
    // Its output would look like a new screenshot.
    const FolderConfig here = addFolder("Shots", "Desktop", false, "Screenshot", "png");
    screenshotFolder = configDirectoryURL(here).toLocalFile();
    delegate->startWatching();
    autoMoveTo(here);

    takeScreenshots({"Screenshot new.png"});
    test::processEventsFor(1200ms);
    delegate->waitForMoves();
    EXPECT_EQ(filesIn(screenshotFolder), QStringList{"Screenshot_001.png"});
}

TEST_F(DispatchTest, QuickCreateCleansTheNameAndRefusesDuplicates)
{
    interaction->typedText = QStringLiteral("  a/b:c \n");
    delegate->quickCreateFolder();
    ASSERT_EQ(interaction->alerts.size(), 1);
    EXPECT_EQ(interaction->alerts[0].messageText, "Create Folder");
    EXPECT_EQ(interaction->alerts[0].informativeText, "Enter a folder name to create inside Desktop.");
    EXPECT_EQ(interaction->alerts[0].buttons, (QStringList{"Save", "Cancel"}));
    EXPECT_EQ(interaction->placeholders, QStringList{"Folder name"});
    EXPECT_TRUE(QFileInfo(standardDir("Desktop") + QStringLiteral("/a-b-c")).isDir());
    EXPECT_EQ(folderNamed("a-b-c").path, "Desktop/a-b-c");
    EXPECT_EQ(interaction->beeps, 0);

    delegate->quickCreateFolder(); // the same name again
    EXPECT_EQ(interaction->beeps, 1);
    EXPECT_EQ(loadSavedFolders(store).size(), 5);

    interaction->typedText = QStringLiteral("   ");
    delegate->quickCreateFolder();
    interaction->typedText = std::nullopt; // cancelled
    delegate->quickCreateFolder();
    EXPECT_EQ(loadSavedFolders(store).size(), 5);
    EXPECT_EQ(interaction->beeps, 1);

    store.setText(prefs::quickCreateBaseFolder, QStringLiteral("Downloads"));
    test::writeFile(standardDir("Downloads"), "a file where the folder should be");
    interaction->typedText = QStringLiteral("Blocked");
    testing::internal::CaptureStdout();
    delegate->quickCreateFolder();
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("❌ Create folder failed: ", 0), 0u);
    EXPECT_EQ(interaction->beeps, 2);

    store.setBool(prefs::quickCreateEnabled, false);
    const qsizetype prompts = interaction->alerts.size();
    delegate->quickCreateFolder();
    EXPECT_EQ(interaction->beeps, 3);
    EXPECT_EQ(interaction->alerts.size(), prompts) << "no prompt when quick-create is off";
}

} // namespace
