#include "render/motion_sampler.h"

#include "render/photo_motion.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace kestrelle {
namespace {

constexpr std::uint32_t kBlack = 0xFF000000u;

QImage noisePicture(int width, int height, unsigned seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    std::uint32_t state = seed * 2654435761u + 1u;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = 0xFF000000u | (state >> 8);
        }
    }
    return picture;
}

int channel(QRgb pixel, int shift) {
    return static_cast<int>((pixel >> shift) & 0xFFu);
}

TEST(MotionSampler, TheWholePictureAtItsOwnSizeIsCopiedExactly) {
    const QImage source = noisePicture(97, 61, 3);
    QImage out(97, 61, QImage::Format_RGB32);
    ASSERT_TRUE(renderView(source, QRectF(0, 0, 97, 61), out, kBlack));
    EXPECT_EQ(out, source);
    // A whole-pixel shift copies too, with the background where the view leaves the picture.
    ASSERT_TRUE(renderView(source, QRectF(5, -3, 97, 61), out, 0xFF102030u));
    for (int y = 0; y < 61; ++y) {
        for (int x = 0; x < 97; ++x) {
            const QRgb expected = (x + 5 < 97 && y - 3 >= 0) ? source.pixel(x + 5, y - 3) : 0xFF102030u;
            ASSERT_EQ(out.pixel(x, y), expected) << x << "," << y;
        }
    }
}

TEST(MotionSampler, FractionalPositionsBlendNeighboursAndShrinkingAveragesAreas) {
    // Black and white columns: half a pixel across gives mid grey everywhere inside.
    QImage stripes(64, 8, QImage::Format_RGB32);
    for (int x = 0; x < 64; ++x) {
        for (int y = 0; y < 8; ++y) stripes.setPixel(x, y, x % 2 ? 0xFFFFFFFFu : kBlack);
    }
    QImage out(63, 8, QImage::Format_RGB32);
    ASSERT_TRUE(renderView(stripes, QRectF(0.5, 0, 63, 8), out, kBlack));
    for (int x = 0; x < 63; ++x) EXPECT_NEAR(channel(out.pixel(x, 4), 8), 128, 1) << x;
    // A quarter pixel: three quarters of one neighbour, one of the other.
    ASSERT_TRUE(renderView(stripes, QRectF(0.25, 0, 63, 8), out, kBlack));
    EXPECT_NEAR(channel(out.pixel(10, 4), 0), 64, 1);
    EXPECT_NEAR(channel(out.pixel(11, 4), 0), 191, 1);

    // Shrunk 4, 3.3 and 2.5 times, one-pixel stripes average to grey (a 3.3 pixel box holds 1.3 to 2 white
    // stripes: 100 to 155) instead of aliasing into black and white bands.
    for (double factor : {4.0, 3.3, 2.5}) {
        QImage small(static_cast<int>(64 / factor), 2, QImage::Format_RGB32);
        ASSERT_TRUE(renderView(stripes, QRectF(0, 0, small.width() * factor, 2 * factor), small, kBlack));
        for (int x = 0; x < small.width(); ++x)
            EXPECT_NEAR(channel(small.pixel(x, 1), 16), 128, 28) << factor;
    }
    // A checkerboard shrunk to an exact quarter: flat grey.
    QImage checker(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) checker.setPixel(x, y, (x + y) % 2 ? 0xFFFFFFFFu : kBlack);
    }
    QImage quarter(64, 64, QImage::Format_RGB32);
    ASSERT_TRUE(renderView(checker, QRectF(0, 0, 256, 256), quarter, kBlack));
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) ASSERT_NEAR(channel(quarter.pixel(x, y), 8), 128, 1);
    }
}

