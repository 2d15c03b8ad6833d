#include "handle/FileConversion.h"

#include "handle/JpegEncoder.h"
#include "handle/PdfEncoder.h"
#include "handle/SafeFilePlacement.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace quillary {

PlaceResult convertAndPlace(const QString& source, const QString& target, const QString& format)
{
    const QString kind = format.toLower();
    if (kind == u"png")
        return moveNoReplace(source, target);
    if (kind != u"jpg" && kind != u"pdf")
        return PlaceResult::failed;
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
        return PlaceResult::targetExists;

    // Nothing is written for a source that does not decode whole.
    PlaceResult result = PlaceResult::failed;
    if (kind == u"jpg") {
        const std::optional<QByteArray> jpeg = encodeJpegFile(source);
        if (!jpeg)
            return PlaceResult::failed;
        result = writeNoReplace(target,
                                [&jpeg](QIODevice& output) { return output.write(*jpeg) == jpeg->size(); });
    } else {
        // The encoder refuses sources that are not whole: a PNG must have every chunk's CRC right,
        // an unbroken run of image data and its end chunk; anything it decodes must decode fully.
        result = writeNoReplace(target, [&source](QIODevice& output) { return writePdf(source, output); });
    }
    // The converted copy is complete on disk: a source that cannot be removed is left behind, not lost.
    if (result == PlaceResult::placed)
        QFile::remove(source);
    return result;
}

} // namespace quillary
