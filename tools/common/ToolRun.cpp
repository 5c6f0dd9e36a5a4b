// Start and end of a tool's run.
#include "tools/common/ToolRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "io/StandardStreams.h"
#include "io/AtomicFile.h"
#include "io/Fatal.h"

namespace {

const char* toolName = "kelta";
bool standardOutputWasClosed = false;
// errno of the first result standard output could not take; 0 while all went through.
int resultWriteError = 0;
}  // namespace

void startTool(const char* tool, void (*onEndingSignal)()) {
    toolName = tool;
    standardOutputWasClosed = fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF;
    ensureStandardDescriptors();
    setFatalReporter(reportFatalAsTool);
    reportUncaughtAllocationFailures();
    removeUnfinishedFilesOnEndingSignals(onEndingSignal);
}

void reportFatalAsTool(const std::string& line, const std::string& detail) {
    fail(detail.empty() ? line : line + ": " + detail);
}

void fail(const std::string& reason) {
    warn(reason);
    // exit runs no destructors of the files being written, so they are removed here.
    removeUnfinishedFile();
    std::exit(1);
}

void warn(const std::string& message) { std::cerr << toolName << ": " << message << std::endl; }

void printResult(const std::string& text) {
    // An earlier failed write (a log line of the program's) is not this one's; start clean so
    // that errno tells this write's reason.
    std::cout.clear();
    std::clearerr(stdout);
    errno = 0;
    std::cout << text << std::flush;
    if (!std::cout && resultWriteError == 0) resultWriteError = errno != 0 ? errno : EIO;
}

void printVersion() { printResult(std::string(toolName) + " " + KELTA_VERSION + "\n"); }

int finishTool() {
    errno = 0;
    if (std::fflush(stdout) != 0 && resultWriteError == 0) resultWriteError = errno != 0 ? errno : EIO;
    if (standardOutputWasClosed) resultWriteError = EBADF;
    if (resultWriteError != 0) fail(std::string("cannot write to standard output: ") + std::strerror(resultWriteError));
    std::cerr.flush();
    if (std::fflush(stderr) != 0 || std::ferror(stderr) || !std::cerr) std::exit(1);
    return 0;
}
