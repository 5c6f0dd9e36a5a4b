// Whole decimal numbers read from command lines: the whole text must be the number, so that
// "2.5" or "2x" is refused instead of being cut to 2.
#pragma once

#include <cstdint>
#include <string_view>

enum class WholeNumberForm {
    // Decimal digits and nothing else, at most 19 of them.
    Digits,
    // White space, then an optional sign, then decimal digits.
    SpacedAndSigned,
};

// On success stores the number, which lies from lowest to highest; a refused text leaves the
// value alone.
bool parseWholeNumber(std::string_view text, uint64_t lowest, uint64_t highest, uint64_t& value);
bool parseWholeNumber(std::string_view text, int lowest, int highest, int& value,
                      WholeNumberForm form = WholeNumberForm::Digits);
