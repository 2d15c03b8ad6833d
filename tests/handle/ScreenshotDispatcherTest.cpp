// A recognised screenshot queued, auto-moved, or filed and trashed from the card: real folders and worker.
#include "handle/ScreenshotDispatcher.h"
#include "core/FileNames.h"
#include "core/OwnOutputs.h"
#include "folders/FolderConfig.h"
#include "folders/FolderStore.h"
#include "handle/CuePlayer.h"
#include "handle/NamingRule.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <unistd.h>

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
    // Writes the screenshots and hands them over as one scan would.
    void take(const QStringList& names)
    {
        QStringList paths;
        for (const QString& name : names)
            test::writeFile(paths.emplaceBack(shot(name)), png);
        dispatcher.handleNewScreenshots(paths);
    }
    // A folder on the Desktop that renames to Doc_001, Doc_002... in `format`.
    FolderConfig addFolder(const QString& name, const QString& format)
    {
        const FolderConfig folder{
            QUuid::createUuid(), name, "Desktop/" + name, "", true, "Doc", false, format};
        folders.save(QList<FolderConfig>(folders.folders()) << folder);
        return folder;
    }
    void fileFirstInto(const QString& folderID)
    {
        dispatcher.popupMove(dispatcher.screenshotQueue().first(), folderID);
    }

    QString shots = home.filePath("Shots");
    const QByteArray png = test::encoded(
        QImage(reinterpret_cast<const uchar*>("\0\0\xff\xff"), 1, 1, QImage::Format_ARGB32), "PNG");
    FolderStore folders{store};
    OwnOutputs ownOutputs;
    test::FakeSoundOutput* sounds = new test::FakeSoundOutput;
    CuePlayer cues{std::unique_ptr<SoundOutput>(sounds)};
    ScreenshotDispatcher dispatcher{folders, ownOutputs, &cues};
};

TEST_F(ScreenshotDispatcherTest, AutoMoveFilesRenamedAndConvertedSilentlyUnlessThePopupWins)
{
    store.setText(prefs::selectedFolderID, addFolder("Work", "JPG").idText());
    store.setBool(prefs::autoMove, true);
    store.setBool(prefs::popupSoundEnabled, true);
    take({"Screenshot queued.png"});

    store.setBool(prefs::showPopup, false);
    take({"Screenshot 1.png"});
    store.setText(prefs::selectedFolderID, "00000000-0000-0000-0000-00000000DEAD");
    take({"Screenshot stays.png"});
    store.setBool(prefs::autoMove, false);
    take({"Screenshot left.png"});
    dispatcher.waitForMoves();
    EXPECT_EQ(QImageReader(home.filePath("Desktop/Work/Doc_001.jpg")).format(), "jpeg");
    EXPECT_EQ(filesIn(shots),
              (QStringList{"Screenshot left.png", "Screenshot queued.png", "Screenshot stays.png"}));
    EXPECT_EQ(dispatcher.screenshotQueue(), QList<QUrl>{QUrl::fromLocalFile(shot("Screenshot queued.png"))})
        << "the popup wins over auto-move";
    EXPECT_EQ(sounds->played.size(), 1u) << "only for the queued one: an automatic move is silent";
}

TEST_F(ScreenshotDispatcherTest, TheCardFilesTrashesAndAdvancesThroughTheQueue)
{
    store.setBool(prefs::popupSoundEnabled, true);
    store.setText(prefs::popupSoundLevel, "med");
    QSignalSpy headChanged(&dispatcher, &ScreenshotDispatcher::queueHeadChanged);
    take({"Screenshot a.png", "Screenshot b.png", "Screenshot c.png", "Screenshot d.png"});
    ASSERT_EQ(dispatcher.screenshotQueue().size(), 4);
    EXPECT_EQ(headChanged.count(), 1) << "one card for the whole scan";
    ASSERT_EQ(sounds->played.size(), 1u);
    EXPECT_DOUBLE_EQ(sounds->played.back().volume, 0.22);

    // Renaming off: the name is kept; if it is taken in the target the file stays and the move says why.
    const QString documents = home.filePath("Documents"), documentsID = folders.folders().at(1).idText();
    QDir().mkpath(documents);
    test::writeFile(documents + "/Screenshot b.png", "already here");
    fileFirstInto(documentsID);
    testing::internal::CaptureStdout();
    fileFirstInto(documentsID);
    dispatcher.waitForMoves();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              ("❌ Move failed: " + shot("Screenshot b.png") + " → " + documents +
               "/Screenshot b.png: a file with that name already exists\n")
                  .toStdString());
    EXPECT_EQ(filesIn(documents), (QStringList{"Screenshot a.png", "Screenshot b.png"}));
    EXPECT_EQ(test::readFile(documents + "/Screenshot b.png"), "already here");

    fileFirstInto("no-such-folder");
    dispatcher.popupDelete(dispatcher.screenshotQueue().first());
    EXPECT_EQ(filesIn(shots), (QStringList{"Screenshot b.png", "Screenshot c.png"}));
    EXPECT_TRUE(QFileInfo::exists(home.filePath(".local/share/Trash/files/Screenshot d.png")));
    EXPECT_TRUE(dispatcher.screenshotQueue().isEmpty());
    EXPECT_EQ(headChanged.count(), 5) << "each action goes on to the next card";
}

