#pragma once

// What the fuzz targets share: the Qt application object, a scratch folder, and a check that stops
// the run the way a crash would, so libFuzzer keeps the input that broke a property.

#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace quillary::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "==%s:%d: property does not hold: %s\n", file, line, condition);
    std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void() : ::quillary::fuzz::fail(#condition, __FILE__, __LINE__))

// A QGuiApplication on the offscreen platform, as the application has one: reading a stored value
// may make a GUI type, and image decoding looks for Qt's plugins. Qt's messages and Quillary's own
// diagnostics (on standard output) are dropped: malformed input makes many, which would slow the run.
inline void startApplication()
{
    FUZZ_CHECK(std::freopen("/dev/null", "w", stdout));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

// A folder of this run's own under $TMPDIR, removed at a normal exit.
inline const QString& scratchFolder()
{
    static const QTemporaryDir folder;
    static const QString path = folder.path();
    return path;
}

inline void writeFile(const QString& path, QByteArrayView contents)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(contents.data(), contents.size()) == contents.size());
}

// The input cut at each NUL byte, for targets that read several texts at once. A text never holds
// a NUL, and a missing trailing part reads as absent, not empty.
inline std::vector<QByteArray> nulSeparatedParts(const std::uint8_t* data, std::size_t size)
{
    std::vector<QByteArray> parts;
    if (size == 0)
        return parts;
    const QByteArray all(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& part : all.split('\0'))
        parts.push_back(part);
    return parts;
}

} // namespace quillary::fuzz
