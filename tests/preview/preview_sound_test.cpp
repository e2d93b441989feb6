#include "preview/preview_sound.h"

#include "preview/audio_output.h"
#include "preview/preview_playback.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "tests/support/temp_home.h"

#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

// A clip of `frames` frames whose samples follow from the frame number (a different pattern per clip).
// With `gate`, every read waits until the gate opens.
class PatternDecoder final : public AudioDecoder {
public:
    struct Gate {
        std::mutex lock;
        std::condition_variable opened;
        bool open = false;
        void release() {
            {
                std::lock_guard<std::mutex> guard(lock);
                open = true;
            }
            opened.notify_all();
        }
    };

    PatternDecoder(std::size_t frames, double step, Gate* gate) : frames_(frames), step_(step), gate_(gate) {}

    std::size_t read(float* out, std::size_t frames) override {
        if (gate_) {
            std::unique_lock<std::mutex> guard(gate_->lock);
            gate_->opened.wait(guard, [this] { return gate_->open; });
        }
        const std::size_t n = std::min(frames, frames_ - at_);
        for (std::size_t k = 0; k < n; ++k, ++at_) {
            out[2 * k] = static_cast<float>(0.6 * std::sin(step_ * static_cast<double>(at_)));
            out[2 * k + 1] = static_cast<float>(0.4 * std::cos(0.5 * step_ * static_cast<double>(at_)));
        }
        return n;
    }
    bool failed() const override { return false; }

private:
    std::size_t frames_;
    double step_;
    Gate* gate_;
    std::size_t at_ = 0;
};

AudioDecoderFactory patternFactory(PatternDecoder::Gate* gate = nullptr) {
    return [gate](const std::string& path, AudioOpenResult* result) -> std::unique_ptr<AudioDecoder> {
        if (result) *result = AudioOpenResult::Ok;
        const double seconds = path == "a" ? 1.0 : 0.8;
        return std::make_unique<PatternDecoder>(static_cast<std::size_t>(seconds * kMixSampleRate),
                                                path == "a" ? 0.031 : 0.057, gate);
    };
}

std::vector<MixClip> twoClips() {
    return {{"a", 1.0}, {"b", 0.8}};
}

MixSettings shortShow() {
    MixSettings settings;
    settings.crossfadeSeconds = 0.2;
    settings.fadeOutSeconds = 0.3;
    settings.showFrames = kMixSampleRate * 3 / 2;  // 1.5 s
    return settings;
}

// A device that pulls only when the test says so.
class FakeOutput final : public AudioOutput {
public:
    bool start(AudioSampleSource& from, double linearGain) override {
        ++starts;
        gain = linearGain;
        if (!hasDevice) return false;
        source = &from;
        return true;
    }
    void stop() override {
        ++stops;
        source = nullptr;
    }

    bool hasDevice = true;
    int starts = 0;
    int stops = 0;
    double gain = -1.0;
    AudioSampleSource* source = nullptr;
};

std::chrono::steady_clock::time_point guard() {
    return std::chrono::steady_clock::now() + std::chrono::seconds(60);
}

TEST(PreviewVolumeTest, HundredthsOfADecibelBecomeALinearGain) {
    // -20 dB, -6 dB, the default -50 dB, -100 dB; outside -10000..0 the ends hold.
    for (const auto& [setting, gain] : {std::pair{0, 1.0},
                                        {-2000, 0.1},
                                        {-600, 0.501187},
                                        {-5000, 0.00316228},
                                        {-10000, 1e-5},
                                        {300, 1.0},
                                        {INT_MAX, 1.0},
                                        {-20000, 1e-5},
                                        {INT_MIN, 1e-5}}) {
        EXPECT_NEAR(previewVolumeGain(setting), gain, gain * 1e-6) << setting;
    }
}

