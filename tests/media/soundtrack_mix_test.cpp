#include "media/soundtrack_mix.h"

#include "tests/media/audio_fixtures.h"
#include "tests/support/temp_home.h"

#include <chrono>
#include <cmath>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr double kFull = 32767.0;

// Decoders made up from their "path": "left,right,frames" gives `frames` frames of the two constant
// values; "wave,frames" a signal that differs at every frame; "fail,frames" fails after that many
// frames; "missing" cannot be opened.
struct FakeFiles {
    int opened = 0;
    int open = 0;
    int mostOpen = 0;

    class Decoder : public AudioDecoder {
    public:
        Decoder(FakeFiles& files, std::string kind, double left, double right, std::size_t frames)
            : files_(files), kind_(std::move(kind)), left_(left), right_(right), frames_(frames) {
            ++files_.opened;
            files_.mostOpen = std::max(files_.mostOpen, ++files_.open);
        }
        ~Decoder() override { --files_.open; }
        std::size_t read(float* out, std::size_t frames) override {
            if (failed_) return 0;
            const std::size_t take = std::min(frames, frames_ - position_);
            for (std::size_t i = 0; i < take; ++i) {
                const double n = static_cast<double>(position_ + i);
                const bool wave = kind_ == "wave";
                out[2 * i] = static_cast<float>(wave ? 0.5 * std::sin(n * 0.01) : left_);
                out[2 * i + 1] = static_cast<float>(wave ? 0.5 * std::cos(n * 0.003) : right_);
            }
            position_ += take;
            if (take < frames && kind_ == "fail") failed_ = true;
            return take;
        }
        bool failed() const override { return failed_; }

    private:
        FakeFiles& files_;
        std::string kind_;
        double left_;
        double right_;
        std::size_t frames_;
        std::size_t position_ = 0;
        bool failed_ = false;
    };

    AudioDecoderFactory factory() {
        return [this](const std::string& path, AudioOpenResult* result) -> std::unique_ptr<AudioDecoder> {
            if (path == "missing") {
                if (result) *result = AudioOpenResult::CannotOpen;
                return nullptr;
            }
            if (result) *result = AudioOpenResult::Ok;
            const std::size_t comma = path.rfind(',');
            const auto frames = static_cast<std::size_t>(std::stoull(path.substr(comma + 1)));
            const std::string head = path.substr(0, comma);
            if (head == "wave" || head == "fail") return std::make_unique<Decoder>(*this, head, 0, 0, frames);
            const std::size_t split = head.find(',');
            return std::make_unique<Decoder>(*this, "constant", std::stod(head.substr(0, split)),
                                             std::stod(head.substr(split + 1)), frames);
        };
    }
};

std::string constantClip(double left, double right, double seconds) {
    return std::to_string(left) + "," + std::to_string(right) + "," +
           std::to_string(static_cast<long long>(std::llround(seconds * kMixSampleRate)));
}

MixSettings settingsFor(double crossfade, double fadeOut, double showSeconds) {
    MixSettings settings;
    settings.crossfadeSeconds = crossfade;
    settings.fadeOutSeconds = fadeOut;
    settings.showFrames = std::llround(showSeconds * kMixSampleRate);
    return settings;
}

// The whole mix read in blocks of odd sizes.
std::vector<std::int16_t> readAll(SoundtrackMix& mix, std::int64_t frames) {
    std::vector<std::int16_t> out(2 * static_cast<std::size_t>(frames));
    std::size_t done = 0;
    std::size_t block = 1;
    while (done < static_cast<std::size_t>(frames)) {
        const std::size_t take = std::min(block, static_cast<std::size_t>(frames) - done);
        mix.read(out.data() + 2 * done, take);
        done += take;
        block = block * 3 + 7;
        if (block > 50000) block = 13;
    }
    return out;
}

// ---- The timeline

TEST(SoundtrackTimelineTest, ClipsStartWhereTheCrossfadeBeforeThemBegins) {
    EXPECT_EQ(clipStartSeconds({}, 2.0), std::vector<double>{});
    EXPECT_EQ(soundtrackSeconds({}, 2.0), 0.0);
    EXPECT_EQ(clipStartSeconds({10, 20, 30}, 2.0), (std::vector<double>{0, 8, 26}));
    EXPECT_DOUBLE_EQ(soundtrackSeconds({10, 20, 30}, 2.0), 56.0);
    // At most half of either clip: 1 s clips overlap their neighbours by 0.5 s.
    EXPECT_EQ(clipStartSeconds({4, 1, 3}, 2.0), (std::vector<double>{0, 3.5, 4.0}));
    EXPECT_DOUBLE_EQ(soundtrackSeconds({4, 1, 3}, 2.0), 7.0);
    // No crossfade, clips of length 0 and nonsense lengths: end to end.
    EXPECT_EQ(clipStartSeconds({4, 0, 3}, 0.0), (std::vector<double>{0, 4, 4}));
    EXPECT_EQ(clipStartSeconds({4, -1, std::nan(""), 3}, 1.0), (std::vector<double>{0, 4, 4, 4}));
}

