#include "output/generation_job.h"

#include "base/data_folder.h"
#include "media/video_compressor.h"
#include "project/slideshow_project.h"
#include "render/transition_style.h"
#include "tests/output/job_test_support.h"
#include "tests/support/temp_home.h"

#include <QImage>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <future>
#include <limits>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

using testing::decodeFrame;
using testing::runTool;

int countVideoFrames(const std::string& path) {
    const std::string text =
        runTool(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 QString::fromStdString(path)});
    return text.empty() ? -1 : std::stoi(text);
}

class GenerationJobTest : public testing::JobTest {
protected:
    std::string solidPhoto(const std::string& name, QRgb colour) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
};

// The frame schedule: still frames, the effect's frames, the budget that drops the frame reaching it,
// and the closing black frame, counted in the decoded file.
TEST_F(GenerationJobTest, FrameCountsFollowTheBudget) {
    struct Case {
        double still;
        double fps;
        int frames;
    };
    const std::string photo = solidPhoto("a.png", qRgb(200, 30, 30));
    for (const Case& c : {Case{3.0, 25.0, 100}, Case{3.0, 29.97, 120}, Case{20.0, 29.97, 630}}) {
        SlideShowProject project;
        addPhoto(project, photo, c.still, 1.0, 1);
        GenerationJob job(project, setup(c.fps));
        job.run();
        EXPECT_TRUE(job.completed());
        EXPECT_EQ(countVideoFrames(path("out.avi")), c.frames) << c.still << " s at " << c.fps;
        std::string errors;
        runTool(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                 QString::fromStdString(path("out.avi")), QStringLiteral("-f"), QStringLiteral("null"),
                 QStringLiteral("-")},
                &errors);
        EXPECT_EQ(errors, "");
    }
    EXPECT_TRUE(presenter.texts.empty());
}

// The vertical effects run in the video as their names say: effect 9 enters from the top, effect 10
// from the bottom, effect 11 from the top-left and effect 12 from the bottom-left.
TEST_F(GenerationJobTest, VerticalEffectsRunAsOnScreenInTheVideo) {
    const std::string red = solidPhoto("red.png", qRgb(220, 0, 0));
    const std::string blue = solidPhoto("blue.png", qRgb(0, 0, 220));
    // Where the next picture (blue) shows and where the previous one (red) still does, two thirds of the
    // way through the effect.
    const int right = kWidth - 3;
    const int bottom = kHeight - 3;
    struct Case {
        int effect;
        int nextX, nextY, previousX, previousY;
    };
    for (const Case& c : {Case{9, 2, 2, 2, bottom}, Case{10, 2, bottom, 2, 2}, Case{11, 2, 2, right, bottom},
                          Case{12, 2, bottom, right, 2}}) {
        SlideShowProject project;
        addPhoto(project, red, 1.0, 1.0, c.effect);
        addPhoto(project, blue, 1.0, 1.0, 1);
        GenerationJob job(project, setup(25.0));
        job.run();
        ASSERT_TRUE(job.completed());
        // 25 still frames of red, then the effect; frame 25 + 17 is two thirds of the way through.
        const QImage frame = decodeFrame(path("out.avi"), 42, kWidth, kHeight);
        ASSERT_FALSE(frame.isNull());
        const QRgb next = frame.pixel(c.nextX, c.nextY);
        const QRgb previous = frame.pixel(c.previousX, c.previousY);
        EXPECT_GT(qBlue(next), qRed(next)) << "effect " << c.effect;
        EXPECT_GT(qRed(previous), qBlue(previous)) << "effect " << c.effect;
    }
}

// Keeps a copy of every step an effect shows on screen.
class StepRecorder final : public FramePresenter {
public:
    void present(const QImage& picture, int, int) override { steps.push_back(picture.copy()); }
    std::vector<QImage> steps;
};

class NoSleep final : public Sleeper {
public:
    void sleepMs(int) override {}
};

// How many pixels of `frame` show the same picture (next: blue, previous: red) as `screen` does, counted
// where the screen's 5 x 5 neighbourhood is all one picture, away from the codec's blurred edges.
struct RegionAgreement {
    int next = 0;
    int previous = 0;
    int disagreeing = 0;
};
RegionAgreement compareRegions(const QImage& screen, const QImage& frame) {
    RegionAgreement result;
    const auto isNext = [](QRgb pixel) { return qBlue(pixel) > qRed(pixel); };
    for (int y = 2; y + 2 < screen.height(); ++y) {
        for (int x = 2; x + 2 < screen.width(); ++x) {
            const bool next = isNext(screen.pixel(x, y));
            bool uniform = true;
            for (int dy = -2; dy <= 2 && uniform; ++dy)
                for (int dx = -2; dx <= 2 && uniform; ++dx)
                    uniform = isNext(screen.pixel(x + dx, y + dy)) == next;
            if (!uniform) continue;
            if (isNext(frame.pixel(x, y)) != next)
                ++result.disagreeing;
            else
                ++(next ? result.next : result.previous);
        }
    }
    return result;
}

