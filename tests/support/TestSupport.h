#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <string>

namespace quillary::test {

// Runs the event loop until `condition` holds or `timeout` passes (generous: sanitizer builds on a
// busy machine are slow); returns the condition's last value.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Runs the event loop for `duration`, for tests that check that nothing happens.
void processEventsFor(std::chrono::milliseconds duration);

// Writes `bytes` to `path` (by its native name), replacing the file; fails the test on error.
void writeFile(const QString& path, const QByteArray& bytes);

// The whole content of `path`, empty when it cannot be read.
QByteArray readFile(const QString& path);

// What `run` prints to standard output.
std::string stdoutOf(const std::function<void()>& run);

// While alive, the calling thread is subject to file permission bits even as root.
class PermissionBitsEnforced {
public:
    PermissionBitsEnforced();
    ~PermissionBitsEnforced();
    // False when root's overrides could not be lowered; permission tests must skip then.
    bool isEffective() const { return m_effective; }

private:
    bool m_lowered = false;
    bool m_effective = false;
};

} // namespace quillary::test
