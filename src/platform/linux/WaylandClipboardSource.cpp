// The clipboard read through the compositor's clipboard-manager protocol.
//
// Threads: the worker alone reads and dispatches the connection's events, so every event handler
// runs there. The main thread only sends requests (libwayland-client serialises them on the
// display's own lock) and reads pipes. What both touch is under `mutex`: the change counter, the
// types on offer, and the current selection's offer, which the worker destroys only under that lock
// so that `receive` never goes to a destroyed proxy. A request sent from the main thread sits in the
// connection's buffer until flushed; the worker flushes before every wait, so the main thread wakes
// it through `wakeFd` after `receive` instead of flushing itself, and the worker also waits for the
// socket to drain when a flush could not write everything.
#include "platform/linux/WaylandClipboardSource.h"

#include "ext-data-control-v1-client-protocol.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <QByteArray>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace quillary {

std::optional<QByteArray> readPipeToEnd(int fd, std::chrono::milliseconds timeout, qint64 cap)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    QByteArray content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            if (content.size() + got > cap)
                return std::nullopt;
            content.append(buffer, got);
            continue;
        }
        if (got == 0)
            return content;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return std::nullopt;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, int(left.count())) < 0 && errno != EINTR)
            return std::nullopt;
    }
}

namespace {

wl_proxy* asProxy(void* object)
{
    return static_cast<wl_proxy*>(object);
}

// The two protocols are the same on the wire apart from their names; this is what differs.
struct Protocol {
    const char* global;
    const char* name;
    const wl_interface* managerInterface;
    uint32_t version;
    wl_proxy* (*getDevice)(wl_proxy* manager, wl_seat* seat);
    void (*listenToDevice)(wl_proxy* device, void* data);
    void (*listenToOffer)(wl_proxy* offer, void* data);
    void (*receive)(wl_proxy* offer, const char* mimeType, int fd);
    void (*destroyOffer)(wl_proxy* offer);
    void (*destroyDevice)(wl_proxy* device);
    void (*destroyManager)(wl_proxy* manager);
};

} // namespace

struct WaylandClipboardSource::Connection {
    const Protocol* protocol = nullptr;
    wl_display* display = nullptr;
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;
    int wakeFd = -1;
    std::thread worker;
    std::atomic<bool> stopping{false};

    // The worker's own (and set-up's, before the worker starts): offers announced but not yet made
    // the selection, with their types, and the primary selection's offer, which is not ours to read.
    std::map<wl_proxy*, QStringList> announced;
    wl_proxy* primaryOffer = nullptr;

    mutable std::mutex mutex;
    wl_proxy* selection = nullptr;
    QStringList selectionTypes;
    qint64 changes = 0;
    bool lost = false; // the connection or the device is gone

    ~Connection()
    {
        if (worker.joinable()) {
            stopping = true;
            wake();
            worker.join();
        }
        for (const auto& [offer, types] : announced)
            protocol->destroyOffer(offer);
        if (primaryOffer)
            protocol->destroyOffer(primaryOffer);
        if (selection)
            protocol->destroyOffer(selection);
        if (device)
            protocol->destroyDevice(device);
        if (manager)
            protocol->destroyManager(manager);
        if (seat)
            wl_seat_destroy(seat);
        if (wakeFd >= 0)
            close(wakeFd);
        if (display)
            wl_display_disconnect(display);
    }

    void wake() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wakeFd, &one, sizeof one);
    }

    void offerAnnounced(wl_proxy* offer)
    {
        protocol->listenToOffer(offer, this);
        announced[offer];
    }

    void typeOffered(wl_proxy* offer, const char* mimeType)
    {
        if (auto it = announced.find(offer); it != announced.end())
            it->second.append(QString::fromUtf8(mimeType));
    }

    void selectionChanged(wl_proxy* offer)
    {
        QStringList types;
        if (auto it = announced.find(offer); it != announced.end()) {
            types = std::move(it->second);
            announced.erase(it);
        }
        std::lock_guard lock(mutex);
        if (selection && selection != offer)
            protocol->destroyOffer(selection);
        selection = offer;
        selectionTypes = std::move(types);
        ++changes;
    }

    void primarySelectionChanged(wl_proxy* offer)
    {
        announced.erase(offer);
        if (primaryOffer && primaryOffer != offer)
            protocol->destroyOffer(primaryOffer);
        primaryOffer = offer;
    }

    void markLost()
    {
        std::lock_guard lock(mutex);
        lost = true;
    }

    // Reads and dispatches events until asked to stop or the connection breaks.
    void run()
    {
        pollfd fds[2] = {{wl_display_get_fd(display), 0, 0}, {wakeFd, POLLIN, 0}};
        while (!stopping) {
            while (wl_display_prepare_read(display) != 0) {
                if (wl_display_dispatch_pending(display) < 0)
                    return markLost();
            }
            fds[0].events = POLLIN;
            if (wl_display_flush(display) < 0) {
                if (errno != EAGAIN) {
                    wl_display_cancel_read(display);
                    return markLost();
                }
                fds[0].events |= POLLOUT;
            }
            if (poll(fds, 2, -1) < 0) {
                wl_display_cancel_read(display);
                if (errno == EINTR)
                    continue;
                return markLost();
            }
            if (fds[0].revents & POLLIN) {
                if (wl_display_read_events(display) < 0)
                    return markLost();
            } else {
                wl_display_cancel_read(display);
                if (fds[0].revents & (POLLERR | POLLHUP))
                    return markLost();
            }
            if (fds[1].revents & POLLIN) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t got = read(wakeFd, &count, sizeof count);
            }
            if (wl_display_dispatch_pending(display) < 0)
                return markLost();
        }
    }
};

