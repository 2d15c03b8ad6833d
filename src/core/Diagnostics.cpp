#include "core/Diagnostics.h"

#include <cstdio>

namespace quillary {
namespace {

QString escaped(char16_t unit, const char* format)
{
    return QString::asprintf(format, unsigned(unit));
}

// `line` with everything that would break it, or the output's UTF-8, written as an escape.
QString printable(const QString& line)
{
    QString out;
    out.reserve(line.size());
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t unit = line.at(i).unicode();
        if (unit == u'\n')
            out += u"\\n";
        else if (unit == u'\r')
            out += u"\\r";
        else if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F))
            out += escaped(unit, "\\x%02X");
        else if (unit == 0x2028 || unit == 0x2029)
            out += escaped(unit, "\\u%04X");
        else if (unit >= 0xDC80 && unit <= 0xDCFF)
            out += escaped(unit - 0xDC00, "\\x%02X"); // a byte of a name that is not UTF-8
        else if (QChar::isHighSurrogate(unit) && i + 1 < line.size() && line.at(i + 1).isLowSurrogate()) {
            out += line.at(i);
            out += line.at(++i);
        } else if (QChar::isSurrogate(unit))
            out += QChar(QChar::ReplacementCharacter);
        else
            out += line.at(i);
    }
    return out;
}

} // namespace

void printLine(const QString& line)
{
    const QByteArray bytes = printable(line).toUtf8() + '\n';
    // One fwrite per line: stdio locks the stream for the call, so concurrent lines stay whole.
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

} // namespace quillary
