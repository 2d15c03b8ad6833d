#include "core/FileNames.h"
#include "core/Diagnostics.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace quillary {
namespace {

// Valid UTF-8 reads as text; every other byte survives the trip through QString as an escape.
TEST(NativePath, KeepsEveryByte)
{
    QByteArray allHighBytes;
    for (int b = 0x80; b <= 0xFF; ++b)
        allHighBytes += char(b);
    // Latin-1, lone continuation bytes, a sequence cut short, an overlong "/", an encoded surrogate, a
    // code point beyond Unicode.
    for (const QByteArray& bytes :
         {QByteArray("/tmp/Bildschirmfoto \xc3\xbc \xf0\x9f\x93\xb8.png"),
          QByteArray("/tmp/Capture d'\xe9\x63ran.png"), QByteArray("/tmp/\x80\xbf.png"),
          QByteArray("/tmp/\xe2\x82.png"), QByteArray("/tmp/\xc0\xaf.png"),
          QByteArray("/tmp/\xed\xb2\x80.png"), QByteArray("/tmp/\xf4\x90\x80\x80.png"), allHighBytes})
        EXPECT_EQ(toNativePath(fromNativePath(bytes)), bytes) << bytes.toHex().toStdString();
    const QString text = QStringLiteral("Skärmavbild 📸.png");
    EXPECT_EQ(fromNativePath("Sk\xc3\xa4rmavbild \xf0\x9f\x93\xb8.png"), text);
    EXPECT_EQ(toNativePath(text), text.toUtf8());
}

TEST(SafeFileNameComponent, CleansWhatWouldEscapeOrCutTheName)
{
    QStringList names{"Projects", "a/b", "/etc", "12:30",          "line\nbreak\ttab\x7f",
                      ".",        "..",  "...",  "Übersicht 📸"};
    names << QString::fromUtf16(u"Q\0rest", 6) << QChar(0x85) + QStringLiteral("next"); // NUL, a C1 control
    QStringList cleaned;
    for (const QString& name : names)
        cleaned << safeFileNameComponent(name);
    EXPECT_EQ(cleaned, (QStringList{"Projects", "a-b", "-etc", "12-30", "line-break-tab-", "-", "--", "...",
                                    "Übersicht 📸", "Q-rest", "-next"}));
}

// A name in a log line can hold anything: the line stays one line of UTF-8, other bytes shown by value.
TEST(PrintLine, PrintsWhateverANameHoldsAsOneLine)
{
    const std::pair<QString, const char*> cases[] = {
        {"❌ Move failed: /w/Screenshot\nevil.png → /d: x", "❌ Move failed: /w/Screenshot\\nevil.png → /d: x"},
        {fromNativePath("Bildschirmfoto \xfe\xff.png"), "Bildschirmfoto \\xFE\\xFF.png"},
        {"a\r\x1b[31m\t" + QString(QChar(0x85)) + QChar(0x2028) + QChar(0xD800) + "📸 Skärmavbild",
         "a\\r\\x1B[31m\\x09\\x85\\u2028\xef\xbf\xbd📸 Skärmavbild"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(test::stdoutOf([&] { printLine(line); }), std::string(expected) + '\n');
}

} // namespace
} // namespace quillary
