#pragma once

#include "platform/LoginItemService.h"

namespace quillary {

// Stand-in where no way to start at login is implemented: reports nothing and refuses changes.
class NullLoginItem final : public LoginItemService {
public:
    explicit NullLoginItem() = default;

    Status status() const override { return Status::notFound; }
    std::optional<QString> registerApp() override;
    std::optional<QString> unregisterApp() override;
};

} // namespace quillary
