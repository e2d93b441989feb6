#include "preview/ui/preview_player.h"

#include "project/slideshow_project.h"
#include "project/soundtrack_plan.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrelle {
namespace {

using testing::processEventsUntil;

// A device that pulls only when the test says so. `runAhead` reports the whole show as played at once, so
// the pictures never wait for the sound.
class FakeOutput final : public AudioOutput {
public:
    bool start(AudioSampleSource& from, double linearGain) override {
        ++starts;
        gain = linearGain;
        if (!hasDevice) return false;
        source = &from;
        if (runAhead) from.devicePlayed(std::int64_t{1} << 40);
        return true;
    }
    void stop() override {
        ++stops;
        source = nullptr;
    }

    bool hasDevice = true;
    bool runAhead = true;
    int starts = 0;
    int stops = 0;
    double gain = -1.0;
    AudioSampleSource* source = nullptr;
};

// Pauses nothing: the tests below either run ahead of the sound or stop it.
class NoSleeper final : public Sleeper {
public:
    void sleepMs(int) override { ++pauses; }
    std::atomic<int> pauses{0};
};

// A 44,100 Hz stereo 16-bit WAV file of a rising tone.
void writeTone(const std::string& file, double seconds) {
    const auto frames = static_cast<std::uint32_t>(seconds * 44100);
    std::vector<std::int16_t> samples(frames * 2);
    for (std::uint32_t k = 0; k < frames; ++k) {
        const double phase = 0.02 * k + 1e-6 * k * k;
        samples[2 * k] = static_cast<std::int16_t>(12000 * std::sin(phase));
        samples[2 * k + 1] = static_cast<std::int16_t>(9000 * std::sin(1.3 * phase));
    }
    const std::uint32_t dataBytes = frames * 4;
    QByteArray bytes;
    const auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const auto put16 = [&](std::uint16_t v) {
        bytes.append(static_cast<char>(v & 0xFF));
        bytes.append(static_cast<char>(v >> 8));
    };
    bytes.append("RIFF");
    put32(36 + dataBytes);
    bytes.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(2);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(16);
    bytes.append("data");
    put32(dataBytes);
    bytes.append(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(dataBytes));
    QFile out(QString::fromStdString(file));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(bytes), bytes.size());
}

class PreviewSoundPlayerTest : public testing::TempHomeTest {
protected:
    void addPhoto(double still) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(qRgb(30, 120, 200));
        const std::string file = path("photo" + std::to_string(project.photoSlideCount()) + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file)));
        project.appendPlaceholder();
        ASSERT_GE(project.insertPhoto(file, project.photoSlideCount(), 7, still, 0.2), 0);
    }
    void addClip(double seconds) {
        const std::string file = path("tone" + std::to_string(project.clips().size()) + ".wav");
        writeTone(file, seconds);
        ASSERT_EQ(project.addClip(file), AudioOpenResult::Ok);
    }
    PreviewSoundOptions options(int volume = -2000) {
        PreviewSoundOptions sound;
        sound.fadeSeconds = 0.25;
        sound.volumeSetting = volume;
        sound.output = &output;
        return sound;
    }

    SlideShowProject project;
    FakeOutput output;
    NoSleeper sleeper;
};

