#include "io/Fatal.h"

#include "io/AtomicFile.h"

#include <cstdlib>
#include <exception>
#include <iostream>
#include <new>

namespace {

void reportOnStandardStreams(const std::string& line, const std::string& detail) {
    std::cout << line << std::endl;
    if (!detail.empty()) std::cerr << "kelta: " << detail << std::endl;
}

FatalReporter installedReporter = reportOnStandardStreams;
std::terminate_handler previousTermination = nullptr;

const char* const NOT_ENOUGH_MEMORY =
    "Not enough memory: an allocation failed (free some memory, or raise the limit: ulimit -v)";

// Other threads may still be running, so the process ends without running destructors, which
// they may be using; the file being written is removed and the streams are flushed first.
[[noreturn]] void endOnUncaughtException() {
    if (const std::exception_ptr exception = std::current_exception()) {
        try {
            std::rethrow_exception(exception);
        } catch (const std::bad_alloc&) {
            removeUnfinishedFile();
            installedReporter(NOT_ENOUGH_MEMORY, "");
            std::cout.flush();
            std::cerr.flush();
            std::_Exit(1);
        } catch (...) {
        }
    }
    if (previousTermination) previousTermination();
    std::abort();
}

}  // namespace

void setFatalReporter(FatalReporter reporter) { installedReporter = reporter ? reporter : reportOnStandardStreams; }

void fatal(const std::string& line, const std::string& detail) {
    installedReporter(line, detail);
    std::exit(1);
}

void fatalWithoutNewline(const std::string& text) {
    std::cout << text << std::flush;
    std::exit(1);
}

void reportUncaughtAllocationFailures() {
    const std::terminate_handler previous = std::set_terminate(endOnUncaughtException);
    if (previous != endOnUncaughtException) previousTermination = previous;
}
