#include "core/FileNames.h"

#include <sys/stat.h>

namespace quillary {
namespace {

constexpr char16_t kEscapeBase = 0xDC00; // bytes 0x80..0xFF map to U+DC80..U+DCFF

// Length of the valid UTF-8 sequence at `data[0..size)`, and its code point; 0 when invalid.
int decodeSequence(const unsigned char* data, qsizetype size, char32_t& codePoint)
{
    const unsigned char lead = data[0];
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (size < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((data[i] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (data[i] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past U+10FFFF are not valid UTF-8.
    if (codePoint < minimum || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 0;
    return length;
}

void appendUtf8(QByteArray& out, char32_t codePoint)
{
    if (codePoint < 0x80) {
        out += char(codePoint);
    } else if (codePoint < 0x800) {
        out += char(0xC0 | (codePoint >> 6));
        out += char(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += char(0xE0 | (codePoint >> 12));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    } else {
        out += char(0xF0 | (codePoint >> 18));
        out += char(0x80 | ((codePoint >> 12) & 0x3F));
        out += char(0x80 | ((codePoint >> 6) & 0x3F));
        out += char(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

QString fromNativePath(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        char32_t codePoint = 0;
        const int length = decodeSequence(data + i, size - i, codePoint);
        if (length == 0) {
            out += QChar(char16_t(kEscapeBase + data[i]));
            ++i;
            continue;
        }
        if (codePoint >= 0x10000) {
            out += QChar(QChar::highSurrogate(codePoint));
            out += QChar(QChar::lowSurrogate(codePoint));
        } else {
            out += QChar(char16_t(codePoint));
        }
        i += length;
    }
    return out;
}

QByteArray toNativePath(const QString& path)
{
    QByteArray out;
    out.reserve(path.size());
    const qsizetype size = path.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = path.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, path.at(i + 1).unicode()));
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            out += char(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            out += "\xEF\xBF\xBD"; // a lone surrogate that no file name decodes to: U+FFFD
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

bool pathExists(const QString& path)
{
    struct stat info {};
    return lstat(toNativePath(path).constData(), &info) == 0;
}

bool isDirectory(const QString& path)
{
    struct stat info {};
    return stat(toNativePath(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString truncatedToNativeBytes(const QString& text, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text.at(i).unicode();
        const bool pair =
            QChar::isHighSurrogate(unit) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        // The same widths toNativePath writes: an escaped byte is one byte, any other lone surrogate
        // the three of U+FFFD.
        const qsizetype width = pair                                                       ? 4
                                : unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF ? 1
                                : unit < 0x80                                              ? 1
                                : unit < 0x800                                             ? 2
                                                                                           : 3;
        if (bytes + width > maxBytes)
            return text.first(i);
        bytes += width;
        i += pair ? 1 : 0;
    }
    return text;
}

QString safeFileNameComponent(const QString& text)
{
    QString component = text;
    for (QChar& c : component) {
        const char16_t unit = c.unicode();
        if (unit == u'/' || unit == u':' || unit < 0x20 || (unit >= 0x7F && unit <= 0x9F))
            c = u'-';
    }
    if (component == u"." || component == u"..")
        component.fill(u'-');
    return component;
}

} // namespace quillary