TEST(MotionSampler, OtherFormatsBadViewsAndTinyOrHugeViewsNeverFail) {
    const QImage source = noisePicture(40, 30, 9);
    QImage reference(20, 15, QImage::Format_RGB32);
    ASSERT_TRUE(renderView(source, QRectF(3.3, 2.1, 30, 22.5), reference, kBlack));
    // Another pixel layout gives the same frame; a frame of another format is made RGB32.
    QImage frame(20, 15, QImage::Format_RGB888);
    ASSERT_TRUE(
        renderView(source.convertToFormat(QImage::Format_RGB888), QRectF(3.3, 2.1, 30, 22.5), frame, kBlack));
    EXPECT_EQ(frame.format(), QImage::Format_RGB32);
    EXPECT_EQ(frame, reference);

    QImage out(32, 18, QImage::Format_RGB32);
    EXPECT_FALSE(renderView(source, QRectF(NAN, 0, 10, 10), out, 0xFF336699u));
    EXPECT_EQ(out.pixel(5, 5), 0xFF336699u);
    EXPECT_FALSE(renderView(source, QRectF(0, 0, 0, 10), out, kBlack));
    EXPECT_FALSE(renderView(source, QRectF(0, 0, -4, 10), out, kBlack));
    EXPECT_FALSE(renderView(source, QRectF(0, 0, INFINITY, 10), out, kBlack));
    QImage none;
    EXPECT_FALSE(renderView(source, QRectF(0, 0, 10, 10), none, kBlack));
    EXPECT_TRUE(renderView(QImage(), QRectF(0, 0, 10, 10), out, 0xFF336699u));
    EXPECT_EQ(out.pixel(31, 17), 0xFF336699u);

    // Far away or enormous: background (the photo as a speck at most), quickly and without large buffers.
    EXPECT_TRUE(renderView(source, QRectF(1e12, -1e12, 32, 18), out, kBlack));
    EXPECT_EQ(out.pixel(0, 0), kBlack);
    EXPECT_TRUE(renderView(source, QRectF(-1e9, -1e9, 2e9, 1.125e9), out, kBlack));
    EXPECT_EQ(out.pixel(31, 17), kBlack);
    const QImage wide = noisePicture(3000, 40, 5);
    EXPECT_TRUE(renderView(wide, QRectF(-5e6, -2e6, 1e7, 5.625e6), out, kBlack));
    // A sliver of a pixel magnified over the whole frame: that pixel's colour.
    EXPECT_TRUE(renderView(source, QRectF(10.5, 10.5, 1e-9, 1e-9), out, kBlack));
    const QRgb expected = source.pixel(10, 10);
    for (int c = 0; c < 24; c += 8) EXPECT_NEAR(channel(out.pixel(16, 9), c), channel(expected, c), 1);

    // A 1 x 1 photo zoomed into a full frame, letterboxed at its own size: one pixel of colour in the middle.
    QImage dot(1, 1, QImage::Format_RGB32);
    dot.fill(0xFFC08040u);
    QImage full(1920, 1080, QImage::Format_RGB32);
    for (MotionKind kind : {MotionKind::ZoomIn, MotionKind::ZoomOut}) {
        for (double t : {0.0, 1.5, 3.0}) {
            const QRectF view = motionRectAt({kind, {}, {}}, {1, 1}, {1920, 1080}, {}, t, 3.0);
            ASSERT_TRUE(renderView(dot, view, full, kBlack));
            const int cx = static_cast<int>((0.5 - view.x()) * 1920 / view.width());
            const int cy = static_cast<int>((0.5 - view.y()) * 1080 / view.height());
            EXPECT_GT(channel(full.pixel(cx, cy), 16), 96);
            EXPECT_EQ(full.pixel(0, 0), kBlack);
            EXPECT_EQ(full.pixel(1919, 1079), kBlack);
        }
    }
}

