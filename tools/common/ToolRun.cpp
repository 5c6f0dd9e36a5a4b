// Start and end of a tool's run.
#include "tools/common/ToolRun.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iostream>

#include "io/StandardStreams.h"
#include "io/AtomicFile.h"
#include "io/Fatal.h"

namespace {

const char* toolName = "kelta";
bool standardOutputWasClosed = false;
// errno of the first result standard output could not take; 0 while all went through.
int resultWriteError = 0;
void (*ownEndingSignalWork)() = nullptr;

const int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void endBySignal(int number) {
    if (ownEndingSignalWork) ownEndingSignalWork();
    removeUnfinishedFile();
    // SA_RESETHAND restored the default action; the raised signal waits until this returns.
    raise(number);
}

}  // namespace

void startTool(const char* tool, void (*onEndingSignal)()) {
    toolName = tool;
    standardOutputWasClosed = fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF;
    ensureStandardDescriptors();
    setFatalReporter(reportFatalAsTool);
    reportUncaughtAllocationFailures();
    ownEndingSignalWork = onEndingSignal;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = endBySignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int number : ENDING_SIGNALS) sigaddset(&action.sa_mask, number);
    for (int number : ENDING_SIGNALS) {
        struct sigaction previous;
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}

void reportFatalAsTool(const std::string& line, const std::string& detail) {
    fail(detail.empty() ? line : line + ": " + detail);
}

void fail(const std::string& reason) {
    warn(reason);
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
