#include "render/photo_motion.h"

#include "render/photo_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace kestrelle {
namespace {

const QSizeF kFullHd(1920, 1080);

void expectRect(const QRectF& actual, double x, double y, double width, double height,
                double tolerance = 1e-6) {
    EXPECT_NEAR(actual.x(), x, tolerance);
    EXPECT_NEAR(actual.y(), y, tolerance);
    EXPECT_NEAR(actual.width(), width, tolerance);
    EXPECT_NEAR(actual.height(), height, tolerance);
}

bool contains(const QRectF& outer, const QRectF& inner, double tolerance = 1e-6) {
    return inner.left() >= outer.left() - tolerance && inner.top() >= outer.top() - tolerance &&
           inner.right() <= outer.right() + tolerance && inner.bottom() <= outer.bottom() + tolerance;
}

FitOptions fitOf(PhotoFit fit, bool enlarge = false) {
    return FitOptions{fit, enlarge};
}

TEST(PhotoMotionViewRect, WideTallAndTinyPhotosAgainstHandComputedRectangles) {
    // 4000 x 1000 panorama. fitPhoto places it at (0, 300) as 1919 x 479 (its float factor 0.48 rounds down).
    expectRect(viewRect({4000, 1000}, kFullHd, fitOf(PhotoFit::Letterbox)), 0, -300 * 1000 / 479.0,
               1920 * 4000 / 1919.0, 1080 * 1000 / 479.0);
    expectRect(viewRect({4000, 1000}, kFullHd, fitOf(PhotoFit::Letterbox, true)), 0, -625, 4000, 2250);
    // Filling would need 1.08 x: without enlarging, shown at its own size.
    expectRect(viewRect({4000, 1000}, kFullHd, fitOf(PhotoFit::Fill)), 1040, -40, 1920, 1080);
    expectRect(viewRect({4000, 1000}, kFullHd, fitOf(PhotoFit::Fill, true)), 2000 - 8000 / 9.0, 0,
               16000 / 9.0, 1000);

    // 1000 x 3000 portrait: fitPhoto places it at (779, 0) as 360 x 1080.
    expectRect(viewRect({1000, 3000}, kFullHd, fitOf(PhotoFit::Letterbox)), -779 / 0.36, 0, 1920 / 0.36,
               3000);
    expectRect(viewRect({1000, 3000}, kFullHd, fitOf(PhotoFit::Fill)), -460, 960, 1920, 1080);
    expectRect(viewRect({1000, 3000}, kFullHd, fitOf(PhotoFit::Fill, true)), 0, 1218.75, 1000, 562.5);

    // 64 x 48: smaller both ways, so at its own size unless enlarged.
    expectRect(viewRect({64, 48}, kFullHd, fitOf(PhotoFit::Letterbox)), -928, -516, 1920, 1080);
    expectRect(viewRect({64, 48}, kFullHd, fitOf(PhotoFit::Fill)), -928, -516, 1920, 1080);
    expectRect(viewRect({64, 48}, kFullHd, fitOf(PhotoFit::Letterbox, true)), 32 - 128 / 3.0, 0, 256 / 3.0,
               48);
    expectRect(viewRect({64, 48}, kFullHd, fitOf(PhotoFit::Fill, true)), 0, 6, 64, 36);
    expectRect(viewRect({1, 1}, kFullHd, fitOf(PhotoFit::Fill, true)), 0, 0.21875, 1, 0.5625);

    // The blurred copy behind the photo always fills, enlarged.
    expectRect(fillViewRect({64, 48}, kFullHd), 0, 6, 64, 36);
    EXPECT_EQ(viewRect({64, 48}, kFullHd, fitOf(PhotoFit::BlurredBackground)),
              viewRect({64, 48}, kFullHd, fitOf(PhotoFit::Letterbox)));

    // Nothing to show.
    EXPECT_TRUE(viewRect({0, 48}, kFullHd, {}).isEmpty());
    EXPECT_TRUE(viewRect({64, 48}, {1920, 0}, {}).isEmpty());
    EXPECT_TRUE(viewRect({NAN, 48}, kFullHd, {}).isEmpty());
}

TEST(PhotoMotionViewRect, LetterboxWithoutMotionLandsWhereFitPhotoPlacesThePhoto) {
    const QSize outputs[] = {{1920, 1080}, {1280, 720}, {640, 480}, {333, 177}, {720, 1280}};
    const QSize photos[] = {{4000, 3000},  {3000, 2000}, {4000, 1000}, {1000, 3000},
                            {1920, 1080},  {1921, 1080}, {64, 48},     {1, 1},
                            {30000, 1000}, {2400, 1600}, {999, 1001},  {1080, 1920}};
    for (const QSize& output : outputs) {
        for (const QSize& photo : photos) {
            const PhotoPlacement place =
                fitPhoto(output.width(), output.height(), photo.width(), photo.height());
            const QRectF view = viewRect(QSizeF(photo), QSizeF(output), {});
            const auto toOutputX = [&](double x) { return (x - view.x()) * output.width() / view.width(); };
            const auto toOutputY = [&](double y) { return (y - view.y()) * output.height() / view.height(); };
            SCOPED_TRACE(testing::Message() << photo.width() << "x" << photo.height() << " into "
                                            << output.width() << "x" << output.height());
            EXPECT_NEAR(toOutputX(0), place.x, 1e-6);
            EXPECT_NEAR(toOutputX(photo.width()), place.x + place.width, 1e-6);
            EXPECT_NEAR(toOutputY(0), place.y, 1e-6);
            EXPECT_NEAR(toOutputY(photo.height()), place.y + place.height, 1e-6);
        }
    }
    EXPECT_TRUE(isStill({}, {}));
    EXPECT_FALSE(isStill({MotionKind::ZoomIn, {}, {}}, {}));
    EXPECT_FALSE(isStill({}, fitOf(PhotoFit::Fill)));
    EXPECT_FALSE(isStill({}, fitOf(PhotoFit::BlurredBackground)));
    EXPECT_FALSE(isStill({}, fitOf(PhotoFit::Letterbox, true)));
}

TEST(PhotoMotionPath, TheSamePathInSecondsAtEveryFrameRate) {
    const QSizeF photo(4000, 3000);
    const double total = 4.0;
    for (MotionKind kind :
         {MotionKind::ZoomIn, MotionKind::ZoomOut, MotionKind::PanDown, MotionKind::PanLeft}) {
        QRectF start;
        QRectF end;
        motionEnds({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), start, end);
        ASSERT_NE(start, end);
        for (double fps : {15.0, 25.0, 30000.0 / 1001.0, 60.0}) {
            SCOPED_TRACE(fps);
            double previousProgress = -1.0;
            const int frames = static_cast<int>(std::ceil(total * fps));
            for (int n = 0; n <= frames; ++n) {
                const double seconds = n / fps;
                const QRectF rect =
                    motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), seconds, total);
                // The eased progress read back from the rectangle: one function of the seconds alone.
                const double along = std::abs(end.left() - start.left()) > 1e-9
                                         ? (rect.left() - start.left()) / (end.left() - start.left())
                                         : (rect.top() - start.top()) / (end.top() - start.top());
                EXPECT_NEAR(along, motionEasing(std::min(seconds / total, 1.0)), 1e-9);
                EXPECT_GE(along, previousProgress);
                EXPECT_TRUE(contains(QRectF(0, 0, 4000, 3000), rect)) << "frame " << n;
                EXPECT_NEAR(rect.width() / rect.height(), 16.0 / 9.0, 1e-9);
                previousProgress = along;
            }
        }
        // The same instants agree exactly whatever the rate that reached them.
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), 30 / 15.0, total),
                  motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), 120 / 60.0, total));
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), 0.0, total), start);
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), total, total), end);
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), total + 9, total), end);
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), 2.0, 0.0), start);
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), 2.0, -1.0), start);
        EXPECT_EQ(motionRectAt({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill), NAN, total), start);
    }
    EXPECT_EQ(motionEasing(0.5), 0.5);
    EXPECT_EQ(motionEasing(-3), 0.0);
    EXPECT_EQ(motionEasing(7), 1.0);
}

