#pragma once

#include <QMetaObject>
#include <QObject>
#include <QThreadPool>

#include <atomic>
#include <memory>
#include <utility>

namespace quillary {
namespace detail {

// What one hand-over carries, published with release and received with acquire.
template <typename Work> struct Parcel {
    explicit Parcel(Work&& w)
        : work(std::forward<Work>(w))
    {
    }
    std::decay_t<Work> work;
    std::atomic<bool> published{false};
};

// The one read of what Qt carried across threads: the parcel's address, kept in the closure that Qt
// copied on the posting thread. Out of line, so that a sanitizer can be told about this read alone.
template <typename Parcel> [[gnu::noinline]] Parcel* receiveParcel(const std::shared_ptr<Parcel>& parcel)
{
    return parcel.get();
}

} // namespace detail

// Runs `work` later on the thread of `context`, from any thread; dropped if `context` is gone by then.
//
// Qt hands the call over under its posted-event lock, which ThreadSanitizer cannot see in a Qt not
// built for it, so everything the posting thread wrote into `work` would look unsynchronised to it.
// The release/acquire pair on `published` states the hand-over in a form it understands (on normal
// builds it is one atomic store and load); only the parcel's address itself travels through Qt.
template <typename Work> void postTo(QObject* context, Work&& work)
{
    struct Parcel {
        explicit Parcel(Work&& w)
            : work(std::forward<Work>(w))
        {
        }
        std::decay_t<Work> work;
        std::atomic<bool> published{false};
    };
    auto parcel = std::make_shared<Parcel>(std::forward<Work>(work));
    parcel->published.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        context,
        [parcel] {
            auto* received = detail::receiveParcel(parcel);
            if (received->published.load(std::memory_order_acquire))
                received->work();
        },
        Qt::QueuedConnection);
}

// Runs `work` on a thread of `pool`, with the hand-over stated for ThreadSanitizer as in postTo:
// QThreadPool takes its tasks from a queue under a lock the sanitizer cannot see either.
template <typename Work> void startOn(QThreadPool& pool, Work&& work)
{
    auto parcel = std::make_shared<detail::Parcel<Work>>(std::forward<Work>(work));
    parcel->published.store(true, std::memory_order_release);
    pool.start([parcel] {
        auto* received = detail::receiveParcel(parcel);
        if (received->published.load(std::memory_order_acquire))
            received->work();
    });
}

// One worker thread's worth of a QThreadPool: tasks run one at a time, in the order they were given,
// each seeing everything the tasks before it wrote. The pool may run successive tasks on different
// threads (an idle thread expires) and hands them over under locks ThreadSanitizer cannot see, so the
// order is also stated through an atomic that each task acquires before it starts and releases when
// it ends, and that waitForDone acquires: state kept across tasks is then visibly ordered.
class SerialWorker final {
public:
    SerialWorker() { m_pool.setMaxThreadCount(1); }
    ~SerialWorker() { waitForDone(); }
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    template <typename Work> void start(Work&& work)
    {
        startOn(m_pool, [this, task = std::forward<Work>(work)]() mutable {
            (void)m_finished.load(std::memory_order_acquire);
            task();
            m_finished.fetch_add(1, std::memory_order_release);
        });
    }

    // Blocks until every task given so far has run.
    void waitForDone()
    {
        m_pool.waitForDone();
        (void)m_finished.load(std::memory_order_acquire);
    }

private:
    QThreadPool m_pool;
    std::atomic<quint64> m_finished{0};
};

} // namespace quillary
