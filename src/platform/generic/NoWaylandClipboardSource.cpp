#include "platform/ClipboardSource.h"

namespace quillary {

// Without the Wayland client library, Qt's clipboard is the only one.
std::unique_ptr<ClipboardSource> ClipboardSource::createWayland(QString*)
{
    return nullptr;
}

} // namespace quillary
