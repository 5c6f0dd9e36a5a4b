// The Application of a tool that runs the program's own start-up and frame.
#pragma once

#include <string>
#include <vector>

class Application;

// Creates and registers the process's Application with the given command line (a program
// name first, then the terrain's arguments), which lives as long as the process, as a
// program's own command line does. The program's fatal lines and GLFW's errors become the
// tool's own "<tool>: <reason>" lines on standard error. Call once per process.
Application& registerToolApplication(const std::vector<std::string>& arguments);
