#pragma once

#include <QString>

namespace quillary {

// Writes one diagnostic line to standard output and flushes it, so the line shows at once even
// when the output is piped. Safe from any thread; lines never interleave.
void printLine(const QString& line);

} // namespace quillary
