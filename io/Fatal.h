// Ending the process on a fatal condition, after the one line that explains it.
#pragma once

#include <string>

// How a fatal condition reaches the person: `line` is the program's own message, `detail` (may
// be empty) names the file or argument at fault. kelta writes the line to standard output, as
// other programs may read it there, and the detail as "kelta: <detail>" to standard error; the
// tools install a reporter that writes both as their one "<tool>: <reason>" line.
using FatalReporter = void (*)(const std::string& line, const std::string& detail);
void setFatalReporter(FatalReporter reporter);

// Reports the line (and the detail) through the installed reporter, then exits with code 1.
[[noreturn]] void fatal(const std::string& line, const std::string& detail = "");
// Writes the text as it stands (no end of line added), then exits with code 1.
[[noreturn]] void fatalWithoutNewline(const std::string& text);

// Has an allocation failure that nothing catches, on any thread, end the process with one line
// through the installed reporter and exit code 1, where it would abort. Call first in main.
void reportUncaughtAllocationFailures();