namespace {

using Connection = WaylandClipboardSource::Connection;

template <typename Device, typename Offer> struct Handlers {
    static void dataOffer(void* data, Device*, Offer* offer)
    {
        static_cast<Connection*>(data)->offerAnnounced(asProxy(offer));
    }
    static void selection(void* data, Device*, Offer* offer)
    {
        static_cast<Connection*>(data)->selectionChanged(asProxy(offer));
    }
    static void finished(void* data, Device*) { static_cast<Connection*>(data)->markLost(); }
    static void primarySelection(void* data, Device*, Offer* offer)
    {
        static_cast<Connection*>(data)->primarySelectionChanged(asProxy(offer));
    }
    static void offerType(void* data, Offer* offer, const char* mimeType)
    {
        static_cast<Connection*>(data)->typeOffered(asProxy(offer), mimeType);
    }
};

using ExtHandlers = Handlers<ext_data_control_device_v1, ext_data_control_offer_v1>;
const ext_data_control_device_v1_listener extDeviceListener = {
    ExtHandlers::dataOffer, ExtHandlers::selection, ExtHandlers::finished, ExtHandlers::primarySelection};
const ext_data_control_offer_v1_listener extOfferListener = {ExtHandlers::offerType};

using WlrHandlers = Handlers<zwlr_data_control_device_v1, zwlr_data_control_offer_v1>;
const zwlr_data_control_device_v1_listener wlrDeviceListener = {
    WlrHandlers::dataOffer, WlrHandlers::selection, WlrHandlers::finished, WlrHandlers::primarySelection};
const zwlr_data_control_offer_v1_listener wlrOfferListener = {WlrHandlers::offerType};

const Protocol extProtocol = {
    "ext_data_control_manager_v1",
    "ext-data-control-v1",
    &ext_data_control_manager_v1_interface,
    1,
    [](wl_proxy* manager, wl_seat* seat) {
        return asProxy(ext_data_control_manager_v1_get_data_device(
            reinterpret_cast<ext_data_control_manager_v1*>(manager), seat));
    },
    [](wl_proxy* device, void* data) {
        ext_data_control_device_v1_add_listener(reinterpret_cast<ext_data_control_device_v1*>(device),
                                                &extDeviceListener, data);
    },
    [](wl_proxy* offer, void* data) {
        ext_data_control_offer_v1_add_listener(reinterpret_cast<ext_data_control_offer_v1*>(offer),
                                               &extOfferListener, data);
    },
    [](wl_proxy* offer, const char* mimeType, int fd) {
        ext_data_control_offer_v1_receive(reinterpret_cast<ext_data_control_offer_v1*>(offer), mimeType, fd);
    },
    [](wl_proxy* offer) {
        ext_data_control_offer_v1_destroy(reinterpret_cast<ext_data_control_offer_v1*>(offer));
    },
    [](wl_proxy* device) {
        ext_data_control_device_v1_destroy(reinterpret_cast<ext_data_control_device_v1*>(device));
    },
    [](wl_proxy* manager) {
        ext_data_control_manager_v1_destroy(reinterpret_cast<ext_data_control_manager_v1*>(manager));
    },
};

const Protocol wlrProtocol = {
    "zwlr_data_control_manager_v1",
    "wlr-data-control-unstable-v1",
    &zwlr_data_control_manager_v1_interface,
    2,
    [](wl_proxy* manager, wl_seat* seat) {
        return asProxy(zwlr_data_control_manager_v1_get_data_device(
            reinterpret_cast<zwlr_data_control_manager_v1*>(manager), seat));
    },
    [](wl_proxy* device, void* data) {
        zwlr_data_control_device_v1_add_listener(reinterpret_cast<zwlr_data_control_device_v1*>(device),
                                                 &wlrDeviceListener, data);
    },
    [](wl_proxy* offer, void* data) {
        zwlr_data_control_offer_v1_add_listener(reinterpret_cast<zwlr_data_control_offer_v1*>(offer),
                                                &wlrOfferListener, data);
    },
    [](wl_proxy* offer, const char* mimeType, int fd) {
        zwlr_data_control_offer_v1_receive(reinterpret_cast<zwlr_data_control_offer_v1*>(offer), mimeType,
                                           fd);
    },
    [](wl_proxy* offer) {
        zwlr_data_control_offer_v1_destroy(reinterpret_cast<zwlr_data_control_offer_v1*>(offer));
    },
    [](wl_proxy* device) {
        zwlr_data_control_device_v1_destroy(reinterpret_cast<zwlr_data_control_device_v1*>(device));
    },
    [](wl_proxy* manager) {
        zwlr_data_control_manager_v1_destroy(reinterpret_cast<zwlr_data_control_manager_v1*>(manager));
    },
};

// The globals the set-up looks for: the first seat, and each protocol's manager.
struct Globals {
    struct Found {
        uint32_t name = 0;
        uint32_t version = 0;
    };
    std::optional<Found> seat;
    std::map<std::string, Found> managers;

