// Slides that move or fill the frame, as the generation job writes them: each frame drawn at its time
// within the slide's span (incoming transition, still, outgoing transition), transitions keeping their
// shape while both pictures move, and photos that cannot be read drawn black.

#include "output/generation_job.h"

#include "project/slideshow_project.h"
#include "render/moving_photo.h"
#include "render/transition_style.h"
#include "tests/output/job_test_support.h"

#include <QFile>
#include <QImage>

#include <cstring>
#include <vector>

namespace kestrelle {
namespace {

class MovingSlidesTest : public testing::JobTest {
protected:
    // A photo with detail everywhere, so that any motion changes every frame.
    std::string patternPhoto(const std::string& name, QRgb tint) {
        QImage image(160, 120, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y,
                               qRgb((x * 7 + qRed(tint)) & 255, (y * 5 + qGreen(tint)) & 255,
                                    ((x ^ y) * 3 + qBlue(tint)) & 255));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }

    // Runs the job and keeps every frame the writer took, top row first.
    std::vector<QImage> render(const SlideShowProject& project, double fps) {
        std::vector<QImage> frames;
        GenerationJob::Callbacks callbacks;
        callbacks.frameTaken = [&frames](const std::uint8_t* pixels, int width, int height) {
            QImage frame(width, height, QImage::Format_RGB32);
            for (int y = 0; y < height; ++y)
                std::memcpy(frame.scanLine(height - 1 - y), pixels + static_cast<std::size_t>(y) * width * 4,
                            static_cast<std::size_t>(width) * 4);
            frames.push_back(frame);
        };
        callbacks.photoNotDecoded = [this](const std::string& file) { notDecoded.push_back(file); };
        GenerationJob job(project, setup(fps), callbacks);
        job.run();
        EXPECT_TRUE(job.completed());
        return frames;
    }

    MovingPhoto movingPhoto(const SlideShowProject& project, int slide, double spanSeconds) const {
        MovingPhotoRequest request;
        request.path = project.slide(slide)->photoPath;
        request.output = QSize(kWidth, kHeight);
        request.motion = project.slide(slide)->look.motion;
        request.fit = project.slide(slide)->look.fit;
        request.seed = project.motionSeed();
        request.slideIndex = slide;
        request.totalSeconds = spanSeconds;
        return MovingPhoto::load(request);
    }

    static QImage drawn(const MovingPhoto& photo, double seconds) {
        QImage frame;
        photo.draw(seconds, frame);
        return frame;
    }

    std::vector<std::string> notDecoded;
};

SlideLook lookOf(MotionKind kind, PhotoFit fit = PhotoFit::Fill) {
    return {{kind, {}, {}}, {fit, false}};
}

// The second slide zooms in: its still frames are its motion at their times, counted from the start of
// the transition into it, at 25 and at 50 frames a second alike; the still first slide stays still.
TEST_F(MovingSlidesTest, StillFramesFollowTheMotionInSeconds) {
    const std::string first = patternPhoto("first.png", qRgb(0, 0, 0));
    const std::string second = patternPhoto("second.png", qRgb(90, 40, 160));
    QImage atOneSecond[2];  // the same moment at both rates
    for (const int fps : {25, 50}) {
        SCOPED_TRACE(fps);
        SlideShowProject project;
        addPhoto(project, first, 1.0, 1.0, 4);
        addPhoto(project, second, 1.0, 1.0, 4);
        ASSERT_TRUE(project.setSlideLook(1, lookOf(MotionKind::ZoomIn)));
        const std::vector<QImage> frames = render(project, fps);
        // First slide still, its transition, the second slide's still, its transition (the budget drops
        // the closing black).
        ASSERT_EQ(frames.size(), static_cast<std::size_t>(4 * fps));
        EXPECT_EQ(frames[0], frames[fps - 1]);

        const MovingPhoto moving = movingPhoto(project, 1, 3.0);
        ASSERT_TRUE(moving.moves());
        for (int f = 0; f < fps; ++f) {
            const double seconds = static_cast<double>(fps + f) / fps;
            ASSERT_EQ(frames[2 * fps + f], drawn(moving, seconds)) << "still frame " << f;
        }
        EXPECT_NE(frames[2 * fps], frames[3 * fps - 1]);
        atOneSecond[fps == 50] = frames[2 * fps + fps * 2 / 5];  // 1.4 s into the span
    }
    EXPECT_EQ(atOneSecond[0], atOneSecond[1]);
}

// During a wipe between two moving slides every pixel comes from one of the two pictures drawn at the
// frame's time, the next picture's share grows, and the picture the wipe led to goes on moving.
TEST_F(MovingSlidesTest, TransitionsKeepTheirShapeWhileBothPicturesMove) {
    const std::string first = patternPhoto("first.png", qRgb(0, 0, 0));
    const std::string second = patternPhoto("second.png", qRgb(90, 40, 160));
    constexpr int kFps = 25;
    SlideShowProject project;
    addPhoto(project, first, 1.0, 1.0, 4);  // 4: the wipe from the right
    addPhoto(project, second, 1.0, 1.0, 4);
    ASSERT_TRUE(project.setSlideLook(0, lookOf(MotionKind::PanLeft)));
    ASSERT_TRUE(project.setSlideLook(1, lookOf(MotionKind::ZoomOut, PhotoFit::BlurredBackground)));
    const std::vector<QImage> frames = render(project, kFps);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(4 * kFps));

