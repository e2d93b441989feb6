#include "media/mp3_encoder.h"

#include "tests/support/temp_home.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::commandOutput;
using testing::readFile;

class Mp3EncoderTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Mp3EncoderLibrary::setLibraryNameForTesting("");
        ASSERT_TRUE(Mp3EncoderLibrary::load()) << "libmp3lame.so.0 is required";
    }
    void TearDown() override {
        Mp3EncoderLibrary::setLibraryNameForTesting("");
        Mp3EncoderLibrary::load();
        TempHomeTest::TearDown();
    }

    static std::unique_ptr<Mp3Encoder> readyEncoder() {
        auto encoder = Mp3Encoder::create();
        if (!encoder) return nullptr;
        EXPECT_EQ(encoder->applyParameters(), 0);
        EXPECT_GE(encoder->initParams(), 0);
        return encoder;
    }
    std::string log() const { return readFile(dataFolder() + "/run.log"); }
};

TEST_F(Mp3EncoderTest, LoadsLibraryAndResetsSettings) {
    EXPECT_TRUE(Mp3EncoderLibrary::libraryReady());
    EXPECT_FALSE(Mp3EncoderLibrary::version().empty());
    const Mp3EncoderSettings s = Mp3EncoderLibrary::settings();
    EXPECT_EQ(s.bitRateKbps, 192);
    EXPECT_EQ(s.id1, 3);
    EXPECT_EQ(s.id3, 0);
    EXPECT_EQ(s.id17, 19500);
    EXPECT_EQ(s.id19, -1);
    // Loading again (as every writer open does) keeps the library usable.
    EXPECT_TRUE(Mp3EncoderLibrary::load());
    EXPECT_TRUE(Mp3Encoder::create());
}

TEST_F(Mp3EncoderTest, MissingOrIncompleteLibraryIsNotReady) {
    auto before = Mp3Encoder::create();  // made while the library was ready
    ASSERT_TRUE(before);

    Mp3EncoderLibrary::setLibraryNameForTesting("libkestrelle-none.so.0");
    EXPECT_FALSE(Mp3EncoderLibrary::load());
    EXPECT_FALSE(Mp3EncoderLibrary::libraryReady());
    EXPECT_FALSE(Mp3Encoder::create());
    EXPECT_EQ(Mp3EncoderLibrary::version(), "");
    const std::string text = log();
    EXPECT_NE(text.find("lame_init.cpp,"), std::string::npos) << text;
    EXPECT_NE(text.find("|Failed to load libkestrelle-none.so.0.:LastError=0x"), std::string::npos) << text;

    // A library that loads but lacks the entry points.
    Mp3EncoderLibrary::setLibraryNameForTesting("libz.so.1");
    EXPECT_FALSE(Mp3EncoderLibrary::load());
    EXPECT_FALSE(Mp3Encoder::create());

    // An encoder made earlier keeps working.
    EXPECT_EQ(before->applyParameters(), 0);
    EXPECT_GE(before->initParams(), 0);
    std::vector<std::uint8_t> out;
    std::vector<std::int16_t> silence(2 * 1152 * 4, 0);
    EXPECT_GE(before->encodeInterleaved(silence.data(), 1152 * 4, out), 0);
}

// The messages of the run log, in order.
std::vector<std::string> logMessages(const std::string& text) {
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const std::size_t bar = line.find('|');
        if (bar != std::string::npos) messages.push_back(line.substr(bar + 1));
        start = end + 2;
    }
    return messages;
}

