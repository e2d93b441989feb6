// The transition registry, the common video and screen frames of an effect, and the clipped copy.

#include "render/transition_effects.h"
#include "render/transition_style.h"

#include "tests/support/temp_home.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

QImage picture(int width, int height, std::uint32_t tag) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = 0xFF000000u | (tag << 20) | (std::uint32_t(y) << 10) | std::uint32_t(x);
        }
    }
    return image;
}

std::uint32_t at(const QImage& image, int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x];
}

struct WrittenFrame {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    const std::uint8_t* audio = nullptr;
    int samples = 0;
};

// Keeps what every write receives; refuses the writes whose 0-based index is listed.
class RecordingWriter final : public FrameWriter {
public:
    bool writeFrame(const std::uint8_t* pixels, int width, int height, const std::uint8_t* audio,
                    int sampleCount) override {
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        frames.push_back(
            {std::vector<std::uint8_t>(pixels, pixels + bytes), width, height, audio, sampleCount});
        return refuse.count(static_cast<int>(frames.size()) - 1) == 0;
    }
    std::vector<WrittenFrame> frames;
    std::set<int> refuse;
};

struct Shown {
    QImage picture;
    int x;
    int y;
};

class RecordingPresenter final : public FramePresenter {
public:
    void present(const QImage& picture, int x, int y) override { shown.push_back({picture.copy(), x, y}); }
    std::vector<Shown> shown;
};

class FakeSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override { pauses.push_back(milliseconds); }
    std::vector<int> pauses;
};

const TransitionStyle& effect(int number) {
    return *TransitionRegistry::instance().styles().at(number - 1);
}

class TransitionFrameworkTest : public testing::TempHomeTest {
protected:
    // The messages of the run log's lines, "<source>,<line>|<text>" without the source's line number.
    std::vector<std::string> logMessages() const {
        std::vector<std::string> messages;
        const std::string text = testing::readFile(dataFolder() + "/run.log");
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            const std::string line = text.substr(start, end - start);
            const std::size_t source = line.find('\t', line.find('\t') + 1) + 1;
            const std::size_t comma = line.find(',', source);
            const std::size_t bar = line.find('|', comma);
            if (comma == std::string::npos || bar == std::string::npos) continue;
            messages.push_back(line.substr(source, comma - source) + "|" + line.substr(bar + 1));
        }
        return messages;
    }
};

TEST_F(TransitionFrameworkTest, RegistryHoldsTheTwelveEffectsInNumberOrder) {
    const auto& styles = TransitionRegistry::instance().styles();
    ASSERT_EQ(styles.size(), 12u);
    const char* names[] = {"SlideInFromLeft",   "VerticalLineBlinds",  "HorizontalLineBlinds",
                           "WipeFromRight",     "RandomBlocks",        "SpiralBlocks",
                           "WipeFromLeft",      "SlideInFromRight",    "SlideInFromTop",
                           "SlideInFromBottom", "DiagonalFromTopLeft", "DiagonalFromBottomLeft"};
    for (int k = 0; k < 12; ++k) {
        EXPECT_EQ(styles[k]->number(), k + 1);
        EXPECT_STREQ(styles[k]->name(), names[k]);
        EXPECT_EQ(TransitionRegistry::instance().find(k + 1), styles[k]);
        // The audio block is silence.
        for (std::size_t b = 0; b < TransitionStyle::kAudioBlockBytes; ++b)
            ASSERT_EQ(styles[k]->audioBlock()[b], 0);
    }
    EXPECT_EQ(&TransitionRegistry::instance(), &TransitionRegistry::instance());
    const auto messages = logMessages();
    ASSERT_EQ(messages.size(), 12u);
    EXPECT_EQ(messages[0], "SlideStyle.cpp|Found Slide Style 1");
    EXPECT_EQ(messages[11], "SlideStyle.cpp|Found Slide Style 12");
}

TEST_F(TransitionFrameworkTest, NumbersOutsideTheRangeFindNothingButAreLogged) {
    const auto& registry = TransitionRegistry::instance();
    EXPECT_EQ(registry.find(13), nullptr);
    EXPECT_EQ(registry.find(-1), nullptr);
    EXPECT_EQ(registry.find(INT_MIN), nullptr);
    const auto messages = logMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "SlideStyle.cpp|Found Slide Style 13");
    EXPECT_EQ(messages[1], "SlideStyle.cpp|Found Slide Style -1");
    EXPECT_EQ(messages[2], "SlideStyle.cpp|Found Slide Style " + std::to_string(INT_MIN));
}

