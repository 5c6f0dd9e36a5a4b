// Background work's place beside the frames: on a machine of few cores, work that no frame waits
// for would otherwise take their time.
#pragma once

// Lowers the calling thread's priority (its nice value by 10), for good: an unprivileged thread
// cannot raise it again. Threads it starts afterwards inherit it.
void lowerThisThreadsPriority();
