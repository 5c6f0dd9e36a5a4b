// Start-up work that may take long (building a pyramid, waiting for a server, warping a drape) goes
// on while the window stays alive: its events are polled, so that Escape or closing the window ends
// the program at once, and once the work has taken a moment the window shows how far it has come.
// Free of the scene: only the window is drawn into.
#pragma once

#include <chrono>
#include <functional>

struct GLFWwindow;

// Told the share of the work done, from 0 to 1; false once the work is to stop (the program is
// ending), which it should then do soon and leave nothing behind.
using StartupProgress = std::function<bool(double done)>;

// The window while start-up waits. Only Escape and closing the window act (the other keys and the
// size callbacks wait for the scene that start-up builds): they end the process with exit code 0
// within a second, leaving nothing half-written.
class StartupWait {
public:
    explicit StartupWait(GLFWwindow* window);
    // Gives the window its callbacks back.
    ~StartupWait();
    StartupWait(const StartupWait&) = delete;
    StartupWait& operator=(const StartupWait&) = delete;

    // Handles the window's events, waiting for one at most `timeout`, and after the first quarter
    // second draws a bar of the share `done` (or, at 0, a sweeping one). When the window is to
    // close, calls `stop` (which may wait a moment for work to end) and ends the process.
    void poll(double done, std::chrono::milliseconds timeout, const std::function<void()>& stop = {});

private:
    GLFWwindow* window;
    void (*keys)(GLFWwindow*, int, int, int, int);
    void (*sizes)(GLFWwindow*, int, int);
    std::chrono::steady_clock::time_point started;
};

// Runs `work` on a thread of its own and returns when it has, meanwhile polling the window as a
// StartupWait does; closing the window tells the work to stop and gives it half a second. An
// exception the work throws is thrown here. `work` must not use GL.
void runWhileResponsive(GLFWwindow* window, const std::function<void(const StartupProgress&)>& work);
// Hands the memory the process has freed back to the system: glibc keeps what a thread's or a
// released map's work freed for later allocations, which resident memory would go on counting.
void returnFreedMemory();