TEST(PhotoMotionPath, ZoomsAndPansAgainstHandComputedEnds) {
    QRectF start;
    QRectF end;
    // 4:3 filled into 16:9: a 4000 x 2250 crop with 750 rows of room.
    motionEnds({MotionKind::ZoomIn, {}, {}}, {4000, 3000}, kFullHd, fitOf(PhotoFit::Fill), start, end);
    expectRect(start, 0, 375, 4000, 2250);
    expectRect(end, 2000 - 2000 / 1.15, 1500 - 1125 / 1.15, 4000 / 1.15, 2250 / 1.15);
    motionEnds({MotionKind::ZoomOut, {}, {}}, {4000, 3000}, kFullHd, fitOf(PhotoFit::Fill), start, end);
    expectRect(end, 0, 375, 4000, 2250);
    motionEnds({MotionKind::PanDown, {}, {}}, {4000, 3000}, kFullHd, fitOf(PhotoFit::Fill), start, end);
    expectRect(start, 0, 0, 4000, 2250);
    expectRect(end, 0, 750, 4000, 2250);
    motionEnds({MotionKind::PanUp, {}, {}}, {4000, 3000}, kFullHd, fitOf(PhotoFit::Fill), start, end);
    expectRect(start, 0, 750, 4000, 2250);
    expectRect(end, 0, 0, 4000, 2250);
    // No room across: a slight zoom in makes some, the view stays centred on the other axis.
    motionEnds({MotionKind::PanLeft, {}, {}}, {4000, 3000}, kFullHd, fitOf(PhotoFit::Fill), start, end);
    expectRect(start, 4000 - 4000 / 1.15, 1500 - 1125 / 1.15, 4000 / 1.15, 2250 / 1.15);
    expectRect(end, 0, 1500 - 1125 / 1.15, 4000 / 1.15, 2250 / 1.15);

    // Letterboxed, a pan never leaves the still view; a filled one never leaves the photo.
    for (MotionKind kind : {MotionKind::ZoomIn, MotionKind::ZoomOut, MotionKind::PanLeft,
                            MotionKind::PanRight, MotionKind::PanUp, MotionKind::PanDown}) {
        for (const QSizeF photo :
             {QSizeF(4000, 3000), QSizeF(1000, 3000), QSizeF(30000, 1000), QSizeF(1920, 1080)}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(kind) << " " << photo.width());
            motionEnds({kind, {}, {}}, photo, kFullHd, {}, start, end);
            EXPECT_NE(start, end);
            EXPECT_TRUE(contains(viewRect(photo, kFullHd, {}), start));
            EXPECT_TRUE(contains(viewRect(photo, kFullHd, {}), end));
            motionEnds({kind, {}, {}}, photo, kFullHd, fitOf(PhotoFit::Fill, true), start, end);
            EXPECT_NE(start, end);
            EXPECT_TRUE(contains(QRectF(QPointF(), photo), start));
            EXPECT_TRUE(contains(QRectF(QPointF(), photo), end));
        }
    }
}

