#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

namespace quillary {

// The first page of the PDF in `file`, rendered `width` pixels wide with its height scaled alike
// (a page 1 point wide or less counts as 1 point), or nothing when the file is not a PDF that opens
// without a password, has no page, or would render over the decoding caps. Safe to call from several
// threads at once, each with a file of its own.
std::optional<QImage> renderFirstPdfPage(const QByteArray& file, int width);

} // namespace quillary
