// libwayland-server is used under one mutex: by the server's thread to dispatch, by the test's to
// change the selection. Each read is written by a thread of its own, so a slow or gone reader holds
// up neither the server nor the other reads.
#include "support/FakeWaylandCompositor.h"

#include "core/FileNames.h"

#include "ext-data-control-v1-server-protocol.h"
#include "wlr-data-control-unstable-v1-server-protocol.h"

#include <wayland-server.h>

#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace quillary::test {

namespace {

// The two protocols are the same on the wire: one set of handlers serves both, events go by number.
static_assert(EXT_DATA_CONTROL_DEVICE_V1_DATA_OFFER == ZWLR_DATA_CONTROL_DEVICE_V1_DATA_OFFER &&
              EXT_DATA_CONTROL_DEVICE_V1_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_SELECTION &&
              EXT_DATA_CONTROL_DEVICE_V1_PRIMARY_SELECTION == ZWLR_DATA_CONTROL_DEVICE_V1_PRIMARY_SELECTION &&
              EXT_DATA_CONTROL_OFFER_V1_OFFER == ZWLR_DATA_CONTROL_OFFER_V1_OFFER);

constexpr uint32_t selectionEvent = EXT_DATA_CONTROL_DEVICE_V1_SELECTION;
constexpr uint32_t primaryEvent = EXT_DATA_CONTROL_DEVICE_V1_PRIMARY_SELECTION;

void destroyResource(wl_client*, wl_resource* resource)
{
    wl_resource_destroy(resource);
}

} // namespace

struct FakeWaylandCompositor::Server {
    // One protocol: the user data of its manager's global and of the devices made from it.
    struct Binding {
        Server* server;
        const wl_interface* manager;
        const wl_interface* device;
        const wl_interface* offer;
        int version; // offered; the primary_selection event came with it in both protocols
    };
    // What an offer serves; kept for the server's life, as an offer may outlive its selection.
    struct Snapshot {
        Server* server;
        Selection selection;
    };

    QTemporaryDir runtime;
    wl_display* display = wl_display_create();
    Binding ext{this, &ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
                &ext_data_control_offer_v1_interface, 1};
    Binding wlr{this, &zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
                &zwlr_data_control_offer_v1_interface, 2};
    std::thread thread;
    std::atomic<int> receives{0};

    std::mutex mutex; // guards libwayland-server and all below
    bool running = true;
    std::vector<std::thread> writers;
    std::vector<int> heldOpen; // a second end of each pipe never closed
    std::deque<Snapshot> snapshots;
    Snapshot* selection = nullptr;
    std::vector<wl_resource*> devices;

    void run()
    {
        wl_event_loop* loop = wl_display_get_event_loop(display);
        pollfd ready{wl_event_loop_get_fd(loop), POLLIN, 0};
        for (;;) {
            poll(&ready, 1, 5);
            std::lock_guard lock(mutex);
            if (!running)
                return;
            wl_event_loop_dispatch(loop, 0);
            wl_display_flush_clients(display);
        }
    }

    // A new selection (or primary selection), announced to every device.
    void replace(const std::optional<Selection>& content, uint32_t event)
    {
        Snapshot* snapshot = content ? &snapshots.emplace_back(Snapshot{this, *content}) : nullptr;
        if (event == selectionEvent)
            selection = snapshot;
        for (wl_resource* device : devices)
            announce(device, snapshot, event);
        wl_display_flush_clients(display);
    }

