// Option splitting, the refusals' wording and value checks shared by kelta, kelta-datagen,
// kelta-shot and kelta-bench.
#include "io/CommandLine.h"

#include "io/WholeNumber.h"

#include <cctype>

namespace {

// What stands after kelta's height map as an option typed too late: a scale may be negative ("-1").
bool looksLikeOption(const std::string& argument) {
    return (argument.size() > 2 && argument.rfind("--", 0) == 0) || argument == "-h";
}

}  // namespace

bool OptionReader::next() {
    if (++index >= argc) {
        firstPositional = argc;
        return false;
    }
    optionName = argv[index];
    const size_t equals = optionName.find('=');
    hasInlineValue = optionName.rfind("--", 0) == 0 && equals != std::string::npos;
    if (hasInlineValue) {
        inlineValue = optionName.substr(equals + 1);
        optionName.resize(equals);
    }
    lastValue.clear();
    return true;
}

OptionStep OptionReader::nextOption(const std::vector<const char*>& valueOptions,
                                    const std::vector<const char*>& flags, std::string& value, std::string& error) {
    if (!next()) return OptionStep::End;
    if (voice == RefusalVoice::Kelta) {
        const std::string argument = argv[index];
        if (argument == "--" || argument.size() < 2 || argument[0] != '-') {
            firstPositional = argument == "--" ? index + 1 : index;
            return OptionStep::Positional;
        }
    }
    if (isFlag("--help") || isFlag("-h")) return OptionStep::Help;
    if (isFlag("--version")) return OptionStep::Version;
    for (const char* flag : flags) {
        if (isFlag(flag)) {
            value.clear();
            lastValue.clear();
            return OptionStep::Value;
        }
    }
    for (const char* option : valueOptions) {
        if (optionName == option) return takeValue(value, error) ? OptionStep::Value : OptionStep::Error;
    }
    // A stray word is no misspelt option: say what it is.
    const std::string argument = argv[index];
    error = argument.empty() || argument[0] != '-'
                ? refusal("extra argument '" + argument + "': every argument is an option or its value")
                : unknownOption();
    return OptionStep::Error;
}

bool OptionReader::takeValue(std::string& value, std::string& error) {
    if (hasInlineValue) {
        value = inlineValue;
    } else if (index + 1 < argc) {
        value = argv[++index];
    } else {
        error = missingValue();
        return false;
    }
    lastValue = value;
    return true;
}

bool OptionReader::checkPositionals(const std::vector<const char*>& names, std::string& error) const {
    for (int at = firstPositional; at < argc; ++at) {
        const std::string argument = argv[at];
        const size_t position = static_cast<size_t>(at - firstPositional);
        if (position > 0 && looksLikeOption(argument)) {
            error = refusal("option '" + argument + "' comes after the " + names.front() + ": options go before it");
            return false;
        }
        if (position >= names.size()) {
            error = refusal("extra argument '" + argument + "' after the " + names.back());
            return false;
        }
    }
    return true;
}

std::string OptionReader::refusal(std::string text) const {
    if (voice == RefusalVoice::Tool) return text + " (see --help)";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text + " (see kelta --help)";
}

std::string OptionReader::unknownOption() const { return refusal("unknown option '" + std::string(argv[index]) + "'"); }

std::string OptionReader::missingValue() const { return refusal(optionName + " needs a value"); }

std::string OptionReader::badValue(const std::string& expected) const {
    const std::string takes = optionName + " takes " + expected;
    return voice == RefusalVoice::Tool ? takes + ", not '" + lastValue + "'" : refusal(takes);
}

bool OptionReader::refuse(const std::string& expected, std::string& error) const {
    error = badValue(expected);
    return false;
}

bool readOptions(int argc, const char* const* argv, const std::vector<const char*>& valueOptions,
                 const std::vector<const char*>& flags, bool& wantsHelp, bool& wantsVersion, std::string& error,
                 const std::function<bool(const OptionReader& reader, const std::string& value)>& takeOption) {
    OptionReader reader(argc, argv);
    std::string value;
    for (;;) {
        switch (reader.nextOption(valueOptions, flags, value, error)) {
        case OptionStep::End:
        case OptionStep::Positional:  // only in kelta's voice
            return true;
        case OptionStep::Error:
            return false;
        case OptionStep::Help:
            wantsHelp = true;
            break;
        case OptionStep::Version:
            wantsVersion = true;
            break;
        case OptionStep::Value:
            if (!takeOption(reader, value)) return false;
            break;
        }
    }
}

bool parseImageSize(const std::string& text, int largestSide, int& width, int& height) {
    const size_t x = text.find('x');
    int parsedWidth = 0, parsedHeight = 0;
    if (x == std::string::npos || !parseWholeNumber(text.substr(0, x), 1, largestSide, parsedWidth) ||
        !parseWholeNumber(text.substr(x + 1), 1, largestSide, parsedHeight)) {
        return false;
    }
    width = parsedWidth;
    height = parsedHeight;
    return true;
}
