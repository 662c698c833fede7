#include "switching/threadpriority.h"

#include <windows.h>

void lowerThreadPriority()
{
    // Threads that this one starts keep the normal priority: each lowers its own.
    (void)SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