// The share of an image showing the next picture (blue over red).
double nextShare(const QImage& image) {
    long long next = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) next += qBlue(image.pixel(x, y)) > qRed(image.pixel(x, y));
    return static_cast<double>(next) / (static_cast<double>(image.width()) * image.height());
}

// Every effect's step in the decoded video shows the next picture where the on-screen run of the same
// step does (the chooser and the preview show effects on screen). Random blocks draw their places from
// a generator seeded with the clock, so for them the video shows as much of the next picture instead.
TEST_F(GenerationJobTest, EveryEffectRunsInTheVideoAsOnScreen) {
    const std::string red = solidPhoto("red.png", qRgb(220, 0, 0));
    const std::string blue = solidPhoto("blue.png", qRgb(0, 0, 220));
    QImage redPicture(kWidth, kHeight, QImage::Format_RGB32);
    redPicture.fill(qRgb(220, 0, 0));
    QImage bluePicture(kWidth, kHeight, QImage::Format_RGB32);
    bluePicture.fill(qRgb(0, 0, 220));
    constexpr int kStillFrames = 25;  // one second at 25 frames a second, before the effect's 25 steps
    for (int effect = 1; effect <= TransitionRegistry::kEffectCount; ++effect) {
        SCOPED_TRACE("effect " + std::to_string(effect));
        const TransitionStyle* style = TransitionRegistry::instance().find(effect);
        ASSERT_NE(style, nullptr);
        StepRecorder screen;
        NoSleep noSleep;
        QImage work = redPicture.copy();
        style->animateOnScreen(screen, 0, 0, work, bluePicture, 25.0, 1.0, noSleep);

        SlideShowProject project;
        addPhoto(project, red, 1.0, 1.0, effect);
        addPhoto(project, blue, 1.0, 1.0, 1);
        GenerationJob job(project, setup(25.0));
        job.run();
        ASSERT_TRUE(job.completed());
        for (const std::size_t step : {std::size_t{8}, std::size_t{16}}) {
            ASSERT_LT(step, screen.steps.size());
            const QImage frame =
                decodeFrame(path("out.avi"), kStillFrames + static_cast<int>(step), kWidth, kHeight);
            ASSERT_FALSE(frame.isNull());
            if (effect == 5) {
                // Two runs a second apart draw other blocks: each covers its share of the next picture
                // with a spread of about 0.03, so their difference stays within four spreads.
                EXPECT_NEAR(nextShare(frame), nextShare(screen.steps[step]), 0.12) << "step " << step;
                continue;
            }
            const RegionAgreement agreement = compareRegions(screen.steps[step], frame);
            EXPECT_GT(agreement.next, 0) << "step " << step;
            EXPECT_GT(agreement.previous, 0) << "step " << step;
            const int counted = agreement.next + agreement.previous + agreement.disagreeing;
            EXPECT_LE(agreement.disagreeing * 20, counted)
                << "step " << step << ": " << agreement.disagreeing << " of " << counted << " pixels differ";
        }
    }
}

TEST_F(GenerationJobTest, PhotoMissingAtRenderTimeRendersBlackAndIsReported) {
    const std::string photo = solidPhoto("gone.png", qRgb(250, 250, 250));
    SlideShowProject project;
    addPhoto(project, photo, 1.0, 1.0, 1);
    ASSERT_EQ(std::remove(photo.c_str()), 0);
    std::vector<std::string> undecoded;
    GenerationJob::Callbacks callbacks;
    callbacks.photoNotDecoded = [&](const std::string& file) { undecoded.push_back(file); };
    GenerationJob job(project, setup(25.0), callbacks);
    job.run();
    EXPECT_TRUE(job.completed());
    EXPECT_EQ(undecoded, std::vector<std::string>{photo});
    const QImage frame = decodeFrame(path("out.avi"), 10, kWidth, kHeight);
    ASSERT_FALSE(frame.isNull());
    EXPECT_LT(qGray(frame.pixel(kWidth / 2, kHeight / 2)), 40);
}

TEST_F(GenerationJobTest, WithoutProfileNothingIsWritten) {
    SlideShowProject project;
    addPhoto(project, solidPhoto("a.png", qRgb(1, 2, 3)), 1.0, 1.0, 1);
    GenerationJob job(project, std::nullopt);
    job.run();
    EXPECT_FALSE(job.completed());
    EXPECT_EQ(testing::readFile(path("out.avi")), "");
}

TEST_F(GenerationJobTest, UnopenableOutputSaysInitFailed) {
    SlideShowProject project;
    addPhoto(project, solidPhoto("a.png", qRgb(1, 2, 3)), 1.0, 1.0, 1);
    GenerationSetup broken = setup(25.0);
    broken.outputPath = path("missing-folder/out.avi");
    GenerationJob job(project, broken);
    job.run();
    EXPECT_FALSE(job.completed());
    EXPECT_EQ(presenter.texts, std::vector<std::string>{"Init Avi codec failed!"});
}

