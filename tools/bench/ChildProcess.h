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
    // Everything the child wrote to standard output, which is kept off the parent's.
    std::string output;

    bool succeeded() const { return exitedNormally && exitCode == 0; }
};

// Forks; the child runs `work` with its standard output going to a temporary file, sends back
// the returned text and ends with exit code 0 (exit code 1 if `work` throws). The parent waits
// for it. Returns false with one line in `error` when no child could be started.
bool runInChildProcess(const std::function<std::string()>& work, ChildOutcome& outcome, std::string& error);
