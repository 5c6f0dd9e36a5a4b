#include "io/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

const char NO_DEV_NULL_LINE[] = "Could not open /dev/null in place of a closed standard stream\n";

}  // namespace

void ensureStandardDescriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lower descriptors are open by now, so open() hands out exactly this number.
        if (open("/dev/null", O_RDWR) == descriptor) continue;
        // Standard error may be the closed one, so the line is only an attempt.
        const ssize_t written = write(STDERR_FILENO, NO_DEV_NULL_LINE, sizeof NO_DEV_NULL_LINE - 1);
        static_cast<void>(written);
        std::_Exit(1);
    }
}
