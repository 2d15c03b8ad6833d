#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <memory>
#include <utility>

namespace quillary {

// Runs `work` later on the thread of `context`, from any thread; dropped if `context` is gone by then.
//
// Qt hands the call over under its posted-event lock, which ThreadSanitizer cannot see in a Qt not
// built for it, so everything the posting thread wrote into `work` would look unsynchronised to it.
// The release/acquire pair on `published` states the hand-over in a form it understands; on normal
// builds it is one atomic store and load.
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
            if (parcel->published.load(std::memory_order_acquire))
                parcel->work();
        },
        Qt::QueuedConnection);
}

} // namespace quillary
