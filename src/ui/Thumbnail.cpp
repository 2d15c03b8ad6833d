#include "ui/Thumbnail.h"

#include "core/FileNames.h"
#include "imaging/ImageLimits.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace quillary {
namespace {

// Opened by the file system's bytes, so a name that is not valid UTF-8 still shows its thumbnail. A
// link in the screenshot's place is not read through.
std::unique_ptr<QFile> openForReading(const QString& path)
{
    auto file = std::make_unique<QFile>();
    const int fd = open(toNativePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 || !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            close(fd);
        return nullptr;
    }
    return file;
}

} // namespace

std::optional<QSize> readableImageSize(const QString& path)
{
    const std::unique_ptr<QFile> file = openForReading(path);
    if (!file)
        return std::nullopt;
    QImageReader reader(file.get());
    if (!reader.canRead())
        return std::nullopt;
    if (!fitsDecodingLimits(reader))
        return std::nullopt;
    return reader.size();
}

QImage decodeThumbnail(const QString& path, int side)
{
    const std::optional<QSize> source = readableImageSize(path);
    if (!source || side <= 0)
        return {};
    // Sizes are those of the stored image; the orientation is applied after, and a square stays square.
    const double scale = std::max(double(side) / source->width(), double(side) / source->height());
    const QSize scaled(std::max(side, int(std::lround(source->width() * scale))),
                       std::max(side, int(std::lround(source->height() * scale))));
    const std::unique_ptr<QFile> file = openForReading(path);
    if (!file)
        return {};
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    reader.setScaledSize(scaled);
    reader.setScaledClipRect(QRect((scaled.width() - side) / 2, (scaled.height() - side) / 2, side, side));
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}

QImage withRoundedCorners(const QImage& image, qreal radius)
{
    if (image.isNull())
        return {};
    QImage rounded(image.size(), QImage::Format_ARGB32_Premultiplied);
    rounded.fill(Qt::transparent);
    QPainter painter(&rounded);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rounded.rect()), radius, radius);
    // Filling the shape with the image keeps the corners antialiased; a clip path would not.
    painter.fillPath(shape, QBrush(image));
    return rounded;
}

} // namespace quillary
