#pragma once

#include <QByteArray>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillary::test {

// A Wayland server on a thread of the test, in a temporary XDG_RUNTIME_DIR (WAYLAND_DISPLAY set to it),
// offering a seat and the clipboard-manager protocols asked for, and owning the clipboard.
class FakeWaylandCompositor {
public:
    struct Globals {
        bool seat = true;
        bool ext = false; // ext_data_control_manager_v1, version 1
        bool wlr = false; // zwlr_data_control_manager_v1, version 2
    };
    enum class Delivery {
        Whole,       // written at once, then the pipe is closed
        InPieces,    // written in pieces with pauses between them, then closed
        NeverClosed, // written, and the pipe stays open until the compositor is destroyed
    };
    struct Selection {
        std::vector<std::pair<std::string, QByteArray>> types; // in the order offered
        Delivery delivery = Delivery::Whole;
    };

    explicit FakeWaylandCompositor(Globals globals, std::optional<Selection> selection = {});
    ~FakeWaylandCompositor();

    // A new owner of the clipboard (none: emptied), announced to every device.
    void setSelection(std::optional<Selection> selection);
    void setPrimarySelection(std::optional<Selection> selection);
    int receives() const; // reads asked for so far, of any offer
    // Closes every client's connection and the socket, as a compositor that quits.
    void stop();

    struct Server;

private:
    std::unique_ptr<Server> m_server;
};

} // namespace quillary::test
