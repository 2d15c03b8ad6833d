#include "imaging/JpegEncoder.h"
#include "core/FileNames.h"
#include "imaging/JpegMarkers.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace quillary {
namespace {

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 6 && std::abs(qGreen(a) - qGreen(b)) <= 6 &&
           std::abs(qBlue(a) - qBlue(b)) <= 6;
}

// Thirds: transparent, half-transparent black, opaque red fading to yellow downwards, at 144 dpi, in
// every pixel layout a file can bring; streamed in strips and (with TJ_OPTIMIZE, whose per-image
// tables cannot be joined) decoded whole. Expected: the source as Qt reads it, laid on white, in a
// baseline JPEG of quality 90 without chroma subsampling.
TEST(JpegEncoder, EveryPixelLayoutIsLaidOnWhiteWithItsResolution)
{
    QImage image(90, 200, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.fillRect(30, 0, 30, 200, QColor(0, 0, 0, 128));
    for (int y = 0; y < 200; ++y)
        painter.fillRect(60, y, 30, 1, QColor(200, y, 0));
    painter.end();
    image.setDotsPerMeterX(5669);
    image.setDotsPerMeterY(5669);
    QTemporaryDir dir;
    const QString source = dir.filePath("source");
    const bool haveIdentify = !QStandardPaths::findExecutable("identify").isEmpty();
    for (const char* optimize : {"", "1"}) {
        qputenv("TJ_OPTIMIZE", optimize);
        for (const QImage::Format layout :
             {QImage::Format_ARGB32, QImage::Format_RGBA64, QImage::Format_Indexed8, QImage::Format_RGB888,
              QImage::Format_Grayscale8, QImage::Format_Grayscale16, QImage::Format_RGB32}) {
            const char* format = layout == QImage::Format_RGB32 ? "jpeg" : "png";
            SCOPED_TRACE(testing::Message() << layout << " " << format << " TJ_OPTIMIZE=" << optimize);
            test::writeFile(source,
                            test::encoded(image.convertToFormat(layout, Qt::ThresholdDither), format));
            QImage expected(image.size(), QImage::Format_RGB32);
            expected.fill(Qt::white);
            QPainter(&expected).drawImage(0, 0, QImage(source));

            const int fd = ::open(toNativePath(source).constData(), O_RDONLY | O_CLOEXEC);
            const std::optional<QByteArray> jpeg = encodeJpegFile(fd);
            ::close(fd);

            ASSERT_TRUE(jpeg);
            EXPECT_TRUE(jpegIsComplete(*jpeg)); // strips joined by restart markers included
            const QImage converted = QImage::fromData(*jpeg, "JPEG");
            ASSERT_EQ(converted.size(), expected.size());
            for (const int y : {5, 100, 195}) // in the first, a middle and the last strip
                for (const int x : {15, 45, 75})
                    EXPECT_TRUE(near(converted.pixel(x, y), expected.pixel(x, y))) << x << "," << y;
            EXPECT_EQ(qRound(converted.dotsPerMeterX() * 0.0254), 144);
            EXPECT_EQ(qRound(converted.dotsPerMeterY() * 0.0254), 144);
            if (layout == QImage::Format_ARGB32 && haveIdentify) {
                test::writeFile(dir.filePath("out.jpg"), *jpeg);
                QProcess identify;
                identify.start("identify",
                               {"-format", "%Q %[jpeg:sampling-factor]", dir.filePath("out.jpg")});
                identify.waitForFinished();
                EXPECT_EQ(identify.readAllStandardOutput().trimmed(), "90 1x1,1x1,1x1");
            }
        }
    }
    qunsetenv("TJ_OPTIMIZE");
}

} // namespace
} // namespace quillary
