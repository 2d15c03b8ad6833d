#include "imaging/JpegEncoder.h"
#include "imaging/JpegMarkers.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QProcess>
#include <QStandardPaths>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillary;

namespace {

bool near(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 6 && qAbs(qGreen(a) - qGreen(b)) <= 6 && qAbs(qBlue(a) - qBlue(b)) <= 6;
}

// Transparent, half-transparent and opaque thirds in every pixel layout, streamed in strips or (with
// TJ_OPTIMIZE, whose per-image tables cannot be joined) decoded whole: a baseline JPEG on white.
TEST(JpegEncoder, EveryPixelLayoutIsLaidOnWhiteWithItsResolution)
{
    QImage image(90, 200, QImage::Format_ARGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 90; ++x)
            image.setPixelColor(x, y,
                                QColor(x < 60 ? 0 : 200, x < 60 ? 0 : y, 0, std::min(255, x / 30 * 128)));
    image.setDotsPerMeterX(5669); // 144 dpi
    image.setDotsPerMeterY(5669);
    const bool haveIdentify = !QStandardPaths::findExecutable("identify").isEmpty();
    for (const char* optimize : {"", "1"}) {
        qputenv("TJ_OPTIMIZE", optimize);
        using enum QImage::Format;
        for (const QImage::Format layout : {Format_ARGB32, Format_RGBA64, Format_Indexed8, Format_RGB888,
                                            Format_Grayscale8, Format_Grayscale16, Format_RGB32}) {
            const char* format = layout == QImage::Format_RGB32 ? "jpeg" : "png";
            SCOPED_TRACE(testing::Message() << layout << " " << format << " TJ_OPTIMIZE=" << optimize);
            const QByteArray file = test::encoded(image.convertToFormat(layout, Qt::ThresholdDither), format);
            QImage expected(image.size(), QImage::Format_RGB32);
            expected.fill(Qt::white);
            QPainter(&expected).drawImage(0, 0, QImage::fromData(file));

            const int fd = memfd_create("source", MFD_CLOEXEC);
            ASSERT_EQ(::write(fd, file.constData(), size_t(file.size())), file.size());
            const std::optional<QByteArray> jpeg = encodeJpegFile(fd);
            ::close(fd);

            ASSERT_TRUE(jpeg);
            EXPECT_TRUE(jpegIsComplete(*jpeg)); // strips joined by restart markers included
            const QImage converted = QImage::fromData(*jpeg, "JPEG");
            ASSERT_EQ(converted.size(), image.size());
            for (const int y : {5, 100, 195}) // in the first, a middle and the last strip
                for (const int x : {15, 45, 75})
                    EXPECT_TRUE(near(converted.pixel(x, y), expected.pixel(x, y))) << x << "," << y;
            EXPECT_EQ(QPoint(converted.dotsPerMeterX(), converted.dotsPerMeterY()), QPoint(5669, 5669));
            if (layout == QImage::Format_ARGB32 && haveIdentify) {
                QProcess identify;
                identify.start("identify", {"-format", "%Q %[jpeg:sampling-factor]", "jpeg:-"});
                identify.write(*jpeg);
                identify.closeWriteChannel();
                identify.waitForFinished();
                EXPECT_EQ(identify.readAllStandardOutput().trimmed(), "90 1x1,1x1,1x1");
            }
        }
    }
    qunsetenv("TJ_OPTIMIZE");
}

// A short file whose text chunk claims a gigabyte, refused on the streaming path and on the whole-image
// one without the gigabyte being allocated first (libpng allocates a chunk whole before reading it).
TEST(JpegEncoder, AChunkLongerThanTheFileCostsNoMemory)
{
    const QByteArray file =
        test::pngStart(test::bigEndian32(2) + test::bigEndian32(2) + QByteArray("\x08\x02\0\0\0", 5)) +
        test::bigEndian32(1u << 30) + "iTXtXML:com.adobe.xmp" + QByteArray(16, '\0');
    const int fd = memfd_create("source", MFD_CLOEXEC);
    ASSERT_EQ(::write(fd, file.constData(), size_t(file.size())), file.size());
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(encodeJpegFile(fd));
    getrusage(RUSAGE_SELF, &after);
    ::close(fd);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "KiB more at the peak";
}

} // namespace
