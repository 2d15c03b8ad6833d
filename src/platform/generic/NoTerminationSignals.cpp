#include "platform/TerminationSignals.h"

namespace quillary {
namespace {

// Without a platform way to catch them, the requests end the process as they always did.
class NoTerminationSignals final : public TerminationSignals {};

} // namespace

std::unique_ptr<TerminationSignals> TerminationSignals::install()
{
    return std::make_unique<NoTerminationSignals>();
}

} // namespace quillary
