#include "media/audio_peaks.h"
#include "media/beat_detector.h"

#include "tests/media/audio_fixtures.h"
#include "tests/support/temp_home.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using testing::WaveSpec;
using testing::writeWave;

// A stereo sine of `amplitude` at 441 Hz, silent for its first `silentSeconds`.
std::vector<double> sine(double seconds, double amplitude, double silentSeconds = 0.0, int rate = 44100) {
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<double> samples(2 * frames, 0.0);
    for (std::size_t i = static_cast<std::size_t>(silentSeconds * rate); i < frames; ++i) {
        samples[2 * i] = samples[2 * i + 1] =
            amplitude * std::sin(2 * std::numbers::pi * 441.0 * static_cast<double>(i) / rate);
    }
    return samples;
}

class AudioPeaksTest : public testing::TempHomeTest {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_media";
            static char* argv[] = {name, nullptr};
            static QCoreApplication application(argc, argv);
        }
    }

    std::string sineFile(const std::string& name, double seconds, double amplitude, double silent = 0.0,
                         int rate = 44100) {
        const std::string file = path(name);
        EXPECT_TRUE(writeWave(file, {2, rate, 16, false, false}, sine(seconds, amplitude, silent, rate)));
        return file;
    }

    // Handles events until `done` holds (or a generous deadline passes, so a fault fails instead of hanging).
    template <typename Condition>
    static bool processEventsUntil(Condition done) {
        QDeadlineTimer deadline(30000);
        while (!done() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return done();
    }
};

TEST_F(AudioPeaksTest, ASineGivesItsAmplitudeInEveryBucketAndTheExactLength) {
    const std::string file = sineFile("sine.wav", 2.0, 0.5, 1.0, 48000);
    const AudioPeaks peaks = computeAudioPeaks(file, kPeakBucketsPerSecond);
    EXPECT_TRUE(peaks.complete);
    EXPECT_EQ(peaks.decodedFrames, 88200u);
    EXPECT_DOUBLE_EQ(peaks.durationSeconds(), 2.0);
    ASSERT_EQ(peaks.low.size(), 100u);
    ASSERT_EQ(peaks.high.size(), 100u);
    for (std::size_t i = 0; i < 49; ++i) {
        EXPECT_EQ(peaks.low[i], 0) << i;
        EXPECT_EQ(peaks.high[i], 0) << i;
    }
    for (std::size_t i = 51; i < 100; ++i) {
        EXPECT_NEAR(peaks.high[i], 64, 1) << i;
        EXPECT_NEAR(peaks.low[i], -64, 1) << i;
    }
    // Any bucket rate: 7.5 a second gives 15 buckets for 2 s.
    EXPECT_EQ(computeAudioPeaks(file, 7.5).high.size(), 15u);
}

TEST_F(AudioPeaksTest, StoppedOrUnreadableFilesAreIncomplete) {
    const std::string file = sineFile("sine.wav", 1.0, 0.5);
    std::stop_source stop;
    stop.request_stop();
    const AudioPeaks stopped = computeAudioPeaks(file, 50, stop.get_token());
    EXPECT_FALSE(stopped.complete);
    EXPECT_TRUE(stopped.high.empty());
    const AudioPeaks missing = computeAudioPeaks(path("missing.mp3"), 50);
    EXPECT_FALSE(missing.complete);
    EXPECT_EQ(missing.decodedFrames, 0u);
    EXPECT_FALSE(computeAudioPeaks(file, 0).complete);
}

TEST_F(AudioPeaksTest, TheCacheAnswersOnTheContextThreadOneFileAfterTheOther) {
    const std::string first = sineFile("first.wav", 1.0, 0.25);
    const std::string second = sineFile("second.wav", 2.0, 0.5);
    QObject context;
    std::vector<std::string> ready;
    auto cache =
        std::make_unique<AudioPeakCache>(&context, [&](const std::string& file) { ready.push_back(file); });
    EXPECT_EQ(cache->peaksFor(first), nullptr);
    EXPECT_EQ(cache->peaksFor(first), nullptr);  // queued once
    EXPECT_EQ(cache->peaksFor(second), nullptr);
    EXPECT_EQ(cache->peaksFor(path("missing.wav")), nullptr);
    EXPECT_TRUE(ready.empty());  // never from inside peaksFor
    ASSERT_TRUE(processEventsUntil([&] { return ready.size() >= 2; }));
    EXPECT_EQ(ready, (std::vector<std::string>{first, second}));
    const AudioPeaks* peaks = cache->peaksFor(second);
    ASSERT_NE(peaks, nullptr);
    EXPECT_EQ(peaks->decodedFrames, 88200u);
    EXPECT_EQ(peaks->bucketsPerSecond, kPeakBucketsPerSecond);
    EXPECT_NEAR(peaks->high[60], 64, 1);

    // A file replaced by another is computed anew.
    sineFile("first.wav", 3.0, 0.25);
    EXPECT_EQ(cache->peaksFor(first), nullptr);
    ASSERT_TRUE(processEventsUntil([&] { return ready.size() >= 3; }));
    ASSERT_NE(cache->peaksFor(first), nullptr);
    EXPECT_EQ(cache->peaksFor(first)->decodedFrames, 3u * 44100);
}

