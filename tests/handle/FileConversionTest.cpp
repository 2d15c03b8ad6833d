#include "handle/FileConversion.h"
#include "core/FileNames.h"
#include "core/OwnOutputs.h"
#include "folders/FolderConfig.h"
#include "folders/FolderStore.h"
#include "folders/StandardFolders.h"
#include "handle/CuePlayer.h"
#include "handle/NamingRule.h"
#include "handle/RetroRename.h"
#include "handle/SafeFilePlacement.h"
#include "handle/ScreenshotDispatcher.h"
#include "imaging/ImageLimits.h"
#include "imaging/PdfEncoder.h"
#include "platform/FileSystem.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace quillary;

namespace {

// An image whose every encoding is larger than half its PNG.
QByteArray picture(int width, int height, const char* format = "png",
                   QImage::Format pixels = QImage::Format_RGB32)
{
    return test::encoded(test::pattern(pixels, width, height), format);
}

// Every entry of `folder` as bytes, hidden ones included: temporary files must never remain.
QByteArray entries(const QString& folder)
{
    QByteArrayList names;
    forEachEntryName(folder, [&](QByteArrayView name) { names << name.toByteArray(); });
    std::sort(names.begin(), names.end());
    return names.join(' ');
}

// Runs `run` with writes past `bytes` failing with EFBIG, as on a full disk.
void withFileSizeLimit(rlim_t bytes, const std::function<void()>& run)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{bytes, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
    run();
    setrlimit(RLIMIT_FSIZE, &saved);
}

class FileConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("in") && QDir(m_dir.path()).mkpath("out"));
    }

    QString in(const QString& name) const { return m_dir.filePath("in/" + name); }
    QString out(const QString& name) const { return m_dir.filePath("out/" + name); }
    QByteArray outEntries() const { return entries(out("")); }

    QTemporaryDir m_dir;
};

// "png" moves as it is; nothing replaces a target, or goes through a link; non-UTF-8 names work.
TEST_F(FileConversionTest, EachFormatPlacesOnlyWhereNothingIsAndNeverThroughALink)
{
    const QByteArray source = picture(64, 48, "jpeg");
    const QString shot = in(fromNativePath("\xff\xfe"));
    for (const QString format : {"png", "jpg", "pdf"}) {
        SCOPED_TRACE(format.toStdString());
        test::writeFile(shot, source);
        test::writeFile(out("taken." + format), "someone else's");
        EXPECT_EQ(convertAndPlace(shot, out("taken." + format), format), PlaceResult::targetExists);
        for (const QString& pointsAt : {out("taken." + format), m_dir.path(), in("missing"), in("link")}) {
            ASSERT_EQ(::symlink(toNativePath(pointsAt).constData(), toNativePath(in("link")).constData()), 0);
            EXPECT_EQ(convertAndPlace(in("link"), out("a." + format), format), PlaceResult::notRegularFile);
            ASSERT_EQ(::unlink(toNativePath(in("link")).constData()), 0) << "the link stays";
        }
        EXPECT_EQ(test::readFile(out("taken." + format)), "someone else's");

        const QString target = out(fromNativePath("\xfe\xff.") + format);
        ASSERT_EQ(convertAndPlace(shot, target, format.toUpper()), PlaceResult::placed);
        EXPECT_NE(::access(toNativePath(shot).constData(), F_OK), 0);
        const QByteArray placed = test::readFile(target);
        EXPECT_TRUE(format == "png" ? placed == source
                                    : placed.startsWith(format == "jpg" ? "\xff\xd8\xff" : "%PDF-"));
    }
    EXPECT_EQ(outEntries(), "taken.jpg taken.pdf taken.png \xfe\xff.jpg \xfe\xff.pdf \xfe\xff.png");
}

