#include "preview/preview_playback.h"

#include "project/slideshow_project.h"
#include "tests/support/temp_home.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr int kWidth = 40;
constexpr int kHeight = 30;

// What the playback showed and how long it paused, in order; a pause is recorded as a negative entry
// in `events` so that frames and pauses can be read as one sequence.
class Recorder final : public FramePresenter, public Sleeper {
public:
    void present(const QImage& picture, int x, int y) override {
        centres.push_back(picture.pixel(picture.width() / 2, picture.height() / 2) & 0xFFFFFFu);
        sizes.push_back(picture.size());
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
        events.push_back(1);
    }
    void sleepMs(int milliseconds) override {
        pauses.push_back(milliseconds);
        events.push_back(-milliseconds);
        if (onSleep) onSleep(static_cast<int>(pauses.size()));
    }

    std::vector<QRgb> centres;
    std::vector<QSize> sizes;
    std::vector<int> pauses;
    std::vector<int> events;
    std::function<void(int)> onSleep;
};

class PreviewPlaybackTest : public testing::TempHomeTest {
protected:
    std::string solidPhoto(const std::string& name, QRgb colour) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    void addPhoto(const std::string& photo, double still, double transition, int effect) {
        project.appendPlaceholder();
        ASSERT_GE(project.insertPhoto(photo, project.photoSlideCount(), effect, still, transition), 0);
    }
    void play(double fps) {
        PreviewPlayback playback(project, kWidth, kHeight, fps, recorder, recorder);
        playback.run();
    }
    int count(int pause) const {
        return static_cast<int>(std::count(recorder.pauses.begin(), recorder.pauses.end(), pause));
    }

    SlideShowProject project;
    Recorder recorder;
};

TEST(StillTicks, CeilOfTwentyFiveTicksASecond) {
    EXPECT_EQ(stillTickCount(0.01), 1);
    EXPECT_EQ(stillTickCount(2.0), 50);
    EXPECT_EQ(stillTickCount(2.01), 51);
    EXPECT_EQ(stillTickCount(0.0), 0);
    EXPECT_EQ(stillTickCount(-3.0), 0);
    EXPECT_EQ(stillTickCount(std::nan("")), 0);
}

// Still ticks of 40 ms whatever the profile's rate; the transition's steps and pauses follow the rate.
TEST_F(PreviewPlaybackTest, StillTicksAndTransitionStepsFollowTheirOwnClocks) {
    struct Case {
        double fps;
        int steps;
        int pause;
    };
    const std::string red = solidPhoto("red.png", qRgb(200, 0, 0));
    for (const Case& c : {Case{25.0, 25, 40}, Case{29.97, 30, 33}, Case{15.0, 15, 66}}) {
        project.resetProject();
        recorder = Recorder();
        addPhoto(red, 2.0, 1.0, 7);
        play(c.fps);
        if (c.pause == 40) {
            EXPECT_EQ(count(40), 50 + 25) << c.fps;
        } else {
            EXPECT_EQ(count(40), 50) << c.fps;
            EXPECT_EQ(count(c.pause), c.steps) << c.fps;
        }
        // Every tick and step shows a frame; the transition ends on the complete next picture.
        EXPECT_EQ(recorder.centres.size(), static_cast<std::size_t>(50 + c.steps + 1)) << c.fps;
    }
}

// Each picture is fitted to the preview area; after the last slide the transition runs into black.
TEST_F(PreviewPlaybackTest, LastSlideRunsIntoBlack) {
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 0.01, 1.0, 7);
    addPhoto(solidPhoto("blue.png", qRgb(0, 0, 200)), 0.01, 1.0, 7);
    play(25.0);
    ASSERT_FALSE(recorder.centres.empty());
    for (QSize size : recorder.sizes) EXPECT_EQ(size, QSize(kWidth, kHeight));
    EXPECT_EQ(qRed(recorder.centres.front()), 200);
    // Slide 1: one tick, 25 steps, the blue picture; slide 2: one tick of blue, 25 steps, black.
    ASSERT_EQ(recorder.centres.size(), 2u * (1 + 25 + 1));
    EXPECT_EQ(qBlue(recorder.centres[26]), 200);
    EXPECT_EQ(qBlue(recorder.centres[27]), 200);
    EXPECT_EQ(recorder.centres.back(), 0u);
}

// A stop asked for during the still phase ends playback at the next tick: that tick's frame is shown,
// nothing after it.
TEST_F(PreviewPlaybackTest, StopEndsTheStillPhaseAtTheNextTick) {
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 10.0, 1.0, 7);
    addPhoto(solidPhoto("blue.png", qRgb(0, 0, 200)), 10.0, 1.0, 7);
    PreviewPlayback playback(project, kWidth, kHeight, 25.0, recorder, recorder);
    recorder.onSleep = [&](int pauses) {
        if (pauses == 5) playback.requestStop();
    };
    playback.run();
    EXPECT_EQ(recorder.pauses.size(), 5u);
    EXPECT_EQ(recorder.centres.size(), 6u);
}

// A stop during a transition lets it finish at once: no more pauses and no more frames shown.
TEST_F(PreviewPlaybackTest, StopDuringATransitionFinishesItWithoutPauses) {
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 0.04, 1.0, 7);
    addPhoto(solidPhoto("blue.png", qRgb(0, 0, 200)), 10.0, 1.0, 7);
    PreviewPlayback playback(project, kWidth, kHeight, 25.0, recorder, recorder);
    recorder.onSleep = [&](int pauses) {
        if (pauses == 4) playback.requestStop();  // one still tick, then the third step's pause
    };
    playback.run();
    EXPECT_EQ(recorder.pauses.size(), 4u);
    EXPECT_EQ(recorder.centres.size(), 4u);
}

// A photo that is gone shows black, and playback goes on with the next slide.
TEST_F(PreviewPlaybackTest, MissingPhotoShowsBlackAndPlaybackGoesOn) {
    const std::string gone = solidPhoto("gone.png", qRgb(0, 200, 0));
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 0.04, 1.0, 7);
    addPhoto(gone, 0.04, 1.0, 7);
    ASSERT_EQ(std::remove(gone.c_str()), 0);
    play(25.0);
    // Slide 1: one tick, 25 steps into black, black; slide 2: one black tick, 25 steps, black.
    ASSERT_EQ(recorder.centres.size(), 2u * (1 + 25 + 1));
    EXPECT_EQ(qRed(recorder.centres[0]), 200);
    EXPECT_EQ(recorder.centres[26], 0u);
    EXPECT_EQ(recorder.centres[27], 0u);
    EXPECT_EQ(count(40), 2 * (1 + 25));
}

TEST_F(PreviewPlaybackTest, EmptyAreaOrNoSlidesPlaysNothingButLogsTheCounts) {
    addPhoto(solidPhoto("red.png", qRgb(200, 0, 0)), 1.0, 1.0, 7);
    project.appendPlaceholder();
    PreviewPlayback empty(project, 0, 0, 25.0, recorder, recorder);
    empty.run();
    EXPECT_TRUE(recorder.events.empty());
    const std::string log = testing::readFile(dataFolder() + "/run.log");
    EXPECT_NE(log.find("DlgPreview.cpp"), std::string::npos);
    const std::string counts = "Preview slide total count " + std::to_string(project.cellCount()) +
                               ",default count " + std::to_string(project.placeholderCount());
    EXPECT_EQ(project.cellCount() - project.placeholderCount(), 1);
    EXPECT_NE(log.find(counts), std::string::npos);
    EXPECT_NE(log.find("Preview slide count 1"), std::string::npos);
}

}  // namespace
}  // namespace kestrelle
