// The chooser's sample loop: which effect each run plays, what it shows, and how it stops.

#include "render/transition_sampler.h"
#include "tests/support/temp_home.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

class RecordingPresenter final : public FramePresenter {
public:
    void present(const QImage& picture, int, int) override { shown.push_back(picture.copy()); }
    std::vector<QImage> shown;
};

class CountingSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override {
        ++calls;
        total += milliseconds;
    }
    int calls = 0;
    int total = 0;
};

class TransitionSamplerTest : public testing::TempHomeTest {
protected:
    std::string runLog() const { return testing::readFile(dataFolder() + "/run.log"); }
    // Writes a small photo filled with one colour.
    std::string photo(const std::string& name, QColor colour) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    RecordingPresenter presenter;
    CountingSleeper sleeper;
};

TEST_F(TransitionSamplerTest, EachRunPlaysTheEffectHoveredAtItsStart) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(6);
    EXPECT_EQ(sampler.runOnce(), 6);
    EXPECT_NE(runLog().find("Found Slide Style 6"), std::string::npos);
    sampler.setHoveredStyle(12);
    EXPECT_EQ(sampler.runOnce(), 12);
    EXPECT_NE(runLog().find("Found Slide Style 12"), std::string::npos);
    // Ten steps 70 ms apart, then the whole next picture.
    EXPECT_EQ(sleeper.calls, 20);
    EXPECT_EQ(sleeper.total, 20 * 70);
    EXPECT_EQ(presenter.shown.size(), 22u);
}

TEST_F(TransitionSamplerTest, WithoutAProjectBlackTurnsWhite) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(7);
    sampler.runOnce();
    ASSERT_FALSE(presenter.shown.empty());
    EXPECT_EQ(presenter.shown.front().size(), QSize(40, 30));
    EXPECT_EQ(presenter.shown.front().pixelColor(39, 15), QColor(Qt::black));  // the wipe starts at the left
    EXPECT_EQ(presenter.shown.back().pixelColor(39, 29), QColor(Qt::white));
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 0), QColor(Qt::white));
}

TEST_F(TransitionSamplerTest, TheLastSlidePlaysIntoBlackAndAMissingPhotoIsBlack) {
    SampleSource last{true, photo("red.png", Qt::red), ""};
    TransitionSampler sampler(last, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(1);
    sampler.runOnce();
    ASSERT_GE(presenter.shown.size(), 2u);
    EXPECT_EQ(presenter.shown.front().pixelColor(39, 15), QColor(Qt::red));
    EXPECT_EQ(presenter.shown.back().pixelColor(20, 15), QColor(Qt::black));

    presenter.shown.clear();
    SampleSource broken{true, path("missing.jpg"), photo("blue.png", Qt::blue)};
    TransitionSampler second(broken, 40, 30, presenter, sleeper);
    second.setHoveredStyle(4);
    second.runOnce();
    EXPECT_EQ(presenter.shown.front().pixelColor(0, 15), QColor(Qt::black));
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 15), QColor(Qt::blue));
}

TEST_F(TransitionSamplerTest, AnUnknownEffectShowsNothingAndWaitsInsteadOfSpinning) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(99);
    EXPECT_EQ(sampler.runOnce(), -1);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(sleeper.calls, 1);
    EXPECT_EQ(sleeper.total, 700);
}

TEST_F(TransitionSamplerTest, AStopEndsTheLoopAndWakesTheSleeper) {
    InterruptibleSleeper wakeable;
    TransitionSampler sampler({}, 8, 8, presenter, wakeable);
    std::atomic<bool> ended{false};
    std::thread loop([&] {
        sampler.run();
        ended = true;
    });
    sampler.requestStop();
    wakeable.interrupt();
    loop.join();
    EXPECT_TRUE(ended);
    // Once woken, a sleeper no longer waits at all.
    wakeable.sleepMs(1000000);
}

}  // namespace
}  // namespace kestrelle
