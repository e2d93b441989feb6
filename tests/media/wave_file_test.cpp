#include "media/wave_file.h"

#include "tests/support/temp_home.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kestrelle {
namespace {

using testing::writeFile;

using testing::le16;
using testing::le32;

std::string chunk(const std::string& tag, const std::string& body) {
    return tag + le32(std::uint32_t(body.size())) + body;
}
std::string chunkDeclaring(const std::string& tag, std::uint32_t size, const std::string& body) {
    return tag + le32(size) + body;
}
std::string formatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}
std::string riff(const std::string& form, const std::string& chunks) {
    return "RIFF" + le32(std::uint32_t(4 + chunks.size())) + form + chunks;
}
// 16-bit stereo 44,100 Hz PCM with the given sample bytes.
std::string pcmWave(const std::string& data, const std::string& before = "") {
    return riff("WAVE", before + chunk("fmt ", formatBody(1, 2, 44100, 16)) + chunk("data", data));
}

// The first `length` sample bytes as text.
std::string sampleText(const WaveFile& wave, std::size_t length) {
    std::string text(length, '\0');
    text.resize(wave.readSampleBytes(0, text.data(), length));
    return text;
}

class WaveFileTest : public testing::TempHomeTest {
protected:
    WaveOpenResult openBytes(const std::string& bytes, WaveFile& wave) {
        const std::string file = path("clip.wav");
        EXPECT_TRUE(writeFile(file, bytes));
        return wave.open(file);
    }
    WaveOpenResult openBytes(const std::string& bytes) {
        WaveFile wave;
        return openBytes(bytes, wave);
    }
};

TEST_F(WaveFileTest, ReadsFormatDataAndLength) {
    const std::string data(176400, '\0');  // one second
    WaveFile wave;
    ASSERT_EQ(openBytes(pcmWave(data), wave), WaveOpenResult::Ok);
    EXPECT_TRUE(wave.isOpen());
    EXPECT_EQ(wave.path(), path("clip.wav"));
    EXPECT_EQ(wave.format().formatTag, 1);
    EXPECT_EQ(wave.format().channels, 2);
    EXPECT_EQ(wave.format().sampleRate, 44100u);
    EXPECT_EQ(wave.format().averageBytesPerSecond, 176400u);
    EXPECT_EQ(wave.format().blockAlign, 4);
    EXPECT_EQ(wave.format().bitsPerSample, 16);
    EXPECT_STREQ(wave.dataChunkTag(), "data");
    EXPECT_EQ(wave.dataSize(), 176400u);
    EXPECT_TRUE(wave.hasSamples());
    EXPECT_EQ(wave.sampleBytes(), 176400u);
    EXPECT_EQ(wave.durationMilliseconds(), 1000);
    EXPECT_EQ(wave.wholeSeconds(), 1u);
    EXPECT_DOUBLE_EQ(wave.durationSeconds(), 1.0);
}

TEST_F(WaveFileTest, SampleValuesFor8And16Bit) {
    WaveFile wave16;
    // Values 1, -2, 32767 and a trailing odd byte that is not a whole sample.
    ASSERT_EQ(openBytes(pcmWave(le16(1) + le16(0xFFFE) + le16(0x7FFF) + "x"), wave16), WaveOpenResult::Ok);
    EXPECT_EQ(wave16.sampleValueCount(), 3u);
    EXPECT_EQ(wave16.sampleValue(0), 1);
    EXPECT_EQ(wave16.sampleValue(1), -2);
    EXPECT_EQ(wave16.sampleValue(2), 32767);
    EXPECT_EQ(wave16.sampleValue(3), 0);
    EXPECT_EQ(wave16.sampleFullScale(), 32767);

    WaveFile wave8;
    const std::string wav8 = riff(
        "WAVE", chunk("fmt ", formatBody(1, 1, 8000, 8)) + chunk("data", std::string("\x80\xff\x00", 3)));
    ASSERT_EQ(openBytes(wav8, wave8), WaveOpenResult::Ok);
    EXPECT_EQ(wave8.sampleValueCount(), 3u);
    EXPECT_EQ(wave8.sampleValue(0), 0);
    EXPECT_EQ(wave8.sampleValue(1), 127);
    EXPECT_EQ(wave8.sampleFullScale(), 128);
}

TEST_F(WaveFileTest, OddSizedChunkIsNotPadded) {
    const std::string list = chunk("LIST", std::string(25, 'L'));  // odd size, no pad byte
    WaveFile wave;
    ASSERT_EQ(openBytes(pcmWave("abcd", list), wave), WaveOpenResult::Ok);
    EXPECT_EQ(wave.dataSize(), 4u);
    ASSERT_TRUE(wave.hasSamples());
    EXPECT_EQ(sampleText(wave, 4), "abcd");
    // An odd chunk between "fmt " and "data" too.
    ASSERT_EQ(openBytes(riff("WAVE", chunk("fmt ", formatBody(1, 2, 44100, 16)) + chunk("junk", "123") +
                                         chunk("data", "wxyz")),
                        wave),
              WaveOpenResult::Ok);
    EXPECT_EQ(sampleText(wave, 4), "wxyz");
    // A writer that padded to even sizes puts the next tag one byte later: the walk does not find it.
    EXPECT_EQ(openBytes(pcmWave("abcd", list + '\0')), WaveOpenResult::NotWaveFile);
}

