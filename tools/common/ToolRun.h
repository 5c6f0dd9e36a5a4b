// What every tool does at its start and end: diagnostics as "<tool>: <reason>" on standard
// error, --version, nothing left behind when a signal ends the run, and an exit code that says
// whether the results reached standard output.
#pragma once

#include <string>

// Call first in main, before anything opens a file, in place of ensureStandardDescriptors: it
// keeps descriptors 0 to 2 taken the same way, so that no file lands on a closed one, but first
// notes whether standard output was closed, which finishTool then reports; and has SIGINT,
// SIGTERM and SIGHUP run `onEndingSignal` (which must be async-signal-safe), remove the file
// being written, and end the process by that same signal. Fatal lines (io/Fatal.h), those of an
// allocation failure that nothing catches included, go to reportFatalAsTool.
void startTool(const char* tool, void (*onEndingSignal)() = nullptr);

// The tools' fatal reporter: the line and its detail as one "<tool>: <line>: <detail>" line on
// standard error, then exit code 1.
void reportFatalAsTool(const std::string& line, const std::string& detail);

// Writes "<tool>: <reason>" to standard error, removes the files being written (removeUnfinishedFile)
// and exits with code 1.
[[noreturn]] void fail(const std::string& reason);
// Writes "<tool>: <message>" to standard error and goes on.
void warn(const std::string& message);

// Writes results (help and version texts included) to standard output at once. When standard
// output cannot take them the run goes on, and finishTool reports the reason.
void printResult(const std::string& text);

// "<tool> <version>" as a result.
void printVersion();

// Flushes standard output and error; exits with code 1 and a line when standard output was
// closed or could not take a result (a full device, say). Returns the exit code 0.
int finishTool();