// The device gets the project's mix from its first frame, at the Preview Volume; the window silences it
// when it closes by itself after the last picture.
TEST_F(PreviewSoundPlayerTest, PlaysTheMixAtThePreviewVolumeAndStopsAtTheEnd) {
    addPhoto(0.4);
    addClip(0.5);
    addClip(0.5);
    output.runAhead = false;  // the pictures wait for the sound while the test pulls it
    auto player = std::make_unique<PreviewPlayer>(project, 25.0, &sleeper, nullptr, options(-2000));
    player->show();
    ASSERT_EQ(output.starts, 1);
    ASSERT_NE(output.source, nullptr);
    EXPECT_NEAR(output.gain, 0.1, 1e-12);
    EXPECT_TRUE(player->soundPlaying());

    // Pull a second of sound in device-sized pieces, as fast as the feeder has it ready.
    const std::size_t total = 44100;
    std::vector<std::int16_t> heard(total * 2);
    PreviewSound* sound = dynamic_cast<PreviewSound*>(output.source);
    ASSERT_NE(sound, nullptr);
    for (std::size_t at = 0; at < total;) {
        const std::size_t n = std::min<std::size_t>(1764, total - at);
        ASSERT_TRUE(sound->waitForBuffered(n, std::chrono::steady_clock::now() + std::chrono::seconds(60)));
        output.source->readFrames(heard.data() + at * 2, n);
        at += n;
    }
    EXPECT_EQ(sound->paddedFrames(), 0);
    MixSettings settings = previewMixSettings(project, 25.0, 0.25);
    SoundtrackMix direct(mixClipsFor(project), settings);
    std::vector<std::int16_t> expected(total * 2);
    direct.read(expected.data(), total);
    EXPECT_TRUE(heard == expected);
    EXPECT_GT(std::count_if(heard.begin(), heard.end(), [](std::int16_t s) { return std::abs(s) > 1000; }),
              1000);

    // The device reports the show played: the pictures finish and the window closes, sound and all.
    output.source->devicePlayed(std::int64_t{1} << 40);
    ASSERT_TRUE(processEventsUntil([&] { return player->workerEnded(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(player->isVisible());
    EXPECT_GE(output.stops, 1);
    EXPECT_EQ(output.source, nullptr);
    EXPECT_FALSE(player->soundPlaying());
    EXPECT_EQ(sleeper.pauses, 0);  // the pictures kept to the sound, not to the sleeper
}

// Escape silences the sound at once, also while the pictures wait for it.
TEST_F(PreviewSoundPlayerTest, EscapeStopsTheSoundAtOnce) {
    addPhoto(3600.0);
    addClip(0.5);
    output.runAhead = false;
    PreviewPlayer player(project, 25.0, &sleeper, nullptr, options());
    player.show();
    ASSERT_TRUE(player.soundPlaying());
    QTest::keyClick(&player, Qt::Key_Escape);
    EXPECT_EQ(output.stops, 1);
    EXPECT_EQ(output.source, nullptr);
    EXPECT_FALSE(player.soundPlaying());
    EXPECT_TRUE(player.workerEnded());
    EXPECT_FALSE(player.isVisible());
}

TEST_F(PreviewSoundPlayerTest, WithoutClipsNoDeviceIsOpened) {
    addPhoto(0.04);
    PreviewPlayer player(project, 25.0, &sleeper, nullptr, options());
    player.show();
    ASSERT_TRUE(processEventsUntil([&] { return player.workerEnded(); }));
    EXPECT_EQ(output.starts, 0);
    EXPECT_EQ(output.stops, 0);
    EXPECT_FALSE(player.soundPlaying());
    EXPECT_GT(sleeper.pauses, 0);  // the pictures keep the sleeper's pace as always
}

// No sound device: the pictures play alone at the sleeper's pace and the window closes by itself.
TEST_F(PreviewSoundPlayerTest, WithoutADeviceThePicturesPlayAlone) {
    addPhoto(0.2);
    addClip(0.5);
    output.hasDevice = false;
    PreviewPlayer player(project, 25.0, &sleeper, nullptr, options());
    player.show();
    EXPECT_EQ(output.starts, 1);
    EXPECT_FALSE(player.soundPlaying());
    ASSERT_TRUE(processEventsUntil([&] { return player.workerEnded(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(player.isVisible());
    EXPECT_EQ(player.result(), QDialog::Accepted);
    EXPECT_EQ(sleeper.pauses, 5 + 5);  // five still ticks and five transition steps
}

}  // namespace
}  // namespace kestrelle

namespace kestrelle {
namespace {

// The system's own device (none on a build machine, maybe one on a desktop): the preview plays its
// pictures either way and closes by itself, the sound stopped.
TEST_F(PreviewSoundPlayerTest, TheSystemsDeviceOrNoneNeverHoldsThePicturesUp) {
    addPhoto(0.2);
    addClip(0.5);
    PreviewSoundOptions sound = options(-10000);
    sound.output = nullptr;
    PreviewPlayer player(project, 25.0, &sleeper, nullptr, sound);
    player.show();
    ASSERT_TRUE(processEventsUntil([&] { return player.workerEnded(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(player.isVisible());
    EXPECT_FALSE(player.soundPlaying());
}

}  // namespace
}  // namespace kestrelle