// ---- Fades

TEST(SoundtrackMixTest, CrossfadeIsEqualPower) {
    FakeFiles files;
    // The outgoing clip sounds on the left, the incoming one on the right.
    SoundtrackMix mix({{constantClip(0.5, 0, 4), 4.0}, {constantClip(0, 0.5, 4), 4.0}},
                      settingsFor(2.0, 0, 100), files.factory());
    const std::vector<std::int16_t> out = readAll(mix, 8 * kMixSampleRate);
    const std::int64_t overlap = 2 * kMixSampleRate;
    const std::int64_t start = 2 * kMixSampleRate;
    for (const double x : {0.0, 0.25, 0.5, 0.75}) {
        const auto frame = static_cast<std::size_t>(start + std::llround(x * static_cast<double>(overlap)));
        EXPECT_NEAR(out[2 * frame], 0.5 * kFull * std::cos(std::numbers::pi / 2 * x), 1.5) << x;
        EXPECT_NEAR(out[2 * frame + 1], 0.5 * kFull * std::sin(std::numbers::pi / 2 * x), 1.5) << x;
    }
    // Before and after the overlap each clip sounds alone at full level.
    const auto before = static_cast<std::size_t>(start - 1);
    EXPECT_NEAR(out[2 * before], 0.5 * kFull, 1.5);
    EXPECT_NEAR(out[2 * before + 1], 0, 1.5);
    const auto after = static_cast<std::size_t>(start + overlap);
    EXPECT_NEAR(out[2 * after], 0, 1.5);
    EXPECT_NEAR(out[2 * after + 1], 0.5 * kFull, 1.5);
    const auto last = static_cast<std::size_t>(start + overlap - 1);
    EXPECT_NEAR(out[2 * last], 0, 3.0);
    // After the music: exact zeros.
    EXPECT_EQ(out[2 * (6 * kMixSampleRate)], 0);
    EXPECT_EQ(out.back(), 0);
    EXPECT_TRUE(mix.unreadableClips().empty());
}

TEST(SoundtrackMixTest, HardJoinWithoutCrossfadeAndFadeOutAtTheShowsEnd) {
    FakeFiles files;
    SoundtrackMix mix({{constantClip(0.5, 0.5, 1), 1.0}, {constantClip(-0.5, -0.5, 10), 10.0}},
                      settingsFor(0.0, 2.0, 5.0), files.factory());
    const std::vector<std::int16_t> out = readAll(mix, 7 * kMixSampleRate);
    const std::size_t join = kMixSampleRate;
    EXPECT_NEAR(out[2 * (join - 1)], 0.5 * kFull, 1.5);
    EXPECT_NEAR(out[2 * join], -0.5 * kFull, 1.5);
    // The fade-out: full until 3 s, then cos(pi/2 x) to the show's end at 5 s, then exact zeros.
    const std::size_t fadeStart = 3 * kMixSampleRate;
    const std::size_t fadeFrames = 2 * kMixSampleRate;
    EXPECT_NEAR(out[2 * (fadeStart - 1)], -0.5 * kFull, 1.5);
    for (const double x : {0.0, 0.25, 0.5, 0.75, 0.999}) {
        const auto frame = fadeStart + static_cast<std::size_t>(x * fadeFrames);
        EXPECT_NEAR(out[2 * frame], -0.5 * kFull * std::cos(std::numbers::pi / 2 * x), 1.5) << x;
    }
    for (std::size_t frame = 5 * kMixSampleRate; frame < 7 * kMixSampleRate; ++frame)
        ASSERT_EQ(out[2 * frame], 0) << frame;
    EXPECT_EQ(files.open, 0);  // the decoder was closed at the show's end
}

TEST(SoundtrackMixTest, MusicShorterThanTheShowEndsOnItsOwnAndEachSlotHasItsExactLength) {
    FakeFiles files;
    // The first decoder gives 0.5 s more than its slot (cut), the second 0.5 s less (silence).
    SoundtrackMix mix({{constantClip(0.25, 0.25, 1.5), 1.0}, {constantClip(0.5, 0.5, 0.5), 1.0}},
                      settingsFor(0.0, 2.0, 5.0), files.factory());
    const std::vector<std::int16_t> out = readAll(mix, 5 * kMixSampleRate);
    EXPECT_NEAR(out[2 * (kMixSampleRate - 1)], 0.25 * kFull, 1.5);
    EXPECT_NEAR(out[2 * kMixSampleRate], 0.5 * kFull, 1.5);  // not the first clip's extra half second
    EXPECT_NEAR(out[2 * (kMixSampleRate + kMixSampleRate / 2 - 1)], 0.5 * kFull, 1.5);  // no fade-out
    for (std::size_t frame = kMixSampleRate + kMixSampleRate / 2; frame < 5 * kMixSampleRate; ++frame)
        ASSERT_EQ(out[2 * frame], 0) << frame;
}

