#pragma once

#include <QString>

namespace quillary {

// Writes one diagnostic line to standard output and flushes it, so the line shows at once even
// when the output is piped. Safe from any thread; lines never interleave. Whatever the line carries
// (a file name with a line break, bytes that are not UTF-8) prints as one line of valid UTF-8: control
// characters and line separators show as escapes ("\n", "\x1B", "\u2028"), and each byte a name held
// that is not UTF-8 (see fromNativePath) as "\xHH".
void printLine(const QString& line);

} // namespace quillary
