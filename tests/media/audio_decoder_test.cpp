#include "media/audio_decoder.h"

#include "tests/media/audio_fixtures.h"
#include "tests/support/temp_home.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::clickTrack;
using testing::decodeAll;
using testing::Decoded;
using testing::haveFfmpeg;
using testing::loudestFrame;
using testing::runFfmpeg;
using testing::WaveSpec;
using testing::writeFile;
using testing::writeWave;

std::vector<double> constantSignal(std::size_t frames, int channels, double value) {
    return std::vector<double>(frames * static_cast<std::size_t>(channels), value);
}

class AudioDecoderTest : public testing::TempHomeTest {
protected:
    // A 2 s stereo 44.1 kHz WAV with a click at frame 30,000, the source of the lossy files.
    static constexpr std::size_t kClickFrames = 88200;
    static constexpr std::size_t kClickAt = 30000;
    std::string clickWave() {
        const std::string file = path("click.wav");
        EXPECT_TRUE(writeWave(file, WaveSpec{}, clickTrack(kClickFrames, kClickAt)));
        return file;
    }
    std::string encoded(const std::string& source, const std::string& name, const std::string& options) {
        const std::string file = path(name);
        EXPECT_TRUE(runFfmpeg("-i '" + source + "' " + options + " '" + file + "'")) << name;
        return file;
    }
};

// ---- WAV through our reader

TEST_F(AudioDecoderTest, WaveSampleFormatsDecodeToTheirValuesAtFullLevel) {
    struct Case {
        WaveSpec spec;
        double value;
    };
    const std::vector<Case> cases = {
        {{2, 44100, 16, false, false}, 0.5},   {{2, 44100, 24, false, false}, -0.25},
        {{2, 44100, 32, false, false}, 0.75},  {{2, 44100, 32, true, false}, -0.5},
        {{2, 44100, 64, true, false}, 0.125},  {{2, 44100, 32, true, true}, 0.375},
        {{2, 44100, 24, false, true}, -0.625}, {{1, 44100, 16, false, false}, 0.5},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const std::string file = path("format" + std::to_string(i) + ".wav");
        ASSERT_TRUE(writeWave(file, c.spec, constantSignal(4410, c.spec.channels, c.value)));
        AudioFileFacts facts;
        ASSERT_EQ(probeAudioFile(file, &facts), AudioOpenResult::Ok) << i;
        EXPECT_TRUE(facts.isWave);
        EXPECT_EQ(facts.sampleRate, 44100);
        EXPECT_EQ(facts.channels, c.spec.channels);
        // Every WAV's length is its samples', float and extensible ones too (whose data-chunk measure
        // for the line's width is the "fmt " chunk).
        EXPECT_NEAR(facts.durationSeconds, 0.1, 1e-9) << i;
        EXPECT_EQ(facts.wavePcm, !c.spec.floatSamples && !c.spec.extensible) << i;
        const Decoded decoded = decodeAll(file, 333);
        ASSERT_EQ(decoded.result, AudioOpenResult::Ok) << i;
        ASSERT_EQ(decoded.frames(), 4410u) << i;
        EXPECT_FALSE(decoded.failed);
        // Mono is heard at its own level on both sides.
        for (std::size_t n : {std::size_t{0}, std::size_t{2000}, std::size_t{8819}})
            EXPECT_NEAR(decoded.samples[n], c.value, 1e-3) << "case " << i << " sample " << n;
    }
}