TEST(PhotoMotionPath, CustomRectanglesAreClampedIntoValidViews) {
    const QSizeF photo(4000, 3000);
    const FitOptions fill = fitOf(PhotoFit::Fill);
    // Outside: moved in, size kept.
    expectRect(clampViewRect({-5000, -5000, 800, 450}, photo, kFullHd, fill), 0, 0, 800, 450);
    expectRect(clampViewRect({9000, 9000, 800, 450}, photo, kFullHd, fill), 3200, 2550, 800, 450);
    // Larger than the photo: the largest view that fits, moved in.
    expectRect(clampViewRect({0, 0, 8000, 4500}, photo, kFullHd, fill), 0, 750, 4000, 2250);
    // Another aspect: the output's, with the same area and centre.
    expectRect(clampViewRect({100, 100, 400, 400}, photo, kFullHd, fill), 300 - 800 / 3.0, 150, 1600 / 3.0,
               300);
    // Zero size, negative size, not a number: the still view (centred where the rectangle was, if anywhere).
    expectRect(clampViewRect({2000, 1500, 0, 0}, photo, kFullHd, fill), 0, 375, 4000, 2250);
    expectRect(clampViewRect({500, 500, -10, 40}, photo, kFullHd, fill), 0, 0, 4000, 2250);
    expectRect(clampViewRect({NAN, 0, 10, 10}, photo, kFullHd, fill), 0, 375, 4000, 2250);
    expectRect(clampViewRect({0, 0, INFINITY, 1e308}, photo, kFullHd, fill), 0, 375, 4000, 2250);
    expectRect(clampViewRect({0, 0, 1e300, 1e300}, photo, kFullHd, fill), 0, 750, 4000, 2250);
    // Tiny: no smaller than a sixteenth of the still view.
    expectRect(clampViewRect({1000, 1000, 1, 1}, photo, kFullHd, fill), 1000.5 - 125, 1000.5 - 70.3125, 250,
               140.625);
    // Letterboxed, a view may show the bars but no more than the still view.
    const QRectF still = viewRect(photo, kFullHd, {});
    EXPECT_TRUE(contains(still, clampViewRect({-9000, -9000, 20000, 20000}, photo, kFullHd, {})));

    const PhotoMotion custom{MotionKind::Custom, {-100, -100, 1600, 900}, {9000, 2000, 0, 0}};
    expectRect(motionRectAt(custom, photo, kFullHd, fill, 0, 5), 0, 0, 1600, 900);
    expectRect(motionRectAt(custom, photo, kFullHd, fill, 5, 5), 0, 750, 4000, 2250);
    for (int n = 0; n <= 50; ++n) {
        EXPECT_TRUE(
            contains(QRectF(QPointF(), photo), motionRectAt(custom, photo, kFullHd, fill, n / 10.0, 5)));
    }
}

