// Ending the process on a fatal condition, after the one line that explains it.
#pragma once

#include <string>

// Writes the line and an end of line to standard output, then exits with code 1.
[[noreturn]] void fatal(const std::string& line);
// Writes the text as it stands (no end of line added), then exits with code 1.
[[noreturn]] void fatalWithoutNewline(const std::string& text);
