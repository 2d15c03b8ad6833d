#include "clipboard/ClipboardImageSaver.h"

#include "clipboard/ClipboardContent.h"

#include "core/OwnOutputs.h"
#include "handle/SafeFilePlacement.h"
#include "imaging/ImageLimits.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>

namespace quillary {
namespace {

// Far more images than anyone copies in one second; only a folder full of our names gets this far.
constexpr int kMaxNameAttempts = 1000;

std::optional<QByteArray> encodePng(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return std::nullopt;
    return png;
}

} // namespace

ClipboardImageSaver::ClipboardImageSaver(OwnOutputs& ownOutputs)
    : m_ownOutputs(ownOutputs)
{
}

ClipboardImageSaver::Result ClipboardImageSaver::save(const QByteArray& encodedImage, const QString& folder,
                                                      qint64 secondsSinceEpoch)
{
    const std::optional<QImage> image = decodeCompleteImage(encodedImage);
    if (!image)
        return {Outcome::notAnImage, {}};
    // A folder that cannot be made shows as a failed write below.
    QDir().mkpath(folder);
    const std::optional<QByteArray> png = encodePng(*image);
    if (!png)
        return {Outcome::notEncoded, {}};
    if (m_lastPng && *m_lastPng == *png)
        return {Outcome::duplicate, {}};
    m_lastPng = png;

    const NewFile file = writeNewFile(
        folder, *png,
        [secondsSinceEpoch](int attempt) { return clipboardFileName(secondsSinceEpoch, attempt); },
        kMaxNameAttempts, [this](const QString& path) { m_ownOutputs.add(path); });
    if (file.result != PlaceResult::placed)
        return {Outcome::notWritten, {}};
    return {Outcome::written, file.path};
}

void ClipboardImageSaver::forgetLastImage()
{
    m_lastPng.reset();
}

} // namespace quillary
