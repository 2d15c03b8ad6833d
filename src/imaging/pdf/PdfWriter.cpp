#include "imaging/pdf/PdfImplementation.h"

#include "imaging/FileBytes.h"
#include "imaging/ImageLimits.h"
#include "imaging/JpegMarkers.h"
#include "imaging/PngChunks.h"
#include "imaging/ZlibStreams.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtEndian>

// Declares that this code uses no deprecated PointerHolder API, which silences qpdf's warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillary {

namespace {

constexpr double kDefaultDpi = 72.0;
constexpr double kMetresPerInch = 0.0254;
constexpr int kDecimalPlaces = 4;
// Rows converted at a time on the decoding path, so no second full-size copy of the image exists.
constexpr int kStripRows = 64;
constexpr int kFlateLevel = 6;

// What goes into the PDF: the image's geometry and its samples as one zlib stream.
struct PdfImage {
    int width = 0;
    int height = 0;
    double dpiX = kDefaultDpi;
    double dpiY = kDefaultDpi;
    int bitsPerComponent = 8;
    int colours = 3;                    // samples per pixel: 1 (grey or palette index) or 3 (RGB)
    QByteArray palette;                 // RGB triples; the samples are indices when set
    bool pngPredictors = false;         // each row starts with its PNG filter type
    std::vector<QByteArrayView> pieces; // the zlib stream, in order
    QByteArray alpha;                   // zlib stream of the alpha samples; empty when opaque
};

// Encoders store whole dpi values as rounded dots per metre; this gives such a value back whole.
double dpiFromDotsPerMetre(qint64 perMetre)
{
    if (perMetre <= 0)
        return kDefaultDpi;
    const double dpi = double(perMetre) * kMetresPerInch;
    const double whole = std::round(dpi);
    return whole > 0 && std::llround(whole / kMetresPerInch) == perMetre ? whole : dpi;
}

// --- PNG data taken over as it is ---------------------------------------------------------------

// PDF's Flate filter with PNG predictors reads exactly what a non-interlaced PNG stores, as long as
// there is no transparency to carry and every sample maps straight onto a PDF colour space. Qt shows
// the index past a one-colour palette of a 1-bit image in its own default white rather than in the
// palette's colour (see takeOverPng), so such an image is decoded.
bool canTakeOver(const PngChunks& png)
{
    const PngHeader& header = png.header;
    if (header.interlaced || png.hasTransparencyChunk)
        return false;
    if (header.colourType == 3)
        return header.bitDepth > 1 || png.palette.size() == 6;
    return header.colourType == 0 || header.colourType == 2;
}

PdfImage takeOverPng(const PngChunks& png)
{
    PdfImage image;
    image.width = int(png.header.width);
    image.height = int(png.header.height);
    image.dpiX = dpiFromDotsPerMetre(png.pixelsPerMetreX);
    image.dpiY = dpiFromDotsPerMetre(png.pixelsPerMetreY);
    image.bitsPerComponent = png.header.bitDepth;
    image.colours = png.header.colourType == 2 ? 3 : 1;
    if (png.header.colourType == 3) {
        // Every index the bit depth can hold gets an entry: an index past the file's palette shows its
        // first colour, as Qt's decoder turns such an index into 0, where a PDF reader would take the
        // last entry instead.
        image.palette = png.palette.toByteArray();
        for (qsizetype entries = image.palette.size() / 3; entries < (1 << png.header.bitDepth); ++entries)
            image.palette += png.palette.first(3);
    }
    image.pngPredictors = true;
    image.pieces = png.imageData;
    return image;
}

// --- decoded images -------------------------------------------------------------------------------

// How decoded pixels are converted and split into colour and alpha samples.
struct SampleLayout {
    QImage::Format format; // what each strip is converted to
    int colours;           // 1 or 3 colour samples per pixel
    int channels;          // samples per pixel in `format`, alpha included
    int bytesPerSample;    // 1 or 2
    bool alpha;
};

SampleLayout layoutFor(const QImage& image)
{
    const QImage::Format format = image.format();
    const bool deep = format == QImage::Format_Grayscale16 || image.depth() >= 64;
    const bool alpha = image.hasAlphaChannel();
    const bool grey =
        !alpha && (format == QImage::Format_Grayscale8 || format == QImage::Format_Grayscale16 ||
                   (image.colorCount() > 0 && image.isGrayscale()));
    if (grey)
        return deep ? SampleLayout{QImage::Format_Grayscale16, 1, 1, 2, false}
                    : SampleLayout{QImage::Format_Grayscale8, 1, 1, 1, false};
    if (deep)
        return {alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64, 3, 4, 2, alpha};
    return alpha ? SampleLayout{QImage::Format_RGBA8888, 3, 4, 1, true}
                 : SampleLayout{QImage::Format_RGB888, 3, 3, 1, false};
}

void copySample(const uchar* from, uchar* to, int size)
{
    if (size == 2)
        qToBigEndian(qFromUnaligned<quint16>(from), to);
    else
        *to = *from;
}

// Copies the samples of one row, big-endian as PDF wants them: the colours, and the alpha when
// `alphaRow` is given.
void splitRow(const uchar* source, int width, const SampleLayout& layout, uchar* colourRow, uchar* alphaRow)
{
    const int size = layout.bytesPerSample;
    for (qsizetype x = 0; x < width; ++x) {
        const uchar* pixel = source + x * layout.channels * size;
        for (int c = 0; c < layout.colours; ++c)
            copySample(pixel + c * size, colourRow + (x * layout.colours + c) * size, size);
        if (alphaRow)
            copySample(pixel + layout.colours * size, alphaRow + x * size, size);
    }
}

std::optional<PdfImage> compressDecoded(const QImage& image, QByteArray& colourStore)
{
    const SampleLayout layout = layoutFor(image);
    const int width = image.width();
    Deflater colour(kFlateLevel);
    Deflater alpha(kFlateLevel);
    QByteArray colourRow(qsizetype(width) * layout.colours * layout.bytesPerSample, Qt::Uninitialized);
    QByteArray alphaRow(layout.alpha ? qsizetype(width) * layout.bytesPerSample : 0, Qt::Uninitialized);
    const bool rowsAsStored = layout.channels == layout.colours;
    for (int top = 0; top < image.height(); top += kStripRows) {
        const int rows = std::min(kStripRows, image.height() - top);
        const QImage strip = image.copy(0, top, width, rows).convertToFormat(layout.format);
        if (strip.isNull())
            return std::nullopt;
        for (int y = 0; y < rows; ++y) {
            const uchar* line = strip.constScanLine(y);
            if (rowsAsStored && layout.bytesPerSample == 1) {
                colour.add(line, colourRow.size());
                continue;
            }
            splitRow(line, width, layout, reinterpret_cast<uchar*>(colourRow.data()),
                     layout.alpha ? reinterpret_cast<uchar*>(alphaRow.data()) : nullptr);
            colour.add(reinterpret_cast<const uchar*>(colourRow.constData()), colourRow.size());
            if (layout.alpha)
                alpha.add(reinterpret_cast<const uchar*>(alphaRow.constData()), alphaRow.size());
        }
    }
    auto colourData = colour.finish();
    auto alphaData = layout.alpha ? alpha.finish() : std::optional<QByteArray>(QByteArray());
    if (!colourData || !alphaData)
        return std::nullopt;
    colourStore = std::move(*colourData);
    PdfImage result;
    result.width = width;
    result.height = image.height();
    result.bitsPerComponent = 8 * layout.bytesPerSample;
    result.colours = layout.colours;
    result.pieces = {colourStore};
    result.alpha = std::move(*alphaData);
    return result;
}

qint64 bytesPerPixel(QImage::Format format)
{
    const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return std::max<qint64>(4, (bits + 7) / 8);
}

// Whether a JFIF header before the first scan gives the resolution in dots per inch or centimetre.
bool jpegStatesDensity(QByteArrayView bytes)
{
    bool states = false;
    JpegMarkerWalker walker(bytes);
    for (auto marker = walker.next(); marker && marker->code != jpeg::kSos; marker = walker.next()) {
        const QByteArrayView segment = marker->segment;
        if (marker->code == jpeg::kApp0 && segment.size() >= 12 &&
            segment.startsWith(QByteArrayView("JFIF\0", 5))) {
            const uchar unit = uchar(segment[7]);
            states = (unit == 1 || unit == 2) && (segment[8] || segment[9]) && (segment[10] || segment[11]);
        }
    }
    return states;
}

std::optional<PdfImage> decodeImage(const QByteArray& file, const std::optional<PngChunks>& png,
                                    QByteArray& colourStore)
{
    const bool jpeg = isJpeg(file);
    if (jpeg && !jpegIsComplete(file))
        return std::nullopt;
    QBuffer buffer;
    buffer.setData(file);
    if (!buffer.open(QIODevice::ReadOnly))
        return std::nullopt;
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    const QImage::Format format = reader.imageFormat();
    QImage image;
    if (size.isValid()) {
        if (!fitsDecodingLimits(size.width(), size.height(), bytesPerPixel(format)))
            return std::nullopt;
        // Handlers decode into an image of the right size and format as it is, without weighing it
        // against the process-wide allocation limit: the limits above are the ones that apply here.
        if (format != QImage::Format_Invalid)
            image = QImage(size, format);
    }
    if (!reader.read(&image) ||
        !fitsDecodingLimits(image.width(), image.height(), bytesPerPixel(image.format())))
        return std::nullopt;

    auto result = compressDecoded(image, colourStore);
    if (!result)
        return std::nullopt;
    if (png) {
        result->dpiX = dpiFromDotsPerMetre(png->pixelsPerMetreX);
        result->dpiY = dpiFromDotsPerMetre(png->pixelsPerMetreY);
    } else {
        // Qt gives every image a resolution; it comes from the file only when the file differs from
        // the default or, for a JPEG, when its JFIF header states one.
        const QImage plain(1, 1, QImage::Format_Mono);
        const bool stated = jpeg ? jpegStatesDensity(file)
                                 : image.dotsPerMeterX() != plain.dotsPerMeterX() ||
                                       image.dotsPerMeterY() != plain.dotsPerMeterY();
        if (stated) {
            result->dpiX = dpiFromDotsPerMetre(image.dotsPerMeterX());
            result->dpiY = dpiFromDotsPerMetre(image.dotsPerMeterY());
        }
    }
    return result;
}

// --- the document -------------------------------------------------------------------------------

// Hands what QPDFWriter produces to the output device, noting the first failed write.
class DevicePipeline final : public Pipeline {
public:
    explicit DevicePipeline(QIODevice& device)
        : Pipeline("output device", nullptr)
        , m_device(device)
    {
    }
    void write(const unsigned char* data, size_t length) override
    {
        if (m_ok)
            m_ok = m_device.write(reinterpret_cast<const char*>(data), qint64(length)) == qint64(length);
    }
    void finish() override {}
    bool ok() const { return m_ok; }

private:
    QIODevice& m_device;
    bool m_ok = true;
};

QPDFObjectHandle name(const char* text)
{
    return QPDFObjectHandle::newName(text);
}

QPDFObjectHandle imageXObject(QPDF& pdf, const PdfImage& image, QPDFObjectHandle colourSpace, int colours,
                              const std::vector<QByteArrayView>& pieces, bool predictors)
{
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", name("/XObject"));
    dict.replaceKey("/Subtype", name("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(image.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(image.height));
    dict.replaceKey("/ColorSpace", colourSpace);
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(image.bitsPerComponent));
    QPDFObjectHandle parameters = QPDFObjectHandle::newNull();
    if (predictors) {
        parameters = QPDFObjectHandle::newDictionary();
        parameters.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
        parameters.replaceKey("/Colors", QPDFObjectHandle::newInteger(colours));
        parameters.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(image.bitsPerComponent));
        parameters.replaceKey("/Columns", QPDFObjectHandle::newInteger(image.width));
    }
    // The data is already Flate-encoded; it is piped through untouched when the file is written.
    stream.replaceStreamData(
        [&pieces](Pipeline* pipeline) {
            for (const QByteArrayView piece : pieces)
                pipeline->write(reinterpret_cast<const unsigned char*>(piece.data()), size_t(piece.size()));
            pipeline->finish();
        },
        name("/FlateDecode"), parameters);
    return stream;
}

void writeDocument(const PdfImage& image, Pipeline& output)
{
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle colourSpace = name(image.colours == 1 ? "/DeviceGray" : "/DeviceRGB");
    if (!image.palette.isEmpty()) {
        colourSpace = QPDFObjectHandle::newArray();
        colourSpace.appendItem(name("/Indexed"));
        colourSpace.appendItem(name("/DeviceRGB"));
        colourSpace.appendItem(QPDFObjectHandle::newInteger(image.palette.size() / 3 - 1));
        colourSpace.appendItem(QPDFObjectHandle::newString(image.palette.toStdString()));
    }
    QPDFObjectHandle xobject =
        imageXObject(pdf, image, colourSpace, image.colours, image.pieces, image.pngPredictors);
    const std::vector<QByteArrayView> alphaPieces{image.alpha};
    if (!image.alpha.isEmpty())
        xobject.getDict().replaceKey("/SMask",
                                     imageXObject(pdf, image, name("/DeviceGray"), 1, alphaPieces, false));

    const std::string width = QUtil::double_to_string(image.width * 72.0 / image.dpiX, kDecimalPlaces);
    const std::string height = QUtil::double_to_string(image.height * 72.0 / image.dpiY, kDecimalPlaces);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", xobject);
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", name("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::parse("[0 0 " + width + " " + height + "]"));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents",
                    QPDFObjectHandle::newStream(&pdf, "q " + width + " 0 0 " + height + " 0 0 cm /Im0 Do Q"));
    QPDFPageDocumentHelper(pdf).addPage(pdf.makeIndirectObject(page), false);

    QPDFWriter writer(pdf);
    writer.setOutputPipeline(&output);
    // Leave every stream as given: recompressing the image is the slow part this avoids.
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setNewlineBeforeEndstream(true);
    writer.setMinimumPDFVersion(image.bitsPerComponent == 16 ? "1.5" : "1.4");
    // The file's /ID from its content rather than the clock: the same image gives the same bytes.
    writer.setDeterministicID(true);
    writer.write();
}

