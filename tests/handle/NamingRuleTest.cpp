#include "handle/NamingRule.h"
#include "core/Preferences.h"
#include "folders/FolderConfig.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace quillary;

namespace {

const QDate today(2026, 12, 5);
const NamingRule quilPng{true, QStringLiteral("Quil"), false, QStringLiteral("png")};

QStringList numberedPngs(int from, int to)
{
    QStringList names;
    for (int n = from; n <= to; ++n)
        names << QStringLiteral("Quil_%1.png").arg(n, 3, 10, QLatin1Char('0'));
    return names;
}

struct NameCase {
    const char* what;
    NamingRule rule;
    QStringList existing; // regular files in the target folder
    QStringList reserved; // names in the target folder promised to other moves
    QString expected;
};

TEST(NamingRuleTest, PicksTheFirstFreeExactlyRenderedNumber)
{
    const NameCase cases[] = {
        {"empty folder", quilPng, {}, {}, "Quil_001.png"},
        {"next after the taken ones", quilPng, {"Quil_001.png", "Quil_002.png"}, {}, "Quil_003.png"},
        {"a gap is filled", quilPng, {"Quil_002.png"}, {}, "Quil_001.png"},
        {"date, only today's counts",
         {true, "Quillary", true, "png"},
         {"Quillary_2026-12-04_001.png", "Quillary_2026-12-05_001.png"},
         {},
         "Quillary_2026-12-05_002.png"},
        {"empty prefix, format lower-cased", {true, "", true, "JPG"}, {}, {}, "_2026-12-05_001.jpg"},
        {"other extensions do not occupy",
         {true, "Quil", false, "pdf"},
         {"Quil_001.png"},
         {},
         "Quil_001.pdf"},
        {"near misses do not occupy",
         quilPng,
         {"Quil_0001.png", "Quil_01.png", "Quil_1.png", "quil_001.png", "Quil_001.PNG", "Quil_001.png.bak",
          "Quil_ 001.png", "Quil_2026-12-05_001.png", "xQuil_001.png", "Quil_000.png"},
         {},
         "Quil_001.png"},
        {"past 999 without padding", quilPng, numberedPngs(1, 1000), {}, "Quil_1001.png"},
        {"a reservation occupies its number", quilPng, {"Quil_001.png"}, {"Quil_002.png"}, "Quil_003.png"},
        {"separators in the prefix are replaced", {true, "a/b:c", false, "png"}, {}, {}, "a-b-c_001.png"},
        {"a NUL in the prefix does not cut the name",
         {true, QString::fromUtf16(u"Q\0x\n", 4), false, "png"},
         {},
         {},
         "Q-x-_001.png"},
        {"hidden names are seen", {true, ".q", false, "png"}, {".q_001.png"}, {}, ".q_002.png"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        for (const QString& name : c.existing)
            test::writeFile(dir.filePath(name), {});
        QSet<QString> reserved;
        for (const QString& name : c.reserved)
            reserved.insert(dir.path() + u'/' + name);

        const QUrl url = nextFreeNumberedName(QUrl::fromLocalFile(dir.path()), c.rule, today, reserved);
        EXPECT_EQ(url.toLocalFile().toStdString(), (dir.path() + u'/' + c.expected).toStdString());
    }
}

TEST(NamingRuleTest, EveryKindOfEntryOccupiesItsName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Quil_001.png")));
    ASSERT_TRUE(
        QFile::link(dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("Quil_002.png"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("Quil_001.png")),
                            dir.filePath(QStringLiteral("Quil_003.png"))));

    EXPECT_EQ(nextFreeNumberedName(QUrl::fromLocalFile(dir.path()), quilPng, today).toLocalFile(),
              dir.filePath(QStringLiteral("Quil_004.png")));
}

TEST(NamingRuleTest, ReservationsAreMatchedByFullPathInTheTargetFolderOnly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("target"));
    const QSet<QString> elsewhere{dir.filePath(QStringLiteral("Quil_001.png")),
                                  dir.filePath(QStringLiteral("tarGet/Quil_001.png")),
                                  target + QStringLiteral("/sub/Quil_001.png")};
    EXPECT_EQ(nextFreeNumberedName(QUrl::fromLocalFile(target), quilPng, today, elsewhere).toLocalFile(),
              target + QStringLiteral("/Quil_001.png"))
        << "a missing folder lists as empty and other folders' reservations do not count";

    const QSet<QString> here{target + QStringLiteral("/Quil_001.png")};
    EXPECT_EQ(nextFreeNumberedName(QUrl::fromLocalFile(target + u'/'), quilPng, today, here).toLocalFile(),
              target + QStringLiteral("/Quil_002.png"))
        << "a trailing slash on the folder does not hide a reservation";

    EXPECT_TRUE(
        nextFreeNumberedName(QUrl(QStringLiteral("https://example.org/x")), quilPng, today).isEmpty());
}

TEST(NamingRuleTest, GlobalRuleReplacesTheFolderRuleWhenOn)
{
    FolderConfig folder;
    folder.isRenamingEnabled = false;
    folder.prefix = QStringLiteral("Work");
    folder.includeDate = true;
    folder.fileFormat = QStringLiteral("JPG");

    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{false, "Shot", true, "pdf"}),
              (NamingRule{false, "Work", true, "JPG"}))
        << "global off: the folder's fields unchanged";
    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{true, "Shot", false, "pdf"}),
              (NamingRule{true, "Shot", false, "pdf"}))
        << "global on: renaming on despite the folder";
}

} // namespace
