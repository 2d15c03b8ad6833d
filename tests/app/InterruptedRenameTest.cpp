// Renaming a folder of 300 screenshots to a new prefix and format, killed with SIGKILL at random
// moments and at exact system calls: a child process runs the RetroRenamer as the settings window's
// Done starts it, over the folder list of a throw-away HOME; then the real binary starts there, as at
// the next login.
#include "core/Preferences.h"
#include "folders/FolderStore.h"
#include "handle/RetroRenamer.h"
#include "imaging/ImageLimits.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <map>
#include <optional>
#include <unistd.h>

using namespace quillary;
using namespace std::chrono_literals;

namespace {

constexpr int kFiles = 300;
constexpr int kBits = 9; // 2^9 > kFiles
const char kFolderID[] = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";

// A screenshot that carries its number in a row of black or white squares, which JPEG keeps.
QByteArray numberedShot(int number)
{
    static const QImage base = test::pattern(QImage::Format_RGB32, 480, 300);
    QImage image = base.copy();
    QPainter painter(&image);
    for (int bit = 0; bit < kBits; ++bit)
        painter.fillRect(bit * 48, 0, 48, 48, number & (1 << bit) ? Qt::white : Qt::black);
    painter.end();
    QBuffer png;
    QImageWriter writer(&png, "png");
    writer.setQuality(80); // light compression: quick to make, and quick enough to convert
    EXPECT_TRUE(writer.write(image));
    return png.data();
}

// The number a decoded screenshot carries, or 0 when it does not decode whole.
int numberOf(const QByteArray& file)
{
    const std::optional<QImage> image = decodeCompleteImage(file);
    if (!image)
        return 0;
    int number = 0;
    for (int bit = 0; bit < kBits; ++bit)
        number |= qGray(image->pixel(bit * 48 + 24, 24)) > 128 ? 1 << bit : 0;
    return number;
}

class InterruptedRenameTest : public ::testing::Test {
protected:
    static bool isChild() { return qEnvironmentVariableIsSet("QUILLARY_RENAME_CHILD"); }
    // Only the test itself has a HOME to make: a child, killed, could not remove one.
    void SetUp() override
    {
        if (!isChild())
            m_home.emplace();
    }
    QString folder() const { return m_home->filePath("Pictures/Filed"); }
    QString settingsPath() const { return m_home->filePath(".config/Quillary/Quillary.conf"); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env;
        env.insert("HOME", m_home->path());
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("XDG_RUNTIME_DIR", m_home->path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        return env;
    }

    // A child of this test that renames the folder's files, as the running application would; with
    // `killAt` ("renameat2" or "unlink" and a count), strace kills it as it makes that call.
    void startRenamer(QProcess& child, const QString& killAt = {}) const
    {
        QProcessEnvironment env = environment();
        env.insert("QUILLARY_RENAME_CHILD", "1");
        child.setProcessEnvironment(env);
        QStringList arguments{QCoreApplication::applicationFilePath(),
                              "--gtest_filter=InterruptedRenameTest.*"};
        if (!killAt.isEmpty()) {
            const QString call = killAt.section(' ', 0, 0);
            arguments = QStringList{"-f", "-qq",
                                    "-o", "/dev/null",
                                    "-e", "trace=" + call,
                                    "-e", "inject=" + call + ":signal=KILL:when=" + killAt.section(' ', 1)} +
                        arguments;
        }
        child.start(killAt.isEmpty() ? arguments.takeFirst() : QStringLiteral("strace"), arguments);
        ASSERT_TRUE(child.waitForStarted());
    }

    // What the folder holds: each number with where it is ("png" for its untouched original, "jpg" for
    // a whole converted copy), and every entry that is neither.
    struct Contents {
        std::map<int, QStringList> numbers;
        QStringList temporary;
        QStringList strays;
    };
    Contents contents() const
    {
        Contents found;
        const QDir dir(folder());
        for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
            const QByteArray bytes = test::readFile(dir.filePath(name));
            const int number = name.startsWith("Renamed_") ? numberOf(bytes) : name.mid(5, 3).toInt();
            if (name.startsWith('.') && name.contains(".quillary-"))
                found.temporary << name;
            else if (name.startsWith("Quil_") && name.endsWith(".png") && bytes == m_originals.value(number))
                found.numbers[number] << "png";
            else if (name.startsWith("Renamed_") && name.endsWith(".jpg") && number > 0)
                found.numbers[number] << "jpg";
            else
                found.strays << name;
        }
        return found;
    }

    // Every number is there once, or one at most twice as `twice` says; returns how many are there twice.
    static int expectEveryNumber(const Contents& found, const QString& twice)
    {
        EXPECT_EQ(found.strays, QStringList());
        int doubled = 0;
        for (int number = 1; number <= kFiles; ++number) {
            const QStringList places = found.numbers.count(number) ? found.numbers.at(number) : QStringList();
            EXPECT_FALSE(places.isEmpty()) << "lost: " << number;
            if (places.size() > 1) {
                ++doubled;
                EXPECT_EQ(places.join(' '), twice) << number << ": " << places.join(' ').toStdString();
            }
        }
        EXPECT_EQ(found.numbers.size(), std::size_t(kFiles));
        EXPECT_LE(doubled, 1);
        return doubled;
    }

