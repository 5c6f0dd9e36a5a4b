// What the tools share in reading their command lines: options written "--name value" or
// "--name=value", image sizes checked in full, and the one-line errors.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What OptionReader::nextOption found.
enum class OptionStep { End, Help, Version, Value, Error };

class OptionReader {
public:
    OptionReader(int argc, const char* const* argv) : argc(argc), argv(argv) {}

    // Moves to the next argument; false when there is none.
    bool next();
    // Moves to the next argument and reads it as --help (or -h), --version, one of the value
    // options named, taking its value, or one of the flags named, with an empty value; Error,
    // with the line in `error`, for anything else.
    OptionStep nextOption(const std::vector<const char*>& valueOptions, const std::vector<const char*>& flags,
                          std::string& value, std::string& error);
    // The option's name, without any "=value" written onto it.
    const std::string& name() const { return optionName; }
    // Whether the argument is the flag given, with no value written onto it.
    bool isFlag(const char* flag) const { return !hasInlineValue && optionName == flag; }
    // The value written onto the option or, failing that, the next argument. False with the
    // error line when the command line ends first.
    bool takeValue(std::string& value, std::string& error);
    // The error line for an argument that is no known option.
    std::string unknownOption() const;
    // The error line for a value that is not what the option takes.
    std::string badValue(const std::string& expected) const;
    // Puts badValue(expected) into `error` and returns false, for parsers to return at once.
    bool refuse(const std::string& expected, std::string& error) const;

private:
    int argc;
    const char* const* argv;
    int index = 0;
    std::string optionName;
    std::string inlineValue;
    std::string lastValue;
    bool hasInlineValue = false;
};

// Reads a whole command line of value options, flags, --help and --version: each value option
// and flag goes to takeOption (a flag with an empty value), which returns false after
// reader.refuse() when the value is bad. Returns false with one line in `error` at the first
// bad or unknown argument.
bool readOptions(int argc, const char* const* argv, const std::vector<const char*>& valueOptions,
                 const std::vector<const char*>& flags, bool& wantsHelp, bool& wantsVersion, std::string& error,
                 const std::function<bool(const OptionReader& reader, const std::string& value)>& takeOption);

// "WIDTHxHEIGHT", each side a whole number from 1 to largestSide.
bool parseImageSize(const std::string& text, int largestSide, int& width, int& height);
