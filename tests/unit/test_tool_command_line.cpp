// The command-line reading that kelta and its tools share.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/WholeNumber.h"
#include "io/CommandLine.h"

TEST(ToolCommandLine, WholeNumbersAreDigitsOnlyAndWithinBounds) {
    uint64_t value = 7;
    EXPECT_TRUE(parseWholeNumber("18446744073709551", 0, UINT64_MAX, value));
    EXPECT_EQ(value, 18446744073709551u);
    EXPECT_FALSE(parseWholeNumber("99999999999999999999", 0, UINT64_MAX, value)) << "20 digits could wrap";
    for (const char* text : {"", "+5", "-5", " 5", "5 ", "5x", "0x10", "1e3", "５"}) {
        EXPECT_FALSE(parseWholeNumber(text, 0, 100, value)) << text;
    }
    EXPECT_EQ(value, 18446744073709551u) << "a refused text leaves the value alone";

    int small = 0;
    EXPECT_TRUE(parseWholeNumber("0064", 64, 8192, small));
    EXPECT_EQ(small, 64);
    EXPECT_FALSE(parseWholeNumber("63", 64, 8192, small));
    EXPECT_FALSE(parseWholeNumber("8193", 64, 8192, small));
    EXPECT_FALSE(parseWholeNumber("4294967297", 0, 100, small)) << "no wrap into the int range";
}

TEST(ToolCommandLine, ImageSizesNeedBothSidesInRange) {
    int width = 0, height = 0;
    EXPECT_TRUE(parseImageSize("1x16384", 16384, width, height));
    EXPECT_EQ(width, 1);
    EXPECT_EQ(height, 16384);
    for (const char* text : {"0x5", "5x0", "16385x1", "5", "5x", "x5", "5X5", "5x5x5", "-5x5"}) {
        EXPECT_FALSE(parseImageSize(text, 16384, width, height)) << text;
    }
    EXPECT_EQ(width, 1) << "a refused size leaves the sides alone";
}

TEST(ToolCommandLine, OptionsTakeValuesInlineOrFromTheNextArgument) {
    const std::vector<const char*> argv{"tool", "--a=1", "--b", "2", "--c=", "--flag", "--flag=x", "plain", "--d"};
    OptionReader reader(static_cast<int>(argv.size()), argv.data());
    std::string value, error;

    ASSERT_TRUE(reader.next());
    EXPECT_EQ(reader.name(), "--a");
    ASSERT_TRUE(reader.takeValue(value, error));
    EXPECT_EQ(value, "1");

    ASSERT_TRUE(reader.next());
    ASSERT_TRUE(reader.takeValue(value, error));
    EXPECT_EQ(value, "2");
    EXPECT_EQ(reader.badValue("a letter"), "--b takes a letter, not '2'");

    ASSERT_TRUE(reader.next());
    ASSERT_TRUE(reader.takeValue(value, error));
    EXPECT_EQ(value, "") << "an empty inline value is still a value";

    ASSERT_TRUE(reader.next());
    EXPECT_TRUE(reader.isFlag("--flag"));
    ASSERT_TRUE(reader.next());
    EXPECT_FALSE(reader.isFlag("--flag")) << "a flag given a value is not that flag";
    EXPECT_EQ(reader.unknownOption(), "unknown option '--flag=x' (see --help)");

    ASSERT_TRUE(reader.next());
    EXPECT_EQ(reader.name(), "plain");
    ASSERT_TRUE(reader.next());
    EXPECT_FALSE(reader.takeValue(value, error));
    EXPECT_EQ(error, "--d needs a value (see --help)");
    EXPECT_FALSE(reader.next());
}

TEST(ToolCommandLine, NextOptionSortsHelpValuesFlagsAndUnknownArguments) {
    const std::vector<const char*> argv{"tool", "--size=2x2", "-h", "--lod", "--map", "a.bmp", "--size", "--frames", "3"};
    OptionReader reader(static_cast<int>(argv.size()), argv.data());
    const auto values = {"--size", "--map"};
    const auto flags = {"--lod"};
    std::string value, error;
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Value);
    EXPECT_EQ(value, "2x2");
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Help);
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Value);
    EXPECT_EQ(reader.name(), "--lod");
    EXPECT_EQ(value, "");
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Value);
    EXPECT_EQ(reader.name(), "--map");
    EXPECT_EQ(value, "a.bmp");
    // A value option takes the next argument whatever it looks like, as getopt does.
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Value);
    EXPECT_EQ(value, "--frames");
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::Error);
    EXPECT_EQ(error, "extra argument '3': every argument is an option or its value (see --help)");
    EXPECT_EQ(reader.nextOption(values, flags, value, error), OptionStep::End);
}

TEST(ToolCommandLine, KeltasPositionalArgumentsFollowItsOptionsAndAreCounted) {
    const std::vector<const char*> names{"height map", "horizontal scale", "height scale"};
    struct Case {
        std::vector<const char*> arguments;  // after the program name
        int firstPositional;                 // in argv; 0 where a line refuses the command line
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {{"--lod", "map.tif", "2", "20"}, 2, ""},
        {{"--lod"}, 2, ""},
        {{"--", "--map.tif", "-1"}, 2, ""},  // a negative scale is the scale reader's to refuse
        {{"-", "2"}, 1, ""},
        {{"map.tif", "--lod"}, 0, "Option '--lod' comes after the height map: options go before it (see kelta --help)"},
        {{"map.tif", "2", "-h"}, 0, "Option '-h' comes after the height map: options go before it (see kelta --help)"},
        {{"map.tif", "2", "20", "--lod"}, 0,
         "Option '--lod' comes after the height map: options go before it (see kelta --help)"},
        {{"map.tif", "2", "20", "extra"}, 0, "Extra argument 'extra' after the height scale (see kelta --help)"},
        {{"--lod=1", "map.tif"}, 0, "Unknown option '--lod=1' (see kelta --help)"},
        {{"--exaggeration"}, 0, "--exaggeration needs a value (see kelta --help)"},
        {{"-x", "map.tif"}, 0, "Unknown option '-x' (see kelta --help)"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"kelta"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        OptionReader reader(static_cast<int>(argv.size()), argv.data(), RefusalVoice::Kelta);
        std::string value, error;
        OptionStep step;
        while ((step = reader.nextOption({"--exaggeration"}, {"--lod"}, value, error)) == OptionStep::Value) {
        }
        const bool accepted = step != OptionStep::Error && reader.checkPositionals(names, error);
        EXPECT_EQ(accepted ? "" : error, c.refusal) << c.arguments.front();
        if (accepted) {
            EXPECT_EQ(reader.positionalStart(), c.firstPositional) << c.arguments.front();
        }
    }
    // Kelta's bad value points to its help instead of quoting the value.
    const std::vector<const char*> argv{"kelta", "--exaggeration=0"};
    OptionReader reader(static_cast<int>(argv.size()), argv.data(), RefusalVoice::Kelta);
    std::string value, error;
    ASSERT_EQ(reader.nextOption({"--exaggeration"}, {}, value, error), OptionStep::Value);
    EXPECT_EQ(reader.badValue("a number above 0"), "--exaggeration takes a number above 0 (see kelta --help)");
}