TEST_F(TransitionFrameworkTest, RandomPickIsFixedWithinASecondAndCoversAllTwelve) {
    const auto& registry = TransitionRegistry::instance();
    const TransitionStyle* first = registry.find(0, 1700000000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(registry.find(0, 1700000000), first);
    // The picks are logged with the number drawn.
    const auto messages = logMessages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "SlideStyle.cpp|Found Slide Style " + std::to_string(first->number()));

    // On the real clock: two picks within the same second agree (retry when the second turns over).
    bool sameSecond = false;
    for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const TransitionStyle* a = registry.find(0);
        const TransitionStyle* b = registry.find(0);
        if (std::time(nullptr) != before) continue;
        sameSecond = true;
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a, b);
    }
    EXPECT_TRUE(sameSecond);

    std::set<int> seen;
    for (std::int64_t second = 0; second < 600; ++second) {
        const TransitionStyle* style = registry.find(0, 1700000000 + second);
        ASSERT_NE(style, nullptr);
        seen.insert(style->number());
    }
    EXPECT_EQ(seen.size(), 12u);
}

TEST_F(TransitionFrameworkTest, VideoRunWritesEveryStepWithSilenceAndReportsProgress) {
    QImage canvas = picture(40, 6, 1);
    const QImage source = picture(40, 6, 2);
    RecordingWriter writer;
    std::vector<int> progress;
    int counter = 10;
    const VideoRunResult result = effect(7).renderToVideo(canvas, source, 4.0, writer, counter, 1000,
                                                          [&](int value) { progress.push_back(value); });
    EXPECT_EQ(result.advanced, 4);
    EXPECT_EQ(result.written, 4);
    EXPECT_EQ(result.refused, 0);
    EXPECT_FALSE(result.limitReached);
    EXPECT_EQ(counter, 14);
    EXPECT_EQ(progress, (std::vector<int>{11, 12, 13, 14}));
    ASSERT_EQ(writer.frames.size(), 4u);
    for (const WrittenFrame& frame : writer.frames) {
        EXPECT_EQ(frame.width, 40);
        EXPECT_EQ(frame.height, 6);
        EXPECT_EQ(frame.audio, effect(7).audioBlock());
        EXPECT_EQ(frame.samples, 8);
    }
    // The frame is the whole canvas, row 0 first: after step 2 columns 0..19 show the next picture.
    const auto pixel = [&](int frame, int x, int y) {
        std::uint32_t v;
        std::memcpy(&v, writer.frames[frame].pixels.data() + (y * 40 + x) * 4, 4);
        return v;
    };
    EXPECT_EQ(pixel(1, 19, 5), at(source, 19, 5));
    EXPECT_EQ(pixel(1, 20, 5), at(picture(40, 6, 1), 20, 5));
    EXPECT_EQ(pixel(3, 39, 0), at(source, 39, 0));
    // No frame with the complete next picture is added after the last step.
    EXPECT_EQ(canvas, source);
    EXPECT_EQ(logMessages().back(), "SlideStyle.cpp|Need 4.00,Act 4");
}

TEST_F(TransitionFrameworkTest, NeedBelowHalfAFrameWritesNothing) {
    for (const int number : {1, 2, 3, 4, 5, 7, 8, 9, 10}) {
        QImage canvas = picture(20, 10, 1);
        RecordingWriter writer;
        int counter = 3;
        const VideoRunResult result =
            effect(number).renderToVideo(canvas, picture(20, 10, 2), 0.4, writer, counter, 50);
        EXPECT_EQ(result.advanced, 0) << number;
        EXPECT_TRUE(writer.frames.empty()) << number;
        EXPECT_EQ(counter, 3);
        EXPECT_EQ(canvas, picture(20, 10, 1));
        EXPECT_EQ(logMessages().back(), "SlideStyle.cpp|Need 0.40,Act 0");
    }
}

TEST_F(TransitionFrameworkTest, FrameLimitEndsTheRunWithoutWritingTheStepThatReachedIt) {
    QImage canvas = picture(640, 2, 1);
    const QImage source = picture(640, 2, 2);
    RecordingWriter writer;
    std::vector<int> progress;
    int counter = 95;
    const VideoRunResult result = effect(7).renderToVideo(canvas, source, 30.0, writer, counter, 100,
                                                          [&](int value) { progress.push_back(value); });
    EXPECT_EQ(result.advanced, 5);
    EXPECT_EQ(result.written, 4);
    EXPECT_TRUE(result.limitReached);
    EXPECT_EQ(counter, 100);
    EXPECT_EQ(progress.back(), 100);
    // The fifth strip was drawn but not written, and nothing after it.
    EXPECT_EQ(at(canvas, 104, 0), at(source, 104, 0));
    EXPECT_EQ(at(canvas, 105, 0), at(picture(640, 2, 1), 105, 0));
    EXPECT_EQ(logMessages().back(), "SlideStyle.cpp|Need 30.00,Act 5");

    // A counter already at or past the limit advances once and writes nothing.
    RecordingWriter late;
    int past = 120;
    const VideoRunResult none = effect(1).renderToVideo(canvas, source, 30.0, late, past, 100);
    EXPECT_EQ(none.advanced, 1);
    EXPECT_TRUE(late.frames.empty());
    EXPECT_EQ(past, 121);

    // The counter never wraps around.
    RecordingWriter top;
    int full = INT_MAX - 1;
    effect(4).renderToVideo(canvas, source, 30.0, top, full, INT_MAX);
    EXPECT_EQ(full, INT_MAX);
    EXPECT_TRUE(top.frames.empty());
}