bool convertToPdf(const QByteArray& file, QIODevice& output)
{
    std::optional<PngChunks> png;
    if (hasPngSignature(file)) {
        png = readPngChunks(file);
        if (!png)
            return false;
    }
    std::optional<PdfImage> image;
    QByteArray decodedStore;
    const bool takeOver = png && canTakeOver(*png);
    if (takeOver) {
        const int samples = png->header.colourType == 2 ? 3 : 1;
        if (!fitsDecodingLimits(png->header.width, png->header.height,
                                std::max(1, samples * png->header.bitDepth / 8)))
            return false;
    }
    if (takeOver && inflatesToWholeRows(*png))
        image = takeOverPng(*png);
    else
        image = decodeImage(file, png, decodedStore);
    if (!image)
        return false;
    DevicePipeline pipeline(output);
    writeDocument(*image, pipeline);
    return pipeline.ok();
}

} // namespace

namespace pdf {

bool writePdf(const QByteArray& file, QIODevice& output)
{
    // qpdf reports errors by throwing, and so does an allocation that fails on a huge image.
    try {
        return convertToPdf(file, output);
    } catch (const std::exception&) {
        return false;
    }
}

bool writePdfFile(int fd, QIODevice& output)
{
    const std::optional<QByteArray> file = readWholeFile(fd, kMaxImageFileBytes);
    return file && writePdf(*file, output);
}

} // namespace pdf
} // namespace quillary