TEST_F(FileConversionTest, NothingIsWrittenForWhatCannotBeConverted)
{
    const QByteArray png = picture(200, 120), jpeg = picture(200, 120, "jpeg");
    const QByteArray wide = test::encoded(QImage(kMaxImageSide + 1, 1, QImage::Format_Mono), "png");
    QByteArray damaged = png;
    damaged[png.indexOf("IDAT") + 40] ^= 0x10;
    using enum PlaceResult;
    // What, source bytes (none: no source file), formats, outcome (unwritable: the target folder is missing).
    std::vector<std::tuple<const char*, std::optional<QByteArray>, const char*, PlaceResult>> cases{
        {"unknown format", png, "jpeg", unsupportedFormat},
        {"PNG cut short", png.first(png.size() / 2), "jpg pdf", undecodable},
        {"PNG without IEND", png.chopped(12), "jpg pdf", undecodable},
        {"PNG with a damaged IDAT", damaged, "jpg pdf", undecodable},
        {"JPEG cut short", jpeg.first(jpeg.size() * 2 / 3), "jpg pdf", undecodable},
        {"wider than the side cap", wide, "jpg pdf", undecodable},
        {"not an image", "just some text, nothing like a picture\n", "jpg pdf", undecodable},
        {"empty", "", "jpg pdf", undecodable},
        {"missing source", std::nullopt, "jpg pdf", unreadable},
        {"target folder missing", png, "jpg pdf png", unwritable},
        {"disk full", png, "jpg pdf", noSpace},
    };
    for (const auto& [what, bytes] : test::imagesOfAbsurdSize())
        cases.emplace_back(what, bytes, "jpg pdf", undecodable);
    for (const auto& [what, bytes, formats, outcome] : cases) {
        for (const QString& format : QString(formats).split(' ')) {
            SCOPED_TRACE(what + (" to " + format).toStdString());
            QFile::remove(in("source"));
            if (bytes)
                test::writeFile(in("source"), *bytes);
            const QString target = m_dir.filePath((outcome == unwritable ? "nowhere/a." : "out/a.") + format);
            withFileSizeLimit(outcome == noSpace ? png.size() / 2 : RLIM_INFINITY,
                              [&] { EXPECT_EQ(convertAndPlace(in("source"), target, format), outcome); });
            EXPECT_EQ(test::readFile(in("source")), bytes.value_or(""));
            EXPECT_EQ(outEntries(), "");
            EXPECT_FALSE(QFile::exists(m_dir.filePath("nowhere")));
        }
    }
}

// A newer version saved over the source during the conversion (renamed over, or rewritten) stays.
TEST_F(FileConversionTest, ANewerVersionSavedDuringTheConversionStays)
{
    const QByteArray older = picture(64, 48);
    QByteArray rewritten = older;
    rewritten[20] = char(rewritten[20] ^ 1); // same size
    for (const QString format : {"jpg", "pdf"}) {
        for (const bool inPlace : {false, true}) {
            SCOPED_TRACE(format.toStdString() + (inPlace ? " rewritten in place" : " renamed over"));
            test::writeFile(in("shot.png"), older);
            QFile::remove(out("shot." + format));
            PreparedPlacement prepared = prepareConversion(in("shot.png"), out("shot." + format), format);
            const QByteArray saved = inPlace ? rewritten : picture(32, 24);
            test::writeFile(in(inPlace ? "shot.png" : "new.png"), saved);
            // The clock may not have ticked since the first write: the time a later save gives.
            const timespec times[2] = {{0, UTIME_OMIT}, {QDateTime::currentSecsSinceEpoch() + 5, 0}};
            ASSERT_EQ(inPlace ? utimensat(AT_FDCWD, toNativePath(in("shot.png")).constData(), times, 0)
                              : ::rename(toNativePath(in("new.png")).constData(),
                                         toNativePath(in("shot.png")).constData()),
                      0);

            EXPECT_EQ(prepared.commit(out("shot." + format)), PlaceResult::sourceKept);
            EXPECT_EQ(test::readFile(in("shot.png")), saved);
            const QByteArray placed = test::readFile(out("shot." + format));
            EXPECT_TRUE(format == "jpg" ? QImage::fromData(placed).size() == QSize(64, 48)
                                        : placed.contains("/Width 64"));
        }
    }
}

class SafeFilePlacementTest : public ::testing::Test {
protected:
    // A folder on another filesystem (a mount point between them is what makes rename() fail).
    void SetUp() override
    {
        if (!m_other.isValid() ||
            QStorageInfo(m_other.path()).rootPath() == QStorageInfo(m_dir.path()).rootPath())
            GTEST_SKIP() << "no second filesystem to move to";
    }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString other(const QString& name) const { return m_other.filePath(name); }

    QTemporaryDir m_dir;
    QTemporaryDir m_other{QStringLiteral("/dev/shm/quillary-test-XXXXXX")};
};

