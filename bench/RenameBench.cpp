// Renames the screenshots in a folder as a committed rename job does: `rename_bench FOLDER THREADS
// [FORMAT]` runs renameExistingFiles with prefix "Shot", no date and FORMAT (default "jpg") on
// THREADS threads (0: one per core) and prints how many files were renamed. Timed from outside, by
// bench/run-rename-bench.sh, together with its peak memory.
#include "handle/RetroRename.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdio>

using namespace quillary;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: rename_bench FOLDER THREADS [FORMAT]\n");
        return 2;
    }
    RetroRenameOptions options;
    options.threads = args[2].toInt();
    const RetroRenameResult result =
        renameExistingFiles(QUrl::fromLocalFile(args[1]), QStringLiteral("Shot"), false,
                            args.value(3, QStringLiteral("jpg")), options);
    std::printf("renamed %d of %d\n", result.renamed, result.total);
    return result.renamed == result.total ? 0 : 1;
}
