// The H.264 settings block: round trips, clamped values and hostile bytes.

#include "media/h264_settings.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrelle {
namespace {

TEST(H264SettingsTest, RoundTripsEverySettingAndClampsOutOfRangeValues) {
    for (const char* preset : kH264Presets) {
        H264Settings s;
        s.rateControl = H264RateControl::ConstantQuality;
        s.constantQuality = 19;
        s.preset = preset;
        s.keyFrameSeconds = 0.5;
        s.stillsAsLongSamples = true;
        EXPECT_EQ(parseH264Settings(serializeH264Settings(s)), s);
    }
    EXPECT_EQ(parseH264Settings(serializeH264Settings(H264Settings{})), H264Settings{});

    H264Settings wild;
    wild.constantQuality = 99;
    wild.preset = "placebo";
    wild.keyFrameSeconds = 60;
    const auto read = parseH264Settings(serializeH264Settings(wild));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->constantQuality, 28);
    EXPECT_EQ(read->preset, "veryfast");
    EXPECT_DOUBLE_EQ(read->keyFrameSeconds, 2.0);

    // Edited bytes are brought into range when read.
    auto bytes = serializeH264Settings(H264Settings{});
    bytes[8] = 7;     // rate control
    bytes[9] = 1;     // quality
    bytes[10] = 200;  // preset
    bytes[12] = 0;    // key frames every 0 ms
    bytes[13] = 0;
    const auto clamped = parseH264Settings(bytes);
    ASSERT_TRUE(clamped);
    EXPECT_EQ(clamped->rateControl, H264RateControl::AverageBitRate);
    EXPECT_EQ(clamped->constantQuality, 18);
    EXPECT_EQ(clamped->preset, "veryfast");
    EXPECT_DOUBLE_EQ(clamped->keyFrameSeconds, 0.5);
}

TEST(H264SettingsTest, ForeignTruncatedAndRandomBytesAreNoSettings) {
    EXPECT_FALSE(parseH264Settings({}));
    auto bytes = serializeH264Settings(H264Settings{});
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(parseH264Settings({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)}));
    auto foreign = bytes;
    foreign[0] = 'X';
    EXPECT_FALSE(parseH264Settings(foreign));
    auto oversized = bytes;
    oversized[6] = 0xFF;  // claims more bytes than there are
    EXPECT_FALSE(parseH264Settings(oversized));
    // A later version with a longer block is read as far as this one knows it.
    auto newer = bytes;
    newer[4] = 2;
    newer[6] = 20;
    newer.resize(20, 0xAB);
    EXPECT_EQ(parseH264Settings(newer), H264Settings{});

    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::vector<std::uint8_t> junk(random() % 40);
        for (auto& b : junk) b = static_cast<std::uint8_t>(random());
        if (i % 2 == 0 && junk.size() >= 4) std::copy(bytes.begin(), bytes.begin() + 4, junk.begin());
        if (const auto s = parseH264Settings(junk)) {
            EXPECT_GE(s->constantQuality, 18);
            EXPECT_LE(s->constantQuality, 28);
            EXPECT_GE(s->keyFrameSeconds, 0.5);
            EXPECT_LE(s->keyFrameSeconds, 2.0);
        }
    }
}

}  // namespace
}  // namespace kestrelle
