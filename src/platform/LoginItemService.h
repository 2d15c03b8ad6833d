#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace quillary {

// Registration of the application to start when the user logs in.
class LoginItemService {
public:
    enum class Status { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

    // The platform's service for the running executable.
    static std::unique_ptr<LoginItemService> createDefault();

    virtual ~LoginItemService() = default;

    virtual Status status() const = 0;
    // Each returns an error text on failure, nothing on success.
    virtual std::optional<QString> registerApp() = 0;
    virtual std::optional<QString> unregisterApp() = 0;

protected:
    LoginItemService() = default;
};

} // namespace quillary
