// The Application of a tool that runs the program's own start-up and frame.
#pragma once

#include <memory>
#include <string>
#include <vector>

class Application;

// Creates and registers the process's Application with the given command line (a program
// name first, then the terrain's arguments, which live as long as the process, as a program's
// own command line does). GLFW's errors become the tool's own "<tool>: <reason>" lines on
// standard error, as its fatal lines are since startTool. Call once per process; the caller ends
// the run with the application's shutDown.
std::unique_ptr<Application> registerToolApplication(const std::vector<std::string>& arguments);