TEST_F(SafeFilePlacementTest, MoveAcrossFilesystemsCopiesThenRemovesTheSource)
{
    const QByteArray bytes(3 << 20, 'b');
    test::writeFile(path("source"), bytes);
    const timespec modified[2] = {{0, UTIME_OMIT}, {1'000'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, toNativePath(path("source")).constData(), modified, 0), 0);
    test::writeFile(other("taken"), "old");
    EXPECT_EQ(moveNoReplace(path("source"), other("taken")), PlaceResult::targetExists);
    // A copy that cannot be written whole (writes past 1 MiB fail with EFBIG) leaves no trace.
    withFileSizeLimit(
        1 << 20, [&] { EXPECT_EQ(moveNoReplace(path("source"), other("moved")), PlaceResult::noSpace); });
    EXPECT_EQ(entries(m_other.path()), "taken");

    EXPECT_EQ(moveNoReplace(path("source"), other("moved")), PlaceResult::placed);
    EXPECT_FALSE(QFile::exists(path("source")));
    EXPECT_EQ(test::readFile(other("moved")), bytes);
    EXPECT_EQ(QFileInfo(other("moved")).lastModified().toSecsSinceEpoch(), 1'000'000'000);
    EXPECT_EQ(test::readFile(other("taken")), "old");
    EXPECT_EQ(entries(m_other.path()), "moved taken");
}

// A newer version saved over the file while it is copied across stays; the version read is placed.
TEST_F(SafeFilePlacementTest, ANewerVersionSavedDuringACopyAcrossFilesystemsStays)
{
    test::writeFile(path("source"), "older");
    PreparedPlacement prepared = prepareMove(path("source"));
    test::writeFile(path("newer"), "newer");
    ASSERT_EQ(::rename(toNativePath(path("newer")).constData(), toNativePath(path("source")).constData()), 0);

    EXPECT_EQ(prepared.commit(other("moved")), PlaceResult::sourceKept);
    EXPECT_EQ(test::readFile(path("source")), "newer");
    EXPECT_EQ(test::readFile(other("moved")), "older");
    EXPECT_EQ(entries(m_other.path()), "moved");
}

// Only our own temporary files that no writer holds are removed: a writer killed mid-way leaves one.
TEST_F(SafeFilePlacementTest, RemovesOnlyStaleTemporaryFilesOfOurOwn)
{
    test::writeFile(other(".Q_1.pdf.quillary-Zz0123"), "stale");
    test::writeFile(path(".Q_2.jpg.quillary-abc123"), "stale");
    // Names that are not quite ours, and entries named as ours that are no regular file.
    for (const char* name : {".Q.jpg.quillary-abc12", ".Q.jpg.quillary-abc1234", "Q.jpg.quillary-abc123",
                             ".Q.jpg.quillary-abc-12", ".quillary-abc123"})
        test::writeFile(path(name), "not ours");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(".Q_3.jpg.quillary-abc123"));
    ASSERT_EQ(symlink("source", toNativePath(path(".Q_4.jpg.quillary-abc123")).constData()), 0);
    // A conversion in progress: its file is written and waits to be placed.
    test::writeFile(path("source"), "source");
    PreparedPlacement live = prepareWrite(path("source"), path("live.jpg"),
                                          [](int, QIODevice& out) { return out.write("converted") == 9; });

    EXPECT_EQ(removeStaleTemporaryFiles({m_dir.path(), m_other.path(), path("missing")}), 2);
    EXPECT_EQ(entries(m_other.path()), "");
    EXPECT_EQ(
        QString(entries(m_dir.path())).replace(QRegularExpression("\\.live\\.jpg\\.quillary-\\w{6}"), "LIVE"),
        ".Q.jpg.quillary-abc-12 .Q.jpg.quillary-abc12 .Q.jpg.quillary-abc1234 .Q_3.jpg.quillary-abc123 "
        ".Q_4.jpg.quillary-abc123 LIVE .quillary-abc123 Q.jpg.quillary-abc123 source");
    EXPECT_EQ(live.commit(path("live.jpg")), PlaceResult::placed);
    EXPECT_EQ(test::readFile(path("live.jpg")), "converted");
}

using Files = std::vector<std::pair<QString, QByteArray>>;

// A one-page PDF of a `width` × `height` image at 72 dpi: a page of as many points.
QByteArray pdfOf(int width, int height)
{
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(writePdf(picture(width, height, "png"), pdf));
    return pdf.data();
}