TEST(PhotoMotionPath, TinyPhotosAndHugePanoramasStayFiniteAndBounded) {
    // 1 x 1 with a zoom, every way of fitting it.
    for (const FitOptions fit : {fitOf(PhotoFit::Letterbox), fitOf(PhotoFit::Fill),
                                 fitOf(PhotoFit::Letterbox, true), fitOf(PhotoFit::Fill, true)}) {
        for (MotionKind kind :
             {MotionKind::ZoomIn, MotionKind::ZoomOut, MotionKind::PanLeft, MotionKind::PanDown}) {
            for (int n = 0; n <= 10; ++n) {
                const QRectF rect = motionRectAt({kind, {}, {}}, {1, 1}, kFullHd, fit, n * 0.3, 3.0);
                EXPECT_TRUE(std::isfinite(rect.x()) && std::isfinite(rect.y()));
                EXPECT_GT(rect.width(), 0.0);
                EXPECT_NEAR(rect.width() / rect.height(), 16.0 / 9.0, 1e-3);
                // A zoom keeps the pixel where the still frame has it.
                if (kind == MotionKind::ZoomIn || kind == MotionKind::ZoomOut) {
                    EXPECT_NEAR(rect.center().x(), viewRect({1, 1}, kFullHd, fit).center().x(), 1e-9);
                    EXPECT_NEAR(rect.center().y(), viewRect({1, 1}, kFullHd, fit).center().y(), 1e-9);
                }
            }
            EXPECT_EQ(motionDecodeSize({kind, {}, {}}, {1, 1}, kFullHd, fit), QSize(1, 1));
        }
    }
    // A 30000-pixel panorama: filled, the pan crosses all of it and needs the photo whole; letterboxed and
    // zoomed, a small decode suffices.
    const QSizeF panorama(30000, 1000);
    QRectF start;
    QRectF end;
    motionEnds({MotionKind::PanRight, {}, {}}, panorama, kFullHd, fitOf(PhotoFit::Fill, true), start, end);
    expectRect(start, 0, 0, 16000 / 9.0, 1000);
    expectRect(end, 30000 - 16000 / 9.0, 0, 16000 / 9.0, 1000);
    EXPECT_EQ(
        motionDecodeSize({MotionKind::PanRight, {}, {}}, panorama, kFullHd, fitOf(PhotoFit::Fill, true)),
        QSize(30000, 1000));
    const QSize zoomed = motionDecodeSize({MotionKind::ZoomIn, {}, {}}, panorama, kFullHd, {});
    EXPECT_EQ(
        zoomed.width(),
        static_cast<int>(std::ceil(1920 * 1.15 * 30000 / viewRect(panorama, kFullHd, {}).width() - 1e-9)));
    EXPECT_LE(zoomed.height(), 80);
    EXPECT_EQ(motionDecodeSize({}, {4000, 3000}, kFullHd, {}), QSize(1440, 1080));
    EXPECT_EQ(motionDecodeSize({}, {0, 3000}, kFullHd, {}), QSize());
    expectRect(scaleViewRect({100, 200, 400, 300}, {4000, 3000}, {1000, 750}), 25, 50, 100, 75);
}