TEST_F(WaveFileTest, NonPcmHasNoSamplesAndCountsTheFormatBody) {
    WaveFile wave;
    const std::string body = formatBody(0x55, 2, 44100, 0) + le16(0);  // 18-byte body
    ASSERT_EQ(openBytes(riff("WAVE", chunk("fmt ", body)), wave), WaveOpenResult::Ok);
    EXPECT_FALSE(wave.hasSamples());
    char byte = 0;
    EXPECT_EQ(wave.readSampleBytes(0, &byte, 1), 0u);
    EXPECT_STREQ(wave.dataChunkTag(), "fmt ");
    EXPECT_EQ(wave.dataSize(), 18u);
    EXPECT_EQ(wave.sampleValueCount(), 0u);
    EXPECT_EQ(wave.sampleValue(0), 0);
}

TEST_F(WaveFileTest, TruncatedAndLyingFilesAreRejectedOrClamped) {
    const std::string good = pcmWave("abcdefgh");
    // Cut inside the header: 11 (no form type), 12 (no chunk), 19 (chunk header short), 20 (fmt body
    // missing).
    for (std::size_t cut : {0u, 4u, 11u, 12u, 19u, 20u, 35u}) {
        WaveFile wave;
        EXPECT_EQ(openBytes(good.substr(0, cut), wave),
                  cut == 0 ? WaveOpenResult::CannotOpen : WaveOpenResult::NotWaveFile)
            << cut;
        EXPECT_FALSE(wave.isOpen());
    }
    // The whole "fmt " chunk but no "data" header, then a data header with no bytes at all.
    EXPECT_EQ(openBytes(good.substr(0, 36)), WaveOpenResult::NotWaveFile);
    EXPECT_EQ(openBytes(good.substr(0, 43)), WaveOpenResult::NotWaveFile);
    WaveFile empty;
    ASSERT_EQ(openBytes(good.substr(0, 44), empty), WaveOpenResult::Ok);
    EXPECT_EQ(empty.dataSize(), 0u);

    // A chunk whose size runs off the end before "fmt ".
    EXPECT_EQ(openBytes(riff("WAVE", chunkDeclaring("LIST", 0xFFFFFFF0u, "xx") +
                                         chunk("fmt ", formatBody(1, 2, 44100, 16)))),
              WaveOpenResult::NotWaveFile);
    // A "fmt " chunk larger than the file, and one too small for the format block.
    EXPECT_EQ(openBytes(riff("WAVE", chunkDeclaring("fmt ", 1000, formatBody(1, 2, 44100, 16)))),
              WaveOpenResult::NotWaveFile);
    EXPECT_EQ(openBytes(riff("WAVE",
                             chunk("fmt ", formatBody(1, 2, 44100, 16).substr(0, 14)) + chunk("data", "ab"))),
              WaveOpenResult::NotWaveFile);
    // "data" before "fmt " is not found by the walk that starts after "fmt ".
    EXPECT_EQ(openBytes(riff("WAVE", chunk("data", "ab") + chunk("fmt ", formatBody(1, 2, 44100, 16)))),
              WaveOpenResult::NotWaveFile);

    // A data size larger than the bytes present counts the bytes present.
    WaveFile lying;
    ASSERT_EQ(openBytes(riff("WAVE", chunk("fmt ", formatBody(1, 2, 44100, 16)) +
                                         chunkDeclaring("data", 0xFFFFFFFFu, "abc")),
                        lying),
              WaveOpenResult::Ok);
    EXPECT_EQ(lying.dataSize(), 3u);
    EXPECT_EQ(lying.sampleValueCount(), 1u);
}

TEST_F(WaveFileTest, OtherFilesAreRejected) {
    EXPECT_EQ(openBytes(riff("AVI ", chunk("fmt ", formatBody(1, 2, 44100, 16)) + chunk("data", "ab"))),
              WaveOpenResult::NotWaveFile);
    EXPECT_EQ(openBytes("RIFX" + pcmWave("ab").substr(4)), WaveOpenResult::NotWaveFile);
    EXPECT_EQ(openBytes("just some text that is long enough to hold a header"), WaveOpenResult::NotWaveFile);

    WaveFile wave;
    EXPECT_EQ(wave.open(path("missing.wav")), WaveOpenResult::CannotOpen);
    EXPECT_EQ(wave.open(root()), WaveOpenResult::CannotOpen);
    ASSERT_EQ(mkfifo(path("pipe.wav").c_str(), 0600), 0);
    EXPECT_EQ(wave.open(path("pipe.wav")), WaveOpenResult::CannotOpen);  // and does not wait for a writer
    EXPECT_FALSE(wave.isOpen());
}

