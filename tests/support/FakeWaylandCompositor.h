#pragma once

#include <QByteArray>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quillary::test {

// A Wayland server on a thread of the test, listening in a temporary XDG_RUNTIME_DIR (it points
// XDG_RUNTIME_DIR and WAYLAND_DISPLAY there). It offers a seat and the clipboard-manager protocols
// asked for, and plays the owner of the clipboard: a data device hears of the current selection as
// soon as it is made and of every later one, and a read of an offered type gets that type's bytes.
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

    // A new owner of the clipboard (none: the clipboard is emptied), announced to every device.
    void setSelection(std::optional<Selection> selection);
    void setPrimarySelection(std::optional<Selection> selection);
    // The reads asked for so far, of any offer.
    int receives() const;
    // Closes every client's connection and the socket, as a compositor that quits.
    void stop();

    struct Server;

private:
    std::unique_ptr<Server> m_server;
};

} // namespace quillary::test
