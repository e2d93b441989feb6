// The preview of slides whose photos move: frames drawn as the video draws them, at the preview's size.

#include "preview/preview_playback.h"

#include "project/slideshow_project.h"
#include "render/photo_loader.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_home.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr std::uint64_t kSeed = 20240611;

class Recorder final : public FramePresenter, public Sleeper {
public:
    void present(const QImage& picture, int, int) override { shown.push_back(picture.copy()); }
    void sleepMs(int milliseconds) override {
        pauses.push_back(milliseconds);
        if (onSleep) onSleep(static_cast<int>(pauses.size()));
    }
    std::vector<QImage> shown;
    std::vector<int> pauses;
    std::function<void(int)> onSleep;
};

// Records the times the pictures wait for.
class RecordingClock final : public ShowClock {
public:
    bool waitUntil(double seconds) override {
        waits.push_back(seconds);
        return true;
    }
    std::vector<double> waits;
};

bool allBlack(const QImage& picture) {
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if ((picture.pixel(x, y) & 0xFFFFFFu) != 0u) return false;
    return true;
}

class PreviewMotionTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        project.setMotionSeed(kSeed);
    }
    std::string solidPhoto(const std::string& name, QRgb colour) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    // A photo with detail everywhere, so that any motion changes the frame.
    std::string texturedPhoto(const std::string& name) {
        QImage image(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 255 / 399, y * 255 / 299, ((x / 6 + y / 6) % 2) * 220));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    void addPhoto(const std::string& photo, double still, double transition, int effect,
                  const SlideLook& look = {}) {
        project.appendPlaceholder();
        const int at = project.photoSlideCount();
        ASSERT_GE(project.insertPhoto(photo, at, effect, still, transition), 0);
        if (!look.isStill()) {
            ASSERT_TRUE(project.setSlideLook(at, look));
        }
    }
    // The photo of slide `index` as the video draws it, at the preview's size.
    MovingPhoto videoPhoto(int index, double spanSeconds) const {
        const Slide* slide = project.slide(index);
        MovingPhotoRequest request;
        request.path = slide->photoPath;
        request.output = QSize(kWidth, kHeight);
        request.motion = slide->look.motion;
        request.fit = slide->look.fit;
        request.seed = kSeed;
        request.slideIndex = index;
        request.totalSeconds = spanSeconds;
        return MovingPhoto::load(request);
    }
    void play(double fps, ShowClock* clock = nullptr) {
        PreviewPlayback playback(project, kWidth, kHeight, fps, recorder, recorder);
        if (clock) playback.setShowClock(clock);
        playback.run();
    }

    static SlideLook gentle() { return {{MotionKind::GentleRandom, {}, {}}, {PhotoFit::Letterbox, false}}; }
    static SlideLook zoomIn() { return {{MotionKind::ZoomIn, {}, {}}, {PhotoFit::Fill, true}}; }

    SlideShowProject project;
    Recorder recorder;
};

// A still slide into a slide moving with Gentle random (slide index 1, the project's seed), then into
// black. The still slide keeps its 40 ms ticks and its fitted photo; the transition shows the wipe's shape
// with the photo moving in it; the moving slide's frames are the video's, at the video's times.
TEST_F(PreviewMotionTest, AMovingSlideShowsTheVideosFramesAtTheirTimes) {
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 0.2, 0.4, 7);
    addPhoto(texturedPhoto("photo.png"), 0.4, 0.2, 7, gentle());
    play(25.0);

    // Slide 1: 5 ticks, 10 wipe steps and the whole next picture; slide 2: 10 frames, 5 steps, black.
    ASSERT_EQ(recorder.shown.size(), 5u + 11u + 10u + 6u);
    QImage fitted;
    PhotoLoader::load(fitted, kWidth, kHeight, project.slide(0)->photoPath, kBlackBackground);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(recorder.shown[i], fitted) << i;
    EXPECT_EQ(std::count(recorder.pauses.begin(), recorder.pauses.begin() + 5, 40), 5);

    // The span of slide 2's motion: the incoming transition, its still, its own transition.
    const MovingPhoto photo = videoPhoto(1, 0.4 + 0.4 + 0.2);
    ASSERT_TRUE(photo.moves());
    QImage expected;
    for (int j = 0; j < 11; ++j) {
        const QImage& frame = recorder.shown[5 + j];
        photo.draw(j / 25.0, expected);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const QRgb pixel = frame.pixel(x, y);
                if (pixel == qRgb(200, 0, 0)) continue;  // not copied yet
                ASSERT_EQ(pixel, expected.pixel(x, y)) << "step " << j << " at " << x << "," << y;
            }
        }
    }
    // Slide 2's frames go on from frame 10 of its span (the wipe's 10 frames) and keep moving.
    for (int f = 0; f < 10; ++f) {
        photo.draw((10 + f) / 25.0, expected);
        EXPECT_LE(testing::largestChannelDifference(recorder.shown[16 + f], expected), 1) << f;
    }
    EXPECT_GT(testing::largestChannelDifference(recorder.shown[16], recorder.shown[25]), 10);
    EXPECT_EQ(std::count(recorder.pauses.begin() + 15, recorder.pauses.begin() + 25, 40), 10);
    // Into black: the part of each step not wiped yet is the photo at frames 20.. of its span.
    for (int j = 0; j < 5; ++j) {
        const QImage& frame = recorder.shown[26 + j];
        photo.draw((20 + j) / 25.0, expected);
        int photoPixels = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                if ((frame.pixel(x, y) & 0xFFFFFFu) == 0u) continue;
                ++photoPixels;
                ASSERT_EQ(frame.pixel(x, y), expected.pixel(x, y)) << "step " << j << " at " << x << "," << y;
            }
        }
        EXPECT_GT(photoPixels, 0) << j;
    }
    EXPECT_TRUE(allBlack(recorder.shown.back()));
}

