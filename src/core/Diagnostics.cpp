#include "core/Diagnostics.h"

#include <cstdio>

namespace quillary {

void printLine(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    // One fwrite per line: stdio locks the stream for the call, so concurrent lines stay whole.
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace quillary