TEST_F(AudioDecoderTest, WaveAtOtherRatesIsResampledToTheMixRate) {
    // 8-bit mono 22,050 Hz: twice as many frames, unsigned samples centred on 128.
    const std::string low = path("low.wav");
    ASSERT_TRUE(writeWave(low, {1, 22050, 8, false, false}, constantSignal(22050, 1, 0.5)));
    const Decoded lowDecoded = decodeAll(low);
    ASSERT_EQ(lowDecoded.result, AudioOpenResult::Ok);
    EXPECT_NEAR(static_cast<double>(lowDecoded.frames()), 44100.0, 2.0);
    EXPECT_NEAR(lowDecoded.samples[44100], 0.5, 0.01);
    EXPECT_NEAR(lowDecoded.samples[44101], 0.5, 0.01);

    // 16-bit 48 kHz: N x 44,100 / 48,000 frames, a click staying at its time.
    const std::string high = path("high.wav");
    ASSERT_TRUE(writeWave(high, {2, 48000, 16, false, false}, clickTrack(48000, 24000)));
    const Decoded highDecoded = decodeAll(high);
    EXPECT_NEAR(static_cast<double>(highDecoded.frames()), 44100.0, 2.0);
    EXPECT_NEAR(static_cast<double>(loudestFrame(highDecoded.samples)), 22050.0, 2.0);
}

TEST_F(AudioDecoderTest, EightChannelsAt192KilohertzAreMixedDownToStereo) {
    const std::string wave = path("surround.wav");
    ASSERT_TRUE(writeWave(wave, {8, 192000, 16, false, false}, constantSignal(19200, 8, 0.9)));
    const std::string flac = path("surround.flac");
    ASSERT_TRUE(!haveFfmpeg() || runFfmpeg("-i '" + wave + "' -c:a flac '" + flac + "'"));
    for (const std::string& file : {wave, flac}) {
        if (file == flac && !haveFfmpeg()) continue;
        AudioFileFacts facts;
        ASSERT_EQ(probeAudioFile(file, &facts), AudioOpenResult::Ok) << file;
        EXPECT_EQ(facts.channels, 8);
        EXPECT_EQ(facts.sampleRate, 192000);
        const Decoded decoded = decodeAll(file);
        ASSERT_EQ(decoded.result, AudioOpenResult::Ok) << file;
        EXPECT_NEAR(static_cast<double>(decoded.frames()), 4410.0, 2.0) << file;
        EXPECT_FALSE(decoded.failed);
        // Sound on both sides, never beyond full scale.
        const float left = decoded.samples[2 * 2000];
        const float right = decoded.samples[2 * 2000 + 1];
        EXPECT_GT(left, 0.2f) << file;
        EXPECT_GT(right, 0.2f) << file;
        for (float value : decoded.samples) ASSERT_LE(std::fabs(value), 1.0f) << file;
    }
}

TEST_F(AudioDecoderTest, WaveInAFormatOurReaderLacksIsDecodedByLibavcodec) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string adpcm = encoded(clickWave(), "adpcm.wav", "-c:a adpcm_ms");
    AudioFileFacts facts;
    ASSERT_EQ(probeAudioFile(adpcm, &facts), AudioOpenResult::Ok);
    EXPECT_TRUE(facts.isWave);
    EXPECT_EQ(facts.codecName, "adpcm_ms");
    EXPECT_NEAR(facts.durationSeconds, static_cast<double>(kClickFrames) / kMixSampleRate, 0.05);
    const Decoded decoded = decodeAll(adpcm);
    ASSERT_EQ(decoded.result, AudioOpenResult::Ok);
    EXPECT_NEAR(static_cast<double>(decoded.frames()), static_cast<double>(kClickFrames), 2048.0);
}

// ---- Other formats through libavcodec

