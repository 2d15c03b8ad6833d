#include "handle/FileConversion.h"

#include "handle/ImageLimits.h"
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

    // Nothing is written for a source that does not decode whole, even when the encoder would
    // decode it again itself.
    std::optional<QImage> image = decodeCompleteImage(source);
    if (!image)
        return PlaceResult::failed;
    PlaceResult result = PlaceResult::failed;
    if (kind == u"jpg") {
        result = writeNoReplace(target, [&image](QIODevice& output) {
            QImage pixels = std::move(*image);
            image.reset();
            return writeJpeg(std::move(pixels), output);
        });
    } else {
        image.reset();
        result = writeNoReplace(target, [&source](QIODevice& output) { return writePdf(source, output); });
    }
    // The converted copy is complete on disk: a source that cannot be removed is left behind, not lost.
    if (result == PlaceResult::placed)
        QFile::remove(source);
    return result;
}

} // namespace quillary
