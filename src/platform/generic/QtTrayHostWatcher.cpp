#include "platform/TrayHostWatcher.h"

#include <QSystemTrayIcon>
#include <QTimer>

namespace quillary {
namespace {

class QtTrayHostWatcher final : public TrayHostWatcher {
public:
    bool isHostAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    void watchForHost() override {}
};

} // namespace

std::unique_ptr<TrayHostWatcher> TrayHostWatcher::create()
{
    return std::make_unique<QtTrayHostWatcher>();
}

} // namespace quillary