    std::optional<QTemporaryDir> m_home;
    QHash<int, QByteArray> m_originals;
};

TEST_F(InterruptedRenameTest, KilledAtRandomMomentsEveryFileIsThereOnceAndWhole)
{
    if (isChild()) {
        Preferences store(QDir::home().filePath(".config/Quillary/Quillary.conf"));
        FolderStore folders(store);
        RetroRenamer renamer;
        renamer.start({{QUuid::fromString(QString(kFolderID)), "Renamed", false, "jpg"}}, folders.folders());
        renamer.waitForDone();
        _exit(0);
    }
    ASSERT_TRUE(QDir().mkpath(folder()) && QDir().mkpath(QFileInfo(settingsPath()).path()));
    test::writeFile(settingsPath(),
                    QByteArray("[General]\nsavedFolders_v2=\"[{\\\"id\\\":\\\"") + kFolderID +
                        "\\\",\\\"name\\\":\\\"Filed\\\",\\\"path\\\":\\\"Pictures/Filed\\\",\\\"icon\\\":"
                        "\\\"folder\\\",\\\"isRenamingEnabled\\\":true,\\\"prefix\\\":\\\"Renamed\\\","
                        "\\\"includeDate\\\":false,\\\"fileFormat\\\":\\\"jpg\\\"}]\"\n");
    for (int number = 1; number <= kFiles; ++number)
        m_originals.insert(number, numberedShot(number));

    // Each round starts from the 300 originals and is killed: a random few milliseconds in; once a random
    // share is renamed, up to 20 ms later; and, where strace can, just before the k-th file is placed
    // ("renameat2") or the k-th original removed ("unlink").
    const bool precise = QProcess::execute("strace", {"-f", "-qq", "-o", "/dev/null", "true"}) == 0;
    if (!precise)
        std::cout << "strace cannot run here: every round is killed at a random moment\n";
    QRandomGenerator random(QRandomGenerator::global()->generate());
    const QString kills[] = {"early", "afterSome", precise ? "renameat2" : "afterSome",
                             precise ? "unlink" : "afterSome"};
    for (std::size_t round = 0; round < std::size(kills); ++round) {
        const QString& kill = kills[round];
        const bool atCall = kill == "renameat2" || kill == "unlink";
        const int k = random.bounded(1, kFiles * 3 / 4);
        SCOPED_TRACE(QString("%1, k = %2").arg(kill).arg(k).toStdString());
        for (const QString& name : QDir(folder()).entryList(QDir::Files | QDir::Hidden))
            ASSERT_TRUE(QFile::remove(QDir(folder()).filePath(name)));
        for (int number = 1; number <= kFiles; ++number)
            test::writeFile(QDir(folder()).filePath(QString("Quil_%1.png").arg(number, 3, 10, QChar('0'))),
                            m_originals.value(number));

        QProcess child;
        const auto renamed = [&] { return int(QDir(folder()).entryList({"Renamed_*.jpg"}).size()); };
        startRenamer(child, atCall ? kill + ' ' + QString::number(k) : QString());
        if (kill == "early")
            QThread::msleep(random.bounded(5, 200));
        if (kill == "afterSome") {
            ASSERT_TRUE(test::waitUntil([&] { return renamed() >= k; }, 60s));
            QThread::usleep(random.bounded(20'000)); // anywhere in the steps of the next file
        }
        if (!atCall)
            ::kill(pid_t(child.processId()), SIGKILL);
        ASSERT_TRUE(child.waitForFinished(60'000));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the run ended before it was killed";
        const int doubled = expectEveryNumber(contents(), "png jpg");
        if (atCall) { // killed before the k-th original went, once the k-th file was placed
            EXPECT_EQ(renamed(), kill == "unlink" ? k : k - 1);
            EXPECT_EQ(doubled, kill == "unlink" ? 1 : 0);
        }

        // The next start of Quillary removes what the killed run left half done, and nothing else.
        QProcess quillary;
        quillary.setProcessEnvironment(environment());
        quillary.start(QStringLiteral(QUILLARY_BINARY), {});
        QByteArray output;
        ASSERT_TRUE(test::waitUntil(
            [&] { return output.append(quillary.readAllStandardOutput()).contains(" — access: OK"); }, 10s))
            << output.toStdString();
        const Contents afterStart = contents();
        EXPECT_EQ(afterStart.temporary, QStringList());
        expectEveryNumber(afterStart, "png jpg");
        quillary.terminate();
        ASSERT_TRUE(quillary.waitForFinished(5000));
        EXPECT_EQ(quillary.exitStatus() == QProcess::NormalExit ? quillary.exitCode() : -1, 0);
        EXPECT_FALSE(output.append(quillary.readAllStandardOutput()).contains("❌")) << output.toStdString();

        if (round + 1 < std::size(kills))
            continue;
        // Run again to its end, the last one renames the rest: no original is left.
        QProcess rerun;
        startRenamer(rerun);
        ASSERT_TRUE(rerun.waitForFinished(120'000));
        const Contents done = contents();
        EXPECT_TRUE(std::all_of(done.numbers.begin(), done.numbers.end(),
                                [](const auto& entry) { return !entry.second.contains("png"); }));
        EXPECT_EQ(done.temporary, QStringList());
        expectEveryNumber(done, "jpg jpg");
    }
}

} // namespace
