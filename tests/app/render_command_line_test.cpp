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

// The soundtrack's options: clips in the order given, the fit, and a fade of 0 to 10 seconds.
TEST(RenderCommandLine, SoundtrackOptionsKeepTheClipsInOrderAndTheFadeInRange) {
    const auto result = parse({"--audio", "b.mp3", "dir", "--audio=a.flac", "--fit-to-audio",
                               "--audio-fade=2.5", "--audio", "b.mp3"});
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.commandLine.audio, (std::vector<std::string>{"b.mp3", "a.flac", "b.mp3"}));
    EXPECT_EQ(result.commandLine.inputs, std::vector<std::string>{"dir"});
    EXPECT_TRUE(result.commandLine.fitToAudio);
    EXPECT_EQ(result.commandLine.audioFade, 2.5);
    EXPECT_FALSE(parse({"dir"}).commandLine.audioFade) << "none: the setting decides";

    EXPECT_NE(parse({"--audio"}).error.find("--audio"), std::string::npos);
    EXPECT_NE(parse({"--audio="}).error.find("--audio needs a file name"), std::string::npos);
    EXPECT_NE(parse({"--fit-to-audio=1"}).error.find("--fit-to-audio"), std::string::npos);
    EXPECT_NE(
        parse({"--audio-fade", "11"}).error.find("--audio-fade must be a number of seconds from 0 to 10"),
        std::string::npos);
    EXPECT_EQ(parseAudioFade("0"), 0.0);
    EXPECT_EQ(parseAudioFade("10"), 10.0);
    EXPECT_EQ(parseAudioFade("0.25"), 0.25);
    for (const char* bad : {"", "-0.5", "10.001", "2s", " 2", "2 ", "nan", "inf", "1e1", "abc", "2,5"})
        EXPECT_FALSE(parseAudioFade(bad)) << bad;
}

// Pan and zoom options: none or auto, a seed of the whole 64-bit range, and the fill flag.
TEST(RenderCommandLine, MotionOptionsTakeTheirOwnValuesOnly) {
    const auto result = parse({"--motion=auto", "--seed", "18446744073709551615", "--fill", "dir"});
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.commandLine.gentleMotion, true);
    EXPECT_EQ(result.commandLine.motionSeed, 18446744073709551615ull);
    EXPECT_TRUE(result.commandLine.fill);
    EXPECT_EQ(parse({"--motion", "none", "dir"}).commandLine.gentleMotion, false);
    EXPECT_FALSE(parse({"dir"}).commandLine.gentleMotion) << "none: the project or the setting decides";

    EXPECT_NE(parse({"--motion", "fast"}).error.find("--motion must be none or auto"), std::string::npos);
    EXPECT_NE(parse({"--fill=1"}).error.find("--fill"), std::string::npos);
    for (const char* bad : {"", "-1", "18446744073709551616", "1.5", " 7", "0x10"})
        EXPECT_FALSE(parseMotionSeed(bad)) << bad;
    EXPECT_EQ(parseMotionSeed("0"), 0u);
}

}  // namespace
}  // namespace kestrelle
