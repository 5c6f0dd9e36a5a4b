// F12's screenshot: the window's picture as the final pass drew it, without the panel, written as
// a PNG named by the local time.
#pragma once

#include <ctime>
#include <string>

class Application;

// "kelta-2026-12-09-14-03-22": the name, without its extension, of a screenshot taken at that
// local time.
std::string screenshotStem(const std::tm& localTime);

// The PNG a screenshot taken at `localTime` goes to in `folder` (empty: the working directory):
// the stem's name, or with "-2", "-3", ... after it when a file already has that name, so that a
// second screenshot within one second keeps the first.
std::string screenshotPath(const std::string& folder, const std::tm& localTime);

// Reads the final pass's picture from the output framebuffer (call it after the final pass and
// before the panel draws) and writes it under the screenshot folder, saying which file in one line
// on standard output, or why it could not be written in one line on standard error.
void takeScreenshot(const Application& app);
