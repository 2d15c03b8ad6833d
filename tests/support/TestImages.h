#pragma once

#include <QByteArray>
#include <QImage>

#include <utility>
#include <vector>

namespace quillary::test {

QByteArray bigEndian32(quint32 value);
QByteArray zlibStream(const QByteArray& data);
// A PNG chunk of `type` around `data`, with its length and a right CRC.
QByteArray pngChunk(const QByteArray& type, const QByteArray& data);
// The PNG signature, then an IHDR chunk with `header` as its data.
QByteArray pngStart(const QByteArray& header);
// A 2x2 RGB PNG: `beforeData` between IHDR and IDAT, `afterData` between IDAT and IEND.
QByteArray tinyPng(const QByteArray& beforeData = {}, const QByteArray& afterData = {});
// Gradients, hard edges, noise and (where `format` has it) varied alpha, so any changed pixel shows.
QImage pattern(QImage::Format format, int width, int height);
// `image` in the file format Qt names `format`.
QByteArray encoded(const QImage& image, const char* format);
// Well-formed PNG and JPEG files claiming sizes past the decoding caps; each PNG says it is a screenshot.
std::vector<std::pair<const char*, QByteArray>> imagesOfAbsurdSize();

} // namespace quillary::test
