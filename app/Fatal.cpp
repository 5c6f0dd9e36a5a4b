#include "app/Fatal.h"

#include <cstdlib>
#include <iostream>

void fatal(const std::string& line) {
    std::cout << line << std::endl;
    std::exit(1);
}

void fatalWithoutNewline(const std::string& text) {
    std::cout << text << std::flush;
    std::exit(1);
}
