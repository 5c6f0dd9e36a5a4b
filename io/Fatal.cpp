#include "io/Fatal.h"

#include <cstdlib>
#include <iostream>

namespace {

void reportOnStandardStreams(const std::string& line, const std::string& detail) {
    std::cout << line << std::endl;
    if (!detail.empty()) std::cerr << "kelta: " << detail << std::endl;
}

FatalReporter installedReporter = reportOnStandardStreams;

}  // namespace

void setFatalReporter(FatalReporter reporter) { installedReporter = reporter ? reporter : reportOnStandardStreams; }

void fatal(const std::string& line, const std::string& detail) {
    installedReporter(line, detail);
    std::exit(1);
}

void fatalWithoutNewline(const std::string& text) {
    std::cout << text << std::flush;
    std::exit(1);
}
