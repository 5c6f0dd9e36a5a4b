// Progress shown in place on a terminal.
#include "io/ProgressLine.h"

void ProgressLine::show(const std::string& text) {
    if (isShowing && text == shown) return;
    std::string line = "\r" + text;
    if (isShowing && shown.size() > text.size()) line.append(shown.size() - text.size(), ' ');
    std::fputs(line.c_str(), out);
    std::fflush(out);
    shown = text;
    isShowing = true;
}

void ProgressLine::end() {
    if (isShowing) std::fputc('\n', out);
    std::fflush(out);
    isShowing = false;
    shown.clear();
}