TEST(MotionSampler, APortraitOverItsBlurredBackdropHasNoBars) {
    // Left half red, right half green, in a landscape frame.
    QImage portrait(600, 1200, QImage::Format_RGB32);
    for (int y = 0; y < 1200; ++y) {
        for (int x = 0; x < 600; ++x) portrait.setPixel(x, y, x < 300 ? 0xFFC00000u : 0xFF00C000u);
    }
    const QSizeF photo(600, 1200);
    const QSizeF output(320, 180);
    QImage frame(320, 180, QImage::Format_RGB32);
    ASSERT_TRUE(renderBlurredBackdrop(portrait, fillViewRect(photo, output), frame));
    const QImage backdrop = frame.copy();
    const QRectF still = viewRect(photo, output, {PhotoFit::BlurredBackground, false});
    ASSERT_TRUE(renderViewOver(portrait, still, frame));
    // The bars are the blurred photo: reddish on the left, greenish on the right, never black.
    EXPECT_GT(channel(frame.pixel(2, 90), 16), channel(frame.pixel(2, 90), 8) + 40);
    EXPECT_GT(channel(frame.pixel(317, 90), 8), channel(frame.pixel(317, 90), 16) + 40);
    EXPECT_GT(channel(frame.pixel(2, 90), 16) + channel(frame.pixel(2, 90), 8), 150);
    EXPECT_EQ(frame.pixel(2, 90), backdrop.pixel(2, 90));
    // The photo itself, sharp, in the middle.
    EXPECT_EQ(frame.pixel(150, 90), 0xFFC00000u);
    EXPECT_EQ(frame.pixel(170, 90), 0xFF00C000u);
    // A view that cannot be drawn leaves the frame as it was.
    EXPECT_FALSE(renderViewOver(portrait, QRectF(0, 0, NAN, 1), frame));
    EXPECT_EQ(frame.pixel(2, 90), backdrop.pixel(2, 90));
    QImage none;
    EXPECT_FALSE(renderBlurredBackdrop(portrait, fillViewRect(photo, output), none));
}

// A mid grey photo with a small dark square marker; its centre in photo coordinates.
struct MarkedPhoto {
    QImage picture;
    QPointF marker;
};

MarkedPhoto markedPhoto(int width, int height, QRect marker) {
    MarkedPhoto photo{QImage(width, height, QImage::Format_RGB32), QRectF(marker).center()};
    photo.picture.fill(qRgb(128, 128, 128));
    QPainter painter(&photo.picture);
    painter.fillRect(marker, QColor(16, 16, 16));
    return photo;
}

// The marker's sub-pixel centroid near `around` (darkness below the grey as the weight).
QPointF markerCentroid(const QImage& frame, QPointF around, int radius) {
    double sum = 0.0;
    double sumX = 0.0;
    double sumY = 0.0;
    const int x0 = std::max(0, static_cast<int>(around.x()) - radius);
    const int x1 = std::min(frame.width(), static_cast<int>(around.x()) + radius + 1);
    const int y0 = std::max(0, static_cast<int>(around.y()) - radius);
    const int y1 = std::min(frame.height(), static_cast<int>(around.y()) + radius + 1);
    for (int y = y0; y < y1; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(frame.constScanLine(y));
        for (int x = x0; x < x1; ++x) {
            const double weight = std::max(0, 128 - channel(row[x], 8));
            sum += weight;
            sumX += weight * (x + 0.5);
            sumY += weight * (y + 0.5);
        }
    }
    return sum > 0.0 ? QPointF(sumX / sum, sumY / sum) : QPointF(NAN, NAN);
}

struct Smoothness {
    double rms = 0.0;
    double worst = 0.0;
    // The largest step against the ideal path's direction (0 when it never steps back).
    double worstBackStep = 0.0;
    double travelled = 0.0;
};

