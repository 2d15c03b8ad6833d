#include "handle/NamingRule.h"
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

struct NameCase {
    const char* what;
    QString prefix;
    bool date;
    const char* format;
    // Files in the target folder, separated by "|". Entries of any kind count: the listing gives them all
    // (FileSystemTest).
    QString existing;
    const char* reserved; // a name in the target folder promised to another move
    const char* expected;
};

TEST(NamingRuleTest, PicksTheFirstFreeExactlyRenderedNumber)
{
    QStringList thousand;
    for (int n = 1; n <= 1000; ++n)
        thousand << QStringLiteral("Quil_%1.png").arg(n, 3, 10, QLatin1Char('0'));
    const NameCase cases[] = {
        {"empty folder", "Quil", false, "png", "", "", "Quil_001.png"},
        {"a gap is filled", "Quil", false, "png", "Quil_002.png|Quil_003.png", "", "Quil_001.png"},
        {"only today's count", "Q", true, "png", "Q_2026-12-04_001.png|Q_2026-12-05_001.png", "",
         "Q_2026-12-05_002.png"},
        {"empty prefix, format lower-cased", "", true, "JPG", "", "", "_2026-12-05_001.jpg"},
        {"other extensions", "Quil", false, "pdf", "Quil_001.png", "", "Quil_001.pdf"},
        {"near misses", "Quil", false, "png",
         "Quil_0001.png|Quil_01.png|Quil_1.png|quil_001.png|Quil_001.PNG|Quil_001.png.bak|Quil_00a.png|"
         "Quil_2026-12-05_001.png|xQuil_001.png|Quil_000.png",
         "", "Quil_001.png"},
        {"past 999 without padding", "Quil", false, "png", thousand.join(u'|'), "", "Quil_1001.png"},
        {"a reservation", "Quil", false, "png", "Quil_001.png", "Quil_002.png", "Quil_003.png"},
        {"separators in the prefix", "a/b:c", false, "png", "", "", "a-b-c_001.png"},
        {"a NUL in the prefix", QString::fromUtf16(u"Q\0x\n", 4), false, "png", "", "", "Q-x-_001.png"},
        {"hidden names", ".q", false, "png", ".q_001.png", "", ".q_002.png"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        for (const QString& name : c.existing.split(u'|', Qt::SkipEmptyParts))
            test::writeFile(dir.filePath(name), {});
        const QSet<QString> reserved{dir.filePath(c.reserved)};
        const QUrl url = nextFreeNumberedName(QUrl::fromLocalFile(dir.path()),
                                              {true, c.prefix, c.date, c.format}, today, reserved);
        EXPECT_EQ(url.toLocalFile(), dir.filePath(c.expected));
    }
}

TEST(NamingRuleTest, OnlyReservationsInTheTargetFolderCount)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("target"); // missing: it lists as empty
    QSet<QString> reserved{dir.filePath("Quil_001.png"), dir.filePath("tarGet/Quil_001.png"),
                           target + "/sub/Quil_001.png", target + "/Quil_002.png"};
    EXPECT_EQ(nextFreeNumberedName(QUrl::fromLocalFile(target), quilPng, today, reserved).toLocalFile(),
              target + "/Quil_001.png");
    // A trailing slash on the folder does not hide a reservation.
    reserved.insert(target + "/Quil_001.png");
    EXPECT_EQ(
        nextFreeNumberedName(QUrl::fromLocalFile(target + u'/'), quilPng, today, reserved).toLocalFile(),
        target + "/Quil_003.png");
    EXPECT_TRUE(nextFreeNumberedName(QUrl("https://example.org/x"), quilPng, today).isEmpty());
}

TEST(NamingRuleTest, GlobalRuleReplacesTheFolderRuleWhenOn)
{
    FolderConfig folder;
    folder.prefix = "Work";
    folder.includeDate = true;
    folder.fileFormat = "JPG";
    const NamingRule global{true, "Shot", false, "pdf"};
    EXPECT_EQ(effectiveNamingRule(folder, global), global);
    EXPECT_EQ(effectiveNamingRule(folder, NamingRule{false, "Shot", true, "pdf"}),
              (NamingRule{false, "Work", true, "JPG"}));
}

} // namespace