    static void add(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version)
    {
        auto* globals = static_cast<Globals*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0) {
            if (!globals->seat)
                globals->seat = Found{name, version};
        } else if (std::strcmp(interface, extProtocol.global) == 0 ||
                   std::strcmp(interface, wlrProtocol.global) == 0) {
            globals->managers[interface] = Found{name, version};
        }
    }
    static void remove(void*, wl_registry*, uint32_t) {}
};
const wl_registry_listener registryListener = {Globals::add, Globals::remove};

} // namespace

std::unique_ptr<WaylandClipboardSource> WaylandClipboardSource::connect()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->protocol = &extProtocol; // until the one offered is known: the destructor needs one
    connection->display = wl_display_connect(nullptr);
    if (!connection->display)
        return nullptr;

    Globals globals;
    wl_registry* registry = wl_display_get_registry(connection->display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool listed = wl_display_roundtrip(connection->display) >= 0;
    Globals::Found manager;
    for (const Protocol* protocol : {&extProtocol, &wlrProtocol}) {
        if (auto it = globals.managers.find(protocol->global); it != globals.managers.end()) {
            connection->protocol = protocol;
            manager = it->second;
            break;
        }
    }
    if (!listed || !globals.seat || manager.version == 0) {
        wl_registry_destroy(registry);
        return nullptr;
    }
    const Protocol& protocol = *connection->protocol;
    connection->seat =
        static_cast<wl_seat*>(wl_registry_bind(registry, globals.seat->name, &wl_seat_interface, 1));
    connection->manager = static_cast<wl_proxy*>(wl_registry_bind(
        registry, manager.name, protocol.managerInterface, std::min(manager.version, protocol.version)));
    // Globals that come and go later are of no interest.
    wl_registry_destroy(registry);

    connection->device = protocol.getDevice(connection->manager, connection->seat);
    protocol.listenToDevice(connection->device, connection.get());
    // The device announces the clipboard's content at once; that content counts as seen.
    if (wl_display_roundtrip(connection->display) < 0)
        return nullptr;
    connection->changes = 0;

    connection->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->wakeFd < 0)
        return nullptr;
    connection->worker = std::thread([raw = connection.get()] { raw->run(); });
    return std::unique_ptr<WaylandClipboardSource>(new WaylandClipboardSource(std::move(connection)));
}

WaylandClipboardSource::WaylandClipboardSource(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection))
{
}

WaylandClipboardSource::~WaylandClipboardSource() = default;

QString WaylandClipboardSource::protocolName() const
{
    return QString::fromLatin1(m_connection->protocol->name);
}

qint64 WaylandClipboardSource::changeCount() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->changes;
}

QStringList WaylandClipboardSource::formats() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->selectionTypes;
}

QByteArray WaylandClipboardSource::data(const QString& mimeType) const
{
    Connection& connection = *m_connection;
    int ends[2];
    {
        std::lock_guard lock(connection.mutex);
        if (connection.lost || !connection.selection || !connection.selectionTypes.contains(mimeType))
            return {};
        if (pipe2(ends, O_CLOEXEC) != 0)
            return {};
        // libwayland keeps a duplicate of the write end until the request is sent.
        connection.protocol->receive(connection.selection, mimeType.toUtf8().constData(), ends[1]);
    }
    close(ends[1]);
    connection.wake();
    const std::optional<QByteArray> content = readPipeToEnd(ends[0], readTimeout, readCap);
    close(ends[0]);
    return content.value_or(QByteArray{});
}

std::unique_ptr<ClipboardSource> ClipboardSource::createWayland(QString* protocolName)
{
    std::unique_ptr<WaylandClipboardSource> source = WaylandClipboardSource::connect();
    if (source && protocolName)
        *protocolName = source->protocolName();
    return source;
}

} // namespace quillary
