// The soundtrack read ahead on its own thread gives the mix's very samples, however it is read, and
// after a restart with another show length the samples a fresh mix would give from there.

#include "output/soundtrack_prefetch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

// A decoder of a made-up file: a tone whose pitch comes from the file name's length, `seconds` long;
// "broken" files fail half-way.
class ToneDecoder final : public AudioDecoder {
public:
    ToneDecoder(const std::string& path, double seconds)
        : pitch_(110.0 * static_cast<double>(path.size())),
          left_(static_cast<std::size_t>(seconds * kMixSampleRate)),
          broken_(path.find("broken") != std::string::npos) {}
    std::size_t read(float* out, std::size_t frames) override {
        // A broken file gives its first half, then fails: at the same sample however it is read.
        const std::size_t end = broken_ ? left_ / 2 : left_;
        if (broken_ && done_ >= end) {
            failed_ = true;
            return 0;
        }
        const std::size_t n = std::min(frames, end - done_);
        failed_ = broken_ && n < frames;
        for (std::size_t i = 0; i < n; ++i, ++done_) {
            const double t = static_cast<double>(done_) / kMixSampleRate;
            out[2 * i] = static_cast<float>(0.5 * std::sin(6.283185307179586 * pitch_ * t));
            out[2 * i + 1] = static_cast<float>(0.4 * std::sin(6.283185307179586 * pitch_ * 1.5 * t));
        }
        return n;
    }
    bool failed() const override { return failed_; }

private:
    double pitch_;
    std::size_t left_;
    std::size_t done_ = 0;
    bool broken_;
    bool failed_ = false;
};

AudioDecoderFactory tones() {
    return [](const std::string& path, AudioOpenResult* result) -> std::unique_ptr<AudioDecoder> {
        if (result) *result = AudioOpenResult::Ok;
        return std::make_unique<ToneDecoder>(path, 4.0);
    };
}

std::vector<MixClip> clips() {
    return {{"a", 4.0}, {"broken-bb", 4.0}, {"ccc", 4.0}};
}

MixSettings settings(std::int64_t showFrames, std::int64_t start) {
    MixSettings result;
    result.crossfadeSeconds = 1.0;
    result.fadeOutSeconds = 1.5;
    result.showFrames = showFrames;
    result.startFrame = start;
    return result;
}

std::vector<std::int16_t> readAll(SoundtrackMix& mix, std::size_t frames) {
    std::vector<std::int16_t> out(2 * frames);
    mix.read(out.data(), frames);
    return out;
}

TEST(SoundtrackPrefetch, GivesTheMixsSamplesWhateverTheReadSizes) {
    SoundtrackMix direct(clips(), settings(9 * kMixSampleRate, 1105), tones());
    const std::vector<std::int16_t> expected = readAll(direct, 10 * kMixSampleRate);

    SoundtrackPrefetch ahead(clips(), settings(9 * kMixSampleRate, 1105), tones());
    std::vector<std::int16_t> got;
    const std::size_t sizes[] = {0, 1, 1470, 1764, 735, 60000, 3, 44100};
    for (std::size_t k = 0; got.size() < expected.size(); ++k) {
        const std::size_t frames = std::min(sizes[k % std::size(sizes)], (expected.size() - got.size()) / 2);
        std::vector<std::int16_t> part(2 * frames);
        ahead.read(part.data(), frames);
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(ahead.position(), 1105 + 10 * kMixSampleRate);
    EXPECT_EQ(ahead.unreadableClips(), std::vector<std::string>{"broken-bb"});
}

TEST(SoundtrackPrefetch, ARestartGoesOnFromWhereTheReaderStandsWithTheNewSettings) {
    SoundtrackPrefetch ahead(clips(), settings(9 * kMixSampleRate, 0), tones());
    std::vector<std::int16_t> first(2 * 100000);
    ahead.read(first.data(), 100000);
    ahead.restart(settings(7 * kMixSampleRate, 12345));
    EXPECT_EQ(ahead.position(), 100000) << "the reader's place, not the settings' start";
    std::vector<std::int16_t> rest(2 * 300000);
    ahead.read(rest.data(), 300000);

    SoundtrackMix fresh(clips(), settings(7 * kMixSampleRate, 100000), tones());
    EXPECT_TRUE(rest == readAll(fresh, 300000));
    SoundtrackMix before(clips(), settings(9 * kMixSampleRate, 0), tones());
    EXPECT_TRUE(first == readAll(before, 100000));
}

// Gone without being read to the end: the thread stops, whatever it was doing.
TEST(SoundtrackPrefetch, EndsWithoutBeingRead) {
    for (int k = 0; k < 20; ++k) {
        SoundtrackPrefetch ahead(clips(), settings(9 * kMixSampleRate, 0), tones());
        if (k % 2) {
            std::vector<std::int16_t> some(2 * 5000);
            ahead.read(some.data(), 5000);
        }
    }
}

}  // namespace
}  // namespace kestrelle
