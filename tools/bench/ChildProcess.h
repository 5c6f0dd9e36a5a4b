// Running a piece of work in a forked child process: kelta-bench gives each map a fresh
// process, because the program's Application is a never-destroyed singleton.
#pragma once

#include <functional>
#include <string>

struct ChildOutcome {
    bool exitedNormally = false;
    int exitCode = -1;
    int signal = 0;
    // What the work returned, sent back through a pipe; empty when the child ended early.
    std::string message;
    // What the work threw, or why it could not be run; the child then ends with WORK_FAILED_EXIT_CODE.
    std::string failure;
    // Everything the child wrote to standard output, which is kept off the parent's.
    std::string output;

    bool succeeded() const { return exitedNormally && exitCode == 0; }
};

// Set apart from the program's own exit code 1, whose reason is its last line of output.
constexpr int WORK_FAILED_EXIT_CODE = 70;

// Forks; the child runs `work` with its standard output going to a temporary file, sends back
// the returned text and ends with exit code 0 (WORK_FAILED_EXIT_CODE if `work` throws or its
// output cannot be redirected). The child is killed when the parent dies. The parent waits for
// it. Returns false with one line in `error` when no child could be started.
bool runInChildProcess(const std::function<std::string()>& work, ChildOutcome& outcome, std::string& error);

// Ends the child that runInChildProcess is waiting for, if any, and reaps it: asked by SIGTERM
// first, so that it removes what it was writing (a pyramid being built), killed when it has not
// ended within a second. Safe to call from a signal handler.
void killRunningChild();
