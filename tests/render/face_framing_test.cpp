// Faces kept in the frame: the face detector on real portraits and hostile pictures, and the geometry
// that keeps every face inside every view of Gentle random and Fill.

#include "render/face_detector.h"
#include "render/moving_photo.h"
#include "render/photo_motion.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <thread>

namespace kestrelle {
namespace {

const QSizeF kLandscape(1920, 1080);
const QSizeF kUpright(1080, 1920);

bool contains(const QRectF& outer, const QRectF& inner, double tolerance) {
    return inner.left() >= outer.left() - tolerance && inner.top() >= outer.top() - tolerance &&
           inner.right() <= outer.right() + tolerance && inner.bottom() <= outer.bottom() + tolerance;
}

QRectF unionOf(const std::vector<QRectF>& rects) {
    QRectF all;
    for (const QRectF& rect : rects) all = all.isEmpty() ? rect : all.united(rect);
    return all;
}

// Whether `faces` fit in the largest view the photo allows (only then must every face stay inside).
bool facesFit(const std::vector<QRectF>& faces, QSizeF photo, QSizeF output, const FitOptions& fit) {
    const QRectF area = unionOf(faces).intersected(QRectF(QPointF(), photo));
    const QRectF bounds = motionBounds(photo, output, fit);
    const double aspect = output.width() / output.height();
    const double largest = std::min(bounds.width(), bounds.height() * aspect);
    return area.width() <= largest && area.height() <= largest / aspect;
}

struct FramingCase {
    MotionKind kind;
    FitOptions fit;
};

// Every motion that keeps faces: Gentle random with any fit, the fixed kinds with Fill.
std::vector<FramingCase> framingCases() {
    std::vector<FramingCase> cases;
    const FitOptions fills[] = {{PhotoFit::Fill, false}, {PhotoFit::Fill, true}};
    for (const FitOptions fit :
         {FitOptions{PhotoFit::Letterbox, false}, FitOptions{PhotoFit::Letterbox, true},
          FitOptions{PhotoFit::BlurredBackground, false}, fills[0], fills[1]})
        cases.push_back({MotionKind::GentleRandom, fit});
    for (const MotionKind kind :
         {MotionKind::None, MotionKind::ZoomIn, MotionKind::ZoomOut, MotionKind::PanLeft,
          MotionKind::PanRight, MotionKind::PanUp, MotionKind::PanDown}) {
        for (const FitOptions fit : fills) cases.push_back({kind, fit});
    }
    return cases;
}

// Resolves every framing case for `faces` and checks that each face in `marked` is inside every view
// at every frame of a 25 fps slide (when the marked faces fit at all), counting the checks in `checked`.
void expectFacesFramed(QSizeF photo, const std::vector<QRectF>& found, const std::vector<QRectF>& marked,
                       QSizeF output, int& checked) {
    for (const FramingCase& framing : framingCases()) {
        if (!facesFit(marked, photo, output, framing.fit)) continue;
        for (int slide = 0; slide < 4; ++slide) {
            for (const double total : {1.0, 7.0}) {
                const PhotoMotion motion = resolveMotion({framing.kind, {}, {}}, photo, output, framing.fit,
                                                         0x5EEDull + slide, slide, total, found);
                const int frames = static_cast<int>(total * 25.0);
                for (int frame = 0; frame <= frames; ++frame) {
                    const QRectF view = motionRectAt(motion, photo, output, framing.fit, frame / 25.0, total);
                    for (const QRectF& face : marked) {
                        ASSERT_TRUE(
                            contains(view, face.intersected(QRectF(QPointF(), photo)), 1e-6 * photo.width()))
                            << "photo " << photo.width() << "x" << photo.height() << " output "
                            << output.width() << "x" << output.height() << " kind "
                            << static_cast<int>(framing.kind) << " fit " << static_cast<int>(framing.fit.fit)
                            << (framing.fit.enlargeSmall ? "+" : "") << " slide " << slide << " frame "
                            << frame << " face " << face.x() << "," << face.y() << " view " << view.x() << ","
                            << view.y() << " " << view.width() << "x" << view.height();
                        ++checked;
                    }
                }
            }
        }
    }
}

// ---- Geometry -----------------------------------------------------------------------------------------

TEST(FaceFraming, EveryFaceInsideEveryViewOnWideTallAndSmallPhotos) {
    struct Case {
        QSizeF photo;
        std::vector<QRectF> faces;
    };
    const Case cases[] = {
        // Landscape photos: faces at each edge and corner a filled crop or a zoom would cut.
        {{4000, 3000}, {{100, 20, 300, 380}}},
        {{4000, 3000}, {{3600, 2650, 390, 340}}},
        {{4000, 3000}, {{0, 1300, 250, 300}, {3750, 1400, 250, 300}}},
        {{4000, 3000}, {{1800, 0, 400, 60}, {1700, 2900, 300, 100}}},
        // A panorama with a face at each end, and one with a single face at the far end.
        {{9000, 2000}, {{40, 600, 300, 380}, {8650, 500, 320, 400}}},
        {{30000, 1000}, {{29800, 10, 190, 240}}},
        // Portrait photos: a face at the top, at the bottom, at both.
        {{2000, 3000}, {{820, 0, 380, 480}}},
        {{1000, 3000}, {{600, 2700, 380, 300}}},
        {{2000, 3000}, {{100, 150, 300, 300}, {1600, 2500, 300, 300}}},
        // Small photos: below the output's size, enlarged or not.
        {{800, 600}, {{700, 0, 100, 120}}},
        {{640, 1200}, {{10, 1100, 90, 100}}},
        {{64, 48}, {{0, 0, 10, 12}, {54, 36, 10, 12}}},
        // Many small faces of a group photo along the bottom.
        {{6000, 4000},
         {{300, 3700, 150, 180},
          {1200, 3750, 150, 180},
          {2500, 3700, 150, 180},
          {4100, 3780, 150, 180},
          {5600, 3710, 150, 180}}},
    };
    int checked = 0;
    for (const Case& c : cases) {
        for (const QSizeF output : {kLandscape, kUpright})
            expectFacesFramed(c.photo, c.faces, c.faces, output, checked);
    }
    EXPECT_GT(checked, 100000);
}

TEST(FaceFraming, FacesTooLargeForTheLargestViewKeepTheViewOnThem) {
    // Faces spanning more than any view can hold: the view stays within them on the overflowing axis (as
    // much face as fits, centred), still inside the photo, and stays finite.
    struct Case {
        QSizeF photo;
        std::vector<QRectF> faces;
    };
    const Case cases[] = {
        {{4000, 3000}, {{200, 100, 3600, 2800}}},
        {{4000, 3000}, {{0, 0, 400, 400}, {3600, 2600, 400, 400}}},
        {{2000, 3000}, {{100, 0, 300, 300}, {100, 2700, 300, 300}}},
        {{9000, 2000}, {{0, 0, 9000, 2000}}},
    };
    const FitOptions fill{PhotoFit::Fill, true};
    for (const Case& c : cases) {
        ASSERT_FALSE(facesFit(c.faces, c.photo, kLandscape, fill));
        const QRectF faces = unionOf(c.faces);
        const QRectF photoRect(QPointF(), c.photo);
        for (const MotionKind kind : {MotionKind::None, MotionKind::ZoomIn, MotionKind::GentleRandom}) {
            const PhotoMotion motion =
                resolveMotion({kind, {}, {}}, c.photo, kLandscape, fill, 3, 0, 6.0, c.faces);
            for (int frame = 0; frame <= 150; frame += 5) {
                const QRectF view = motionRectAt(motion, c.photo, kLandscape, fill, frame / 25.0, 6.0);
                ASSERT_TRUE(contains(photoRect, view, 1e-6 * c.photo.width()));
                if (view.width() < faces.width()) {
                    EXPECT_GE(view.left(), faces.left() - 1e-6);
                    EXPECT_LE(view.right(), faces.right() + 1e-6);
                }
                if (view.height() < faces.height()) {
                    EXPECT_GE(view.top(), faces.top() - 1e-6);
                    EXPECT_LE(view.bottom(), faces.bottom() + 1e-6);
                }
            }
        }
    }
}

TEST(FaceFraming, FillShiftsTheStillViewAsLittleAsItNeedsAndStaysStill) {
    const QSizeF photo(4000, 3000);
    const FitOptions fill{PhotoFit::Fill, true};
    // The centred fill view is 4000 x 2250 at y = 375. A face at the top (with 5 % room: 10 px) moves it
    // up to y = 40, its size kept.
    const PhotoMotion top = resolveMotion({}, photo, kLandscape, fill, 1, 0, 5.0, {{100, 50, 200, 200}});
    EXPECT_EQ(top.kind, MotionKind::Custom);
    EXPECT_EQ(top.start, top.end);
    EXPECT_NEAR(top.start.x(), 0.0, 1e-9);
    EXPECT_NEAR(top.start.y(), 40.0, 1e-9);
    EXPECT_NEAR(top.start.width(), 4000.0, 1e-9);
    EXPECT_NEAR(top.start.height(), 2250.0, 1e-9);
    // Its ends are equal, so the slide draws as a still.
    QRectF start;
    QRectF end;
    motionEnds(top, photo, kLandscape, fill, start, end);
    EXPECT_EQ(start, end);
    // A face at the bottom edge: the view rests on the photo's bottom (2990 + 10 room is beyond it).
    const PhotoMotion bottom =
        resolveMotion({}, photo, kLandscape, fill, 1, 0, 5.0, {{1900, 2790, 200, 200}});
    EXPECT_NEAR(bottom.start.y(), 750.0, 1e-9);
    // A face the centred view already holds leaves it where it was.
    const PhotoMotion middle =
        resolveMotion({}, photo, kLandscape, fill, 1, 0, 5.0, {{1900, 1400, 200, 200}});
    EXPECT_EQ(middle.start, viewRect(photo, kLandscape, fill));

    // A photo smaller than the frame, not enlarged: the view already shows all of it.
    const FitOptions small{PhotoFit::Fill, false};
    const PhotoMotion tiny = resolveMotion({}, {800, 600}, kLandscape, small, 1, 0, 5.0, {{0, 0, 50, 50}});
    EXPECT_EQ(tiny.start, viewRect({800, 600}, kLandscape, small));
}

TEST(FaceFraming, WithoutFacesEveryMotionResolvesAsBefore) {
    const QSizeF photo(4000, 3000);
    const std::vector<QRectF> none;
    // Faces that are no faces: outside the photo, empty, not finite.
    const std::vector<QRectF> unusable = {{-500, -500, 100, 100},
                                          {5000, 100, 50, 50},
                                          {100, 100, 0, 0},
                                          {NAN, 0, 10, 10},
                                          {0, 0, INFINITY, 10}};
    for (const FitOptions fit :
         {FitOptions{PhotoFit::Letterbox, false}, FitOptions{PhotoFit::Fill, false},
          FitOptions{PhotoFit::Fill, true}, FitOptions{PhotoFit::BlurredBackground, false}}) {
        for (const MotionKind kind : {MotionKind::None, MotionKind::ZoomIn, MotionKind::ZoomOut,
                                      MotionKind::PanLeft, MotionKind::PanDown, MotionKind::Custom}) {
            const PhotoMotion motion{kind, {100, 100, 1600, 900}, {0, 0, 3200, 1800}};
            EXPECT_EQ(resolveMotion(motion, photo, kLandscape, fit, 9, 2, 5.0, none), motion);
            EXPECT_EQ(resolveMotion(motion, photo, kLandscape, fit, 9, 2, 5.0, unusable), motion);
        }
        const PhotoMotion gentle{MotionKind::GentleRandom, {}, {}};
        EXPECT_EQ(resolveMotion(gentle, photo, kLandscape, fit, 9, 2, 5.0, unusable),
                  resolveMotion(gentle, photo, kLandscape, fit, 9, 2, 5.0, none));
    }
    // With faces, Letterbox and Custom motions are left alone: only Gentle random and Fill frame faces.
    const std::vector<QRectF> corner = {{0, 0, 200, 200}};
    const PhotoMotion zoom{MotionKind::ZoomIn, {}, {}};
    EXPECT_EQ(resolveMotion(zoom, photo, kLandscape, {}, 9, 2, 5.0, corner), zoom);
    const PhotoMotion custom{MotionKind::Custom, {2000, 1500, 1600, 900}, {2000, 1500, 1600, 900}};
    EXPECT_EQ(resolveMotion(custom, photo, kLandscape, {PhotoFit::Fill, true}, 9, 2, 5.0, corner), custom);
    // A photo or output without pixels stays unresolved rather than dividing by zero.
    EXPECT_EQ(resolveMotion({}, {0, 0}, kLandscape, {PhotoFit::Fill, true}, 9, 2, 5.0, corner),
              PhotoMotion{});
    EXPECT_EQ(resolveMotion({}, photo, {0, 0}, {PhotoFit::Fill, true}, 9, 2, 5.0, corner), PhotoMotion{});
}

// ---- The detector on hostile pictures --------------------------------------------------------------------

TEST(FaceDetector, PicturesWithoutFacesHaveNone) {
    std::vector<QImage> pictures;
    for (const QColor colour :
         {QColor(Qt::black), QColor(Qt::white), QColor(128, 128, 128), QColor(200, 150, 120)}) {
        QImage flat(1280, 960, QImage::Format_RGB32);
        flat.fill(colour);
        pictures.push_back(flat);
    }
    std::mt19937 random(24);
    QImage noise(1024, 768, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = 0xFF000000u | (random() & 0xFFFFFFu);
    }
    pictures.push_back(noise);
    QImage pattern(1600, 900, QImage::Format_RGB32);
    {
        QPainter painter(&pattern);
        QLinearGradient gradient(0, 0, 1600, 900);
        gradient.setColorAt(0, Qt::darkBlue);
        gradient.setColorAt(1, Qt::yellow);
        painter.fillRect(pattern.rect(), gradient);
        for (int x = 0; x < 1600; x += 100) {
            for (int y = (x / 100) % 2 * 100; y < 900; y += 200) painter.fillRect(x, y, 100, 100, Qt::black);
        }
    }
    pictures.push_back(pattern);
    // Real photographs without a face: the portraits below their chins (suits, a helmet, ribbons, a flag)
    // and, enlarged, the model shuttle beside the astronaut.
    const QImage astronaut(QStringLiteral(KESTRELLE_TEST_PORTRAITS "/astronaut.jpg"));
    const QImage hopper(QStringLiteral(KESTRELLE_TEST_PORTRAITS "/grace_hopper.jpg"));
    ASSERT_FALSE(astronaut.isNull());
    ASSERT_FALSE(hopper.isNull());
    pictures.push_back(astronaut.copy(0, 200, 512, 312));
    pictures.push_back(hopper.copy(0, 280, 400, 189).scaled(800, 378));
    pictures.push_back(
        astronaut.copy(300, 0, 212, 300).scaled(636, 900, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    for (const QImage& picture : pictures) {
        EXPECT_TRUE(findFaces(picture).empty());
        EXPECT_TRUE(findFaces(picture.convertToFormat(QImage::Format_Grayscale8)).empty());
    }
}

TEST(FaceDetector, HostileSizesAndFormatsNeverCrash) {
    EXPECT_TRUE(findFaces(QImage()).empty());
    for (const QSize size :
         {QSize(1, 1), QSize(44, 44), QSize(1, 100000), QSize(100000, 1), QSize(30000, 20)}) {
        QImage picture(size, QImage::Format_RGB32);
        ASSERT_FALSE(picture.isNull());
        picture.fill(Qt::gray);
        EXPECT_TRUE(findFaces(picture).empty()) << size.width() << "x" << size.height();
    }
    // A large one-bit picture is sampled, never converted whole (that would be 1.6 GB).
    QImage mono(20000, 20000, QImage::Format_Mono);
    ASSERT_FALSE(mono.isNull());
    mono.fill(0);
    EXPECT_TRUE(findFaces(mono).empty());
    // An indexed picture whose pixels point past its colour table.
    QImage indexed(300, 200, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    indexed.fill(200);
    EXPECT_TRUE(findFaces(indexed).empty());
    for (const QImage::Format format :
         {QImage::Format_RGB16, QImage::Format_RGBA64, QImage::Format_Grayscale16, QImage::Format_RGB888,
          QImage::Format_BGR30, QImage::Format_Alpha8}) {
        QImage picture(500, 400, format);
        picture.fill(Qt::darkGray);
        EXPECT_TRUE(findFaces(picture).empty()) << format;
    }
    // A picture whose lines are padded beyond its width (a copy out of a larger one).
    QImage wide(2000, 1500, QImage::Format_RGB32);
    wide.fill(Qt::gray);
    const QImage part(wide.constBits() + 4 * 13, 700, 500, wide.bytesPerLine(), QImage::Format_RGB32);
    EXPECT_TRUE(findFaces(part).empty());
}

TEST(FaceDetector, AMissingOrBrokenCascadeGivesNoFaces) {
    QImage portrait(QStringLiteral(KESTRELLE_TEST_PORTRAITS "/astronaut.jpg"));
    ASSERT_FALSE(portrait.isNull());
    ASSERT_FALSE(findFaces(portrait).empty());
    EXPECT_TRUE(findFacesWithCascades(portrait, "/nonexistent/cascades").empty());

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile real(QString::fromUtf8(kFaceCascadeFolder) +
               QStringLiteral("/lbpcascades/lbpcascade_frontalface_improved.xml"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QByteArray whole = real.readAll();
    // Cut in half, garbage, empty: each in a folder of its own (a thread keeps a folder's cascade once read).
    const QByteArray broken[] = {whole.left(whole.size() / 2),
                                 QByteArray("\x00\xFF", 2) + QByteArray(" garbage <opencv_storage>"),
                                 QByteArray()};
    for (std::size_t i = 0; i < std::size(broken); ++i) {
        const QString cascades = folder.filePath(QStringLiteral("broken%1").arg(i));
        ASSERT_TRUE(QDir().mkpath(cascades + QStringLiteral("/lbpcascades")));
        QFile file(cascades + QStringLiteral("/lbpcascades/lbpcascade_frontalface_improved.xml"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(broken[i]);
        file.close();
        EXPECT_TRUE(findFacesWithCascades(portrait, cascades.toStdString()).empty()) << i;
    }
}

// ---- The detector on real portraits ----------------------------------------------------------------------

QImage portrait(const char* name) {
    return QImage(QStringLiteral(KESTRELLE_TEST_PORTRAITS "/") + QString::fromLatin1(name));
}

// Faces marked by hand, forehead to chin and cheek to cheek, in the portraits' pixels.
const QRectF kAstronautFace(182, 80, 95, 97);
const QRectF kHopperFace(142, 110, 136, 152);

// A photo made of portraits on a textured background, with its hand-marked faces.
struct Scene {
    const char* name;
    QImage picture;
    std::vector<QRectF> faces;
};

class SceneBuilder {
public:
    SceneBuilder(const char* name, QSize size) : scene_{name, QImage(size, QImage::Format_RGB32), {}} {
        QPainter painter(&scene_.picture);
        QLinearGradient gradient(0, 0, size.width(), size.height());
        gradient.setColorAt(0, QColor(90, 110, 140));
        gradient.setColorAt(1, QColor(210, 190, 160));
        painter.fillRect(scene_.picture.rect(), gradient);
        // Some furniture for the cascade to reject.
        for (int i = 0; i < 12; ++i) {
            painter.fillRect((i * 373) % size.width(), (i * 241) % size.height(), 40 + i * 9, 25 + i * 7,
                             QColor::fromHsv(i * 30, 120, 90 + i * 10));
        }
    }
    // The portrait `name` scaled by `scale` (and mirrored) with its top-left corner at `at`.
    SceneBuilder& place(const char* name, const QRectF& face, double scale, QPoint at,
                        bool mirrored = false) {
        QImage picture = portrait(name);
        EXPECT_FALSE(picture.isNull()) << name;
        QRectF marked = face;
        if (mirrored) {
            picture = picture.mirrored(true, false);
            marked.moveLeft(picture.width() - face.right());
        }
        const QSize size(static_cast<int>(std::lround(picture.width() * scale)),
                         static_cast<int>(std::lround(picture.height() * scale)));
        QPainter painter(&scene_.picture);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(at, size), picture);
        const double sx = static_cast<double>(size.width()) / picture.width();
        const double sy = static_cast<double>(size.height()) / picture.height();
        scene_.faces.push_back(QRectF(at.x() + marked.x() * sx, at.y() + marked.y() * sy, marked.width() * sx,
                                      marked.height() * sy));
        return *this;
    }
    Scene build() const { return scene_; }

private:
    Scene scene_;
};

std::vector<Scene> portraitScenes() {
    std::vector<Scene> scenes;
    scenes.push_back({"astronaut", portrait("astronaut.jpg"), {kAstronautFace}});
    scenes.push_back({"hopper", portrait("grace_hopper.jpg"), {kHopperFace}});
    // Two people at the two ends of a wide photo.
    scenes.push_back(SceneBuilder("pair", {1400, 600})
                         .place("grace_hopper.jpg", kHopperFace, 1.0, {0, 131})
                         .place("astronaut.jpg", kAstronautFace, 1.0, {888, 88})
                         .build());
    // A face in the top-left corner of a 4:3 camera photo, the part a centred fill would cut.
    scenes.push_back(
        SceneBuilder("corner", {1920, 1440}).place("astronaut.jpg", kAstronautFace, 2.0, {0, 0}).build());
    // A face at the bottom of a tall photo.
    scenes.push_back(
        SceneBuilder("tall", {600, 1400}).place("grace_hopper.jpg", kHopperFace, 1.0, {100, 931}).build());
    // A small face in the bottom-right corner.
    scenes.push_back(
        SceneBuilder("small", {800, 600}).place("astronaut.jpg", kAstronautFace, 0.75, {416, 216}).build());
    // A mirrored face at the left edge.
    scenes.push_back(SceneBuilder("mirrored", {1000, 700})
                         .place("grace_hopper.jpg", kHopperFace, 1.0, {0, 231}, true)
                         .build());
    return scenes;
}

double area(const QRectF& rect) {
    return rect.isEmpty() ? 0.0 : rect.width() * rect.height();
}

// Each marked face is found (a detection covering at least 80 % of it and no more than four times its
// size) and every detection lies on a marked face.
void expectFacesFound(const Scene& scene, const std::vector<QRectF>& found) {
    for (const QRectF& face : scene.faces) {
        const bool matched = std::any_of(found.begin(), found.end(), [&](const QRectF& detection) {
            return area(detection.intersected(face)) >= 0.8 * area(face) &&
                   area(detection) <= 4.0 * area(face);
        });
        EXPECT_TRUE(matched) << scene.name << ": the face at " << face.x() << "," << face.y()
                             << " is not found";
    }
    for (const QRectF& detection : found) {
        const bool onAFace = std::any_of(scene.faces.begin(), scene.faces.end(), [&](const QRectF& face) {
            return area(detection.intersected(face)) >= 0.5 * area(face);
        });
        EXPECT_TRUE(onAFace) << scene.name << ": a face where there is none, at " << detection.x() << ","
                             << detection.y() << " " << detection.width() << "x" << detection.height();
    }
}

TEST(FaceDetector, FindsTheHandMarkedFacesOfThePortraits) {
    for (const Scene& scene : portraitScenes()) {
        ASSERT_FALSE(scene.picture.isNull()) << scene.name;
        const std::vector<QRectF> found = findFaces(scene.picture);
        expectFacesFound(scene, found);
        for (const QRectF& face : found) {
            EXPECT_TRUE(contains(QRectF(QPointF(), QSizeF(scene.picture.size())), face, 0.0)) << scene.name;
        }
        // The same faces whatever the picture's format.
        expectFacesFound(scene, findFaces(scene.picture.convertToFormat(QImage::Format_Grayscale8)));
        expectFacesFound(scene, findFaces(scene.picture.convertToFormat(QImage::Format_RGB888)));
        expectFacesFound(scene,
                         findFaces(scene.picture.convertToFormat(QImage::Format_ARGB32_Premultiplied)));
    }
}

TEST(FaceDetector, SeveralThreadsAtOnceFindTheSameFaces) {
    const std::vector<Scene> scenes = portraitScenes();
    std::vector<std::vector<QRectF>> expected;
    for (const Scene& scene : scenes) expected.push_back(findFaces(scene.picture));
    constexpr int kThreads = 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 2; ++round) {
                for (std::size_t i = 0; i < scenes.size(); ++i) {
                    const std::size_t scene = (i + t) % scenes.size();
                    if (findFaces(scenes[scene].picture) != expected[scene]) ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(FaceFraming, ThePortraitsLoseNoFaceInAnyFrame) {
    // The detector's faces drive the motion; the hand-marked ones must stay in every frame.
    int checked = 0;
    for (const Scene& scene : portraitScenes()) {
        const QSizeF photo(scene.picture.size());
        const std::vector<QRectF> found = findFaces(scene.picture);
        for (const QSizeF output : {kLandscape, kUpright, QSizeF(640, 480)}) {
            SCOPED_TRACE(scene.name);
            expectFacesFramed(photo, found, scene.faces, output, checked);
        }
    }
    EXPECT_GT(checked, 50000);
}

TEST(FaceFraming, AMovingPhotoKeepsTheFacesItFinds) {
    // End to end: the photo decoded at the size its motion needs, faces found in that picture and
    // mapped back into the photo's coordinates.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QSize output(1280, 720);
    for (const Scene& scene : portraitScenes()) {
        const QString path = folder.filePath(QString::fromLatin1(scene.name) + QStringLiteral(".jpg"));
        ASSERT_TRUE(scene.picture.save(path, "JPEG", 92));
        const QSizeF photo(scene.picture.size());
        for (const MotionKind kind : {MotionKind::None, MotionKind::GentleRandom, MotionKind::ZoomIn}) {
            MovingPhotoRequest request;
            request.path = path.toStdString();
            request.output = output;
            request.motion.kind = kind;
            request.fit = {PhotoFit::Fill, true};
            request.seed = 77;
            request.slideIndex = 1;
            request.totalSeconds = 4.0;
            request.findFaces = findFaces;
            bool decoded = false;
            const MovingPhoto moving = MovingPhoto::load(request, &decoded);
            ASSERT_TRUE(decoded) << scene.name;
            // Fill without motion stays a still, wherever the faces moved its view.
            if (kind == MotionKind::None) {
                EXPECT_FALSE(moving.moves()) << scene.name;
            }
            if (!facesFit(scene.faces, photo, QSizeF(output), request.fit)) continue;
            for (int frame = 0; frame <= 100; ++frame) {
                const QRectF view =
                    motionRectAt(moving.motion(), photo, QSizeF(output), request.fit, frame / 25.0, 4.0);
                for (const QRectF& face : scene.faces)
                    ASSERT_TRUE(contains(view, face, 1e-6 * photo.width()))
                        << scene.name << " frame " << frame;
            }
        }
    }
}

}  // namespace
}  // namespace kestrelle
