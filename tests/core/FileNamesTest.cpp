#include "core/FileNames.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace quillary {
namespace {

struct NativeCase {
    const char* label;
    QByteArray bytes;
};

class NativePathRoundTrip : public ::testing::TestWithParam<NativeCase> {};

TEST_P(NativePathRoundTrip, KeepsEveryByte)
{
    const QByteArray& bytes = GetParam().bytes;
    EXPECT_EQ(toNativePath(fromNativePath(bytes)), bytes);
}

INSTANTIATE_TEST_SUITE_P(Names, NativePathRoundTrip,
                         ::testing::Values(NativeCase{"ascii", "/tmp/Screenshot 2026.png"},
                                           NativeCase{"utf8",
                                                      "/tmp/Bildschirmfoto \xc3\xbc \xf0\x9f\x93\xb8.png"},
                                           NativeCase{"latin1", "/tmp/Capture d'\xe9"
                                                                "cran.png"},
                                           NativeCase{"lone_continuation", "/tmp/\x80\xbf.png"},
                                           NativeCase{"truncated_sequence", "/tmp/\xe2\x82.png"},
                                           NativeCase{"overlong_slash", "/tmp/\xc0\xaf.png"},
                                           NativeCase{"encoded_surrogate", "/tmp/\xed\xb2\x80.png"},
                                           NativeCase{"beyond_unicode", "/tmp/\xf4\x90\x80\x80.png"},
                                           NativeCase{"all_high_bytes",
                                                      [] {
                                                          QByteArray all;
                                                          for (int b = 0x80; b <= 0xFF; ++b)
                                                              all += char(b);
                                                          return all;
                                                      }()}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(NativePath, DecodesValidUtf8AsText)
{
    EXPECT_EQ(fromNativePath("Sk\xc3\xa4rmavbild.png"), QStringLiteral("Skärmavbild.png"));
    EXPECT_EQ(toNativePath(QStringLiteral("Skärmavbild 📸.png")),
              QStringLiteral("Skärmavbild 📸.png").toUtf8());
}

TEST(NativePath, EscapedNameOpensTheSameFileAgain)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray native = QFile::encodeName(dir.path()) + "/shot-\xff\xfe.png";
    const int fd = open(native.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    close(fd);

    // Qt's own decoding loses the bytes, so the file cannot be found again by that name; ours keeps them.
    EXPECT_FALSE(QFile::exists(QFile::decodeName(native)));
    EXPECT_EQ(access(toNativePath(fromNativePath(native)).constData(), F_OK), 0);
    EXPECT_EQ(unlink(native.constData()), 0);
}

TEST(SafeFileNameComponent, CleansWhatWouldEscapeOrCutTheName)
{
    const struct {
        QString input;
        QString expected;
    } cases[] = {
        {QStringLiteral("Projects"), QStringLiteral("Projects")},
        {QStringLiteral("a/b"), QStringLiteral("a-b")},
        {QStringLiteral("/etc"), QStringLiteral("-etc")},
        {QStringLiteral("12:30"), QStringLiteral("12-30")},
        {QString::fromUtf16(u"Q\0rest", 6), QStringLiteral("Q-rest")},
        {QStringLiteral("line\nbreak\ttab\x7f"), QStringLiteral("line-break-tab-")},
        {QString(QChar(0x85)) + QStringLiteral("next"), QStringLiteral("-next")},
        {QStringLiteral("."), QStringLiteral("-")},
        {QStringLiteral(".."), QStringLiteral("--")},
        {QStringLiteral("..."), QStringLiteral("...")},
        {QStringLiteral("Übersicht 📸"), QStringLiteral("Übersicht 📸")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(safeFileNameComponent(c.input), c.expected) << c.input.toStdString();
}

} // namespace
} // namespace quillary
