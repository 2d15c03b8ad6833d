#pragma once

#include <QByteArray>
#include <QImage>

#include <optional>

class QIODevice;

// Inside the PDF module: what imaging/PdfEncoder.h and imaging/PdfPageRenderer.h promise, done with
// the PDF libraries (qpdf to write, poppler to render).
namespace quillary::pdf {

bool writePdf(const QByteArray& file, QIODevice& output);
bool writePdfFile(int fd, QIODevice& output);
std::optional<QImage> renderFirstPdfPage(const QByteArray& file, int width);

} // namespace quillary::pdf
