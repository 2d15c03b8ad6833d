#include "platform/generic/NullLoginItem.h"

namespace quillary {

namespace {
QString unsupported()
{
    return QStringLiteral("Launch at login is not supported on this platform");
}
} // namespace

std::unique_ptr<LoginItemService> LoginItemService::createDefault()
{
    return std::make_unique<NullLoginItem>();
}

std::optional<QString> NullLoginItem::registerApp()
{
    return unsupported();
}

std::optional<QString> NullLoginItem::unregisterApp()
{
    return unsupported();
}

} // namespace quillary