TEST_F(AudioPeaksTest, FilesNoLongerWantedAreDroppedFromTheQueue) {
    const std::string a = sineFile("a.wav", 4.0, 0.5);
    const std::string b = sineFile("b.wav", 1.0, 0.5);
    const std::string c = sineFile("c.wav", 1.0, 0.5);
    const std::string d = sineFile("d.wav", 1.0, 0.5);
    QObject context;
    std::vector<std::string> ready;
    AudioPeakCache cache(&context, [&](const std::string& file) { ready.push_back(file); });
    cache.peaksFor(a);
    cache.peaksFor(b);
    cache.peaksFor(c);
    cache.retainOnly({a});
    cache.peaksFor(d);
    // Files are computed in the order asked: had b or c stayed queued, they would come before d.
    ASSERT_TRUE(processEventsUntil([&] { return !ready.empty() && ready.back() == d; }));
    EXPECT_EQ(ready, (std::vector<std::string>{a, d}));
}

TEST_F(AudioPeaksTest, DestroyingTheCacheWhileItWorksDeliversNothing) {
    const std::string file = sineFile("long.wav", 30.0, 0.5);
    QObject context;
    int calls = 0;
    {
        AudioPeakCache cache(&context, [&](const std::string&) { ++calls; });
        cache.peaksFor(file);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

// ---- Beats

TEST_F(AudioPeaksTest, BeatsOfA120BpmClickTrackLandOnTheClicks) {
    // 20 s mono, a click (10 ms of a decaying 1 kHz tone) every 0.5 s from 0.25 s on.
    constexpr int kRate = 44100;
    constexpr double kSeconds = 20.0;
    std::vector<double> samples(static_cast<std::size_t>(kSeconds * kRate), 0.0);
    std::vector<double> clicks;
    for (double at = 0.25; at < kSeconds; at += 0.5) {
        clicks.push_back(at);
        const auto first = static_cast<std::size_t>(std::llround(at * kRate));
        for (std::size_t i = 0; i < 441 && first + i < samples.size(); ++i) {
            const double t = static_cast<double>(i) / kRate;
            samples[first + i] = 0.8 * std::exp(-t * 400) * std::sin(2 * std::numbers::pi * 1000 * t);
        }
    }
    const std::string file = path("clicks.wav");
    ASSERT_TRUE(writeWave(file, {1, kRate, 16, false, false}, samples));

    const BeatTrack track = detectBeats(file);
    EXPECT_TRUE(track.complete);
    // The tracker measures its period in whole hops of 11.6 ms: 120 BPM reads as 120 +- 2.
    EXPECT_NEAR(track.beatsPerMinute, 120.0, 2.0);
    ASSERT_GT(track.beatSeconds.size(), 30u);
    EXPECT_TRUE(std::is_sorted(track.beatSeconds.begin(), track.beatSeconds.end()));
    // After three seconds of lock-in, every beat is within one video frame (16 ms) of a click (measured:
    // 1.1 ms at most, the beats lying on the clicks' attacks).
    double worst = 0.0;
    int checked = 0;
    for (double beat : track.beatSeconds) {
        if (beat < 3.0) continue;
        double nearest = 1e9;
        for (double click : clicks) nearest = std::min(nearest, std::fabs(beat - click));
        worst = std::max(worst, nearest);
        ++checked;
    }
    EXPECT_GE(checked, 30);
    EXPECT_LE(worst, 0.016);
    RecordProperty("worst_beat_offset_ms", std::to_string(worst * 1000));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(detectBeats(file, stop.get_token()).complete);
    EXPECT_FALSE(detectBeats(path("missing.wav")).complete);
}

}  // namespace
}  // namespace kestrelle