// The fastest an edge moves, sampled, in view widths per second.
double sampledPeakSpeed(const PhotoMotion& motion, QSizeF photo, const FitOptions& fit, double total) {
    constexpr int kSteps = 2000;
    double peak = 0.0;
    QRectF previous = motionRectAt(motion, photo, kFullHd, fit, 0, total);
    for (int n = 1; n <= kSteps; ++n) {
        const QRectF rect = motionRectAt(motion, photo, kFullHd, fit, total * n / kSteps, total);
        const double moved =
            std::max({std::abs(rect.left() - previous.left()), std::abs(rect.right() - previous.right()),
                      std::abs(rect.top() - previous.top()), std::abs(rect.bottom() - previous.bottom())});
        peak = std::max(peak, moved / (total / kSteps) / std::min(rect.width(), previous.width()));
        previous = rect;
    }
    return peak;
}

TEST(PhotoMotionGentleRandom, ReproducibleSlowAlternatingAndAlongTheLongSide) {
    const QSizeF photo(4000, 3000);
    const FitOptions fill = fitOf(PhotoFit::Fill);
    const PhotoMotion first = gentleRandomMotion(photo, kFullHd, fill, 42, 0, 5.0, 0.05);
    const PhotoMotion again = gentleRandomMotion(photo, kFullHd, fill, 42, 0, 5.0, 0.05);
    EXPECT_EQ(first.kind, MotionKind::Custom);
    EXPECT_EQ(first.start, again.start);
    EXPECT_EQ(first.end, again.end);
    EXPECT_NE(gentleRandomMotion(photo, kFullHd, fill, 43, 0, 5.0, 0.05).end, first.end);

    // Even slides zoom in, odd slides zoom out.
    for (int slide = 0; slide < 8; ++slide) {
        const PhotoMotion motion = gentleRandomMotion(photo, kFullHd, fill, 7, slide, 5.0, 0.05);
        EXPECT_EQ(motion.end.width() < motion.start.width(), slide % 2 == 0) << slide;
    }
    // Panoramas pan across, portraits up or down.
    const PhotoMotion wide = gentleRandomMotion({9000, 2000}, kFullHd, fill, 7, 0, 5.0, 0.05);
    EXPECT_DOUBLE_EQ(wide.start.width(), wide.end.width());
    EXPECT_NE(wide.start.x(), wide.end.x());
    EXPECT_DOUBLE_EQ(wide.start.y(), wide.end.y());
    const PhotoMotion tall = gentleRandomMotion({2000, 3000}, kFullHd, fill, 7, 1, 5.0, 0.05);
    EXPECT_DOUBLE_EQ(tall.start.width(), tall.end.width());
    EXPECT_NE(tall.start.y(), tall.end.y());
    EXPECT_DOUBLE_EQ(tall.start.x(), tall.end.x());

    // Never faster than asked, whatever the shape and the duration.
    for (const QSizeF shape :
         {QSizeF(4000, 3000), QSizeF(9000, 2000), QSizeF(2000, 3000), QSizeF(30000, 1000), QSizeF(64, 48)}) {
        for (const FitOptions fit : {fitOf(PhotoFit::Letterbox), fill, fitOf(PhotoFit::Fill, true)}) {
            for (double total : {0.5, 3.0, 12.0}) {
                for (double speed : {0.0, 0.02, 0.08}) {
                    const PhotoMotion motion = gentleRandomMotion(shape, kFullHd, fit, 99, 3, total, speed);
                    EXPECT_LE(sampledPeakSpeed(motion, shape, fit, total), speed * 1.001 + 1e-12)
                        << shape.width() << " " << total << " " << speed;
                    EXPECT_TRUE(contains(motionBounds(shape, kFullHd, fit), motion.start));
                    EXPECT_TRUE(contains(motionBounds(shape, kFullHd, fit), motion.end));
                }
            }
        }
    }
    EXPECT_EQ(gentleRandomMotion(photo, kFullHd, fill, 1, 0, 0.0, 0.05).kind, MotionKind::None);
    EXPECT_EQ(gentleRandomMotion({0, 0}, kFullHd, fill, 1, 0, 5.0, 0.05).kind, MotionKind::None);
}