TEST_F(TransitionFrameworkTest, FrameLimitStopsTheSpiralBetweenBlocks) {
    // 20 x 12 and N = 5: 8 blocks per step. The limit reached by step 2 stops the copying right there:
    // the outer ring's top, right and bottom runs are in, its left run and the inner ring are not.
    QImage canvas = picture(20, 12, 1);
    const QImage source = picture(20, 12, 2);
    RecordingWriter writer;
    int counter = 8;
    const VideoRunResult result = effect(6).renderToVideo(canvas, source, 5.0, writer, counter, 10);
    EXPECT_EQ(result.advanced, 2);
    EXPECT_EQ(writer.frames.size(), 1u);
    const QImage current = picture(20, 12, 1);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 20; ++x) {
            const bool revealed = y < 4 || y >= 8 || x >= 16;
            ASSERT_EQ(at(canvas, x, y), revealed ? at(source, x, y) : at(current, x, y)) << x << "," << y;
        }
    }
}

// A refused frame means the job is cancelled or its file is closed: the run ends at that step, so a
// long transition does not go on drawing frames nobody takes.
TEST_F(TransitionFrameworkTest, TheRunEndsAtTheFirstRefusedFrame) {
    for (const TransitionStyle* style : TransitionRegistry::instance().styles()) {
        SCOPED_TRACE(style->number());
        QImage canvas = picture(30, 24, 1);
        RecordingWriter writer;
        writer.refuse = {2, 3};
        int counter = 10;
        const VideoRunResult result =
            style->renderToVideo(canvas, picture(30, 24, 2), 5000.0, writer, counter, 100000);
        EXPECT_EQ(result.advanced, 3);
        EXPECT_EQ(result.written, 2);
        EXPECT_EQ(result.refused, 1);
        EXPECT_FALSE(result.limitReached);
        EXPECT_EQ(counter, 13);
        EXPECT_EQ(writer.frames.size(), 3u);
    }
}

TEST_F(TransitionFrameworkTest, SurfacesThatAreNotFourBytesAPixelTakeNoSteps) {
    QImage canvas(16, 8, QImage::Format_RGB888);
    canvas.fill(Qt::red);
    const QImage before = canvas.copy();
    RecordingWriter writer;
    int counter = 0;
    EXPECT_EQ(effect(7).renderToVideo(canvas, picture(16, 8, 2), 4.0, writer, counter, 100).advanced, 0);
    EXPECT_EQ(canvas, before);
    QImage empty;
    EXPECT_EQ(effect(7).renderToVideo(empty, picture(16, 8, 2), 4.0, writer, counter, 100).advanced, 0);
    EXPECT_TRUE(writer.frames.empty());
}

TEST(TransitionScreenTest, PausesAfterEveryStepAndEndsOnTheNextPicture) {
    QImage work = picture(50, 5, 1);
    const QImage source = picture(50, 5, 2);
    RecordingPresenter presenter;
    FakeSleeper sleeper;
    effect(7).animateOnScreen(presenter, 12, 34, work, source, 10.0, 0.7, sleeper);
    EXPECT_EQ(sleeper.pauses, std::vector<int>(10, 70));
    ASSERT_EQ(presenter.shown.size(), 11u);
    for (const Shown& shown : presenter.shown) {
        EXPECT_EQ(shown.x, 12);
        EXPECT_EQ(shown.y, 34);
        EXPECT_EQ(shown.picture.size(), QSize(50, 5));
    }
    EXPECT_EQ(presenter.shown[0].picture.copy(5, 0, 45, 5), picture(50, 5, 1).copy(5, 0, 45, 5));
    EXPECT_EQ(presenter.shown.back().picture, source);
}

