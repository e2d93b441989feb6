// Geometry of the twelve transition effects, pixel for pixel on small pictures.

#include "render/transition_effects.h"

#include "tests/support/temp_home.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <set>
#include <sstream>
#include <vector>

namespace kestrelle {
namespace {

constexpr std::uint32_t kCurrent = 1;  // the current picture's tag
constexpr std::uint32_t kNext = 2;     // the next picture's tag
constexpr std::uint32_t kGuard = 0xA5A5A5A5u;

// A distinct value for every pixel of every picture (widths and heights below 1024).
std::uint32_t value(std::uint32_t tag, int x, int y) {
    return 0xFF000000u | (tag << 20) | (static_cast<std::uint32_t>(y) << 10) | static_cast<std::uint32_t>(x);
}

std::uint32_t at(const QImage& image, int x, int y) {
    return reinterpret_cast<const std::uint32_t*>(image.constScanLine(y))[x];
}

void fill(QImage& image, std::uint32_t tag) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) row[x] = value(tag, x, y);
    }
}

QImage picture(int width, int height, std::uint32_t tag) {
    QImage image(width, height, QImage::Format_RGB32);
    fill(image, tag);
    return image;
}

// Checks every pixel of `got` against `want(x, y)` and names the first difference.
::testing::AssertionResult pixelsAre(const QImage& got, const std::function<std::uint32_t(int, int)>& want) {
    for (int y = 0; y < got.height(); ++y) {
        for (int x = 0; x < got.width(); ++x) {
            const std::uint32_t expected = want(x, y);
            if (at(got, x, y) != expected) {
                std::ostringstream text;
                text << "pixel (" << x << ", " << y << ") is 0x" << std::hex << at(got, x, y)
                     << ", expected 0x" << expected;
                return ::testing::AssertionFailure() << text.str();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// Keeps every frame a video run writes, as a picture.
class RecordingWriter final : public FrameWriter {
public:
    bool writeFrame(const std::uint8_t* pixels, int width, int height, const std::uint8_t*, int) override {
        QImage frame(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            std::memcpy(frame.scanLine(y), pixels + static_cast<std::size_t>(y) * width * 4,
                        std::size_t(width) * 4);
        }
        frames.push_back(frame);
        return true;
    }
    std::vector<QImage> frames;
};

class RecordingPresenter final : public FramePresenter {
public:
    void present(const QImage& picture, int, int) override { shown.push_back(picture.copy()); }
    std::vector<QImage> shown;
};

class NoSleep final : public Sleeper {
public:
    void sleepMs(int milliseconds) override { pauses.push_back(milliseconds); }
    std::vector<int> pauses;
};

const TransitionStyle& effect(int number) {
    return *TransitionRegistry::instance().styles().at(number - 1);
}

// Runs an effect into a video from a fresh current picture and returns every written frame.
std::vector<QImage> videoFrames(int number, int width, int height, double target) {
    QImage canvas = picture(width, height, kCurrent);
    const QImage source = picture(width, height, kNext);
    RecordingWriter writer;
    int counter = 0;
    effect(number).renderToVideo(canvas, source, target, writer, counter, std::numeric_limits<int>::max());
    return writer.frames;
}

class TransitionEffectsTest : public testing::TempHomeTest {};

// Horizontal strips: W = 640 and N = 30 give 21-pixel strips and 30 steps.
TEST_F(TransitionEffectsTest, HorizontalStripsAndSlidesFollowTheirStrips) {
    constexpr int W = 640, H = 3, s = 21;
    const auto wipeLeft = videoFrames(7, W, H, 30.0);
    const auto slideLeft = videoFrames(1, W, H, 30.0);
    const auto wipeRight = videoFrames(4, W, H, 30.0);
    const auto slideRight = videoFrames(8, W, H, 30.0);
    ASSERT_EQ(wipeLeft.size(), 30u);
    ASSERT_EQ(slideLeft.size(), 30u);
    ASSERT_EQ(wipeRight.size(), 30u);
    ASSERT_EQ(slideRight.size(), 30u);
    for (int i = 0; i < 30; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(pixelsAre(wipeLeft[i], [&](int x, int y) {
            return x < (i + 1) * s ? value(kNext, x, y) : value(kCurrent, x, y);
        }));
        EXPECT_TRUE(pixelsAre(slideLeft[i], [&](int x, int y) {
            return x < i * s ? value(kNext, W - i * s + x, y) : value(kCurrent, x, y);
        }));
        EXPECT_TRUE(pixelsAre(wipeRight[i], [&](int x, int y) {
            return x >= W - i * s ? value(kNext, x, y) : value(kCurrent, x, y);
        }));
        EXPECT_TRUE(pixelsAre(slideRight[i], [&](int x, int y) {
            const int edge = W - (i + 1) * s;
            return x >= edge ? value(kNext, x - edge, y) : value(kCurrent, x, y);
        }));
    }
    // Step 0 of effects 1 and 4 changes nothing; step 1 shows the columns 619..639.
    EXPECT_TRUE(pixelsAre(slideLeft[0], [](int x, int y) { return value(kCurrent, x, y); }));
    EXPECT_TRUE(pixelsAre(wipeRight[0], [](int x, int y) { return value(kCurrent, x, y); }));
    EXPECT_EQ(at(slideLeft[1], 0, 1), value(kNext, 619, 1));
    EXPECT_EQ(at(slideLeft[1], 20, 1), value(kNext, 639, 1));
    EXPECT_EQ(at(slideLeft[1], 21, 1), value(kCurrent, 21, 1));
    EXPECT_EQ(at(wipeRight[1], 619, 0), value(kNext, 619, 0));
    EXPECT_EQ(at(wipeRight[1], 618, 0), value(kCurrent, 618, 0));
    // After the wipe's last step columns 0..629 show the next picture and 630..639 the current one.
    EXPECT_EQ(at(wipeLeft.back(), 629, 2), value(kNext, 629, 2));
    EXPECT_EQ(at(wipeLeft.back(), 630, 2), value(kCurrent, 630, 2));
}

TEST_F(TransitionEffectsTest, WipeOnScreenEndsWithTheWholeNextPicture) {
    QImage work = picture(640, 2, kCurrent);
    const QImage source = picture(640, 2, kNext);
    RecordingPresenter presenter;
    NoSleep sleeper;
    effect(7).animateOnScreen(presenter, 0, 0, work, source, 30.0, 1.0, sleeper);
    ASSERT_EQ(presenter.shown.size(), 31u);
    EXPECT_EQ(at(presenter.shown[29], 630, 0), value(kCurrent, 630, 0));
    EXPECT_TRUE(pixelsAre(presenter.shown.back(), [](int x, int y) { return value(kNext, x, y); }));
}

TEST_F(TransitionEffectsTest, StripsNarrowerThanOnePixelStayOnePixelWide) {
    // W / N = 0.5: every step is a 1-pixel strip, so 40 steps cover only columns 0..39.
    const auto frames = videoFrames(7, 20, 2, 40.0);
    ASSERT_EQ(frames.size(), 40u);
    EXPECT_TRUE(pixelsAre(frames[5],
                          [](int x, int y) { return x < 6 ? value(kNext, x, y) : value(kCurrent, x, y); }));
    EXPECT_TRUE(pixelsAre(frames.back(), [](int x, int y) { return value(kNext, x, y); }));
}

TEST_F(TransitionEffectsTest, VerticalBlindsCopyOneColumnPerBandAtEachOffset) {
    // 650 * 0.05 = 32.5 rounds down to 32 bands: columns 640..649 are never copied.
    const auto frames = videoFrames(2, 650, 2, 10.0);
    ASSERT_EQ(frames.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(pixelsAre(frames[i], [&](int x, int y) {
            const bool copied = x < 640 && x % 2 == 0 && (x % 20) / 2 <= i;
            return copied ? value(kNext, x, y) : value(kCurrent, x, y);
        }));
    }
    // Offsets that are not whole numbers are truncated: N = 7 gives 0, 2, 5, 8, 11, 14, 17.
    const auto seven = videoFrames(2, 40, 1, 7.0);
    ASSERT_EQ(seven.size(), 7u);
    const std::set<int> offsets{0, 2, 5, 8, 11, 14, 17};
    EXPECT_TRUE(pixelsAre(seven.back(), [&](int x, int y) {
        return offsets.count(x % 20) ? value(kNext, x, y) : value(kCurrent, x, y);
    }));
}

TEST_F(TransitionEffectsTest, HorizontalBlindsCopyOneRowPerBand) {
    // 50 * 0.05 = 2.5 rounds down to 2 bands; N = 4 gives the offsets 0, 5, 10, 15.
    const auto frames = videoFrames(3, 3, 50, 4.0);
    ASSERT_EQ(frames.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(pixelsAre(frames[i], [&](int x, int y) {
            const bool copied = y < 40 && y % 5 == 0 && (y % 20) / 5 <= i;
            return copied ? value(kNext, x, y) : value(kCurrent, x, y);
        }));
    }
}

TEST_F(TransitionEffectsTest, VerticalSlidesGrowByWholeBands) {
    // H = 480 and N = 30: step i (1..30) copies a band of 16 i rows; the last covers the whole height.
    const auto fromTop = videoFrames(9, 2, 480, 30.0);
    const auto fromBottom = videoFrames(10, 2, 480, 30.0);
    ASSERT_EQ(fromTop.size(), 30u);
    ASSERT_EQ(fromBottom.size(), 30u);
    for (int i = 1; i <= 30; ++i) {
        SCOPED_TRACE(i);
        const int band = 16 * i;
        EXPECT_TRUE(pixelsAre(fromTop[i - 1], [&](int x, int y) {
            return y < band ? value(kNext, x, 480 - band + y) : value(kCurrent, x, y);
        }));
        EXPECT_TRUE(pixelsAre(fromBottom[i - 1], [&](int x, int y) {
            return y >= 480 - band ? value(kNext, x, y - (480 - band)) : value(kCurrent, x, y);
        }));
    }
}

TEST_F(TransitionEffectsTest, SlideFromTopClipsABandReachingAboveTheNextPicture) {
    // N = 29.6 rounds to 30 steps, so the last band is trunc(486.49) = 486 rows taken from row -6: only
    // the part inside the next picture is copied (rows 0..473 to 6..479), rows 0..5 keep the step before.
    const auto frames = videoFrames(9, 1, 480, 29.6);
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_TRUE(pixelsAre(
        frames.back(), [&](int x, int y) { return y < 6 ? at(frames[28], x, y) : value(kNext, x, y - 6); }));
}

TEST_F(TransitionEffectsTest, RandomBlocksCopyWholeGridSquaresInPlace) {
    // H = 48 and N = 7: block 13.71, squares of 13 at x, y = 0, 14, 27, 41, 55 (a 5 x 4 grid).
    const std::vector<int> starts{0, 14, 27, 41, 55};
    const auto frames = videoFrames(5, 64, 48, 7.0);
    ASSERT_EQ(frames.size(), 7u);
    const auto squareOf = [&](int c) -> int {  // the grid square holding coordinate c, or -1
        for (std::size_t k = 0; k < starts.size(); ++k) {
            if (c >= starts[k] && c < starts[k] + 13) return static_cast<int>(k);
        }
        return -1;
    };
    std::set<std::pair<int, int>> previous;
    for (const QImage& frame : frames) {
        std::set<std::pair<int, int>> copied;
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 64; ++x) {
                if (at(frame, x, y) == value(kCurrent, x, y)) continue;
                ASSERT_EQ(at(frame, x, y), value(kNext, x, y)) << x << "," << y;
                ASSERT_GE(squareOf(x), 0) << "column " << x << " lies between squares";
                ASSERT_GE(squareOf(y), 0) << "row " << y << " lies between squares";
                copied.insert({squareOf(x), squareOf(y)});
            }
        }
        for (const auto& [col, row] : copied) {  // a square is copied whole
            for (int y = starts[row]; y < std::min(48, starts[row] + 13); ++y) {
                for (int x = starts[col]; x < std::min(64, starts[col] + 13); ++x) {
                    ASSERT_EQ(at(frame, x, y), value(kNext, x, y));
                }
            }
        }
        for (const auto& square : previous) EXPECT_TRUE(copied.count(square)) << "a copied square went back";
        previous = copied;
    }
    // 350 draws over 20 cells, all of them at least partly inside the canvas: some square is copied.
    EXPECT_FALSE(previous.empty());
}

TEST_F(TransitionEffectsTest, SpiralArithmeticForAVgaFrame) {
    const SpiralPlan plan = spiralPlan(640, 480, 30.0);
    EXPECT_EQ(plan.blockSide, 21);
    EXPECT_EQ(plan.columns, 30);
    EXPECT_EQ(plan.rows, 22);
    EXPECT_EQ(plan.rings, 11);
    EXPECT_EQ(plan.blocks, 990);  // ring j holds 110 - 4 j blocks
    EXPECT_EQ(plan.perStep, 33);
    EXPECT_EQ(plan.steps, 30);
    EXPECT_EQ(videoFrames(6, 640, 480, 30.0).size(), 30u);
}

TEST_F(TransitionEffectsTest, SpiralCopiesBlocksInRingOrder) {
    // 20 x 12 and N = 5: q = 4, u = 5, v = 3, two rings of 22 and 18 blocks, 8 blocks per step.
    const SpiralPlan plan = spiralPlan(20, 12, 5.0);
    EXPECT_EQ(plan.rings, 2);
    EXPECT_EQ(plan.blocks, 40);
    EXPECT_EQ(plan.perStep, 8);
    const auto frames = videoFrames(6, 20, 12, 5.0);
    ASSERT_EQ(frames.size(), 5u);
    // Step 1: the top run (6 blocks, the last beyond the right edge) and two blocks of the right run.
    EXPECT_TRUE(pixelsAre(frames[0], [](int x, int y) {
        return (y < 4 || (x >= 16 && y < 8)) ? value(kNext, x, y) : value(kCurrent, x, y);
    }));
    // Step 2: the rest of the right run and the bottom run, right to left.
    EXPECT_TRUE(pixelsAre(frames[1], [](int x, int y) {
        return (y < 4 || y >= 8 || x >= 16) ? value(kNext, x, y) : value(kCurrent, x, y);
    }));
    // Step 3: the bottom run's last block (beyond the left edge), the left run upwards (x 0..3), then the
    // inner ring's first two top blocks (y 4..7, x 0..7).
    EXPECT_TRUE(pixelsAre(frames[2], [](int x, int y) {
        return (y < 4 || y >= 8 || x >= 16 || x < 8) ? value(kNext, x, y) : value(kCurrent, x, y);
    }));
    EXPECT_TRUE(pixelsAre(frames.back(), [](int x, int y) { return value(kNext, x, y); }));
}

TEST_F(TransitionEffectsTest, SpiralStepCountFollowsItsBlocks) {
    // More steps asked for than blocks: every block ends a step.
    EXPECT_EQ(spiralPlan(20, 12, 50.0).perStep, 0);
    EXPECT_EQ(videoFrames(6, 20, 12, 50.0).size(), 40u);
    // 100 x 60 and N = 7: 52 blocks, 7 per step, 7 steps; the last 3 blocks end no step.
    const SpiralPlan plan = spiralPlan(100, 60, 7.0);
    EXPECT_EQ(plan.blocks, 52);
    EXPECT_EQ(plan.steps, 7);
    EXPECT_EQ(videoFrames(6, 100, 60, 7.0).size(), 7u);
    // A step target under 0.5 takes no step at all and leaves the canvas alone.
    EXPECT_EQ(spiralPlan(20, 12, 0.4).steps, 0);
    QImage canvas = picture(20, 12, kCurrent);
    RecordingWriter writer;
    int counter = 0;
    const VideoRunResult result =
        effect(6).renderToVideo(canvas, picture(20, 12, kNext), 0.4, writer, counter, 100);
    EXPECT_EQ(result.advanced, 0);
    EXPECT_TRUE(writer.frames.empty());
    EXPECT_TRUE(pixelsAre(canvas, [](int x, int y) { return value(kCurrent, x, y); }));
}

TEST_F(TransitionEffectsTest, DiagonalPositionsAreRaisedToTwoPixels) {
    const auto positions = diagonalPositions(100, 80, 100.0);
    ASSERT_EQ(positions.size(), 50u);
    for (std::size_t k = 0; k < positions.size(); ++k) EXPECT_DOUBLE_EQ(positions[k], 2.0 * k);
    EXPECT_EQ(diagonalPositions(100, 80, 20.0).size(), 20u);  // d = 5 stays
    EXPECT_EQ(diagonalPositions(60, 100, 10.0).size(), 10u);  // the longer side is the height
}

TEST_F(TransitionEffectsTest, DiagonalsGrowASquareFromTheCorner) {
    constexpr int W = 100, H = 80;
    const auto topLeft = videoFrames(11, W, H, 100.0);
    const auto bottomLeft = videoFrames(12, W, H, 100.0);
    ASSERT_EQ(topLeft.size(), 50u);
    ASSERT_EQ(bottomLeft.size(), 50u);
    for (int k = 0; k < 50; ++k) {
        SCOPED_TRACE(k);
        const int t = 2 * k;
        const int sx = W - t;
        const int sy = std::max(0, H - t);
        EXPECT_TRUE(pixelsAre(topLeft[k], [&](int x, int y) {
            return (x < t && y < t) ? value(kNext, sx + x, sy + y) : value(kCurrent, x, y);
        }));
        const int rows = std::min(H, t);
        EXPECT_TRUE(pixelsAre(bottomLeft[k], [&](int x, int y) {
            return (x < t && y >= H - rows) ? value(kNext, sx + x, y - (H - rows)) : value(kCurrent, x, y);
        }));
    }
}

// Every effect, on pictures wrapped in guard rows and padded rows, for several step targets.
struct Case {
    int number;
    double target;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    std::string name = "Effect" + std::to_string(info.param.number) + "_N" +
                       std::to_string(static_cast<int>(info.param.target * 10));
    return name;
}

// A picture over a buffer with two guard rows above and below and three guard pixels after each row.
class GuardedPicture {
public:
    GuardedPicture(int width, int height, std::uint32_t tag)
        : stride_(width + 3),
          buffer_(static_cast<std::size_t>(stride_) * (height + 4), kGuard),
          image_(reinterpret_cast<uchar*>(buffer_.data() + 2 * stride_), width, height, stride_ * 4,
                 QImage::Format_RGB32) {
        fill(image_, tag);
    }
    QImage& image() { return image_; }
    bool guardsIntact() const {
        const int height = image_.height();
        const int width = image_.width();
        for (int row = 0; row < height + 4; ++row) {
            for (int col = 0; col < stride_; ++col) {
                const bool inside = row >= 2 && row < height + 2 && col < width;
                if (!inside && buffer_[static_cast<std::size_t>(row) * stride_ + col] != kGuard) return false;
            }
        }
        return true;
    }

private:
    int stride_;
    std::vector<std::uint32_t> buffer_;
    QImage image_;
};

std::size_t expectedSteps(int number, int width, int height, double target) {
    if (number == 6) return static_cast<std::size_t>(spiralPlan(width, height, target).steps);
    if (number == 11 || number == 12) return diagonalPositions(width, height, target).size();
    return static_cast<std::size_t>(std::floor(target) + (target - std::floor(target) > 0.5 ? 1 : 0));
}

class EveryEffectTest : public testing::TempHomeTest, public ::testing::WithParamInterface<Case> {};

TEST_P(EveryEffectTest, StaysInsideItsPicturesAndEndsOnTheNextPicture) {
    const auto [number, target] = GetParam();
    constexpr int W = 37, H = 23;
    const TransitionStyle& style = effect(number);
    ASSERT_EQ(style.number(), number);

    GuardedPicture canvas(W, H, kCurrent);
    GuardedPicture source(W, H, kNext);
    RecordingWriter writer;
    int counter = 0;
    const VideoRunResult result =
        style.renderToVideo(canvas.image(), source.image(), target, writer, counter, 1000000);
    EXPECT_TRUE(canvas.guardsIntact());
    EXPECT_TRUE(source.guardsIntact());
    EXPECT_TRUE(pixelsAre(source.image(), [](int x, int y) { return value(kNext, x, y); }));
    const std::size_t steps = expectedSteps(number, W, H, target);
    EXPECT_EQ(writer.frames.size(), steps);
    EXPECT_EQ(result.advanced, static_cast<int>(steps));
    EXPECT_EQ(counter, static_cast<int>(steps));
    // Every pixel comes from one of the two pictures.
    for (const QImage& frame : writer.frames) {
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                const std::uint32_t tag = (at(frame, x, y) >> 20) & 0xF;
                ASSERT_TRUE(tag == kCurrent || tag == kNext) << x << "," << y;
            }
        }
    }

    // A next picture smaller than the canvas, and one larger: nothing is read or written outside either.
    for (const auto& [sw, sh] : {std::pair{20, 9}, std::pair{50, 40}}) {
        GuardedPicture clipped(W, H, kCurrent);
        GuardedPicture other(sw, sh, kNext);
        style.renderToVideo(clipped.image(), other.image(), target, writer, counter, 1000000);
        EXPECT_TRUE(clipped.guardsIntact());
        EXPECT_TRUE(other.guardsIntact());
    }

    GuardedPicture work(W, H, kCurrent);
    RecordingPresenter presenter;
    NoSleep sleeper;
    style.animateOnScreen(presenter, 5, 6, work.image(), source.image(), target, 1.0, sleeper);
    EXPECT_TRUE(work.guardsIntact());
    ASSERT_EQ(presenter.shown.size(), steps + 1);
    EXPECT_EQ(sleeper.pauses.size(), steps);
    EXPECT_TRUE(pixelsAre(presenter.shown.back(), [](int x, int y) { return value(kNext, x, y); }));
    if (number != 5) {  // both runs draw the same steps (the random blocks draw afresh)
        for (std::size_t k = 0; k < steps; ++k)
            EXPECT_EQ(presenter.shown[k], writer.frames[k]) << "step " << k;
    }
}