// The code after a failed load says why: ENOENT for a missing file, and the loader's own words follow.
TEST_F(Mp3EncoderTest, AFailedLoadLogsItsCauseAndTheLoadersText) {
    const std::string notALibrary = path("fake.so");
    ASSERT_TRUE(testing::writeFile(notALibrary, "this is no shared object"));
    const struct {
        std::string name;
        std::string code;
        std::string loaderWords;
    } cases[] = {
        {"libkestrelle-none.so.0", "0x2", "libkestrelle-none.so.0"},
        {path("missing/libmp3lame.so.0"), "0x2", "No such file or directory"},
        {notALibrary, "0x50", "fake.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((dataFolder() + "/run.log").c_str());
        Mp3EncoderLibrary::setLibraryNameForTesting(c.name);
        EXPECT_FALSE(Mp3EncoderLibrary::load());
        const std::vector<std::string> messages = logMessages(log());
        const std::string expected = "Failed to load " + c.name + ".:LastError=" + c.code + ".";
        std::size_t at = 0;
        while (at < messages.size() && messages[at] != expected) ++at;
        ASSERT_LT(at + 1, messages.size()) << log();
        EXPECT_NE(messages[at + 1].find(c.loaderWords), std::string::npos) << messages[at + 1];
    }
}

TEST_F(Mp3EncoderTest, WaveFormatAndStreamHeader) {
    const Mp3WaveFormat format = mp3WaveFormat(Mp3EncoderLibrary::settings());
    const auto bytes = waveFormatBytes(format);
    const std::uint8_t expected[30] = {0x55, 0,  2, 0, 0x44, 0xAC, 0, 0, 0xC0, 0x5D, 0,    0, 1, 0, 0,
                                       0,    12, 0, 1, 0,    2,    0, 0, 0,    0xDB, 0x02, 1, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              std::vector<std::uint8_t>(expected, expected + 30));
    EXPECT_EQ(format.averageBytesPerSecond, 24000u);
    Mp3EncoderSettings other;
    other.bitRateKbps = 100;  // integer division: (100 / 8) x 1000
    EXPECT_EQ(mp3WaveFormat(other).averageBytesPerSecond, 12000u);

    const AudioStreamHeader header = audioStreamHeader(format);
    EXPECT_EQ(std::string(header.type, 4), "auds");
    EXPECT_EQ(header.scale, 1u);
    EXPECT_EQ(header.rate, 24000u);
    EXPECT_EQ(header.sampleSize, 1u);
    EXPECT_EQ(header.length, 0xFFFFFFFFu);
    EXPECT_EQ(header.quality, 0xFFFFFFFFu);
    EXPECT_EQ(header.name, "Audio Stream");
}

TEST_F(Mp3EncoderTest, OneSecondOfSilenceIsDecodableMp3WithItsTail) {
    auto encoder = readyEncoder();
    ASSERT_TRUE(encoder);
    std::vector<std::int16_t> silence(2 * 44100, 0);
    std::vector<std::uint8_t> mp3;
    const int body = encoder->encodeInterleaved(silence.data(), 44100, mp3);
    ASSERT_GT(body, 0);
    EXPECT_EQ(static_cast<std::size_t>(body), mp3.size());
    const int tail = encoder->flush(mp3);
    ASSERT_GT(tail, 0);  // the buffered last frames
    EXPECT_EQ(static_cast<std::size_t>(body + tail), mp3.size());
    // About 24000 bytes for a second at 192 kbit/s (plus the encoder's delay and padding).
    EXPECT_GT(mp3.size(), 23000u);
    EXPECT_LT(mp3.size(), 30000u);
    EXPECT_EQ(mp3[0], 0xFF);  // a frame sync, not a tag
    EXPECT_EQ(mp3[1] & 0xE0, 0xE0);

    const std::string file = path("silence.mp3");
    ASSERT_TRUE(testing::writeFile(file, std::string(mp3.begin(), mp3.end())));
    const std::string probe = commandOutput(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,bit_rate -of default=nw=1 '" +
        file + "'");
    EXPECT_NE(probe.find("codec_name=mp3"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=44100"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=2"), std::string::npos) << probe;
    EXPECT_NE(probe.find("bit_rate=192000"), std::string::npos) << probe;
    EXPECT_EQ(commandOutput("ffmpeg -v error -i '" + file + "' -f null - 2>&1"), "");
}

TEST_F(Mp3EncoderTest, SeparateAndInterleavedInputGiveTheSameStream) {
    // A tone on the left only: swapped channels would change the bytes.
    const int frames = 10000;
    std::vector<std::int16_t> left(frames), right(frames, 0), interleaved(2 * frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = static_cast<std::int16_t>(8000 * std::sin(i * 0.06));
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    auto a = readyEncoder();
    auto b = readyEncoder();
    ASSERT_TRUE(a && b);
    std::vector<std::uint8_t> outA, outB;
    ASSERT_GE(a->encodeSeparate(left.data(), right.data(), frames, outA), 0);
    ASSERT_GE(a->flush(outA), 0);
    ASSERT_GE(b->encodeInterleaved(interleaved.data(), frames, outB), 0);
    ASSERT_GE(b->flush(outB), 0);
    EXPECT_FALSE(outA.empty());
    EXPECT_EQ(outA, outB);

    auto swapped = readyEncoder();
    std::vector<std::uint8_t> outC;
    ASSERT_GE(swapped->encodeSeparate(right.data(), left.data(), frames, outC), 0);
    ASSERT_GE(swapped->flush(outC), 0);
    EXPECT_NE(outA, outC);
}

TEST_F(Mp3EncoderTest, RefusesBadCallsAndLogsLameMessages) {
    auto encoder = Mp3Encoder::create();
    ASSERT_TRUE(encoder);
    std::vector<std::uint8_t> out;
    std::int16_t pair[2] = {0, 0};
    EXPECT_LT(encoder->encodeInterleaved(pair, 1, out), 0);  // not initialised yet
    EXPECT_LT(encoder->flush(out), 0);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(encoder->setParameter(99, 5));  // an id without a meaning is accepted
    EXPECT_FALSE(encoder->setParameter(3, 7));  // not a channel mode

    // A high-pass frequency too low to use makes LAME warn through the message callback.
    EXPECT_EQ(encoder->applyParameters(), 0);
    EXPECT_TRUE(encoder->setParameter(19, 5));
    EXPECT_GE(encoder->initParams(), 0);
    const std::string text = log();
    EXPECT_NE(text.find("avi_lib.cpp,"), std::string::npos) << text;
    EXPECT_NE(text.find("|Warning: highpass filter disabled.  highpass frequency too small\r\n"),
              std::string::npos)
        << text;
    EXPECT_LT(encoder->encodeInterleaved(nullptr, 5, out), 0);
    EXPECT_LT(encoder->encodeInterleaved(pair, -1, out), 0);
}

}  // namespace
}  // namespace kestrelle
