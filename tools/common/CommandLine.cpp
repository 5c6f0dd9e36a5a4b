// Option splitting and value checks shared by kelta-datagen, kelta-shot and kelta-bench.
#include "tools/common/CommandLine.h"

#include "io/WholeNumber.h"

bool OptionReader::next() {
    if (++index >= argc) return false;
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
    error = unknownOption();
    return OptionStep::Error;
}

bool OptionReader::takeValue(std::string& value, std::string& error) {
    if (hasInlineValue) {
        value = inlineValue;
    } else if (index + 1 < argc) {
        value = argv[++index];
    } else {
        error = optionName + " needs a value (see --help)";
        return false;
    }
    lastValue = value;
    return true;
}

std::string OptionReader::unknownOption() const {
    return "unknown option '" + std::string(argv[index]) + "' (see --help)";
}

std::string OptionReader::badValue(const std::string& expected) const {
    return optionName + " takes " + expected + ", not '" + lastValue + "'";
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
