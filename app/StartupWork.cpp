// The responsive wait for start-up work: the work on its own thread, the events and a progress bar
// on the main thread, which owns the context.
#include "app/StartupWork.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iostream>
#include <thread>

#include "io/AtomicFile.h"

namespace {

// Work shorter than this shows nothing: the first frames of a quick start stay as they are.
constexpr std::chrono::milliseconds SHOWN_AFTER{250};
// How long the work is given to stop once the window is closed, before the process ends anyway.
constexpr std::chrono::milliseconds STOP_GRACE{500};
constexpr std::chrono::milliseconds POLL_INTERVAL{50};

void closeOnEscape(GLFWwindow* window, int key, int, int action, int) {
    if (key == GLFW_KEY_ESCAPE && action == GLFW_PRESS) glfwSetWindowShouldClose(window, 1);
}

// A bar across the middle of the window, its lit part the share done; work that tells no share (a
// wait for a server) sweeps a lit fifth along it instead, so that the window shows it is alive.
// Drawn by clearing rectangles, so that it needs no program.
void drawProgress(GLFWwindow* window, double done, double seconds) {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    if (width <= 0 || height <= 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    const int barWidth = width * 3 / 5;
    const int barHeight = std::max(4, height / 60);
    const int left = (width - barWidth) / 2;
    const int bottom = (height - barHeight) / 2;
    glEnable(GL_SCISSOR_TEST);
    glScissor(left, bottom, barWidth, barHeight);
    glClearColor(0.2f, 0.2f, 0.2f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (done > 0.0) {
        glScissor(left, bottom, static_cast<int>(barWidth * std::min(done, 1.0)), barHeight);
    } else {
        const double sweep = std::fabs(std::fmod(seconds / 2.0, 2.0) - 1.0);
        const int lit = barWidth / 5;
        glScissor(left + static_cast<int>(sweep * (barWidth - lit)), bottom, lit, barHeight);
    }
    glClearColor(0.85f, 0.85f, 0.85f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glfwSwapBuffers(window);
}

}  // namespace

StartupWait::StartupWait(GLFWwindow* window)
    : window(window),
      keys(glfwSetKeyCallback(window, closeOnEscape)),
      sizes(glfwSetFramebufferSizeCallback(window, nullptr)),
      started(std::chrono::steady_clock::now()) {}

StartupWait::~StartupWait() {
    glfwSetKeyCallback(window, keys);
    glfwSetFramebufferSizeCallback(window, sizes);
}

void StartupWait::poll(double done, std::chrono::milliseconds timeout, const std::function<void()>& stop) {
    glfwWaitEventsTimeout(std::chrono::duration<double>(timeout).count());
    if (glfwWindowShouldClose(window)) {
        if (stop) stop();
        // A read stalled on a server cannot be stopped: the process ends without it, removing any
        // file still being written.
        removeUnfinishedFile();
        std::cout << std::flush;
        std::cerr << std::flush;
        std::fflush(nullptr);
        _exit(0);
    }
    const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - started;
    if (waited >= SHOWN_AFTER) drawProgress(window, done, waited.count());
}

void runWhileResponsive(GLFWwindow* window, const std::function<void(const StartupProgress&)>& work) {
    std::atomic<double> done{0.0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> finished{false};
    std::exception_ptr thrown;
    const StartupProgress progress = [&](double share) {
        done.store(share);
        return !stopping.load();
    };
    std::thread worker([&] {
        try {
            work(progress);
        } catch (...) {
            thrown = std::current_exception();
        }
        finished.store(true);
        glfwPostEmptyEvent();
    });
    const auto stop = [&] {
        stopping.store(true);
        const auto giveUp = std::chrono::steady_clock::now() + STOP_GRACE;
        while (!finished.load() && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    {
        StartupWait wait(window);
        while (!finished.load()) wait.poll(done.load(), POLL_INTERVAL, stop);
    }
    worker.join();
    // What the work freed stays in its thread's own heap, which nothing else allocates from (a
    // pyramid build leaves some 60 MB there): it is handed back before the rest of start-up adds its
    // own.
    returnFreedMemory();
    if (thrown) std::rethrow_exception(thrown);
}

void returnFreedMemory() {
    // Under AddressSanitizer the heap is the sanitizer's, and glibc's trim only leaves it blocks it
    // takes for leaks.
#ifndef __SANITIZE_ADDRESS__
    malloc_trim(0);
#endif
}