// The device gets exactly the mix, frame for frame, however it cuts its pulls; then the mix's silence.
TEST(PreviewSoundTest, TheDeviceReceivesTheMixInOrder) {
    FakeOutput output;
    PreviewSound sound(twoClips(), shortShow(), 0.25, output, patternFactory());
    ASSERT_TRUE(sound.start());
    ASSERT_NE(output.source, nullptr);
    EXPECT_DOUBLE_EQ(output.gain, 0.25);
    EXPECT_TRUE(sound.playing());

    const std::size_t total = 2 * kMixSampleRate;  // past the show's end
    std::vector<std::int16_t> heard(total * 2);
    const std::size_t pulls[] = {441, 1000, 4096, 1, 17000, 2048};
    for (std::size_t at = 0, k = 0; at < total; ++k) {
        const std::size_t n = std::min(pulls[k % std::size(pulls)], total - at);
        ASSERT_TRUE(sound.waitForBuffered(n, guard()));
        output.source->readFrames(heard.data() + at * 2, n);
        at += n;
    }
    EXPECT_EQ(sound.paddedFrames(), 0);

    SoundtrackMix direct(twoClips(), shortShow(), patternFactory());
    std::vector<std::int16_t> expected(total * 2);
    direct.read(expected.data(), total);
    ASSERT_EQ(heard.size(), expected.size());
    std::size_t firstDifference = heard.size();
    for (std::size_t i = 0; i < heard.size() && firstDifference == heard.size(); ++i) {
        if (heard[i] != expected[i]) firstDifference = i;
    }
    EXPECT_EQ(firstDifference, heard.size()) << "samples differ from frame " << firstDifference / 2;
    // Not silence all along, and silence after the show.
    EXPECT_NE(std::count(heard.begin(), heard.end(), 0), static_cast<std::ptrdiff_t>(heard.size()));
    EXPECT_TRUE(std::all_of(heard.begin() + 2 * shortShow().showFrames, heard.end(),
                            [](std::int16_t s) { return s == 0; }));

    sound.stop();
    EXPECT_GE(output.stops, 1);
    EXPECT_EQ(output.source, nullptr);
    EXPECT_FALSE(sound.playing());
}

// While the feeder is held up the device gets silence, and the clock leaves that silence out.
TEST(PreviewSoundTest, SilenceForAFeederThatFellBehindIsNotShowTime) {
    PatternDecoder::Gate gate;
    FakeOutput output;
    PreviewSound sound(twoClips(), shortShow(), 1.0, output, patternFactory(&gate));
    ASSERT_TRUE(sound.start());
    std::vector<std::int16_t> block(2 * 500, 7);
    output.source->readFrames(block.data(), 500);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::int16_t s) { return s == 0; }));
    EXPECT_EQ(sound.paddedFrames(), 500);

    // The device has played 500 + 441 frames: 441 of them music, 10 ms of show time. A report far
    // ahead lets every wait up to it return at once.
    sound.devicePlayed(500 + 441);
    EXPECT_TRUE(sound.waitUntil(0.01));
    sound.devicePlayed(10 * kMixSampleRate);
    EXPECT_TRUE(sound.waitUntil(9.9));
    gate.release();
    ASSERT_TRUE(sound.waitForBuffered(PreviewSound::kChunkFrames, guard()));
    sound.stop();
    // A stopped clock never waits.
    EXPECT_FALSE(sound.waitUntil(3600.0));
}

TEST(PreviewSoundTest, NoClipsOrNoDeviceMeansNoSound) {
    FakeOutput output;
    PreviewSound none({}, shortShow(), 1.0, output, patternFactory());
    EXPECT_FALSE(none.start());
    EXPECT_EQ(output.starts, 0);
    EXPECT_FALSE(none.playing());

    FakeOutput missing;
    missing.hasDevice = false;
    PreviewSound sound(twoClips(), shortShow(), 1.0, missing, patternFactory());
    EXPECT_FALSE(sound.start());
    EXPECT_EQ(missing.starts, 1);
    EXPECT_FALSE(sound.playing());
    EXPECT_FALSE(sound.waitUntil(3600.0));  // nothing to wait for: the pictures keep their own clock
}

// The mix lasts as long as the video the job writes, the closing frame included, or cut by the budget.
TEST(PreviewSoundTest, TheMixLastsAsLongAsTheWrittenVideo) {
    SlideShowProject project;
    project.setMakesThumbnails(false);
    project.fillPlaceholders(300);
    ASSERT_GE(project.insertPhoto("/nonexistent-kestrelle/a.jpg", 0, 7, 2.0, 1.0), 0);
    ASSERT_GE(project.insertPhoto("/nonexistent-kestrelle/b.jpg", 1, 7, 2.0, 0.5), 0);
    // 25 fps: 50 + 25 + 50 + 12 frames against a budget of trunc(5.5 x 25) = 137: the last step reaches
    // it and is left out, the closing frame is written: 137 frames.
    EXPECT_EQ(previewShowFrames(project, 25.0), 137 * kMixSampleRate / 25);
    // 29.97 fps: 60 + 30 + 60 + 15 = 165 frames, budget trunc(5.5 x 30) = 165: 165 frames.
    EXPECT_EQ(previewShowFrames(project, 29.97), std::llround(165 * kMixSampleRate / 29.97));
    // A still that reaches the budget ends the video without the closing frame: 50 + 25 + 41 (40.75
    // rounded up) still frames against trunc(4.66 x 25) = 116, the 116th left out.
    project.setSlideDuration(1, 1.63);
    project.setTransitionDuration(1, 0.03);
    EXPECT_EQ(previewShowFrames(project, 25.0), 115 * kMixSampleRate / 25);
    // Halves that round down leave the budget room: 50 + 25 + 50 + 15 = 140 counted against
    // trunc(5.68 x 25) = 142, so every frame and the closing one are written.
    project.setSlideDuration(0, 2.02);
    project.setTransitionDuration(0, 1.02);
    project.setSlideDuration(1, 2.02);
    project.setTransitionDuration(1, 0.62);
    EXPECT_EQ(previewShowFrames(project, 25.0), 141 * kMixSampleRate / 25);
    EXPECT_EQ(previewShowFrames(project, 0.0), 0);

    const MixSettings settings = previewMixSettings(project, 25.0, 1.5);
    EXPECT_DOUBLE_EQ(settings.crossfadeSeconds, 1.5);
    EXPECT_DOUBLE_EQ(settings.fadeOutSeconds, 1.5);
    EXPECT_EQ(settings.showFrames, previewShowFrames(project, 25.0));
}

