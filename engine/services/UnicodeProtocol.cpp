#include "UnicodeProtocol.h"

#include <atomic>

namespace quorlane {
namespace {
std::atomic<int> registrations{0};
}

// FFmpeg 5.1 has no public protocol registration: the prefix is recognised by the engine's own
// open helper, so registering means only making the form available.
void RegisterUnicodeProtocol()
{
    int expected = 0;
    registrations.compare_exchange_strong(expected, 1);
}

bool UnicodeProtocolRegistered() { return registrations.load() > 0; }

int UnicodeProtocolRegistrations() { return registrations.load(); }

}  // namespace quorlane