TEST(PhotoMotionGentleRandom, FacesStayInsideEveryView) {
    // Faces near the edges a filled crop or a zoom would cut, on landscape, panorama and portrait photos.
    struct Case {
        QSizeF photo;
        std::vector<QRectF> faces;
    };
    const Case cases[] = {
        {{4000, 3000}, {{100, 20, 300, 380}}},
        {{4000, 3000}, {{3500, 2600, 400, 380}, {3000, 2500, 200, 200}}},
        {{9000, 2000}, {{50, 500, 300, 400}, {8600, 400, 300, 400}}},
        {{2000, 3000}, {{800, 20, 400, 500}}},
        {{2000, 3000}, {{100, 100, 300, 300}, {1500, 2600, 300, 300}}},
        {{4000, 3000}, {{-500, -500, 700, 800}}},
    };
    int checked = 0;
    for (const Case& c : cases) {
        for (const FitOptions fit :
             {fitOf(PhotoFit::Fill), fitOf(PhotoFit::Letterbox), fitOf(PhotoFit::Fill, true)}) {
            for (int slide = 0; slide < 6; ++slide) {
                // Only where the faces fit in the largest view the photo allows.
                QRectF faceArea;
                for (const QRectF& face : c.faces) faceArea |= face.intersected(QRectF(QPointF(), c.photo));
                const QRectF bounds = motionBounds(c.photo, kFullHd, fit);
                const double largest = std::min(bounds.width(), bounds.height() * 16.0 / 9.0);
                if (faceArea.width() > largest || faceArea.height() > largest * 9.0 / 16.0) continue;
                for (std::uint64_t seed : {1ull, 2ull, 0xFFFFFFFFFFFFull}) {
                    const PhotoMotion motion =
                        gentleRandomMotion(c.photo, kFullHd, fit, seed, slide, 6.0, 0.05, c.faces);
                    for (int n = 0; n <= 180; ++n) {
                        const QRectF view = motionRectAt(motion, c.photo, kFullHd, fit, n / 30.0, 6.0);
                        for (const QRectF& face : c.faces) {
                            const QRectF inside = face.intersected(QRectF(QPointF(), c.photo));
                            ASSERT_TRUE(contains(view, inside, 1e-6 * c.photo.width()))
                                << c.photo.width() << " slide " << slide << " frame " << n;
                            ++checked;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

}  // namespace
}  // namespace kestrelle
