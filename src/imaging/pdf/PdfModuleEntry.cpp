#include "imaging/PdfModule.h"
#include "imaging/pdf/PdfImplementation.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT const quillary::PdfModuleFunctions* quillaryPdfModule()
{
    static const quillary::PdfModuleFunctions functions{
        quillary::kPdfModuleVersion, sizeof(quillary::PdfModuleFunctions), &quillary::pdf::writePdf,
        &quillary::pdf::writePdfFile, &quillary::pdf::renderFirstPdfPage};
    return &functions;
}
