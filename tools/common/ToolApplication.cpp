// Registration of a tool's Application with a command line of the tool's making.
#include "tools/common/ToolApplication.h"

#include "app/Application.h"
#include "tools/common/ToolRun.h"

namespace {

void warnOfGlfwError(int, const char* description) { warn(std::string("GLFW Error: ") + description); }

}  // namespace

std::unique_ptr<Application> registerToolApplication(const std::vector<std::string>& arguments) {
    static std::vector<std::string> argumentTexts;
    static std::vector<char*> argumentPointers;
    argumentTexts = arguments;
    argumentPointers.clear();
    for (std::string& text : argumentTexts) argumentPointers.push_back(&text[0]);
    argumentPointers.push_back(nullptr);

    std::unique_ptr<Application> application = std::make_unique<Application>();
    Application::registerInstance(application.get());
    application->glfwErrorCallback = warnOfGlfwError;
    application->argc = static_cast<int>(argumentTexts.size());
    application->argv = argumentPointers.data();
    return application;
}