TEST_F(ScreenshotDispatcherTest, RenamedMovesNumberOnBeforeTheyFinishAndTheFinalNameIsOwnOutput)
{
    const FolderConfig jpegs = addFolder("JPEGs", "jpg");
    // Noise is slow to convert: the worker is still busy with it while the next names are given out.
    QImage noise(1600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        QRandomGenerator(y).fillRange(reinterpret_cast<quint32*>(noise.scanLine(y)), noise.width());
    const QString big = home.filePath("big.png");
    ASSERT_TRUE(noise.save(big));
    take({"Screenshot 1.png", "Screenshot 2.png"});

    const QString folder = home.filePath("Desktop/JPEGs/");
    dispatcher.moveScreenshot(QUrl::fromLocalFile(big), jpegs);
    fileFirstInto(jpegs.idText());
    fileFirstInto(jpegs.idText());
    EXPECT_TRUE(ownOutputs.contains(folder + "Doc_003.jpg"));
    QFile taken(folder + "Doc_003.jpg");
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly | QIODevice::NewOnly)) << "the last one was placed already";
    taken.close();
    dispatcher.waitForMoves();
    EXPECT_EQ(filesIn(folder), (QStringList{"Doc_001.jpg", "Doc_002.jpg", "Doc_003.jpg", "Doc_004.jpg"}));
    EXPECT_TRUE(ownOutputs.contains(folder + "Doc_004.jpg"));
    EXPECT_TRUE(filesIn(shots).isEmpty());
}

const QDate today(2026, 12, 5);

TEST(NamingRuleTest, PicksTheFirstFreeExactlyRenderedNumber)
{
    QStringList thousand;
    for (int n = 1; n <= 1000; ++n)
        thousand << QStringLiteral("Quil_%1.png").arg(n, 3, 10, QLatin1Char('0'));
    // Prefix, with date, format, entries of the folder, a name promised to another move, the name expected.
    const std::tuple<QString, bool, const char*, QString, const char*, const char*> cases[] = {
        {"Quil", false, "png", "", "", "Quil_001.png"},
        {"Quil", false, "png", "Quil_002.png|Quil_003.png", "", "Quil_001.png"},
        {"Q", true, "png", "Q_2026-12-04_001.png|Q_2026-12-05_001.png", "", "Q_2026-12-05_002.png"},
        {"", true, "JPG", "", "", "_2026-12-05_001.jpg"},
        {"Quil", false, "pdf", "Quil_001.png", "", "Quil_001.pdf"},
        {"Quil", false, "png",
         "Quil_0001.png|Quil_01.png|Quil_1.png|quil_001.png|Quil_001.PNG|Quil_001.png.bak|Quil_00a.png|"
         "Quil_2026-12-05_001.png|xQuil_001.png|Quil_000.png",
         "", "Quil_001.png"},
        {"Quil", false, "png", thousand.join(u'|'), "", "Quil_1001.png"},
        {"Quil", false, "png", "Quil_001.png", "Quil_002.png", "Quil_003.png"},
        {".q", false, "png", ".q_001.png", "", ".q_002.png"},
        {"../../x", true, "pdf", "", "", "..-..-x_2026-12-05_001.pdf"},
    };
    for (const auto& [prefix, date, format, existing, reserved, expected] : cases) {
        SCOPED_TRACE(expected + (" among " + existing.left(60)).toStdString());
        QTemporaryDir dir;
        for (const QString& name : existing.split(u'|', Qt::SkipEmptyParts))
            test::writeFile(dir.filePath(name), {});
        const QUrl url = nextFreeNumberedName(QUrl::fromLocalFile(dir.path()), {true, prefix, date, format},
                                              today, {dir.filePath(reserved)});
        EXPECT_EQ(url.toLocalFile(), dir.filePath(expected));
    }
}

