// Whole-number reading on std::from_chars, which itself takes neither white space nor a plus sign.
#include "io/WholeNumber.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace {

// The longest digit string whose every value fits in 64 bits; longer ones are refused even when
// leading zeros keep the value small.
const size_t MAX_DIGITS = 19;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The sign and size of the number the text writes in the given form.
bool readWholeNumber(std::string_view text, WholeNumberForm form, bool& negative, uint64_t& magnitude) {
    negative = false;
    if (form == WholeNumberForm::Digits && text.size() > MAX_DIGITS) return false;
    if (form == WholeNumberForm::SpacedAndSigned) {
        while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            negative = text.front() == '-';
            text.remove_prefix(1);
        }
    }
    // Into an unsigned number from_chars takes digits only, so a second sign is refused too.
    const char* end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, magnitude);
    return result.ec == std::errc() && result.ptr == end;
}

}  // namespace

bool parseWholeNumber(std::string_view text, uint64_t lowest, uint64_t highest, uint64_t& value) {
    bool negative = false;
    uint64_t parsed = 0;
    if (!readWholeNumber(text, WholeNumberForm::Digits, negative, parsed) || parsed < lowest || parsed > highest) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseWholeNumber(std::string_view text, int lowest, int highest, int& value, WholeNumberForm form) {
    bool negative = false;
    uint64_t magnitude = 0;
    // Past INT64_MAX every number is outside any int range, so the signed value cannot wrap.
    if (!readWholeNumber(text, form, negative, magnitude) || magnitude > uint64_t(INT64_MAX)) return false;
    const int64_t parsed = negative ? -int64_t(magnitude) : int64_t(magnitude);
    if (parsed < lowest || parsed > highest) return false;
    value = static_cast<int>(parsed);
    return true;
}
