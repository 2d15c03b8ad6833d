#include "imaging/PdfModule.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PdfPageRenderer.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>

using namespace quillary;

// In a process of its own, as the module is loaded once per process.
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
