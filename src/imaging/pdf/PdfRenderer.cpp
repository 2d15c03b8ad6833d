#include "imaging/pdf/PdfImplementation.h"

#include "imaging/ImageLimits.h"

#include <poppler-qt6.h>

#include <QVariant>

#include <algorithm>
#include <cmath>

namespace quillary {
namespace {

// Poppler reports every fault it meets in a damaged file on standard error; a file that does not
// render is simply left alone here, so they are dropped.
void silencePopplerOnce()
{
    static const bool silenced = [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
        return true;
    }();
    (void)silenced;
}

} // namespace

std::optional<QImage> pdf::renderFirstPdfPage(const QByteArray& file, int width)
{
    silencePopplerOnce();
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(file);
    if (!document || document->isLocked() || document->numPages() < 1)
        return std::nullopt;
    const std::unique_ptr<Poppler::Page> page = document->page(0);
    if (!page)
        return std::nullopt;
    const QSizeF points = page->pageSizeF();
    const double scale = width / std::max(points.width(), 1.0);
    const double scaledHeight = std::ceil(std::max(points.height(), 0.0) * scale - 1e-6);
    if (width < 1 || !std::isfinite(scaledHeight) || scaledHeight < 1 ||
        !fitsDecodingLimits(width, std::int64_t(std::min(scaledHeight, 1e12)), 4))
        return std::nullopt;
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    QImage image = page->renderToImage(72.0 * scale, 72.0 * scale, 0, 0, width, int(scaledHeight));
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace quillary