// Renders 3 s at 30 fps into 1920 x 1080 and follows the marker against its ideal eased position.
Smoothness followMarker(const MarkedPhoto& photo, const PhotoMotion& motion, const FitOptions& fit) {
    const QSizeF photoSize(photo.picture.size());
    const QSizeF output(1920, 1080);
    constexpr int kFrames = 90;
    QImage frame(1920, 1080, QImage::Format_RGB32);
    Smoothness result;
    double squares = 0.0;
    QPointF previousIdeal;
    QPointF previousFound;
    for (int n = 0; n <= kFrames; ++n) {
        const QRectF view = motionRectAt(motion, photoSize, output, fit, n / 30.0, kFrames / 30.0);
        EXPECT_TRUE(renderView(photo.picture, view, frame, kBlack));
        const QPointF ideal((photo.marker.x() - view.x()) * output.width() / view.width(),
                            (photo.marker.y() - view.y()) * output.height() / view.height());
        const QPointF found = markerCentroid(frame, ideal, 14);
        const double deviation = std::hypot(found.x() - ideal.x(), found.y() - ideal.y());
        squares += deviation * deviation;
        result.worst = std::max(result.worst, deviation);
        if (n > 0) {
            const QPointF idealStep = ideal - previousIdeal;
            const QPointF foundStep = found - previousFound;
            for (const auto& [want, got] :
                 {std::pair{idealStep.x(), foundStep.x()}, std::pair{idealStep.y(), foundStep.y()}}) {
                if (std::abs(want) > 1e-9)
                    result.worstBackStep = std::max(result.worstBackStep, -got * (want > 0 ? 1 : -1));
            }
        }
        result.travelled +=
            n > 0 ? std::hypot(ideal.x() - previousIdeal.x(), ideal.y() - previousIdeal.y()) : 0.0;
        previousIdeal = ideal;
        previousFound = found;
    }
    result.rms = std::sqrt(squares / (kFrames + 1));
    return result;
}

void expectSmooth(const Smoothness& s, const char* what) {
    std::printf("%s: travelled %.1f px, deviation RMS %.4f px, max %.4f px, largest backward step %.4f px\n",
                what, s.travelled, s.rms, s.worst, s.worstBackStep);
    EXPECT_LE(s.rms, 0.1) << what;
    EXPECT_LE(s.worst, 0.25) << what;
    EXPECT_LE(s.worstBackStep, 0.0) << what;
}

TEST(MotionSamplerSmoothness, ASlowPanAndASlowZoomFollowTheEasedPathToAFractionOfAPixel) {
    // A 6 px dark square on mid grey, 2400 x 1600 filled into 1920 x 1080 (a frame pixel spans 1.1 to 1.25).
    const MarkedPhoto photo = markedPhoto(2400, 1600, QRect(1000, 700, 6, 6));
    const FitOptions fill{PhotoFit::Fill, false};
    const PhotoMotion pan{MotionKind::Custom, QRectF(50, 100, 2200, 1237.5), QRectF(150, 180, 2200, 1237.5)};
    const Smoothness panned = followMarker(photo, pan, fill);
    EXPECT_GT(panned.travelled, 100.0);
    expectSmooth(panned, "slow pan");
    const Smoothness zoomed = followMarker(photo, {MotionKind::ZoomIn, {}, {}}, fill);
    EXPECT_GT(zoomed.travelled, 20.0);
    expectSmooth(zoomed, "slow zoom");
}

TEST(MotionSamplerSmoothness, AZoomThroughEveryFilterWidthIsAsSmooth) {
    // A 4800 x 2700 photo, drawn whole into 1080p (a frame pixel spans 2.5 photo pixels: an area average)
    // and zoomed to a 1.3 span (bilinear), through the widths in between.
    const MarkedPhoto photo = markedPhoto(4800, 2700, QRect(1500, 900, 16, 16));
    const PhotoMotion zoom{MotionKind::Custom, QRectF(0, 0, 4800, 2700), QRectF(1000, 600, 2496, 1404)};
    expectSmooth(followMarker(photo, zoom, {}), "zoom from a 2.5 to a 1.3 pixel span");
}

}  // namespace
}  // namespace kestrelle