TEST_F(AudioDecoderTest, CompressedFormatsDecodeGaplessWithTheClickInPlace) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string source = clickWave();
    struct Case {
        const char* name;
        const char* options;
        const char* codec;
        double lengthTolerance;
    };
    const std::vector<Case> cases = {
        {"song.mp3", "-c:a libmp3lame -b:a 192k", "mp3", 4},
        {"song.flac", "-c:a flac", "flac", 0},
        {"song.m4a", "-c:a aac -b:a 192k", "aac", 4},
        {"song.ogg", "-c:a libvorbis", "vorbis", 4},
        {"song.opus", "-c:a libopus", "opus", 4},
        {"song.mkv", "-c:a flac", "flac", 0},
    };
    for (const Case& c : cases) {
        const std::string file = encoded(source, c.name, c.options);
        AudioFileFacts facts;
        ASSERT_EQ(probeAudioFile(file, &facts), AudioOpenResult::Ok) << c.name;
        EXPECT_FALSE(facts.isWave);
        EXPECT_EQ(facts.codecName, c.codec);
        EXPECT_EQ(facts.channels, 2);
        // The length stated before decoding is the decoded one: delay and padding left out.
        EXPECT_NEAR(facts.durationSeconds, 2.0, 0.0001) << c.name;
        const Decoded decoded = decodeAll(file, 777);
        ASSERT_EQ(decoded.result, AudioOpenResult::Ok) << c.name;
        EXPECT_FALSE(decoded.failed) << c.name;
        EXPECT_NEAR(static_cast<double>(decoded.frames()), static_cast<double>(kClickFrames),
                    c.lengthTolerance)
            << c.name;
        EXPECT_NEAR(static_cast<double>(loudestFrame(decoded.samples)), static_cast<double>(kClickAt), 2.0)
            << c.name;
    }
}

TEST_F(AudioDecoderTest, TheSoundOfAVideoIsDecodedAndAVideoWithoutSoundIsNotAudio) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string withSound = path("film.mp4");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=red:s=32x32:d=1 -i '" + clickWave() +
                          "' -c:v mpeg4 -c:a aac -shortest '" + withSound + "'"));
    const Decoded decoded = decodeAll(withSound);
    ASSERT_EQ(decoded.result, AudioOpenResult::Ok);
    EXPECT_GT(decoded.frames(), 40000u);

    const std::string silent = path("silent.mp4");
    ASSERT_TRUE(runFfmpeg("-f lavfi -i color=c=red:s=32x32:d=1 -c:v mpeg4 '" + silent + "'"));
    EXPECT_EQ(probeAudioFile(silent, nullptr), AudioOpenResult::NotAudio);
    EXPECT_EQ(decodeAll(silent).result, AudioOpenResult::NotAudio);
}

// ---- Bad files

TEST_F(AudioDecoderTest, FilesThatAreNoSoundAreRefusedAtOnce) {
    const std::string text = path("letter.mp3");
    ASSERT_TRUE(writeFile(text, std::string(2000, 'x') + "Dear friend, this is not a song.\n"));
    const std::string empty = path("empty.wav");
    ASSERT_TRUE(writeFile(empty, ""));
    const std::string folder = path("folder.mp3");
    std::filesystem::create_directory(folder);
    const std::string fifo = path("pipe.mp3");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Headers stating nonsense: a rate of 1 Hz, no channels.
    const std::string slow = path("slow.wav");
    ASSERT_TRUE(writeWave(slow, {2, 1, 16, false, false}, constantSignal(100, 2, 0.5)));
    const std::string noChannels = path("nochannels.wav");
    ASSERT_TRUE(writeWave(noChannels, {0, 44100, 16, false, false}, constantSignal(100, 2, 0.5)));
    const std::string riffOnly = path("header.wav");
    ASSERT_TRUE(writeFile(riffOnly, std::string("RIFF\x04\x00\x00\x00WAVE", 12)));

    struct Case {
        std::string file;
        AudioOpenResult expected;
    };
    const std::vector<Case> cases = {
        {text, AudioOpenResult::NotAudio},
        {empty, AudioOpenResult::CannotOpen},
        {folder, AudioOpenResult::CannotOpen},
        {fifo, AudioOpenResult::CannotOpen},
        {path("gone.flac"), AudioOpenResult::CannotOpen},
        {riffOnly, AudioOpenResult::NotAudio},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(probeAudioFile(c.file, nullptr), c.expected) << c.file;
        AudioOpenResult result = AudioOpenResult::Ok;
        EXPECT_EQ(openAudioDecoder(c.file, &result), nullptr) << c.file;
        EXPECT_EQ(result, c.expected) << c.file;
        EXPECT_STRNE(audioOpenResultText(result), "");
    }
}