TEST_P(EveryEffectTest, UnusableStepTargetsTakeNoSteps) {
    const int number = GetParam().number;
    for (const double target : {0.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(target);
        QImage canvas = picture(30, 20, kCurrent);
        const QImage source = picture(30, 20, kNext);
        RecordingWriter writer;
        int counter = 7;
        const VideoRunResult result =
            effect(number).renderToVideo(canvas, source, target, writer, counter, 100);
        EXPECT_EQ(result.advanced, 0);
        EXPECT_EQ(counter, 7);
        EXPECT_TRUE(writer.frames.empty());
        EXPECT_TRUE(pixelsAre(canvas, [](int x, int y) { return value(kCurrent, x, y); }));

        RecordingPresenter presenter;
        NoSleep sleeper;
        effect(number).animateOnScreen(presenter, 0, 0, canvas, source, target, 1.0, sleeper);
        ASSERT_EQ(presenter.shown.size(), 1u);
        EXPECT_TRUE(sleeper.pauses.empty());
        EXPECT_TRUE(pixelsAre(presenter.shown[0], [](int x, int y) { return value(kNext, x, y); }));
    }
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (int number = 1; number <= 12; ++number) {
        for (const double target : {7.0, 30.0, 2.6}) cases.push_back({number, target});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllTwelve, EveryEffectTest, ::testing::ValuesIn(allCases()), caseName);

}  // namespace
}  // namespace kestrelle
