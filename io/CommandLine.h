// The one reader of every program's command line (kelta and its tools): options written
// "--name value" or "--name=value", flags, --help and --version, kelta's positional arguments
// after them, image sizes checked in full, and the refusals' one wording.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What OptionReader::nextOption found.
enum class OptionStep { End, Help, Version, Value, Positional, Error };

// Who says a refusal. A tool prints it after its name ("kelta-shot: unknown option '--fps'
// (see --help)") and quotes the value it refuses; kelta prints it as a line of its own, which
// begins with a capital and points to "kelta --help". kelta alone takes positional arguments.
enum class RefusalVoice { Tool, Kelta };

class OptionReader {
public:
    OptionReader(int argc, const char* const* argv, RefusalVoice voice = RefusalVoice::Tool)
        : argc(argc), argv(argv), voice(voice) {}

    // Moves to the next argument; false when there is none.
    bool next();
    // Moves to the next argument and reads it as --help (or -h), --version, one of the value
    // options named, taking its value, or one of the flags named, with an empty value; in kelta's
    // voice, as the first positional argument (Positional, at positionalStart()) when it is "--" or
    // no option; Error, with the line in `error`, for anything else.
    OptionStep nextOption(const std::vector<const char*>& valueOptions, const std::vector<const char*>& flags,
                          std::string& value, std::string& error);
    // The option's name, without any "=value" written onto it.
    const std::string& name() const { return optionName; }
    // Whether the argument is the flag given, with no value written onto it.
    bool isFlag(const char* flag) const { return !hasInlineValue && optionName == flag; }
    // The value written onto the option or, failing that, the next argument. False with the
    // error line when the command line ends first.
    bool takeValue(std::string& value, std::string& error);
    // After an End or Positional step: where the positional arguments begin in argv (argc: none).
    int positionalStart() const { return firstPositional; }
    // After an End or Positional step: checks the positional arguments against their names, in order.
    // False with the refusal for one that is an option (options come first) or one past the last name.
    bool checkPositionals(const std::vector<const char*>& names, std::string& error) const;

    // The refusals, each one line.
    std::string unknownOption() const;
    std::string missingValue() const;
    std::string badValue(const std::string& expected) const;
    // Puts badValue(expected) into `error` and returns false, for parsers to return at once.
    bool refuse(const std::string& expected, std::string& error) const;

private:
    std::string refusal(std::string text) const;

    int argc;
    const char* const* argv;
    RefusalVoice voice;
    int index = 0;
    int firstPositional = 0;
    std::string optionName;
    std::string inlineValue;
    std::string lastValue;
    bool hasInlineValue = false;
};

// Reads a whole tool command line of value options, flags, --help and --version: each value option
// and flag goes to takeOption (a flag with an empty value), which returns false after
// reader.refuse() when the value is bad. Returns false with one line in `error` at the first
// bad or unknown argument.
bool readOptions(int argc, const char* const* argv, const std::vector<const char*>& valueOptions,
                 const std::vector<const char*>& flags, bool& wantsHelp, bool& wantsVersion, std::string& error,
                 const std::function<bool(const OptionReader& reader, const std::string& value)>& takeOption);

// "WIDTHxHEIGHT", each side a whole number from 1 to largestSide.
bool parseImageSize(const std::string& text, int largestSide, int& width, int& height);
