// A photo decoded once for motion and drawn at any time: tiny and huge photos, photos that cannot be read,
// rectangles outside the photo, and the blurred background behind a portrait photo.

#include "render/moving_photo.h"

#include "tests/support/temp_home.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace kestrelle {
namespace {

class MovingPhotoTest : public testing::TempHomeTest {
protected:
    std::string photo(const std::string& name, QSize size, QRgb colour, const char* format = "PNG") {
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        QPainter painter(&image);
        // Stripes, so that any motion changes the frame.
        for (int x = 0; x < size.width(); x += 40)
            painter.fillRect(x, 0, 20, size.height(), QColor(20, 20, 20));
        painter.end();
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file), format));
        return file;
    }

    static MovingPhotoRequest request(const std::string& file, MotionKind kind, PhotoFit fit,
                                      bool enlarge = false) {
        MovingPhotoRequest result;
        result.path = file;
        result.output = QSize(160, 90);
        result.motion = {kind, {}, {}};
        result.fit = {fit, enlarge};
        result.totalSeconds = 4.0;
        return result;
    }

    static QImage frameAt(const MovingPhoto& moving, double seconds) {
        QImage frame;
        EXPECT_TRUE(moving.draw(seconds, frame));
        return frame;
    }
};

// A 1 x 1 photo zoomed and enlarged fills the frame with its one colour; a 30000-pixel panorama is
// decoded within the bound and still pans.
TEST_F(MovingPhotoTest, TinyAndHugePhotosMoveWithinTheirBounds) {
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(10, 200, 30));
    const std::string tiny = path("tiny.png");
    ASSERT_TRUE(one.save(QString::fromStdString(tiny)));
    bool decoded = false;
    const MovingPhoto dot =
        MovingPhoto::load(request(tiny, MotionKind::ZoomIn, PhotoFit::Fill, true), &decoded);
    EXPECT_TRUE(decoded);
    const QImage frame = frameAt(dot, 2.0);
    EXPECT_EQ(frame.size(), QSize(160, 90));
    EXPECT_EQ(frame.pixel(0, 0), qRgb(10, 200, 30));
    EXPECT_EQ(frame.pixel(159, 89), qRgb(10, 200, 30));

    const std::string wide = photo("panorama.jpg", QSize(30000, 1200), qRgb(200, 180, 40), "JPEG");
    MovingPhotoRequest pan = request(wide, MotionKind::PanRight, PhotoFit::Fill);
    pan.output = QSize(1920, 1080);
    const MovingPhoto panorama = MovingPhoto::load(pan, &decoded);
    EXPECT_TRUE(decoded);
    const QSize source = panorama.sourceSize();
    EXPECT_LE(static_cast<std::int64_t>(source.width()) * source.height(), MovingPhoto::kMaxSourcePixels);
    EXPECT_NEAR(static_cast<double>(source.width()) / source.height(), 25.0, 0.1);
    EXPECT_TRUE(panorama.moves());
    EXPECT_NE(frameAt(panorama, 0.0), frameAt(panorama, 4.0));
}

// A photo that cannot be read draws black and says so; rectangles far outside the photo or without
// size are brought back inside it; a span without length rests at the start.
TEST_F(MovingPhotoTest, HostileRequestsGiveSaneFrames) {
    const std::string broken = path("broken.jpg");
    ASSERT_TRUE(testing::writeFile(broken, "\xFF\xD8\xFF\xDB garbage"));
    bool decoded = true;
    const MovingPhoto black =
        MovingPhoto::load(request(broken, MotionKind::ZoomOut, PhotoFit::Fill), &decoded);
    EXPECT_FALSE(decoded);
    EXPECT_EQ(frameAt(black, 1.0).pixel(80, 45), qRgb(0, 0, 0));

    const std::string file = photo("photo.png", QSize(640, 360), qRgb(250, 250, 250));
    MovingPhotoRequest custom = request(file, MotionKind::Custom, PhotoFit::Fill);
    custom.motion.start = QRectF(-1e7, 5e6, 3, 1e9);
    custom.motion.end = QRectF(100, 100, 0, 0);
    const MovingPhoto clamped = MovingPhoto::load(custom, &decoded);
    EXPECT_TRUE(decoded);
    for (const double seconds : {0.0, 2.0, 4.0}) {
        const QImage frame = frameAt(clamped, seconds);
        EXPECT_EQ(frame.size(), QSize(160, 90));
        // Inside the photo: no black background anywhere but the photo's own stripes.
        int white = 0;
        for (int x = 0; x < 160; ++x) white += qRed(frame.pixel(x, 45)) > 200;
        EXPECT_GT(white, 20) << seconds;
    }
    MovingPhotoRequest instant = request(file, MotionKind::ZoomIn, PhotoFit::Fill);
    instant.totalSeconds = 0.0;
    const MovingPhoto resting = MovingPhoto::load(instant);
    EXPECT_FALSE(resting.moves());
    EXPECT_EQ(frameAt(resting, 0.0), frameAt(resting, 3.0));
}

// A portrait photo over its blurred copy: the middle is the photo, the sides its blurred colours
// instead of black bars.
TEST_F(MovingPhotoTest, APortraitPhotoStandsOnItsBlurredCopy) {
    QImage portrait(300, 600, QImage::Format_RGB32);
    portrait.fill(qRgb(30, 90, 220));
    const std::string file = path("portrait.png");
    ASSERT_TRUE(portrait.save(QString::fromStdString(file)));
    const MovingPhoto moving =
        MovingPhoto::load(request(file, MotionKind::None, PhotoFit::BlurredBackground));
    EXPECT_FALSE(moving.moves());
    const QImage frame = frameAt(moving, 0.0);
    EXPECT_EQ(frame.pixel(80, 45), qRgb(30, 90, 220));
    const QRgb side = frame.pixel(5, 45);
    EXPECT_NEAR(qBlue(side), 220, 8);
    EXPECT_NEAR(qRed(side), 30, 8);
}

}  // namespace
}  // namespace kestrelle