// ---- Reading from any frame

TEST(SoundtrackMixTest, AStartFrameGivesTheSameSamplesAsReadingFromTheStart) {
    const std::vector<MixClip> clips = {{"wave,200000", 4.0}, {"wave,100000", 2.0}, {"wave,300000", 5.0}};
    const MixSettings base = settingsFor(1.0, 1.5, 9.0);
    FakeFiles files;
    SoundtrackMix whole(clips, base, files.factory());
    const std::vector<std::int16_t> reference = readAll(whole, 10 * kMixSampleRate);
    for (const std::int64_t start :
         {std::int64_t{1}, std::int64_t{150001}, std::int64_t{190000}, std::int64_t{5 * kMixSampleRate + 17},
          std::int64_t{9 * kMixSampleRate - 3}}) {
        MixSettings settings = base;
        settings.startFrame = start;
        FakeFiles later;
        SoundtrackMix mix(clips, settings, later.factory());
        const std::vector<std::int16_t> out = readAll(mix, 10 * kMixSampleRate - start);
        EXPECT_EQ(mix.position(), 10 * kMixSampleRate);
        ASSERT_TRUE(std::equal(out.begin(), out.end(), reference.begin() + 2 * start)) << start;
        // Clips wholly before the start are never opened.
        if (start > 5 * kMixSampleRate) {
            EXPECT_EQ(later.opened, 1) << start;
        }
    }
}

// ---- Dither

TEST(SoundtrackMixTest, DitherIsReproducibleAndOnlyWhereMusicSounds) {
    auto mixWithSeed = [](std::uint32_t seed) {
        FakeFiles files;
        MixSettings settings = settingsFor(0.0, 0.0, 2.0);
        settings.ditherSeed = seed;
        SoundtrackMix mix({{constantClip(0, 0, 1), 1.0}}, settings, files.factory());
        return readAll(mix, 2 * kMixSampleRate);
    };
    const std::vector<std::int16_t> first = mixWithSeed(5);
    EXPECT_EQ(first, mixWithSeed(5));
    EXPECT_NE(first, mixWithSeed(6));
    // A silent clip gives dither noise of at most 1 LSB, of both signs, averaging zero.
    std::map<int, int> counts;
    double sum = 0;
    for (std::size_t i = 0; i < 2 * kMixSampleRate; ++i) {
        ++counts[first[i]];
        sum += first[i];
    }
    EXPECT_EQ(counts.size(), 3u);
    EXPECT_GT(counts[-1], 1000);
    EXPECT_GT(counts[1], 1000);
    EXPECT_NEAR(sum / (2 * kMixSampleRate), 0.0, 0.02);
    // Where no clip sounds: exact zeros.
    for (std::size_t i = 2 * kMixSampleRate; i < first.size(); ++i) ASSERT_EQ(first[i], 0);
}

// ---- Unreadable clips

TEST(SoundtrackMixTest, UnreadableClipsAreSilentAndReportedOnce) {
    FakeFiles files;
    SoundtrackMix mix({{constantClip(0.5, 0.5, 1), 1.0},
                       {"missing", 1.0},
                       {"fail,22050", 2.0},
                       {constantClip(0.5, 0.5, 1), 1.0},
                       {"missing", 1.0}},
                      settingsFor(0.0, 0.0, 10.0), files.factory());
    const std::vector<std::int16_t> out = readAll(mix, 7 * kMixSampleRate);
    // The missing clip's second and the failed clip's part after its first half second are silence.
    for (std::size_t frame = kMixSampleRate; frame < 2 * kMixSampleRate; ++frame)
        ASSERT_EQ(out[2 * frame], 0);
    for (std::size_t frame = 2 * kMixSampleRate + kMixSampleRate / 2; frame < 4 * kMixSampleRate; ++frame)
        ASSERT_EQ(out[2 * frame], 0);
    EXPECT_NEAR(out[2 * (4 * kMixSampleRate)], 0.5 * kFull, 1.5);
    EXPECT_EQ(mix.unreadableClips(), (std::vector<std::string>{"missing", "fail,22050"}));
}

// ---- Many clips, real files

