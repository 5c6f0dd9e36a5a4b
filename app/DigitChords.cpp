#include "app/DigitChords.h"

#include <GLFW/glfw3.h>

#include "show/SavedViews.h"

DigitCommand DigitChords::command(int digit, int action, int mods) {
    if (digit < 0 || digit > 9) return DigitCommand::None;
    if (action == GLFW_PRESS) {
        const bool control = (mods & GLFW_MOD_CONTROL) != 0, alt = (mods & GLFW_MOD_ALT) != 0;
        chorded[digit] = control || alt;
        // Ctrl and Alt together is AltGr on many layouts, which types characters, not commands.
        if (control && alt) return DigitCommand::None;
        const bool numbersView = digit >= FIRST_VIEW_NUMBER && digit <= LAST_VIEW_NUMBER;
        if (control) return numbersView ? DigitCommand::SaveView : DigitCommand::None;
        if (alt) return numbersView ? DigitCommand::RecallView : DigitCommand::None;
    } else if (chorded[digit]) {
        if (action == GLFW_RELEASE) chorded[digit] = false;
        return DigitCommand::None;
    }
    return digit >= 1 && digit <= 5 ? DigitCommand::ShadingMode : DigitCommand::None;
}