// Pause closes the gate between frames; Cancel while paused lets the worker go and ends the job with
// the file closed as far as written.
TEST_F(GenerationJobTest, CancelWhilePausedEndsTheJobWithAReadableFile) {
    SlideShowProject project;
    addPhoto(project, solidPhoto("a.png", qRgb(9, 99, 9)), 4.0, 1.0, 1);
    std::atomic<bool> paused{false};
    GenerationJob* running = nullptr;
    GenerationJob::Callbacks callbacks;
    callbacks.progressPosition = [&](int position) {
        if (position == 10 && !paused) {
            paused = true;
            running->togglePause(1000);
        }
    };
    // The worker reports when the gate starts holding it; a gate that let it through never would.
    std::promise<int> held;
    callbacks.heldByPause = [&held](int position) { held.set_value(position); };
    GenerationJob job(project, setup(25.0), callbacks);
    running = &job;
    std::thread worker([&job] { job.run(); });
    std::future<int> heldAt = held.get_future();
    ASSERT_EQ(heldAt.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const int position = heldAt.get();
    EXPECT_FALSE(job.running());
    EXPECT_EQ(position, 10);
    EXPECT_EQ(job.progressPosition(), position);  // held: no frame counted since
    job.requestCancel();
    worker.join();
    EXPECT_EQ(job.progressPosition(), position);
    EXPECT_FALSE(job.completed());
    const int frames = countVideoFrames(path("out.avi"));
    EXPECT_GE(frames, 9);
    EXPECT_LE(frames, 10);
}

// Cancel during a transition of an hour takes effect at the next frame, not after the transition.
TEST_F(GenerationJobTest, CancelDuringALongTransitionStopsWithinOneFrame) {
    SlideShowProject project;
    addPhoto(project, solidPhoto("a.png", qRgb(200, 200, 0)), 1.0, 3600.0, 1);
    addPhoto(project, solidPhoto("b.png", qRgb(0, 200, 200)), 1.0, 1.0, 1);
    GenerationJob* running = nullptr;
    GenerationJob::Callbacks callbacks;
    callbacks.progressPosition = [&](int position) {
        if (position == 30) running->requestCancel();
    };
    GenerationJob job(project, setup(25.0), callbacks);
    running = &job;
    job.run();
    EXPECT_FALSE(job.completed());
    EXPECT_EQ(job.progressPosition(), 30);
    EXPECT_TRUE(presenter.texts.empty());
    // 25 still frames and the effect's frames up to the one the cancel refused.
    EXPECT_EQ(countVideoFrames(path("out.avi")), 29);
}

// A budget that saturates the frame count still leaves the writer room for every frame.
TEST_F(GenerationJobTest, ASaturatedBudgetStillWritesFrames) {
    SlideShowProject project;
    const std::string photo = solidPhoto("a.png", qRgb(40, 40, 40));
    // 415 slides of a day still plus a day of transition pass INT_MAX frames at 30 per second.
    for (int i = 0; i < 415; ++i) addPhoto(project, photo, kMaxDurationSeconds, kMaxDurationSeconds, 1);
    int upper = 0;
    GenerationJob* running = nullptr;
    GenerationJob::Callbacks callbacks;
    callbacks.progressRange = [&](int value) { upper = value; };
    callbacks.progressPosition = [&](int position) {
        if (position == 5) running->requestCancel();
    };
    GenerationJob job(project, setup(29.97), callbacks);
    running = &job;
    job.run();
    EXPECT_EQ(upper, std::numeric_limits<int>::max());
    EXPECT_TRUE(presenter.texts.empty()) << presenter.texts.front();
    // The still frame counted when the cancel came is still written; the gate stops the next one.
    EXPECT_EQ(countVideoFrames(path("out.avi")), 5);
}

TEST(GenerationTimes, ElapsedLeavesPausedSpansOut) {
    EXPECT_EQ(elapsedSeconds({100}, 105), 5);
    // Paused at 105 for 10 s, resumed at 115: one second later the clock shows 6 s.
    EXPECT_EQ(elapsedSeconds({100, 105, 115}, 116), 6);
    // While paused (even count) and with a mark in the future the clock shows nothing.
    EXPECT_EQ(elapsedSeconds({100, 105}, 120), 0);
    EXPECT_EQ(elapsedSeconds({100, 105, 130}, 120), 0);
    EXPECT_EQ(elapsedSeconds({}, 120), 0);
    EXPECT_EQ(formatClockTime(elapsedSeconds({100, 105, 115}, 116)), "00:00:06");
    EXPECT_EQ(formatClockTime(3600 * 27 + 61), "27:01:01");
}

TEST(GenerationTimes, LeftTimeDividesByPositionPlusOne) {
    EXPECT_EQ(leftSeconds(10, 100, 0), 1000);  // position 0: divided by 1, never by 0
    EXPECT_EQ(leftSeconds(10, 100, 49), 10);
    EXPECT_EQ(leftSeconds(10, 100, 100), 0);
    EXPECT_EQ(leftSeconds(0, 100, 5), 0);
}

}  // namespace
}  // namespace kestrelle