// The prefix is cut between characters so the name fits; the next number follows the shortened name.
TEST(NamingRuleTest, ALongPrefixIsShortenedToANameTheFolderTakes)
{
    // Prefix, with date, format; each longer than a whole name may be.
    const std::tuple<QString, bool, const char*> cases[] = {
        {QString(300, u'a'), false, "png"},
        {u'a' + QString(200, u'é'), true, "pdf"},
        {QString(100, u'x') + QStringLiteral("📸").repeated(60), false, "png"},
        {fromNativePath(QByteArray(300, '\xff')), false, "png"},
    };
    for (const auto& [prefix, date, format] : cases) {
        SCOPED_TRACE(toNativePath(prefix).left(12).toHex().toStdString() + " " + format);
        QTemporaryDir dir;
        const NamingRule rule{true, prefix, date, format};
        const auto next = [&] {
            return QFileInfo(nextFreeNumberedName(QUrl::fromLocalFile(dir.path()), rule, today).toLocalFile())
                .fileName();
        };
        const QString first = next();
        const QString suffix = (date ? "_2026-12-05_" : "_") + QStringLiteral("%1.") + format;
        ASSERT_TRUE(first.endsWith(suffix.arg("001"))) << first.toStdString();
        const QString kept = first.chopped(suffix.arg("001").size());
        EXPECT_TRUE(prefix.startsWith(kept) && !kept.isEmpty() && !kept.back().isHighSurrogate());
        // Room for 18 digits, less what a character that did not fit whole leaves over.
        EXPECT_LE(toNativePath(first).size(), 255 - 15);
        EXPECT_GE(toNativePath(first).size(), 255 - 15 - 3);
        test::writeFile(dir.filePath(first), {}); // the folder takes the name
        EXPECT_EQ(next(), kept + suffix.arg("002"));
        ::unlink(toNativePath(dir.filePath(first)).constData()); // Qt cannot remove a name that is not UTF-8
    }
}

TEST(NamingRuleTest, OnlyReservationsInTheTargetFolderCount)
{
    const NamingRule quilPng{true, "Quil", false, "png"};
    QTemporaryDir dir;
    const QString target = dir.filePath("target"); // missing: it lists as empty
    QSet<QString> reserved{dir.filePath("Quil_001.png"), dir.filePath("tarGet/Quil_001.png"),
                           target + "/sub/Quil_001.png", target + "/Quil_002.png"};
    const auto next = [&](const QString& folder) {
        return nextFreeNumberedName(QUrl::fromLocalFile(folder), quilPng, today, reserved).toLocalFile();
    };
    EXPECT_EQ(next(target), target + "/Quil_001.png");
    reserved.insert(target + "/Quil_001.png");
    EXPECT_EQ(next(target + u'/'), target + "/Quil_003.png") << "a trailing slash hides no reservation";
    EXPECT_TRUE(nextFreeNumberedName(QUrl("https://example.org/x"), quilPng, today).isEmpty());
}

TEST(NamingRuleTest, GlobalRuleReplacesTheFolderRuleWhenOn)
{
    const FolderConfig folder{{}, {}, {}, {}, false, "Work", true, "JPG"}; // id, name, path, icon, its rule
    const NamingRule global{true, "Shot", false, "pdf"};
    EXPECT_EQ(effectiveNamingRule(folder, global), global);
    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{false, "Shot", true, "pdf"}),
              (NamingRule{false, "Work", true, "JPG"}));
}

// Low is quieter than med, anything else full; unknown and empty names play nothing.
TEST(CuePlayer, PlaysTheNamedCueAtTheLevelsVolume)
{
    auto* output = new test::FakeSoundOutput;
    CuePlayer player{std::unique_ptr<SoundOutput>(output)};
    for (const auto& [name, level] :
         {std::pair{"Glass", "med"}, {"Ping", "low"}, {"Glass", "HIGH"}, {"Pop", "low"}, {"", "low"}})
        player.playCue(name, level);
    const auto& calls = output->played;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(calls[0].clip->samples, calls[1].clip->samples);
    EXPECT_EQ(calls[2].clip, calls[0].clip) << "decoded once";
    EXPECT_TRUE(0 < calls[1].volume && calls[1].volume < calls[0].volume && calls[2].volume == 1.0);
}

} // namespace
