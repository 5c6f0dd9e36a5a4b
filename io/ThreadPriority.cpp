#include "io/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>

namespace {

// Nice values: how much lower, and the lowest there is.
constexpr int BACKGROUND_NICENESS = 10;
constexpr int LOWEST_PRIORITY = 19;

}  // namespace

void lowerThisThreadsPriority() {
    // Relative to the thread's own, so that a program started at a low priority keeps its frames
    // above its background work.
    const id_t thread = static_cast<id_t>(syscall(SYS_gettid));
    const int current = getpriority(PRIO_PROCESS, thread);
    setpriority(PRIO_PROCESS, thread, std::min(current + BACKGROUND_NICENESS, LOWEST_PRIORITY));
}
