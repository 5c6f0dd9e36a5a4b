// Entry point: creates and registers the application, then runs it.
#include "app/Application.h"

int main(int argc, char** argv) {
    Application* application = new Application();
    Application::registerInstance(application);
    application->argc = argc;
    application->argv = argv;
    application->run();
    return 0;
}
