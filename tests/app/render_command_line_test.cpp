#include "app/render_command_line.h"

#include <gtest/gtest.h>

namespace kestrelle {
namespace {

RenderCommandLineResult parse(std::vector<std::string> arguments) {
    return parseRenderCommandLine(arguments);
}

TEST(RenderCommandLine, OptionsInEveryFormAndInputsInOrder) {
    const auto result = parse({"a.jpg", "-o", "out", "--profile=HD 720", "-s2.5", "--transition-duration",
                               "1", "-e", "12", "-y", "-q", "dir", "--", "-odd.jpg"});
    ASSERT_EQ(result.error, "");
    const RenderCommandLine& line = result.commandLine;
    EXPECT_EQ(line.inputs, (std::vector<std::string>{"a.jpg", "dir", "-odd.jpg"}));
    EXPECT_EQ(line.output, "out");
    EXPECT_EQ(line.profile, "HD 720");
    EXPECT_EQ(line.slideDuration, 2.5);
    EXPECT_EQ(line.transitionDuration, 1.0);
    EXPECT_EQ(line.effects, std::vector<int>{12});
    EXPECT_TRUE(line.overwrite);
    EXPECT_TRUE(line.quiet);
    EXPECT_FALSE(line.listProfiles);
}

TEST(RenderCommandLine, RefusesMalformedOptionsNamingThem) {
    EXPECT_NE(parse({"--bogus"}).error.find("--bogus"), std::string::npos);
    EXPECT_NE(parse({"-o"}).error.find("-o"), std::string::npos);
    EXPECT_NE(parse({"--quiet=yes"}).error.find("--quiet"), std::string::npos);
    EXPECT_NE(parse({"-e", "13"}).error.find("effect"), std::string::npos);
    EXPECT_NE(parse({"-s", "0"}).error.find("slide-duration"), std::string::npos);
    EXPECT_NE(parse({"-t", "-1"}).error.find("transition-duration"), std::string::npos);
}

TEST(RenderCommandLine, NumbersMustUseTheWholeTextAndStayInRange) {
    EXPECT_EQ(parseDuration("3"), 3.0);
    EXPECT_EQ(parseDuration("0.1"), 0.1);
    for (const char* bad : {"", "0", "-2", "3s", "nan", "inf", "1e999", " 3", "abc"}) {
        EXPECT_FALSE(parseDuration(bad)) << bad;
    }
    EXPECT_EQ(parseEffectList("1,2,12"), (std::vector<int>{1, 2, 12}));
    for (const char* bad : {"1,", ",1", "1,,2", "1,13", "1;2"})
        EXPECT_TRUE(parseEffectList(bad).empty()) << bad;
    EXPECT_EQ(parseEffectNumber("0"), 0);
    EXPECT_EQ(parseEffectNumber("12"), 12);
    for (const char* bad : {"", "13", "-1", "+1", "1.0", "99999999999", "x"}) {
        EXPECT_FALSE(parseEffectNumber(bad)) << bad;
    }
}

}  // namespace
}  // namespace kestrelle
