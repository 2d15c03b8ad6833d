#include "imaging/PdfModule.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PdfPageRenderer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>

using namespace quillary;

TEST(PdfModule, IsLookedForWhereTheEnvironmentSaysFirstThenBesideTheExecutable)
{
    struct Case {
        const char* exeDir;
        const char* fromEnvironment;
        QStringList expected;
    };
    const QString installed = QStringLiteral(QUILLARY_MODULE_SUBDIR "/libquillary-pdf.so");
    const Case cases[] = {
        {"/usr/bin", "", {QStringLiteral("/usr/") + installed}},
        {"/opt/q/bin/", "", {QStringLiteral("/opt/q/") + installed}},
        {"/usr/bin",
         "/tmp/m",
         {QStringLiteral("/tmp/m/libquillary-pdf.so"), QStringLiteral("/usr/") + installed}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pdfModuleCandidates(QString::fromUtf8(c.exeDir), QString::fromUtf8(c.fromEnvironment)),
                  c.expected)
            << c.exeDir << " " << c.fromEnvironment;
    }
}

TEST(PdfModule, LoadsFromTheBuildTreeAndConverts)
{
    ASSERT_NE(pdfModule(), nullptr) << qPrintable(pdfModuleProblem());
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray png;
    QBuffer in(&png);
    in.open(QIODevice::WriteOnly);
    image.save(&in, "PNG");
    QByteArray pdf;
    QBuffer out(&pdf);
    out.open(QIODevice::WriteOnly);
    ASSERT_TRUE(writePdf(png, out));
    const std::optional<QImage> page = renderFirstPdfPage(pdf, 40);
    ASSERT_TRUE(page.has_value());
    EXPECT_EQ(page->size(), QSize(40, 30));
}

// Without the module every PDF operation fails cleanly and says why; in a process of its own, as the
// module is loaded once per process.
TEST(PdfModuleDeathTest, MissingModuleFailsEveryPdfOperationAndSaysWhy)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QTemporaryDir empty;
    EXPECT_EXIT(
        {
            qputenv("QUILLARY_MODULE_DIR", empty.path().toUtf8());
            QByteArray pdf;
            QBuffer out(&pdf);
            out.open(QIODevice::WriteOnly);
            const bool wrote = writePdf(QByteArray("\x89PNG"), out);
            const bool rendered = renderFirstPdfPage(QByteArray("%PDF-1.4"), 10).has_value();
            const bool said = pdfModuleProblem().startsWith(QStringLiteral("PDF support is not installed"));
            std::exit(!wrote && !rendered && pdfModule() == nullptr && said ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