// A clock that records what the pictures waited for; `stopAfter` waits in, it reports a stop.
class RecordingClock final : public ShowClock {
public:
    bool waitUntil(double seconds) override {
        waits.push_back(seconds);
        return static_cast<int>(waits.size()) < stopAfter;
    }
    std::vector<double> waits;
    int stopAfter = INT_MAX;
};

class NoPauses final : public FramePresenter, public Sleeper {
public:
    void present(const QImage&, int, int) override { ++frames; }
    void sleepMs(int) override { ++pauses; }
    int frames = 0;
    int pauses = 0;
};

class ClockedPlaybackTest : public testing::TempHomeTest {
protected:
    void addPhoto(double still, double transition) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(qRgb(200, 30, 30));
        const std::string file = path("p" + std::to_string(project.photoSlideCount()) + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file)));
        project.appendPlaceholder();
        ASSERT_GE(project.insertPhoto(file, project.photoSlideCount(), 7, still, transition), 0);
    }
    SlideShowProject project;
    NoPauses target;
    RecordingClock clock;
};

// With a clock, each still lasts its frames of the video and each transition step ends on its frame:
// the pictures wait for the show's time, never for the sleeper.
TEST_F(ClockedPlaybackTest, PicturesKeepToTheVideosFrameTimes) {
    addPhoto(2.0, 1.0);
    addPhoto(0.1, 0.5);
    for (const double fps : {25.0, 29.97}) {
        clock.waits.clear();
        PreviewPlayback playback(project, 40, 30, fps, target, target);
        playback.setShowClock(&clock);
        playback.run();
        SCOPED_TRACE(fps);
        EXPECT_EQ(target.pauses, 0);
        const int still1 = slideFrameCount(2.0, fps);
        const int steps1 = transitionFrameCount(1.0, fps);
        const int still2 = slideFrameCount(0.1, fps);
        const int steps2 = transitionFrameCount(0.5, fps);
        // Each still in 40 ms ticks up to its change, then one wait per transition step.
        const auto ticks = [fps](int frames) {
            return static_cast<std::size_t>(std::ceil(frames / fps / 0.04 - 1e-9));
        };
        const std::size_t ticks1 = ticks(still1);
        const std::size_t ticks2 = ticks(still2);
        ASSERT_EQ(clock.waits.size(), ticks1 + steps1 + ticks2 + steps2);
        EXPECT_NEAR(clock.waits[0], 0.04, 1e-9);
        EXPECT_DOUBLE_EQ(clock.waits[ticks1 - 1], still1 / fps);
        for (int k = 1; k <= steps1; ++k)
            EXPECT_DOUBLE_EQ(clock.waits[ticks1 + k - 1], (still1 + k) / fps) << k;
        // The second still begins where the video has it and ends on its change.
        EXPECT_NEAR(clock.waits[ticks1 + steps1], (still1 + steps1) / fps + 0.04, 1e-9);
        EXPECT_DOUBLE_EQ(clock.waits[ticks1 + steps1 + ticks2 - 1], (still1 + steps1 + still2) / fps);
        EXPECT_DOUBLE_EQ(clock.waits.back(), (still1 + steps1 + still2 + steps2) / fps);
    }
}

TEST_F(ClockedPlaybackTest, AStoppedClockEndsThePlayback) {
    addPhoto(2.0, 1.0);
    addPhoto(2.0, 1.0);
    clock.stopAfter = 3;
    PreviewPlayback playback(project, 40, 30, 25.0, target, target);
    playback.setShowClock(&clock);
    playback.run();
    EXPECT_EQ(clock.waits.size(), 3u);
    EXPECT_EQ(target.frames, 3);

    // In a transition: the remaining steps are drawn without waiting or showing.
    RecordingClock inTransition;
    inTransition.stopAfter = 50 + 3;  // 50 still ticks, then the third step
    NoPauses shown;
    PreviewPlayback second(project, 40, 30, 25.0, shown, shown);
    second.setShowClock(&inTransition);
    second.run();
    EXPECT_EQ(inTransition.waits.size(), 53u);
    EXPECT_EQ(shown.frames, 50 + 3);
}

}  // namespace
}  // namespace kestrelle
