// Transitions over moving pictures shown on screen: label maps turned into frames, and the presenter
// that hands an effect's label steps on as real pictures.

#include "render/moving_frames.h"
#include "tests/support/pictures.h"
#include "tests/support/temp_home.h"

#include <QImage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

constexpr int kWidth = 48;
constexpr int kHeight = 36;
constexpr double kFps = 25.0;

class Recorder final : public FramePresenter {
public:
    void present(const QImage& picture, int, int) override { shown.push_back(picture.copy()); }
    std::vector<QImage> shown;
};

class NoSleep final : public Sleeper {
public:
    void sleepMs(int) override {}
};

QImage solid(QRgb colour) {
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

class MovingFramesTest : public testing::TempHomeTest {
protected:
    // A photo with detail everywhere, so that any motion changes the frame.
    std::string texturedPhoto(const std::string& name) {
        QImage image(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 255 / 319, y * 255 / 239, ((x / 8 + y / 8) % 2) * 200));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    std::shared_ptr<const MovingPhoto> zoomingPhoto(const std::string& file, bool* decoded = nullptr) {
        MovingPhotoRequest request;
        request.path = file;
        request.output = QSize(kWidth, kHeight);
        request.motion.kind = MotionKind::ZoomIn;
        request.fit = {PhotoFit::Fill, true};
        request.totalSeconds = 3.0;
        return std::make_shared<MovingPhoto>(MovingPhoto::load(request, decoded));
    }
};

TEST_F(MovingFramesTest, LabelMapsTakeEachPixelFromThePictureAndPlaceTheyName) {
    const QImage current = solid(qRgb(200, 0, 0));
    QImage next = solid(qRgb(0, 0, 200));
    next.setPixel(5, 7, qRgb(1, 2, 3));
    QImage out;
    // Untouched labels give the current picture, the next labels the next one, pixel for pixel.
    ASSERT_TRUE(frameFromLabels(labelPicture(kWidth, kHeight, false), current, next, out));
    EXPECT_EQ(out, current);
    ASSERT_TRUE(frameFromLabels(labelPicture(kWidth, kHeight, true), current, next, out));
    EXPECT_EQ(out.pixel(5, 7) & 0xFFFFFFu, 0x010203u);
    EXPECT_EQ(testing::largestChannelDifference(out, next), 0);

    // A label moved elsewhere takes its pixel from where it names.
    QImage labels = labelPicture(kWidth, kHeight, false);
    // (written through the scan line: setPixel would force the top byte, which labels use)
    const QImage nextLabels = labelPicture(kWidth, kHeight, true);
    reinterpret_cast<std::uint32_t*>(labels.scanLine(0))[0] =
        reinterpret_cast<const std::uint32_t*>(nextLabels.constScanLine(7))[5];
    ASSERT_TRUE(frameFromLabels(labels, current, next, out));
    EXPECT_EQ(out.pixel(0, 0) & 0xFFFFFFu, 0x010203u);
    EXPECT_EQ(out.pixel(1, 0) & 0xFFFFFFu, 0xC80000u);
}

TEST_F(MovingFramesTest, ForeignLabelsAndMismatchedPicturesGiveBlackNotAStrayRead) {
    const QImage current = solid(qRgb(200, 0, 0));
    const QImage next = solid(qRgb(0, 0, 200));
    QImage out;
    // A picture that is no label map names positions far outside: those pixels are black.
    QImage foreign = solid(qRgb(255, 255, 255));
    EXPECT_TRUE(frameFromLabels(foreign, current, next, out));
    EXPECT_EQ(out.size(), QSize(kWidth, kHeight));
    EXPECT_EQ(out.pixel(10, 10) & 0xFFFFFFu, 0u);
    // Pictures of another size than the labels, or no picture at all: a black frame of the labels' size.
    EXPECT_FALSE(
        frameFromLabels(labelPicture(kWidth, kHeight, false), current.copy(0, 0, 10, 10), next, out));
    EXPECT_EQ(out.size(), QSize(kWidth, kHeight));
    EXPECT_EQ(out.pixel(0, 0) & 0xFFFFFFu, 0u);
    EXPECT_FALSE(frameFromLabels(labelPicture(kWidth, kHeight, false), QImage(), next, out));
    EXPECT_FALSE(frameFromLabels(QImage(), current, next, out));
    EXPECT_TRUE(labelPicture(0, 10, false).isNull());
    EXPECT_TRUE(labelPicture(40000, 1, true).isNull());
}

// A wipe from a still picture into a moving photo: every frame has the effect's shape (the pixels the effect
// copied from the next picture show the photo as it stands at that step's time, the rest the still
// picture), and the photo's part moves from step to step.
TEST_F(MovingFramesTest, OneMovingSideKeepsTheEffectsShapeAndMoves) {
    const TransitionStyle* wipe = TransitionRegistry::instance().find(7);
    ASSERT_NE(wipe, nullptr);
    const double steps = 10.0;
    NoSleep noSleep;

    // The shape: the same effect between two solid pictures.
    Recorder shape;
    QImage red = solid(qRgb(200, 0, 0));
    wipe->animateOnScreen(shape, 0, 0, red, solid(qRgb(0, 0, 200)), steps, 0.0, noSleep);

    bool decoded = false;
    SlidePicture current{solid(qRgb(200, 0, 0)), nullptr};
    SlidePicture next{QImage(), zoomingPhoto(texturedPhoto("photo.png"), &decoded)};
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(next.moves());
    Recorder moving;
    MovingTransitionPresenter presenter(moving, current, next, 2.0, 1.0 / kFps);
    QImage work = labelPicture(kWidth, kHeight, false);
    wipe->animateOnScreen(presenter, 0, 0, work, labelPicture(kWidth, kHeight, true), steps, 0.0, noSleep);

    ASSERT_EQ(moving.shown.size(), shape.shown.size());
    ASSERT_GE(moving.shown.size(), 3u);
    EXPECT_EQ(presenter.framesPresented(), static_cast<int>(moving.shown.size()));
    QImage expectedNext;
    for (std::size_t j = 0; j < moving.shown.size(); ++j) {
        next.moving->draw(static_cast<double>(j) / kFps, expectedNext);
        int fromNext = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const bool copied = qBlue(shape.shown[j].pixel(x, y)) == 200;
                fromNext += copied;
                const QRgb want = copied ? expectedNext.pixel(x, y) : qRgb(200, 0, 0);
                ASSERT_EQ(moving.shown[j].pixel(x, y), want) << "step " << j << " at " << x << "," << y;
            }
        }
        if (j + 1 < moving.shown.size()) {
            EXPECT_LT(fromNext, kWidth * kHeight) << j;
        }
    }
    // The closing picture is the whole photo where its own frames begin; the photo moved on the way.
    next.moving->draw(static_cast<double>(moving.shown.size() - 1) / kFps, expectedNext);
    EXPECT_EQ(moving.shown.back(), expectedNext);
    QImage first;
    next.moving->draw(0.0, first);
    EXPECT_GT(testing::largestChannelDifference(first, expectedNext), 10);
}

