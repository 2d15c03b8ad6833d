#include "core/Diagnostics.h"
#include "core/FileNames.h"

#include <gtest/gtest.h>

namespace quillary {
namespace {

// A name that a diagnostic line carries can hold anything a file name may: the line stays one line
// of valid UTF-8, and shows each byte that was not UTF-8 by its value.
TEST(PrintLine, PrintsWhateverANameHoldsAsOneLine)
{
    const std::pair<QString, const char*> cases[] = {
        {"❌ Move failed: /w/Screenshot\nevil.png → /d: x", "❌ Move failed: /w/Screenshot\\nevil.png → /d: x"},
        {fromNativePath("Bildschirmfoto \xfe\xff.png"), "Bildschirmfoto \\xFE\\xFF.png"},
        {"a\r\x1b[31m\t" + QString(QChar(0x85)) + QChar(0x2028) + QChar(0xD800) + "📸 Skärmavbild",
         "a\\r\\x1B[31m\\x09\\x85\\u2028\xef\xbf\xbd📸 Skärmavbild"},
    };
    for (const auto& [line, expected] : cases) {
        testing::internal::CaptureStdout();
        printLine(line);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(expected) + '\n');
    }
}

} // namespace
} // namespace quillary
