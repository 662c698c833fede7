#include "switching/runstop.h"

#include <atomic>

namespace {

// Lock-free, so that a signal handler may set them.
std::atomic<int> requestedStatus{ -1 };
std::atomic<bool> runGoingOn{ false };
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

} // namespace

void RunStop::request(int exitStatus)
{
    requestedStatus.store(exitStatus < 0 ? 0 : exitStatus);
}

bool RunStop::requested()
{
    return requestedStatus.load() >= 0;
}

int RunStop::exitStatus()
{
    return requested() ? requestedStatus.load() : 0;
}

void RunStop::clear()
{
    requestedStatus.store(-1);
}

void RunStop::setRunning(bool running)
{
    runGoingOn.store(running);
}

bool RunStop::running()
{
    return runGoingOn.load();
}