TEST_F(WaveFileTest, FailedOpenKeepsClipAndMoveLeavesSourceEmpty) {
    WaveFile wave;
    ASSERT_EQ(openBytes(pcmWave("abcd"), wave), WaveOpenResult::Ok);
    EXPECT_EQ(wave.open(path("missing.wav")), WaveOpenResult::CannotOpen);
    ASSERT_TRUE(wave.isOpen());
    EXPECT_EQ(wave.dataSize(), 4u);

    WaveFile moved(std::move(wave));
    EXPECT_TRUE(moved.isOpen());
    EXPECT_EQ(moved.sampleValueCount(), 2u);
    EXPECT_FALSE(wave.isOpen());
    EXPECT_FALSE(wave.hasSamples());
    EXPECT_EQ(wave.sampleValueCount(), 0u);
    // The open file outlives its name.
    ASSERT_EQ(std::remove(path("clip.wav").c_str()), 0);
    EXPECT_EQ(sampleText(moved, 8), "abcd");
}

// 16-bit values 0, 1, 2, ... (wrapping at 65536), `count` of them.
std::string countingSamples(std::size_t count) {
    std::string data;
    for (std::size_t i = 0; i < count; ++i) data += le16(static_cast<std::uint16_t>(i));
    return data;
}

TEST_F(WaveFileTest, BatchedValuesMatchSingleValuesAcrossReadBlocks) {
    WaveFile wave;
    ASSERT_EQ(openBytes(pcmWave(countingSamples(40000)), wave), WaveOpenResult::Ok);
    // Steps that share a read block, that straddle block edges, and that are read one by one.
    for (std::size_t step : {0u, 1u, 3u, 4095u, 8191u, 8192u, 30000u}) {
        const std::size_t first = 7;
        const std::vector<int> values = wave.sampleValues(first, step, 60);
        ASSERT_EQ(values.size(), 60u);
        const std::size_t stride = step == 0 ? 1 : step;
        for (std::size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(values[i], wave.sampleValue(first + i * stride)) << "step " << step << " value " << i;
        }
    }
    // Past the end: zeros, and a step too large to add is not an overflow.
    EXPECT_EQ(wave.sampleValues(39999, 1, 3), (std::vector<int>{static_cast<std::int16_t>(39999), 0, 0}));
    EXPECT_EQ(wave.sampleValues(40000, 1, 2), (std::vector<int>{0, 0}));
    EXPECT_EQ(wave.sampleValues(1, SIZE_MAX, 2), (std::vector<int>{1, 0}));
}

// Another program changing the file under an open clip: reads give silence or the file's new bytes.
TEST_F(WaveFileTest, FileCutShortOrRewrittenAfterOpeningReadsSilenceOrNewBytes) {
    // 200,000 bytes of samples, cut to 1,000: whole pages lie beyond the new end, where a reader that
    // mapped the file would fault.
    WaveFile wave;
    ASSERT_EQ(openBytes(pcmWave(countingSamples(100000)), wave), WaveOpenResult::Ok);
    const std::string file = path("clip.wav");
    ASSERT_EQ(truncate(file.c_str(), 44 + 1000), 0);  // 500 values left

    // The measurements stay those taken at opening.
    EXPECT_EQ(wave.dataSize(), 200000u);
    EXPECT_EQ(wave.sampleValueCount(), 100000u);
    EXPECT_EQ(wave.sampleValue(499), 499);
    EXPECT_EQ(wave.sampleValue(500), 0);
    EXPECT_EQ(wave.sampleValue(99999), 0);
    const std::vector<int> values = wave.sampleValues(0, 100, 1000);
    EXPECT_EQ(values[4], 400);
    EXPECT_EQ(values[5], 0);
    EXPECT_EQ(values[999], 0);
    std::vector<char> bytes(5000);
    EXPECT_EQ(wave.readSampleBytes(0, bytes.data(), bytes.size()), 1000u);
    EXPECT_EQ(wave.readSampleBytes(100000, bytes.data(), bytes.size()), 0u);

    // Cut to nothing, then written anew in place with other bytes: the new bytes are read.
    {
        const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(wave.sampleValue(0), 0);
        const std::string other = pcmWave(std::string(4000, '\x01'));
        EXPECT_EQ(write(fd, other.data(), other.size()), static_cast<ssize_t>(other.size()));
        close(fd);
    }
    EXPECT_EQ(wave.sampleValue(0), 0x0101);
    EXPECT_EQ(wave.sampleValue(1999), 0x0101);
    EXPECT_EQ(wave.sampleValue(2000), 0);
    EXPECT_EQ(wave.sampleValues(1990, 5, 4), (std::vector<int>{0x0101, 0x0101, 0, 0}));
}

}  // namespace
}  // namespace kestrelle
