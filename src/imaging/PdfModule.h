#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstddef>
#include <optional>

class QIODevice;

namespace quillary {

// PDF writing and rendering live in a module of their own (libquillary-pdf.so), which carries the
// PDF libraries: they are loaded on first use instead of at every start, where their loading was
// the largest part of the time to the tray icon. The module is built and installed with the program;
// writePdf, writePdfFile and renderFirstPdfPage (PdfEncoder.h, PdfPageRenderer.h) load it.

// The module's table of functions. The version and the size guard against a module of another build.
struct PdfModuleFunctions {
    int version;
    std::size_t size;
    bool (*writePdf)(const QByteArray& file, QIODevice& output);
    bool (*writePdfFile)(int fd, QIODevice& output);
    std::optional<QImage> (*renderFirstPdfPage)(const QByteArray& file, int width);
};
inline constexpr int kPdfModuleVersion = 1;
inline constexpr char kPdfModuleEntry[] = "quillaryPdfModule";

// Where the module is looked for, in order: $QUILLARY_MODULE_DIR when set, then the folder it is
// installed in relative to the executable's (../<libdir>/quillary, the same in the build tree).
QStringList pdfModuleCandidates(const QString& executableDirectory, const QString& moduleDirFromEnvironment);

// The loaded module, loading it on the first call (from any thread); null when it cannot be loaded,
// and then pdfModuleProblem() says why, which is also printed once as a "❌" line.
const PdfModuleFunctions* pdfModule();
QString pdfModuleProblem();

} // namespace quillary
