#include "support/TestSupport.h"
#include "core/FileNames.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quillary::test {

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void processEventsFor(std::chrono::milliseconds duration)
{
    waitUntil([] { return false; }, duration);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(toNativePath(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    QFile file;
    ASSERT_TRUE(fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path)
{
    const int fd = ::open(toNativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? file.readAll()
                                                                                       : QByteArray();
}

std::string stdoutOf(const std::function<void()>& run)
{
    testing::internal::CaptureStdout();
    run();
    return testing::internal::GetCapturedStdout();
}

namespace {

constexpr unsigned overrideMask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);

bool setEffectiveOverrides(bool raised)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    data[0].effective = raised ? (data[0].effective | (data[0].permitted & overrideMask))
                               : (data[0].effective & ~overrideMask);
    return syscall(SYS_capset, &header, data) == 0;
}

} // namespace

PermissionBitsEnforced::PermissionBitsEnforced()
{
    if (geteuid() != 0) {
        m_effective = true;
        return;
    }
    // Capabilities are per thread: this affects only the caller, which is what the tests watch from.
    m_lowered = setEffectiveOverrides(false);
    m_effective = m_lowered;
}

PermissionBitsEnforced::~PermissionBitsEnforced()
{
    if (m_lowered)
        setEffectiveOverrides(true);
}

} // namespace quillary::test