TEST_F(MovingFramesTest, HostileInputGivesBlackAndNoSteps) {
    NoSleep noSleep;
    const TransitionStyle* wipe = TransitionRegistry::instance().find(7);
    ASSERT_NE(wipe, nullptr);

    // An undecodable photo that should move: every frame black.
    const std::string broken = path("broken.jpg");
    ASSERT_TRUE(testing::writeFile(broken, std::string("\xFF\xD8\xFF\xE0 not really a JPEG", 22)));
    bool decoded = true;
    auto black = zoomingPhoto(broken, &decoded);
    EXPECT_FALSE(decoded);
    SlidePicture current{QImage(), black};
    SlidePicture next{solid(qRgb(0, 0, 200)), nullptr};
    Recorder moving;
    MovingTransitionPresenter presenter(moving, current, next, 0.0, 1.0 / kFps);
    QImage work = labelPicture(kWidth, kHeight, false);
    wipe->animateOnScreen(presenter, 0, 0, work, labelPicture(kWidth, kHeight, true), 5.0, 0.0, noSleep);
    ASSERT_FALSE(moving.shown.empty());
    EXPECT_EQ(moving.shown.front().pixel(kWidth - 1, kHeight / 2) & 0xFFFFFFu, 0u);

    // A transition of zero steps: only the whole next picture, at the start of its motion.
    const std::string file = texturedPhoto("photo.png");
    SlidePicture photo{QImage(), zoomingPhoto(file)};
    Recorder zero;
    MovingTransitionPresenter instant(zero, current, photo, 0.0, std::nan(""));
    work = labelPicture(kWidth, kHeight, false);
    wipe->animateOnScreen(instant, 0, 0, work, labelPicture(kWidth, kHeight, true), 0.0, 0.0, noSleep);
    ASSERT_EQ(zero.shown.size(), 1u);
    QImage expected;
    photo.moving->draw(0.0, expected);
    EXPECT_EQ(zero.shown.front(), expected);

    // A presenter handed no picture shows nothing.
    instant.present(QImage(), 0, 0);
    EXPECT_EQ(zero.shown.size(), 1u);
}

}  // namespace
}  // namespace kestrelle