TEST(SoundtrackMixTest, AThousandShortClipsWithAtMostTwoOpen) {
    FakeFiles files;
    std::vector<MixClip> clips;
    for (int i = 0; i < 1000; ++i) {
        const double seconds = i % 10 == 0 ? 0.0 : 0.01 * (1 + i % 7);
        clips.push_back({constantClip(0.25, -0.25, seconds), seconds});
    }
    std::vector<double> durations;
    for (const MixClip& clip : clips) durations.push_back(clip.durationSeconds);
    const double seconds = soundtrackSeconds(durations, 0.02);
    SoundtrackMix mix(clips, settingsFor(0.02, 0.0, seconds + 1), files.factory());
    const auto frames = std::llround((seconds + 1) * kMixSampleRate);
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::int16_t> out = readAll(mix, frames);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(files.opened, 900);  // clips of length 0 are never opened
    EXPECT_LE(files.mostOpen, 2);
    EXPECT_EQ(files.open, 0);
    // The music ends where the timeline says.
    const auto end = static_cast<std::size_t>(std::llround(seconds * kMixSampleRate));
    EXPECT_NE(out[2 * (end - 1)], 0);
    EXPECT_EQ(out[2 * end], 0);
}

class SoundtrackMixFileTest : public testing::TempHomeTest {};

TEST_F(SoundtrackMixFileTest, ClipsAtMixedRatesStayOnTheirExactFrames) {
    // Twenty 1 s clips alternately at 44.1 and 48 kHz, each with a click half a second in.
    std::vector<MixClip> clips;
    for (int i = 0; i < 20; ++i) {
        const int rate = i % 2 == 0 ? 44100 : 48000;
        const std::string file = path("clip" + std::to_string(i) + ".wav");
        ASSERT_TRUE(testing::writeWave(
            file, {2, rate, 16, false, false},
            testing::clickTrack(static_cast<std::size_t>(rate), static_cast<std::size_t>(rate / 2))));
        const testing::Decoded decoded = testing::decodeAll(file);
        clips.push_back({file, static_cast<double>(decoded.frames()) / kMixSampleRate});
    }
    std::vector<double> durations;
    for (const MixClip& clip : clips) durations.push_back(clip.durationSeconds);
    const std::vector<double> starts = clipStartSeconds(durations, 0.25);
    MixSettings settings = settingsFor(0.25, 0.0, 30.0);
    SoundtrackMix mix(clips, settings);
    const std::vector<std::int16_t> out = readAll(mix, 16 * kMixSampleRate);
    std::vector<float> left(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) left[i] = static_cast<float>(out[i]);
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const auto expected = std::llround(starts[i] * kMixSampleRate) + kMixSampleRate / 2;
        const auto from = static_cast<std::size_t>(expected - 100);
        const std::vector<float> around(left.begin() + static_cast<long>(2 * from),
                                        left.begin() + static_cast<long>(2 * (from + 200)));
        EXPECT_NEAR(static_cast<double>(from) + static_cast<double>(testing::loudestFrame(around)),
                    static_cast<double>(expected), 1.0)
            << "clip " << i;
    }
    EXPECT_TRUE(mix.unreadableClips().empty());
}

TEST_F(SoundtrackMixFileTest, TwoHalvesOfASongInMp3JoinWithoutAGap) {
    if (!testing::haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // A 2 s sine cut in two at 1 s, each half encoded on its own, joined with no crossfade.
    std::vector<MixClip> clips;
    for (int half = 0; half < 2; ++half) {
        std::vector<double> samples(2 * kMixSampleRate);
        for (std::size_t i = 0; i < kMixSampleRate; ++i) {
            const double n = static_cast<double>(i + static_cast<std::size_t>(half) * kMixSampleRate);
            samples[2 * i] = samples[2 * i + 1] =
                0.5 * std::sin(2 * std::numbers::pi * 441.0 * n / kMixSampleRate);
        }
        const std::string wave = path("half" + std::to_string(half) + ".wav");
        const std::string mp3 = path("half" + std::to_string(half) + ".mp3");
        ASSERT_TRUE(testing::writeWave(wave, {}, samples));
        ASSERT_TRUE(testing::runFfmpeg("-i '" + wave + "' -c:a libmp3lame -b:a 256k '" + mp3 + "'"));
        AudioFileFacts facts;
        ASSERT_EQ(probeAudioFile(mp3, &facts), AudioOpenResult::Ok);
        clips.push_back({mp3, facts.durationSeconds});
    }
    SoundtrackMix mix(clips, settingsFor(0.0, 0.0, 3.0));
    const std::vector<std::int16_t> out = readAll(mix, 2 * kMixSampleRate);
    // Every 2 ms around the join holds a crest of the sine (a gap of even 5 ms would show).
    for (std::size_t from = kMixSampleRate - 4410; from < kMixSampleRate + 4410; from += 88) {
        int loudest = 0;
        for (std::size_t i = from; i < from + 100; ++i) loudest = std::max(loudest, std::abs(out[2 * i]));
        ASSERT_GT(loudest, 0.4 * kFull) << from;
    }
    EXPECT_TRUE(mix.unreadableClips().empty());
}

}  // namespace
}  // namespace kestrelle