    // The owner's side of a read: `content`'s bytes of `mimeType` into `fd`, on a thread of its own.
    void serve(const Selection& content, const char* mimeType, int fd)
    {
        ++receives;
        const auto offered = std::find_if(content.types.begin(), content.types.end(),
                                          [&](const auto& type) { return type.first == mimeType; });
        if (offered == content.types.end()) {
            close(fd);
            return;
        }
        if (content.delivery == Delivery::NeverClosed)
            heldOpen.push_back(dup(fd));
        writers.emplace_back([bytes = offered->second, delivery = content.delivery, fd] {
            const int pieces = delivery == Delivery::InPieces ? 8 : 1;
            for (qsizetype done = 0, piece = 1; done < bytes.size();) {
                const qsizetype end = bytes.size() * piece / pieces;
                const ssize_t put = write(fd, bytes.constData() + done, size_t(end - done));
                if (put <= 0)
                    break;
                done += put;
                if (done == end && ++piece <= pieces)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            close(fd);
        });
    }

    static void receive(wl_client*, wl_resource* offer, const char* mimeType, int32_t fd)
    {
        auto* snapshot = static_cast<Snapshot*>(wl_resource_get_user_data(offer));
        snapshot->server->serve(snapshot->selection, mimeType, fd);
    }

    // A new offer of `snapshot`'s types to `device`, then `event` (selection or primary) naming it.
    static void announce(wl_resource* device, Snapshot* snapshot, uint32_t event)
    {
        static const struct ext_data_control_offer_v1_interface offerHandlers = {receive, destroyResource};
        const auto* binding = static_cast<Binding*>(wl_resource_get_user_data(device));
        const int version = wl_resource_get_version(device);
        if (event == primaryEvent && version < binding->version)
            return;
        wl_resource* offer = nullptr;
        if (snapshot) {
            offer = wl_resource_create(wl_resource_get_client(device), binding->offer, version, 0);
            wl_resource_set_implementation(offer, &offerHandlers, snapshot, nullptr);
            wl_resource_post_event(device, EXT_DATA_CONTROL_DEVICE_V1_DATA_OFFER, offer);
            for (const auto& [type, bytes] : snapshot->selection.types)
                wl_resource_post_event(offer, EXT_DATA_CONTROL_OFFER_V1_OFFER, type.c_str());
        }
        wl_resource_post_event(device, event, offer);
    }

    static void getDevice(wl_client* client, wl_resource* manager, uint32_t id, wl_resource*)
    {
        // The client under test only reads: setting a selection does nothing.
        static const struct ext_data_control_device_v1_interface deviceHandlers = {
            [](wl_client*, wl_resource*, wl_resource*) {}, destroyResource,
            [](wl_client*, wl_resource*, wl_resource*) {}};
        auto* binding = static_cast<Binding*>(wl_resource_get_user_data(manager));
        wl_resource* device =
            wl_resource_create(client, binding->device, wl_resource_get_version(manager), id);
        wl_resource_set_implementation(device, &deviceHandlers, binding, [](wl_resource* gone) {
            std::erase(static_cast<Binding*>(wl_resource_get_user_data(gone))->server->devices, gone);
        });
        binding->server->devices.push_back(device);
        announce(device, binding->server->selection, selectionEvent);
    }

    static void bindManager(wl_client* client, void* data, uint32_t version, uint32_t id)
    {
        static const struct ext_data_control_manager_v1_interface managerHandlers = {
            [](wl_client*, wl_resource*, uint32_t) {}, getDevice, destroyResource};
        const auto* binding = static_cast<Binding*>(data);
        wl_resource* manager = wl_resource_create(client, binding->manager, int(version), id);
        wl_resource_set_implementation(manager, &managerHandlers, data, nullptr);
    }
};

FakeWaylandCompositor::FakeWaylandCompositor(Globals globals, std::optional<Selection> selection)
    : m_server(std::make_unique<Server>())
{
    // A reader that gave up closes its end; the writer then gets EPIPE rather than the signal.
    std::signal(SIGPIPE, SIG_IGN);
    Server& server = *m_server;
    qputenv("XDG_RUNTIME_DIR", toNativePath(server.runtime.path()));
    qputenv("WAYLAND_DISPLAY", wl_display_add_socket_auto(server.display));
    if (globals.seat) {
        wl_global_create(server.display, &wl_seat_interface, 1, nullptr,
                         [](wl_client* client, void*, uint32_t version, uint32_t id) {
                             wl_resource_create(client, &wl_seat_interface, int(version), id);
                         });
    }
    for (auto [binding, wanted] :
         {std::pair{&server.ext, globals.ext}, std::pair{&server.wlr, globals.wlr}}) {
        if (wanted)
            wl_global_create(server.display, binding->manager, binding->version, binding,
                             Server::bindManager);
    }
    server.replace(selection, selectionEvent);
    server.thread = std::thread(&Server::run, &server);
}

FakeWaylandCompositor::~FakeWaylandCompositor()
{
    stop();
    for (std::thread& writer : m_server->writers)
        writer.join();
    for (int fd : m_server->heldOpen)
        close(fd);
}

void FakeWaylandCompositor::setSelection(std::optional<Selection> selection)
{
    std::lock_guard lock(m_server->mutex);
    m_server->replace(selection, selectionEvent);
}

void FakeWaylandCompositor::setPrimarySelection(std::optional<Selection> selection)
{
    std::lock_guard lock(m_server->mutex);
    m_server->replace(selection, primaryEvent);
}

int FakeWaylandCompositor::receives() const
{
    return m_server->receives;
}

void FakeWaylandCompositor::stop()
{
    Server& server = *m_server;
    if (!server.thread.joinable())
        return;
    {
        std::lock_guard lock(server.mutex);
        server.running = false;
    }
    server.thread.join();
    wl_display_destroy_clients(server.display);
    wl_display_destroy(server.display);
}

} // namespace quillary::test