TEST_F(AudioDecoderTest, ATruncatedFlacDecodesItsFirstPartAndEnds) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string source = path("noise.wav");
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-0.5, 0.5);
    std::vector<double> samples(2 * kClickFrames);
    for (double& sample : samples) sample = noise(random);
    ASSERT_TRUE(writeWave(source, WaveSpec{}, samples));
    const std::string flac = encoded(source, "whole.flac", "-c:a flac");
    const std::string bytes = testing::readFile(flac);
    const std::string cut = path("cut.flac");
    ASSERT_TRUE(writeFile(cut, bytes.substr(0, bytes.size() / 2)));

    const Decoded decoded = decodeAll(cut);
    ASSERT_EQ(decoded.result, AudioOpenResult::Ok);
    EXPECT_GT(decoded.frames(), kClickFrames / 4);
    EXPECT_LT(decoded.frames(), kClickFrames * 3 / 4);
    // What was decoded is the start of the song.
    EXPECT_NEAR(decoded.samples[1000], samples[1000], 1e-3);
}

TEST_F(AudioDecoderTest, ACorruptMp3SkipsTheDamageAndDecodesTheRest) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string mp3 = encoded(clickWave(), "clean.mp3", "-c:a libmp3lame -b:a 128k");
    std::string bytes = testing::readFile(mp3);
    std::mt19937 random(3);
    for (std::size_t i = bytes.size() * 2 / 3; i < bytes.size() * 2 / 3 + 3000; ++i)
        bytes[i] = static_cast<char>(random());
    const std::string corrupt = path("corrupt.mp3");
    ASSERT_TRUE(writeFile(corrupt, bytes));

    const Decoded decoded = decodeAll(corrupt);
    ASSERT_EQ(decoded.result, AudioOpenResult::Ok);
    EXPECT_GT(decoded.frames(), kClickFrames * 3 / 4);
    EXPECT_NEAR(static_cast<double>(loudestFrame(decoded.samples)), static_cast<double>(kClickAt), 2.0);
}

TEST_F(AudioDecoderTest, EveryCutOfAFileAndRandomBytesDecodeWhatTheyHoldOrAreRefused) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string source = clickWave();
    std::vector<std::string> files = {source};
    for (const char* name : {"cut.mp3", "cut.m4a", "cut.ogg", "cut.opus", "cut.flac"})
        files.push_back(encoded(source, name, ""));
    std::mt19937 random(11);
    for (std::size_t index = 0; index < files.size(); ++index) {
        const std::string& file = files[index];
        const std::string bytes = testing::readFile(file);
        // Cut files keep the extension: the name hints at the format.
        const std::string cut = path("part" + std::to_string(index) + file.substr(file.rfind('.')));
        for (std::size_t part = 1; part < 12; ++part) {
            ASSERT_TRUE(writeFile(cut, bytes.substr(0, bytes.size() * part / 12)));
            const AudioOpenResult probed = probeAudioFile(cut, nullptr);
            const Decoded decoded = decodeAll(cut, 4096);
            EXPECT_EQ(decoded.result, probed) << file << " " << part;
            EXPECT_LE(decoded.frames(), kClickFrames + 4) << file << " " << part;
        }
        // The same name holding random bytes.
        std::string noise(20000, '\0');
        for (char& byte : noise) byte = static_cast<char>(random());
        ASSERT_TRUE(writeFile(cut, noise));
        const Decoded decoded = decodeAll(cut, 4096);
        EXPECT_LT(decoded.frames(), kClickFrames) << file;
    }
}

TEST(AudioFileNameTest, TheSoundtrackExtensionsInAnyCase) {
    for (const char* name : {"a.wav", "b.MP3", "/x/c.Flac", "d.ogg", "e.oga", "f.opus", "g.m4a", "h.aac",
                             "i.mp4", "j.M4V", "k.mov", "l.mkv", "m.webm"})
        EXPECT_TRUE(hasAudioFileName(name)) << name;
    for (const char* name : {"a.txt", "mp3", "/music.mp3/readme", "b.mp3.part", "c.wave", ""})
        EXPECT_FALSE(hasAudioFileName(name)) << name;
}

}  // namespace
}  // namespace kestrelle
