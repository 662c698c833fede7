#include "switching/threadpriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

void lowerThreadPriority()
{
    // On Linux, a thread has a nice value of its own; gettid() names the calling one. A failure
    // leaves the thread as it was, which is only slower for the window.
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        (void)setpriority(PRIO_PROCESS, thread, nice + 5);
}
