// What a digit key does: plain, 1 to 5 choose the shading mode (on press, repeat and release, with
// Shift too); Ctrl and a digit save the view under it, Alt and a digit recall it. A chord is told
// at the digit's press and holds for its repeats and its release, so that letting go of Ctrl or
// Alt before the digit does not take the digit's release for a plain one.
#pragma once

#include <bitset>

enum class DigitCommand { None, ShadingMode, SaveView, RecallView };

class DigitChords {
public:
    // The command of an event of the digit key `digit` (0 to 9) with GLFW's `action` and `mods`.
    DigitCommand command(int digit, int action, int mods);

private:
    // The digits whose press was a chord and whose release has not come yet.
    std::bitset<10> chorded;
};
