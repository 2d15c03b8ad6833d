// Signal handlers may do next to nothing; this one writes the signal's number to a pipe whose
// other end a QSocketNotifier watches on the main thread, where the real work happens.
#include "platform/TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace quillary {
namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t writeEnd = -1;

void onSignal(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

QString signalName(int number)
{
    switch (number) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

class SelfPipeTerminationSignals final : public TerminationSignals {
public:
    SelfPipeTerminationSignals(int readEnd, int writeEndDescriptor)
        : m_readEnd(readEnd)
        , m_writeEnd(writeEndDescriptor)
        , m_notifier(readEnd, QSocketNotifier::Read)
    {
        writeEnd = m_writeEnd;
        connect(&m_notifier, &QSocketNotifier::activated, this, &SelfPipeTerminationSignals::drain);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < kSignals.size(); ++i) {
            m_installed[i] = false;
            struct sigaction current {};
            if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
                continue;
            m_installed[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
        }
    }

    ~SelfPipeTerminationSignals() override
    {
        for (size_t i = 0; i < kSignals.size(); ++i) {
            if (m_installed[i])
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
        }
        writeEnd = -1;
        ::close(m_readEnd);
        ::close(m_writeEnd);
    }

private:
    void drain()
    {
        unsigned char byte = 0;
        for (;;) {
            const ssize_t count = ::read(m_readEnd, &byte, 1);
            if (count == 1) {
                emit received(signalName(byte));
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            return; // EAGAIN: drained
        }
    }

    int m_readEnd;
    int m_writeEnd;
    QSocketNotifier m_notifier;
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::array<bool, kSignals.size()> m_installed{};
};

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::install()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    return std::make_unique<SelfPipeTerminationSignals>(ends[0], ends[1]);
}

} // namespace quillary
