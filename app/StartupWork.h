// Start-up work that may take long (building a pyramid, waiting for a server, warping a drape) runs
// on a thread of its own while the window stays alive: its events are polled, so that Escape or
// closing the window ends the program at once, and once the work has taken a moment the window
// shows how far it has come. Free of the scene: only the window is drawn into.
#pragma once

#include <functional>

struct GLFWwindow;

// Told the share of the work done, from 0 to 1; false once the work is to stop (the program is
// ending), which it should then do soon and leave nothing behind.
using StartupProgress = std::function<bool(double done)>;

// Runs `work` on a thread of its own and returns when it has; meanwhile polls the window's events
// and draws a progress bar into it after the first quarter second. Only Escape and closing the
// window act (the other keys and the size callbacks wait for the scene that start-up builds):
// they end the process with exit code 0 within a second, telling the work to stop and leaving
// nothing half-written. An exception the work throws is thrown here. `work` must not use GL.
void runWhileResponsive(GLFWwindow* window, const std::function<void(const StartupProgress&)>& work);
