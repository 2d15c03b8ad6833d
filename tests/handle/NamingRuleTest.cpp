#include "handle/NamingRule.h"
#include "core/FileNames.h"
#include "folders/FolderConfig.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <unistd.h>

using namespace quillary;

namespace {

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
        {"a/b:c", false, "png", "", "", "a-b-c_001.png"},
        {QString::fromUtf16(u"Q\0x\n", 4), false, "png", "", "", "Q-x-_001.png"},
        {".q", false, "png", ".q_001.png", "", ".q_002.png"},
        {"..", false, "png", "", "", "--_001.png"},
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

// However long the prefix, the name fits in a folder: the prefix is shortened between characters, the
// date, number and extension stay whole, and the next number follows on from the shortened name.
TEST(NamingRuleTest, ALongPrefixIsShortenedToANameTheFolderTakes)
{
    // Prefix, with date, format; each longer than a whole name may be.
    const std::tuple<QString, bool, const char*> cases[] = {
        {QString(300, u'a'), false, "png"},
        {QString(250, u'a'), true, "jpg"},
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

} // namespace