// Writes the files in this order, each made noticeably later than the one before.
void make(const QString& dir, const Files& files)
{
    for (const auto& [name, bytes] : files) {
        test::writeFile(joinPath(dir, name), bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
}

FolderConfig customFolder(const QString& name, const QString& prefix)
{
    return {QUuid::createUuid(), name, "Pictures/" + name, "folder", true, prefix, false, "png"};
}

TEST(RetroRenameBookTest, ChangeIsOfferedUntilCommittedAndAFolderKeepsOneJob)
{
    FolderConfig work = customFolder("Work", "Quil");
    const FolderConfig home = customFolder("Home", "H");
    FolderConfig desktop = customFolder("Desktop", "Quil");
    RetroRenameBook book;
    book.fillSnapshot({work, home, desktop});
    book.fillSnapshot({}); // filled once only
    const struct {
        std::function<void(FolderConfig&)> edit;
        bool offered;
    } cases[] = {
        {[](FolderConfig& f) { f.name = "Job", f.icon = "star"; }, false},
        {[](FolderConfig& f) { f.prefix = "Shot"; }, true},
        {[](FolderConfig& f) { f.includeDate = true; }, true},
        {[](FolderConfig& f) { f.fileFormat = "PNG"; }, true},
        {[](FolderConfig& f) { f.prefix = "Shot", f.isRenamingEnabled = false; }, false},
        {[&](FolderConfig& f) { f = desktop, f.prefix = "Shot"; }, false},
        {[](FolderConfig& f) { f.id = QUuid::createUuid(), f.prefix = "Shot"; }, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        FolderConfig folder = work;
        cases[i].edit(folder);
        EXPECT_EQ(book.hasUncommittedRenameChange(folder), cases[i].offered) << "case " << i;
    }

    work.prefix = "A";
    book.commitRenameChange(work.id, {work, home});
    book.commitRenameChange(home.id, {work, home});
    work.prefix = "B";
    book.commitRenameChange(work.id, {work, home});
    book.commitRenameChange(QUuid::createUuid(), {work, home});
    EXPECT_FALSE(book.hasUncommittedRenameChange(work));
    EXPECT_EQ(book.takePendingJobs(),
              (QList<RetroRenameJob>{{home.id, "H", false, "png"}, {work.id, "B", false, "png"}}));
    EXPECT_TRUE(book.pendingRetroRenames.isEmpty());
}

// Any number of threads gives the same names; files that do not decode keep theirs but use up a number.
TEST(RenameExistingFilesTest, NamesFollowTheOrderFilesWereMadeInWithAnyNumberOfThreads)
{
    const QByteArray a = picture(40, 30, "png");
    const QByteArray b = picture(30, 20, "jpeg");
    const auto dateOf = [](const QString& path) -> std::optional<QString> {
        return path.endsWith("a.png")    ? "2026-03-01"
               : path.endsWith("b.jpeg") ? "2026-03-02"
                                         : std::optional<QString>();
    };
    Files many, renamed; // more files than the workers prepare ahead, some broken
    for (int i = 1; i <= 12; ++i) {
        const QByteArray bytes =
            i % 4 == 0 ? a.left(a.size() / 2)
                       : picture(40 + i, 30, "png", i % 3 ? QImage::Format_RGB32 : QImage::Format_ARGB32);
        many.emplace_back(QString("p%1.png").arg(i), bytes);
        renamed.emplace_back(i % 4 == 0 ? many.back().first
                                        : QString("Quil_%1.pdf").arg(i, 3, 10, QChar('0')),
                             i % 4 == 0 ? bytes : QByteArray());
    }
    const struct {
        Files files; // in the order they are made
        bool includeDate;
        const char* format;
        Files expected; // a null content: a converted file
    } cases[] = {
        // Per-file dates; a JPEG is only renamed for "jpg".
        {{{"a.png", a}, {"b.jpeg", b}, {"notes.txt", "x"}},
         true,
         "JPG",
         {{"Quil_2026-03-01_001.jpg", {}}, {"Quil_2026-03-02_002.jpg", b}, {"notes.txt", "x"}}},
        // Files already bearing the names take the next ones.
        {{{"Quil_001.png", a}, {"Quil_002.png", b}},
         false,
         "png",
         {{"Quil_003.png", a}, {"Quil_004.png", b}}},
        // The order they were made in, not their names'; no date to be had.
        {{{"z.png", a}, {"m.pdf", "%PDF-"}, {"y.png", b}},
         true,
         "pdf",
         {{"Quil_001.pdf", {}}, {"Quil_002.pdf", "%PDF-"}, {"Quil_003.pdf", {}}}},
        {many, false, "pdf", renamed},
    };
    for (const auto& c : cases) {
        for (const int threads : {1, 4}) {
            SCOPED_TRACE(testing::Message() << c.format << " on " << threads << " threads");
            QTemporaryDir dir;
            make(dir.path(), c.files);
            RetroRenameOptions options;
            options.dateOf = dateOf;
            options.threads = threads;
            renameExistingFiles(QUrl::fromLocalFile(dir.path()), "Quil", c.includeDate, c.format, options);
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), c.expected.size());
            for (const auto& [name, bytes] : c.expected) {
                const QByteArray content = test::readFile(dir.filePath(name));
                if (bytes.isNull())
                    EXPECT_TRUE(name.endsWith("pdf") ? content.startsWith("%PDF-")
                                                     : bool(decodeCompleteImage(content)))
                        << name.toStdString();
                else
                    EXPECT_EQ(content, bytes) << name.toStdString();
            }
        }
    }
}

TEST(RenameExistingFilesTest, APdfBecomesAnImageOfItsFirstPage1800Wide)
{
    QTemporaryDir dir;
    make(dir.path(), {{"page.pdf", pdfOf(600, 300)}});
    renameExistingFiles(QUrl::fromLocalFile(dir.path()), "Doc", false, "png");
    const std::optional<QImage> image = decodeCompleteImage(test::readFile(dir.filePath("Doc_001.png")));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), QSize(1800, 900));
    EXPECT_FALSE(QFile::exists(dir.filePath("page.pdf")));
}