TEST(TransitionScreenTest, PauseComesFromTheStepTargetEvenWhenTheStepCountDiffers) {
    // The diagonal takes 50 positions for N = 100 and pauses 1000 / 100 ms after each.
    QImage work = picture(100, 80, 1);
    RecordingPresenter presenter;
    FakeSleeper sleeper;
    effect(11).animateOnScreen(presenter, 0, 0, work, picture(100, 80, 2), 100.0, 1.0, sleeper);
    EXPECT_EQ(sleeper.pauses, std::vector<int>(50, 10));

    EXPECT_EQ(TransitionStyle::pauseMs(30.0, 1.0), 33);  // truncated
    EXPECT_EQ(TransitionStyle::pauseMs(7.0, 0.0), 0);
    EXPECT_EQ(TransitionStyle::pauseMs(7.0, -2.0), 0);  // no negative sleeps
    EXPECT_EQ(TransitionStyle::pauseMs(7.0, std::nan("")), 0);
    EXPECT_EQ(TransitionStyle::pauseMs(0.0, 1.0), 0);
    EXPECT_EQ(TransitionStyle::pauseMs(1e-6, 1e9), INT_MAX);
}

// Per-pixel reference of the clipped copy.
QImage referenceCopy(QImage dest, int dx, int dy, const QImage& source, int sx, int sy, int w, int h) {
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            const int tx = dx + c, ty = dy + r, fx = sx + c, fy = sy + r;
            if (tx < 0 || ty < 0 || tx >= dest.width() || ty >= dest.height()) continue;
            if (fx < 0 || fy < 0 || fx >= source.width() || fy >= source.height()) continue;
            reinterpret_cast<std::uint32_t*>(dest.scanLine(ty))[tx] = at(source, fx, fy);
        }
    }
    return dest;
}

TEST(CopyRectTest, CopiesOnlyThePartInsideBothPictures) {
    const QImage source = picture(9, 7, 2);
    struct Rect {
        int dx, dy, sx, sy, w, h;
    };
    const Rect rects[] = {
        {2, 1, 3, 2, 4, 3},                            // wholly inside
        {-2, 0, 0, 0, 5, 4},                           // left of the canvas
        {0, -3, 0, 0, 4, 5},                           // above the canvas
        {0, 0, -3, -1, 6, 4},                          // left of and above the source
        {8, 5, 0, 0, 6, 6},                            // beyond the canvas's right and bottom edges
        {0, 0, 6, 4, 6, 6},                            // beyond the source's right and bottom edges
        {-4, -4, -4, -4, 30, 30}, {3, 3, 0, 0, 0, 5},  // empty
        {3, 3, 0, 0, -2, -2},                          // negative
        {20, 0, 0, 0, 4, 4},                           // nowhere near
        {0, 0, 0, 9, 4, 4},
    };
    for (const Rect& r : rects) {
        SCOPED_TRACE(::testing::Message() << r.dx << "," << r.dy << " from " << r.sx << "," << r.sy
                                          << " size " << r.w << "x" << r.h);
        QImage canvas = picture(11, 6, 1);
        const QImage expected = referenceCopy(canvas, r.dx, r.dy, source, r.sx, r.sy, r.w, r.h);
        copyRect(canvas, r.dx, r.dy, source, r.sx, r.sy, r.w, r.h);
        EXPECT_EQ(canvas, expected);
    }
    // Far outside the 32-bit range.
    QImage canvas = picture(11, 6, 1);
    copyRect(canvas, INT64_MIN / 2, 0, source, INT64_MAX / 2, 0, INT64_MAX / 2, 3);
    EXPECT_EQ(canvas, picture(11, 6, 1));
}

TEST(CopyRectTest, OverlappingCopyWithinOnePictureAndSharedPictures) {
    QImage image = picture(10, 4, 1);
    const QImage original = image.copy();
    copyRect(image, 2, 1, image, 0, 0, 8, 3);
    EXPECT_EQ(image, referenceCopy(original, 2, 1, original, 0, 0, 8, 3));
    // A destination sharing its pixels with another picture leaves that picture alone.
    QImage shared = original;
    QImage dest = original;
    copyRect(dest, 0, 0, picture(10, 4, 2), 0, 0, 5, 4);
    EXPECT_EQ(shared, original);
    EXPECT_NE(dest, original);
    // Pictures of another depth are left alone.
    QImage rgb(10, 4, QImage::Format_RGB888);
    rgb.fill(Qt::blue);
    const QImage before = rgb.copy();
    copyRect(rgb, 0, 0, original, 0, 0, 5, 4);
    EXPECT_EQ(rgb, before);
}

TEST_F(TransitionFrameworkTest, EffectsRunOnSeveralThreadsAtOnce) {
    // Each thread runs every effect on its own pictures; the registry and the generator are shared.
    std::vector<std::thread> threads;
    std::vector<int> frames(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &frames] {
            for (int number = 1; number <= 12; ++number) {
                QImage canvas = picture(64, 48, 1);
                RecordingWriter writer;
                int counter = 0;
                effect(number).renderToVideo(canvas, picture(64, 48, 2), 9.0, writer, counter, 1000);
                frames[t] += static_cast<int>(writer.frames.size());
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 1; t < 4; ++t) EXPECT_EQ(frames[t], frames[0]);
}

}  // namespace
}  // namespace kestrelle
