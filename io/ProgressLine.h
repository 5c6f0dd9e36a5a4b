// A line of progress on standard error (or another stream), rewritten in place as the work goes on:
// the pyramid build's percentage, a video's frames.
#pragma once

#include <cstdio>
#include <string>

class ProgressLine {
public:
    explicit ProgressLine(std::FILE* out = stderr) : out(out) {}

    // Writes `text` over the line shown (a carriage return first), padded to hide a longer one;
    // nothing when the text is the one shown.
    void show(const std::string& text);
    // Ends the line shown, if any, so that what follows starts a line of its own.
    void end();

private:
    std::FILE* out;
    std::string shown;
    bool isShowing = false;
};