TEST(ApplyRetroRenamesTest, RunsEachJobWithItsOwnValuesOnCustomFoldersOnly)
{
    const test::SessionHome session;
    const FolderConfig work = customFolder("Work", "Now");
    const FolderConfig desktop = customFolder("Desktop", "Now");
    QStringList dirs;
    for (const FolderConfig& folder : {work, desktop}) {
        dirs << configDirectoryURL(folder).toLocalFile();
        ASSERT_TRUE(QDir().mkpath(dirs.last()));
        test::writeFile(dirs.last() + "/shot.png", picture(20, 20, "png"));
    }
    applyRetroRenames({{QUuid::createUuid(), "Gone", false, "png"},
                       {desktop.id, "Then", false, "png"},
                       {work.id, "Then", true, "png"}},
                      {work, desktop});
    // The file was made today; where it has no birth time, it was written today.
    EXPECT_EQ(QDir(dirs[0]).entryList(QDir::Files),
              QStringList{"Then_" + QDate::currentDate().toString("yyyy-MM-dd") + "_001.png"});
    EXPECT_EQ(QDir(dirs[1]).entryList(QDir::Files), QStringList{"shot.png"});
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
    EXPECT_EQ(entries(shots), "Screenshot left.png Screenshot queued.png Screenshot stays.png");
    EXPECT_EQ(dispatcher.screenshotQueue(), QList<QUrl>{QUrl::fromLocalFile(shot("Screenshot queued.png"))})
        << "the popup wins over auto-move";
    EXPECT_EQ(sounds->played.size(), 1u) << "only for the queued one: an automatic move is silent";
}

TEST_F(ScreenshotDispatcherTest, TheCardFilesTrashesAndAdvancesThroughTheQueue)
{
    store.setBool(prefs::popupSoundEnabled, true);
    store.setText(prefs::popupSoundLevel, "med");
    take({"Screenshot a.png", "Screenshot b.png", "Screenshot c.png", "Screenshot d.png"});
    ASSERT_EQ(dispatcher.screenshotQueue().size(), 4);
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
    EXPECT_EQ(entries(documents), "Screenshot a.png Screenshot b.png");
    EXPECT_EQ(test::readFile(documents + "/Screenshot b.png"), "already here");

    fileFirstInto("no-such-folder");
    dispatcher.popupDelete(dispatcher.screenshotQueue().first());
    EXPECT_EQ(entries(shots), "Screenshot b.png Screenshot c.png");
    EXPECT_TRUE(QFileInfo::exists(home.filePath(".local/share/Trash/files/Screenshot d.png")));
    EXPECT_TRUE(dispatcher.screenshotQueue().isEmpty());
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
    EXPECT_EQ(entries(folder), "Doc_001.jpg Doc_002.jpg Doc_003.jpg Doc_004.jpg");
    EXPECT_TRUE(ownOutputs.contains(folder + "Doc_004.jpg"));
    EXPECT_EQ(entries(shots), "");
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

// The global rule, when on, replaces the folder's own whole; when off, the folder's own applies.
TEST(NamingRuleTest, GlobalRuleReplacesTheFolderRuleWhenOn)
{
    const FolderConfig folder{{}, {}, {}, {}, false, "Work", true, "JPG"}; // id, name, path, icon, its rule
    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{true, "Shot", false, "pdf"}),
              (NamingRule{true, "Shot", false, "pdf"}));
    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{false, "Shot", true, "pdf"}),
              (NamingRule{false, "Work", true, "JPG"}));
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

} // namespace
