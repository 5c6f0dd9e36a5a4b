// fork, a pipe for the child's answer and a temporary file for its standard output.
#include "tools/bench/ChildProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

namespace {

volatile sig_atomic_t runningChild = 0;

bool writeAll(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<size_t>(count);
    }
    return true;
}

std::string readToEnd(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    return text;
}

[[noreturn]] void runChild(const std::function<std::string()>& work, pid_t parent, int answerFd, int outputFd) {
    // A child left rendering after its parent is gone would hold the GPU for nothing.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    int code = 0;
    if (dup2(outputFd, STDOUT_FILENO) < 0) {
        // Reported by the parent, as the cause of the run's end, in its one line.
        writeAll(answerFd, std::string("cannot redirect the child's standard output: ") + std::strerror(errno));
        _exit(WORK_FAILED_EXIT_CODE);
    }
    try {
        if (!writeAll(answerFd, work())) code = 1;
    } catch (const std::exception& exception) {
        // The reason travels in place of the answer, for the parent to report as the cause.
        writeAll(answerFd, exception.what());
        code = WORK_FAILED_EXIT_CODE;
    }
    std::cout.flush();
    std::fflush(stdout);
    // _exit: the parent's atexit handlers and buffers are not the child's to run or flush.
    _exit(code);
}

}  // namespace

bool runInChildProcess(const std::function<std::string()>& work, ChildOutcome& outcome, std::string& error) {
    outcome = ChildOutcome();
    FILE* outputFile = std::tmpfile();
    if (!outputFile) {
        error = std::string("cannot create a temporary file: ") + std::strerror(errno);
        return false;
    }
    int answer[2];
    if (pipe(answer) != 0) {
        error = std::string("cannot create a pipe: ") + std::strerror(errno);
        std::fclose(outputFile);
        return false;
    }
    // Whatever is still buffered would otherwise be written twice, once by each process.
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        error = std::string("cannot fork: ") + std::strerror(errno);
        close(answer[0]);
        close(answer[1]);
        std::fclose(outputFile);
        return false;
    }
    if (child == 0) {
        close(answer[0]);
        runChild(work, parent, answer[1], fileno(outputFile));
    }
    runningChild = child;

    close(answer[1]);
    outcome.message = readToEnd(answer[0]);
    close(answer[0]);
    // The child is let go only once it has ended and before it is reaped, so that a signal
    // handler never kills a process id that may already belong to another process.
    siginfo_t ended;
    while (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    runningChild = 0;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.exitedNormally = WIFEXITED(status);
    outcome.exitCode = outcome.exitedNormally ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (outcome.exitedNormally && outcome.exitCode == WORK_FAILED_EXIT_CODE) outcome.failure = std::move(outcome.message);
    // The child wrote through its own descriptor of the same open file, so read from the start.
    const int outputFd = fileno(outputFile);
    lseek(outputFd, 0, SEEK_SET);
    outcome.output = readToEnd(outputFd);
    std::fclose(outputFile);
    return true;
}

void killRunningChild() {
    const pid_t child = runningChild;
    if (child <= 0) return;
    kill(child, SIGTERM);
    for (int tries = 0; tries < 100; ++tries) {
        // Once reaped its id may be another process's: it is never signalled again.
        if (waitpid(child, nullptr, WNOHANG) != 0) return;
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}