// At 29.97 frames a second the moving still's pauses follow the rate's own clock and do not drift.
TEST_F(PreviewMotionTest, MovingStillFramesKeepTheProfilesRate) {
    addPhoto(texturedPhoto("photo.png"), 2.0, 1.0, 7, zoomIn());
    play(29.97);
    // 60 still frames (roundHalfDown of 59.94), 30 wipe steps.
    ASSERT_GE(recorder.pauses.size(), 60u);
    const int total = std::accumulate(recorder.pauses.begin(), recorder.pauses.begin() + 60, 0);
    EXPECT_EQ(total, static_cast<int>(std::llround(60 * 1000.0 / 29.97)));
    for (int i = 0; i < 60; ++i) EXPECT_TRUE(recorder.pauses[i] == 33 || recorder.pauses[i] == 34) << i;
    EXPECT_EQ(recorder.shown.size(), 60u + 30u + 1u);
    for (std::size_t i = 1; i < 60; i += 20) EXPECT_NE(recorder.shown[i], recorder.shown[i - 1]) << i;
}

// On the sound's clock a moving slide shows every video frame and waits for each one's end.
TEST_F(PreviewMotionTest, OnTheClockEveryVideoFrameIsDrawnAtItsTime) {
    addPhoto(texturedPhoto("photo.png"), 0.2, 0.2, 7, zoomIn());
    RecordingClock clock;
    play(25.0, &clock);
    ASSERT_GE(clock.waits.size(), 5u);
    for (int f = 0; f < 5; ++f) EXPECT_DOUBLE_EQ(clock.waits[f], (f + 1) / 25.0) << f;
    const MovingPhoto photo = videoPhoto(0, 0.2 + 0.2);
    QImage expected;
    for (int f = 0; f < 5; ++f) {
        photo.draw(f / 25.0, expected);
        EXPECT_LE(testing::largestChannelDifference(recorder.shown[f], expected), 1) << f;
    }
}

TEST_F(PreviewMotionTest, HostileSlidesStayBlackShortOrStopped) {
    // A photo that cannot be decoded but should move: black, and playback goes on.
    const std::string broken = path("broken.jpg");
    ASSERT_TRUE(testing::writeFile(broken, std::string("\xFF\xD8\xFF\xE0 truncated", 15)));
    addPhoto(broken, 0.08, 0.04, 7, zoomIn());
    // A still of one frame and a transition far shorter than a frame.
    addPhoto(texturedPhoto("photo.png"), 0.04, 0.001, 7, zoomIn());
    play(25.0);
    ASSERT_GE(recorder.shown.size(), 4u);
    EXPECT_TRUE(allBlack(recorder.shown[0]));
    EXPECT_TRUE(allBlack(recorder.shown[1]));
    // Slide 2's one still frame comes right after the transition into it and is its motion's start.
    const MovingPhoto photo = videoPhoto(1, 0.04 + 0.04 + 0.001);
    QImage expected;
    photo.draw(1 / 25.0, expected);
    bool found = false;
    for (const QImage& frame : recorder.shown)
        found = found || testing::largestChannelDifference(frame, expected) <= 1;
    EXPECT_TRUE(found);
    EXPECT_TRUE(allBlack(recorder.shown.back()));

    // A stop during a moving still ends playback at its next frame.
    recorder = Recorder();
    project.resetProject();
    project.setMotionSeed(kSeed);
    addPhoto(texturedPhoto("photo.png"), 10.0, 1.0, 7, gentle());
    PreviewPlayback playback(project, kWidth, kHeight, 25.0, recorder, recorder);
    recorder.onSleep = [&](int pauses) {
        if (pauses == 3) playback.requestStop();
    };
    playback.run();
    EXPECT_EQ(recorder.pauses.size(), 3u);
    EXPECT_EQ(recorder.shown.size(), 4u);
}

}  // namespace
}  // namespace kestrelle