    const MovingPhoto current = movingPhoto(project, 0, 2.0);
    const MovingPhoto next = movingPhoto(project, 1, 3.0);
    int previousShare = -1;
    for (int j = 0; j < kFps; ++j) {
        const QImage& frame = frames[kFps + j];
        const QImage fromCurrent = drawn(current, (kFps + j) / static_cast<double>(kFps));
        const QImage fromNext = drawn(next, j / static_cast<double>(kFps));
        int share = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const QRgb pixel = frame.pixel(x, y);
                const bool isNext = pixel == fromNext.pixel(x, y);
                ASSERT_TRUE(isNext || pixel == fromCurrent.pixel(x, y))
                    << "frame " << j << " at " << x << "," << y;
                share += isNext && pixel != fromCurrent.pixel(x, y);
            }
        }
        EXPECT_GE(share, previousShare) << "frame " << j;
        previousShare = share;
    }
    EXPECT_GT(previousShare, kWidth * kHeight / 2);
    EXPECT_EQ(frames[2 * kFps], drawn(next, 1.0));
}

// A Fill without motion is drawn once and written as a still; a photo that cannot be read moves as
// black and is reported; a transition of no frames and a still of one frame leave the schedule intact.
TEST_F(MovingSlidesTest, StillFillsUnreadablePhotosAndShortSpans) {
    const std::string photo = patternPhoto("photo.png", qRgb(0, 0, 0));
    const std::string broken = path("broken.jpg");
    {
        QFile file(QString::fromStdString(broken));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xD8\xFF\xE0 not really a photo");
    }
    constexpr int kFps = 25;
    SlideShowProject project;
    addPhoto(project, photo, 1.0, 1.0, 4);
    addPhoto(project, broken, 0.04, 0.0001, 4);
    addPhoto(project, photo, 1.0, 1.0, 4);
    ASSERT_TRUE(project.setSlideLook(0, lookOf(MotionKind::None)));
    ASSERT_TRUE(project.setSlideLook(1, lookOf(MotionKind::ZoomIn)));
    ASSERT_TRUE(project.setSlideLook(2, lookOf(MotionKind::GentleRandom, PhotoFit::Letterbox)));
    const std::vector<QImage> frames = render(project, kFps);
    ASSERT_GE(frames.size(), static_cast<std::size_t>(3 * kFps));
    EXPECT_EQ(frames[0], frames[kFps - 1]);
    // Filled: no black bar at the sides of the 4:3 photo in a 4:3 frame, and no letterbox at all.
    EXPECT_NE(frames[0].pixel(0, kHeight / 2), qRgb(0, 0, 0));
    EXPECT_EQ(notDecoded, std::vector<std::string>{broken});
    EXPECT_EQ(frames.back(), [] {
        QImage black(kWidth, kHeight, QImage::Format_RGB32);
        black.fill(qRgb(0, 0, 0));
        return black;
    }());
}

}  // namespace
}  // namespace kestrelle
