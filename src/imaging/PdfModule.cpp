#include "imaging/PdfModule.h"

#include "core/Diagnostics.h"
#include "imaging/PdfEncoder.h"
#include "imaging/PdfPageRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <mutex>

#ifndef QUILLARY_MODULE_SUBDIR
#error "QUILLARY_MODULE_SUBDIR: the module folder relative to the executable's parent, from the build"
#endif

namespace quillary {
namespace {

constexpr char kModuleFile[] = "libquillary-pdf.so";

struct LoadedModule {
    const PdfModuleFunctions* functions = nullptr;
    QString problem;
};

QString executableDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

LoadedModule load()
{
    LoadedModule loaded;
    QStringList tried;
    for (const QString& path :
         pdfModuleCandidates(executableDirectory(), qEnvironmentVariable("QUILLARY_MODULE_DIR"))) {
        if (!QFileInfo::exists(path)) {
            tried << path;
            continue;
        }
        // Never unloaded: its functions are used until the process ends.
        QLibrary library(path);
        library.setLoadHints(QLibrary::PreventUnloadHint);
        using Entry = const PdfModuleFunctions* (*)();
        const auto entry = reinterpret_cast<Entry>(library.resolve(kPdfModuleEntry));
        const PdfModuleFunctions* functions = entry ? entry() : nullptr;
        if (!functions) {
            loaded.problem = QStringLiteral("PDF support could not be loaded from %1: %2")
                                 .arg(path, library.errorString());
            return loaded;
        }
        if (functions->version != kPdfModuleVersion || functions->size != sizeof(PdfModuleFunctions)) {
            loaded.problem =
                QStringLiteral("PDF support in %1 belongs to another build of Quillary").arg(path);
            return loaded;
        }
        loaded.functions = functions;
        return loaded;
    }
    loaded.problem = QStringLiteral("PDF support is not installed (%1 not found in %2)")
                         .arg(QString::fromLatin1(kModuleFile), tried.join(QStringLiteral(", ")));
    return loaded;
}

const LoadedModule& module()
{
    static std::once_flag once;
    static LoadedModule loaded;
    std::call_once(once, [] {
        loaded = load();
        if (!loaded.functions)
            printLine(QStringLiteral("❌ Quillary: ") + loaded.problem);
    });
    return loaded;
}

} // namespace

QStringList pdfModuleCandidates(const QString& executableDirectory, const QString& moduleDirFromEnvironment)
{
    const QString file = QString::fromLatin1(kModuleFile);
    QStringList candidates;
    if (!moduleDirFromEnvironment.isEmpty())
        candidates << QDir(moduleDirFromEnvironment).filePath(file);
    candidates << QDir::cleanPath(executableDirectory + QStringLiteral("/../") +
                                  QStringLiteral(QUILLARY_MODULE_SUBDIR) + u'/' + file);
    return candidates;
}

const PdfModuleFunctions* pdfModule()
{
    return module().functions;
}

QString pdfModuleProblem()
{
    return module().problem;
}

bool writePdf(const QByteArray& file, QIODevice& output)
{
    const PdfModuleFunctions* functions = pdfModule();
    return functions && functions->writePdf(file, output);
}

bool writePdfFile(int fd, QIODevice& output)
{
    const PdfModuleFunctions* functions = pdfModule();
    return functions && functions->writePdfFile(fd, output);
}

std::optional<QImage> renderFirstPdfPage(const QByteArray& file, int width)
{
    const PdfModuleFunctions* functions = pdfModule();
    return functions ? functions->renderFirstPdfPage(file, width) : std::nullopt;
}

} // namespace quillary
