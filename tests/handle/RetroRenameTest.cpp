#include "handle/RetroRename.h"

#include "core/FileNames.h"
#include "folders/StandardFolders.h"
#include "imaging/ImageLimits.h"
#include "imaging/PdfEncoder.h"
#include "platform/FileSystem.h"
#include "support/Fakes.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDate>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <thread>

using namespace quillary;

namespace {

using Files = std::vector<std::pair<QString, QByteArray>>;

// Every entry of `dir`, hidden ones included, with its content.
Files contents(const QString& dir)
{
    Files files;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
        files.emplace_back(name, test::readFile(dir + "/" + name));
    return files;
}

QByteArray picture(int width, int height, const char* format, QImage::Format pixels = QImage::Format_RGB32)
{
    return test::encoded(test::pattern(pixels, width, height), format);
}

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

TEST(RenameExistingFilesTest, NamesFollowTheOrderFilesWereMadeIn)
{
    const QByteArray a = picture(40, 30, "png");
    const QByteArray b = picture(30, 20, "jpeg");
    const auto dateOf = [](const QString& path) -> std::optional<QString> {
        return path.endsWith("a.png")    ? "2026-03-01"
               : path.endsWith("b.jpeg") ? "2026-03-02"
                                         : std::optional<QString>();
    };
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
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        make(dir.path(), c.files);
        RetroRenameOptions options;
        options.dateOf = dateOf;
        renameExistingFiles(QUrl::fromLocalFile(dir.path()), "Quil", c.includeDate, c.format, options);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), c.expected.size());
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

TEST(RenameExistingFilesTest, ParallelRunGivesExactlyTheOneThreadResult)
{
    Files files;
    for (int i = 0; i < 10; ++i)
        files.emplace_back(
            QString("a%1.png").arg(i),
            picture(160 + 8 * i, 90 + 8 * i, "png", i % 3 ? QImage::Format_RGB32 : QImage::Format_ARGB32));
    const QByteArray png = picture(64, 48, "png");
    const QByteArray jpeg = picture(48, 32, "jpeg");
    files.insert(files.end(), {{"b.jpg", jpeg},
                               {"c-broken.jpg", jpeg.left(jpeg.size() / 2)},
                               {"c.jpeg", picture(32, 48, "jpeg")},
                               {"d.pdf", pdfOf(40, 20)},
                               {"e-broken.png", png.left(png.size() / 2)},
                               {"f-text.png", "not an image"},
                               {"g.PNG", picture(50, 50, "png")},
                               {"Quil_002.jpg", jpeg}});
    // Made in name order, so both folders list alike whatever the clock's resolution.
    std::sort(files.begin(), files.end(),
              [](const auto& x, const auto& y) { return toNativePath(x.first) < toNativePath(y.first); });
    const struct {
        const char* format;
        QStringList undecodable;
    } cases[] = {
        {"jpg", {"e-broken.png", "f-text.png"}},
        {"png", {"c-broken.jpg"}},
        {"pdf", {"c-broken.jpg", "e-broken.png", "f-text.png"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        Files results[2];
        for (const int threads : {1, 4}) {
            QTemporaryDir dir;
            for (const auto& [name, bytes] : files)
                test::writeFile(dir.filePath(name), bytes);
            RetroRenameOptions options;
            options.threads = threads;
            const RetroRenameResult result =
                renameExistingFiles(QUrl::fromLocalFile(dir.path()), "Quil", false, c.format, options);
            EXPECT_EQ(result.total - result.renamed, c.undecodable.size());
            // Files that do not decode keep their names but use up their numbers: the last file
            // has the number of its place.
            for (const QString& name :
                 c.undecodable +
                     QStringList{QString("Quil_%1.%2").arg(files.size(), 3, 10, QChar('0')).arg(c.format)})
                EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name.toStdString();
            results[threads > 1] = contents(dir.path());
        }
        EXPECT_TRUE(results[0] == results[1]);
    }
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

} // namespace
