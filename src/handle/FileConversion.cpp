#include "handle/FileConversion.h"

#include "imaging/JpegEncoder.h"
#include "imaging/PdfEncoder.h"

#include <QIODevice>

#include <optional>

namespace quillary {

PreparedPlacement prepareConversion(const QString& source, const QString& target, const QString& format)
{
    const QString kind = format.toLower();
    if (kind == u"png")
        return prepareMove(source);
    // Nothing is placed for a source that does not decode whole.
    if (kind == u"jpg") {
        return prepareWrite(source, target, [](int sourceFd, QIODevice& output) {
            const std::optional<QByteArray> jpeg = encodeJpegFile(sourceFd);
            return jpeg && output.write(*jpeg) == jpeg->size();
        });
    }
    if (kind == u"pdf") {
        // The encoder refuses sources that are not whole: a PNG must have every chunk's CRC right,
        // an unbroken run of image data that inflates to every row, and its end chunk; anything it
        // decodes must decode fully.
        return prepareWrite(source, target,
                            [](int sourceFd, QIODevice& output) { return writePdfFile(sourceFd, output); });
    }
    return PreparedPlacement(PlaceResult::unsupportedFormat);
}

PlaceResult convertAndPlace(const QString& source, const QString& target, const QString& format)
{
    return prepareConversion(source, target, format).commit(target);
}

} // namespace quillary
