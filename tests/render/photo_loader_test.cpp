#include "render/photo_loader.h"

#include "tests/support/pictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QColorSpace>
#include <QColorTransform>
#include <QImage>
#include <QPainter>
#include <QString>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace kestrelle {

void PrintTo(const PhotoPlacement& place, std::ostream* out) {
    *out << place.width << " x " << place.height << " at (" << place.x << ", " << place.y << ")";
}

namespace {

constexpr std::uint32_t kBlackPixel = 0xFF000000u;
constexpr std::uint32_t kWhitePixel = 0xFFFFFFFFu;

// Fixtures live in a fresh temporary folder per test.
class PhotoLoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrelle-photo-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string path(const std::string& name) const { return folder_ + "/" + name; }

    std::string writeBytes(const std::string& name, const QByteArray& bytes) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(bytes.constData(), bytes.size());
        return path(name);
    }

    // A picture of one colour saved under `name` (the format follows the name).
    std::string solid(const std::string& name, int width, int height, QColor colour, int quality = 95) const {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        EXPECT_TRUE(image.save(QString::fromStdString(path(name)), nullptr, quality));
        return path(name);
    }

    // A picture of four coloured quadrants: red, green above; blue, yellow below.
    static QImage quadrants(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(0, 0, width / 2, height / 2, Qt::red);
        painter.fillRect(width / 2, 0, width - width / 2, height / 2, Qt::green);
        painter.fillRect(0, height / 2, width / 2, height - height / 2, Qt::blue);
        painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::yellow);
        return image;
    }

    // Loads and checks the picture's shape; `decoded` says whether the photo itself is expected to be read.
    static QImage load(const std::string& file, int width, int height,
                       std::uint32_t background = kBlackBackground, bool decoded = true) {
        QImage picture;
        bool wasDecoded = !decoded;
        EXPECT_TRUE(PhotoLoader::load(picture, width, height, file, background, &wasDecoded)) << file;
        EXPECT_EQ(wasDecoded, decoded) << file;
        EXPECT_EQ(picture.format(), QImage::Format_RGB32);
        EXPECT_EQ(picture.size(), QSize(width, height));
        return picture;
    }

private:
    std::string folder_;
};

bool near(QRgb actual, QColor expected, int tolerance) {
    return std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

// Every pixel inside `drawn` is close to `colour`, every pixel outside is exactly `background`.
::testing::AssertionResult coversExactly(const QImage& picture, QRect drawn, QColor colour, int tolerance,
                                         std::uint32_t background) {
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const bool inside = drawn.contains(x, y);
            if (inside ? !near(row[x], colour, tolerance) : row[x] != background) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << std::hex << row[x] << std::dec << ", "
                       << (inside ? "inside" : "outside") << " the drawn rectangle";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// --- names ---------------------------------------------------------------------------------------

TEST(PhotoNameTest, AcceptsEveryEndingInAnyCaseWithOrWithoutDot) {
    for (const char* name :
         {"PHOTO.JPEG", "a.Jpg", "scan.TIFF", "x.wbmp", "notajpg", "png",   "/home/u/Pictures/a.b/c.GIF",
          "x.bmp",      "x.ico", "x.tif",     "x.tga",  "x.pcx",   "x.wmf", "x.emf",
          "x.j2k",      "x.JP2", "x.j2c",     "x.jpc",  "x.pgx",   "x.pnm", "x.pgm",
          "x.ppm",      "x.ras", "x.jpeg",    "x.tiff", "x.WBMP"}) {
        EXPECT_TRUE(isSupportedPhotoName(name)) << name;
    }
}

TEST(PhotoNameTest, RefusesOtherEndings) {
    for (const char* name : {"photo.jpe", "photo.heics", "photo", "", "pn", "photo.jpg ", "photo.jpg/",
                             "photo.jpg.txt", "photo.svg", "x.jfif", "photo.pn"}) {
        EXPECT_FALSE(isSupportedPhotoName(name)) << '"' << name << '"';
    }
}

// --- fit arithmetic ------------------------------------------------------------------------------

TEST(PhotoFitTest, SinglePrecisionFactorsDecideSizeAndPlace) {
    struct Case {
        int photoWidth, photoHeight;
        PhotoPlacement expected;
    };
    const Case cases[] = {
        {1600, 1200, {0, 0, 640, 480}},    // 0.4f lies above 0.4: no loss
        {4000, 3000, {0, 0, 639, 479}},    // 0.16f lies below 0.16: last column and row stay background
        {2000, 1000, {0, 80, 639, 319}},   // wide: bars above and below
        {1000, 2000, {200, 0, 239, 479}},  // tall: bars left and right
        {320, 200, {160, 140, 320, 200}},  // smaller both ways: not enlarged
        {320, 480, {160, 0, 320, 480}},    // one factor exactly 1: scaled by 1
        {640, 480, {0, 0, 640, 480}},      // same size
        {641, 480, {0, 0, 639, 479}},      // a hair too wide: 640/641 rounds down
        {321, 201, {159, 139, 321, 201}},  // odd spare pixel goes to the right and bottom bars
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fitPhoto(640, 480, c.photoWidth, c.photoHeight), c.expected)
            << c.photoWidth << " x " << c.photoHeight;
    }
}

TEST(PhotoFitTest, DegenerateSizesGiveNothingToDraw) {
    EXPECT_EQ(fitPhoto(640, 480, 0, 0), PhotoPlacement{});
    EXPECT_EQ(fitPhoto(640, 480, -5, 10), PhotoPlacement{});
    EXPECT_EQ(fitPhoto(0, 480, 100, 100), PhotoPlacement{});
    const PhotoPlacement sliver = fitPhoto(100, 90, 100000, 1);
    EXPECT_EQ(sliver.height, 0);
    const PhotoPlacement huge = fitPhoto(1920, 1080, 2147483647, 2147483647);
    EXPECT_LE(huge.x + huge.width, 1920);
    EXPECT_LE(huge.y + huge.height, 1080);
}

TEST(PhotoFitTest, BackgroundIsPremultipliedByItsAlpha) {
    EXPECT_EQ(premultipliedBackground(kBlackBackground), kBlackPixel);
    EXPECT_EQ(premultipliedBackground(kWhiteBackground), kWhitePixel);
    EXPECT_EQ(premultipliedBackground(0x00FFFFFFu), kBlackPixel);
    EXPECT_EQ(premultipliedBackground(0x80FF4000u), 0xFF802000u);
}

// --- pictures ------------------------------------------------------------------------------------

TEST_F(PhotoLoaderTest, FitTableOnThePixels) {
    const QColor colour(200, 40, 60);
    struct Case {
        const char* name;
        int width, height;
        QRect drawn;
        int tolerance;
    };
    const Case cases[] = {
        {"a.png", 1600, 1200, QRect(0, 0, 640, 480), 0},   {"b.jpg", 4000, 3000, QRect(0, 0, 639, 479), 6},
        {"c.png", 2000, 1000, QRect(0, 80, 639, 319), 0},  {"d.png", 1000, 2000, QRect(200, 0, 239, 479), 0},
        {"e.png", 320, 200, QRect(160, 140, 320, 200), 0}, {"f.png", 320, 480, QRect(160, 0, 320, 480), 0},
    };
    for (const Case& c : cases) {
        const std::string file = solid(c.name, c.width, c.height, colour);
        EXPECT_TRUE(coversExactly(load(file, 640, 480), c.drawn, colour, c.tolerance, kBlackPixel)) << c.name;
    }
    // A photo read correctly but fitting into less than a row draws nothing.
    const std::string sliver = solid("sliver.png", 2000, 1, colour);
    EXPECT_TRUE(coversExactly(load(sliver, 100, 90), QRect(), colour, 0, kBlackPixel));
    // The same on white, the thumbnails' background.
    EXPECT_TRUE(coversExactly(load(path("c.png"), 640, 480, kWhiteBackground), QRect(0, 80, 639, 319), colour,
                              0, kWhitePixel));
}

TEST_F(PhotoLoaderTest, PixelsAreBlueGreenRedUnusedBytes) {
    const std::string file = solid("p.png", 8, 8, QColor(10, 20, 30));
    const QImage picture = load(file, 8, 8);
    const std::uint8_t* bytes = picture.constBits();
    EXPECT_EQ(bytes[0], 30);
    EXPECT_EQ(bytes[1], 20);
    EXPECT_EQ(bytes[2], 10);
    EXPECT_EQ(picture.bytesPerLine(), 8 * 4);
}

TEST_F(PhotoLoaderTest, ScaledPhotoKeepsItsLayout) {
    // Shrunk while decoding (1600 x 1200 into 200 x 150 is an exact eighth), by an odd factor, from
    // sizes no power of two divides, and a JPEG under another format's name.
    struct Case {
        const char* name;
        int photoWidth, photoHeight, width, height;
        const char* format;
    };
    const Case cases[] = {
        {"q1.jpg", 1600, 1200, 200, 150, "JPEG"}, {"q2.jpg", 1600, 1200, 333, 250, "JPEG"},
        {"q3.jpg", 1001, 601, 120, 72, "JPEG"},   {"q4.png", 999, 500, 300, 300, "PNG"},
        {"q5.jpeg", 800, 1600, 160, 90, "JPEG"},  {"q6.png", 1001, 601, 120, 72, "JPEG"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(
            quadrants(c.photoWidth, c.photoHeight).save(QString::fromStdString(path(c.name)), c.format, 95));
        const QImage picture = load(path(c.name), c.width, c.height);
        const PhotoPlacement place = fitPhoto(c.width, c.height, c.photoWidth, c.photoHeight);
        const int left = place.x + place.width / 4;
        const int right = place.x + place.width * 3 / 4;
        const int top = place.y + place.height / 4;
        const int bottom = place.y + place.height * 3 / 4;
        EXPECT_TRUE(near(picture.pixel(left, top), Qt::red, 12)) << c.name;
        EXPECT_TRUE(near(picture.pixel(right, top), Qt::green, 12)) << c.name;
        EXPECT_TRUE(near(picture.pixel(left, bottom), Qt::blue, 12)) << c.name;
        EXPECT_TRUE(near(picture.pixel(right, bottom), Qt::yellow, 12)) << c.name;
        if (place.x > 0) {
            EXPECT_EQ(picture.pixel(place.x - 1, top), kBlackPixel) << c.name;
            EXPECT_EQ(picture.pixel(place.x + place.width, top), kBlackPixel) << c.name;
            EXPECT_NE(picture.pixel(place.x, top), kBlackPixel) << c.name;
        }
        if (place.y > 0) {
            EXPECT_EQ(picture.pixel(left, place.y - 1), kBlackPixel) << c.name;
            EXPECT_EQ(picture.pixel(left, place.y + place.height), kBlackPixel) << c.name;
            EXPECT_NE(picture.pixel(left, place.y), kBlackPixel) << c.name;
        }
    }
}

TEST_F(PhotoLoaderTest, TransparencyBlendsOverTheBackground) {
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(qRgba(255, 0, 0, 128));
    ASSERT_TRUE(image.save(QString::fromStdString(path("glass.png"))));
    const QImage onWhite = load(path("glass.png"), 40, 40, kWhiteBackground);
    EXPECT_TRUE(near(onWhite.pixel(20, 20), QColor(255, 127, 127), 2)) << std::hex << onWhite.pixel(20, 20);
    const QImage onBlack = load(path("glass.png"), 20, 20, kBlackBackground);
    EXPECT_TRUE(near(onBlack.pixel(10, 10), QColor(128, 0, 0), 3)) << std::hex << onBlack.pixel(10, 10);
}

// --- EXIF orientation ----------------------------------------------------------------------------

// The JPEG with a minimal Exif segment (one Orientation entry) inserted after its start marker.
QByteArray withOrientation(const QByteArray& jpeg, std::uint8_t orientation) {
    const char tiff[] = {'M',  'M',  0, 42, 0, 0, 0, 8,  // big-endian header, first directory at 8
                         0,    1,                        // one entry
                         0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<char>(orientation),
                         0,    0,    0, 0,  0, 0};  // no next directory
    QByteArray segment("Exif\0\0", 6);
    segment.append(tiff, sizeof tiff);
    const int length = segment.size() + 2;
    QByteArray marker("\xFF\xE1", 2);
    marker.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF)).append(segment);
    return jpeg.left(2) + marker + jpeg.mid(2);
}

QByteArray encodeJpeg(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}

TEST_F(PhotoLoaderTest, ExifOrientationIsHonouredAndTheFitUsesTheUprightSize) {
    // Stored 300 x 200 with the left half red and the right half blue; orientation 6 turns it a quarter
    // clockwise, so upright it stands 200 x 300 with red on top.
    QImage stored(300, 200, QImage::Format_RGB32);
    stored.fill(Qt::blue);
    QPainter(&stored).fillRect(0, 0, 150, 200, Qt::red);
    const std::string file = writeBytes("phone.jpg", withOrientation(encodeJpeg(stored), 6));

    const QImage picture = load(file, 400, 300);
    EXPECT_EQ(PhotoLoader::uprightSize(file), QSize(200, 300));
    // The size comes from the header alone, also where the markers before the frame run past the part
    // of the file read first: five comments of 64 KB each between the orientation and the frame.
    QByteArray longHeader = withOrientation(encodeJpeg(stored), 6);
    const QByteArray comment = QByteArray("\xFF\xFE\xFF\xFF", 4) + QByteArray(0xFFFF - 2, 'c');
    const int afterExif =
        2 + 2 +
        ((static_cast<unsigned char>(longHeader[4]) << 8) | static_cast<unsigned char>(longHeader[5]));
    for (int i = 0; i < 5; ++i) longHeader.insert(afterExif, comment);
    EXPECT_EQ(PhotoLoader::uprightSize(writeBytes("long_header.jpg", longHeader)), QSize(200, 300));
    EXPECT_EQ(fitPhoto(400, 300, 200, 300), (PhotoPlacement{100, 0, 200, 300}));
    EXPECT_TRUE(near(picture.pixel(200, 60), Qt::red, 12)) << std::hex << picture.pixel(200, 60);
    EXPECT_TRUE(near(picture.pixel(200, 240), Qt::blue, 12)) << std::hex << picture.pixel(200, 240);
    EXPECT_EQ(picture.pixel(99, 150), kBlackPixel);
    EXPECT_EQ(picture.pixel(300, 150), kBlackPixel);

    // The same while shrinking on decode: stored 1600 x 800, upright 800 x 1600 into 200 x 200.
    QImage big(1600, 800, QImage::Format_RGB32);
    big.fill(Qt::blue);
    QPainter(&big).fillRect(0, 0, 800, 800, Qt::red);
    const std::string bigFile = writeBytes("tall.jpg", withOrientation(encodeJpeg(big), 6));
    const QImage small = load(bigFile, 200, 200);
    EXPECT_TRUE(near(small.pixel(100, 40), Qt::red, 12)) << std::hex << small.pixel(100, 40);
    EXPECT_TRUE(near(small.pixel(100, 160), Qt::blue, 12)) << std::hex << small.pixel(100, 160);
    EXPECT_EQ(small.pixel(49, 100), kBlackPixel);
    EXPECT_EQ(small.pixel(150, 100), kBlackPixel);
    EXPECT_NE(small.pixel(50, 100), kBlackPixel);
}

// --- refusals and hostile files ------------------------------------------------------------------

TEST_F(PhotoLoaderTest, RefusedNameOrSizeLeavesTheTargetUntouched) {
    const std::string file = solid("ok.png", 10, 10, Qt::red);
    std::filesystem::copy_file(file, path("ok.svg"));
    QImage target(3, 3, QImage::Format_RGB32);
    target.fill(0xFF123456u);
    const QImage before = target;
    bool decoded = true;
    EXPECT_FALSE(PhotoLoader::load(target, 100, 100, path("ok.svg"), kBlackBackground, &decoded));
    EXPECT_FALSE(decoded);
    EXPECT_FALSE(PhotoLoader::load(target, 0, 100, file, kBlackBackground));
    EXPECT_FALSE(PhotoLoader::load(target, 100, 0, file, kBlackBackground));
    EXPECT_FALSE(PhotoLoader::load(target, -1, -1, file, kBlackBackground));
    EXPECT_EQ(target, before);
}

// The 8-byte signature and an IHDR chunk claiming width x height, with a correct checksum.
QByteArray pngHeader(std::uint32_t width, std::uint32_t height) {
    QByteArray chunk("IHDR");
    for (std::uint32_t value : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            chunk.append(static_cast<char>((value >> shift) & 0xFF));
        }
    }
    chunk.append("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char byte : chunk) {
        crc ^= static_cast<std::uint8_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    crc ^= 0xFFFFFFFFu;
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png.append("\x00\x00\x00\x0d", 4).append(chunk);
    for (int shift = 24; shift >= 0; shift -= 8) {
        png.append(static_cast<char>((crc >> shift) & 0xFF));
    }
    return png;
}

TEST_F(PhotoLoaderTest, UnreadableFilesGiveTheBackgroundAndSuccess) {
    QByteArray jpeg = encodeJpeg(quadrants(640, 480));

    std::vector<std::string> files = {
        path("missing.png"),
        writeBytes("text.png", "This is not a picture.\n"),
        writeBytes("empty.jpg", QByteArray()),
        writeBytes("claims-huge.png", pngHeader(60000, 60000)),
        writeBytes("header-only.jpg", jpeg.left(100)),
        writeBytes("zero-size.png", pngHeader(0, 0)),
        writeBytes("vector.wmf", "\xD7\xCD\xC6\x9A not really"),
    };
    std::filesystem::create_directory(path("folder.png"));
    files.push_back(path("folder.png"));
    ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0600), 0);  // opening it to read would wait for a writer
    files.push_back(path("pipe.jpg"));

    for (const std::string& file : files) {
        for (std::uint32_t background : {kBlackBackground, kWhiteBackground}) {
            const QImage picture = load(file, 64, 48, background, false);
            const std::uint32_t pixel = premultipliedBackground(background);
            EXPECT_TRUE(coversExactly(picture, QRect(), Qt::black, 0, pixel)) << file;
        }
    }
}

// Names are the file system's bytes: one that is not valid UTF-8 opens, and a photo whose extension
// names another format is still read by its content.
TEST_F(PhotoLoaderTest, NamesInAnyByteEncodingAndMisnamedFormatsAreRead) {
    const QByteArray png = [] {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        quadrants(64, 48).save(&buffer, "PNG");
        return bytes;
    }();
    const std::string files[] = {
        writeBytes("caf\xe9.png", png),
        writeBytes("really-a-png.jpg", png),
        writeBytes("UPPER.PNG", png),
    };
    for (const std::string& file : files) {
        const QImage picture = load(file, 64, 48);
        EXPECT_TRUE(near(picture.pixel(10, 10), Qt::red, 12)) << file;
        EXPECT_TRUE(near(picture.pixel(50, 40), Qt::yellow, 12)) << file;
    }
}

// A JPEG is bounded by its pixels after the shrink while decoding, not by the size it claims: frame
// headers claiming 20000 x 20000 and 65500 x 65500 over a small picture's data decode at 1/8 (at most
// 8188 x 8188, within the decoded bound), drawing whatever the data gives, and nothing breaks.
TEST_F(PhotoLoaderTest, HugeJpegClaimsDecodeScaledDown) {
    const QByteArray jpeg = encodeJpeg(quadrants(640, 480));
    const int frame = jpeg.indexOf("\xFF\xC0");
    ASSERT_GT(frame, 0);
    QByteArray large = jpeg;
    large.replace(frame + 5, 4, QByteArray("\x4E\x20\x4E\x20", 4));
    load(writeBytes("claims-large.jpg", large), 64, 48);
    QByteArray huge = jpeg;
    huge.replace(frame + 5, 4, QByteArray("\xFF\xDC\xFF\xDC", 4));
    QImage picture;
    EXPECT_TRUE(
        PhotoLoader::load(picture, 1920, 1080, writeBytes("claims-huge.jpg", huge), kBlackBackground));
    EXPECT_EQ(picture.size(), QSize(1920, 1080));
}

// A large photo that is not a JPEG decodes at full size (no shrink while decoding): 6000 x 6000 needs
// 144 MB, beyond the image reader's default allocation limit, yet well within our own pixel bound.
TEST_F(PhotoLoaderTest, LargePngWithinThePixelBoundIsDecoded) {
    const std::string file = solid("large.png", 6000, 6000, QColor(30, 160, 90));
    const QImage picture = load(file, 64, 48);
    const PhotoPlacement place = fitPhoto(64, 48, 6000, 6000);
    EXPECT_TRUE(coversExactly(picture, QRect(place.x, place.y, place.width, place.height),
                              QColor(30, 160, 90), 2, kBlackPixel));
}

TEST_F(PhotoLoaderTest, JpegCutInsideItsDataStillGivesAPictureOfTheRightSize) {
    const QByteArray jpeg = encodeJpeg(quadrants(640, 480));
    for (int keep : {jpeg.size() / 3, jpeg.size() / 2, jpeg.size() - 2}) {
        const std::string file = writeBytes("cut.jpg", jpeg.left(keep));
        const QImage picture = load(file, 320, 240);
        // Whatever arrived is drawn at the top; the top left quadrant is always there.
        EXPECT_TRUE(near(picture.pixel(40, 30), Qt::red, 12)) << keep;
    }
}

TEST_F(PhotoLoaderTest, ReloadingIntoTheSamePictureLeavesNothingBehindAndSparesCopies) {
    ASSERT_TRUE(quadrants(800, 600).save(QString::fromStdString(path("first.jpg")), nullptr, 95));
    const std::string second = solid("second.jpg", 400, 600, QColor(0, 0, 255));
    const std::string broken = writeBytes("broken.jpg", encodeJpeg(quadrants(800, 600)).left(60));

    QImage picture;
    ASSERT_TRUE(PhotoLoader::load(picture, 160, 120, path("first.jpg"), kBlackBackground));
    const QImage kept = picture;  // shares the pixels with `picture`
    const QImage keptCopy = kept.copy();

    ASSERT_TRUE(PhotoLoader::load(picture, 160, 120, second, kBlackBackground));
    EXPECT_EQ(kept, keptCopy) << "a copy the caller kept was drawn over";
    // 0.2f lies above 0.2, so the left bar is 39 pixels wide and the right one 41.
    EXPECT_TRUE(coversExactly(picture, QRect(39, 0, 80, 120), QColor(0, 0, 255), 6, kBlackPixel));

    ASSERT_TRUE(PhotoLoader::load(picture, 160, 120, broken, kWhiteBackground));
    EXPECT_TRUE(coversExactly(picture, QRect(), Qt::black, 0, kWhitePixel));
}

// --- threads -------------------------------------------------------------------------------------

TEST_F(PhotoLoaderTest, SeveralThreadsLoadAtOnce) {
    const std::string jpeg = path("t.jpg");
    const std::string png = path("t.png");
    ASSERT_TRUE(quadrants(1200, 900).save(QString::fromStdString(jpeg), nullptr, 90));
    ASSERT_TRUE(quadrants(700, 900).save(QString::fromStdString(png)));
    const QImage expectedJpeg = load(jpeg, 320, 180);
    const QImage expectedPng = load(png, 100, 90, kWhiteBackground);

    constexpr int kThreads = 4;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                QImage picture;
                if (i % 2 == 0) {
                    if (!PhotoLoader::load(picture, 320, 180, jpeg, kBlackBackground) ||
                        picture != expectedJpeg) {
                        ++mismatches[t];
                    }
                } else if (!PhotoLoader::load(picture, 100, 90, png, kWhiteBackground) ||
                           picture != expectedPng) {
                    ++mismatches[t];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

// --- colour profiles and phone formats -------------------------------------------------------------

// Four blocks of colour as sRGB values: green, red, a blue, an orange.
const QColor kSrgbBlocks[4] = {QColor(0, 255, 0), QColor(230, 20, 20), QColor(30, 60, 200),
                               QColor(250, 160, 40)};

// The blocks' sRGB colours in `space` (what a camera working in that space stores), tagged with it.
QImage blocksIn(QColorSpace::NamedColorSpace space, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    const QColorTransform toSpace =
        QColorSpace(QColorSpace::SRgb).transformationToColorSpace(QColorSpace(space));
    QPainter painter(&image);
    for (int i = 0; i < 4; ++i) {
        painter.fillRect((i % 2) * width / 2, (i / 2) * height / 2, width / 2, height / 2,
                         QColor(toSpace.map(kSrgbBlocks[i].rgb())));
    }
    painter.end();
    image.setColorSpace(QColorSpace(space));
    return image;
}

// The file converted to sRGB by ImageMagick (lcms2) with Qt's sRGB profile, read back; null without it.
QImage convertedByImageMagick(const std::string& file, const std::string& srgbProfile,
                              const std::string& out) {
    if (std::system("command -v convert >/dev/null 2>&1") != 0) return {};
    const std::string command =
        "convert '" + file + "' -profile '" + srgbProfile + "' '" + out + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) return {};
    return QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_RGB32);
}

// Photos in Adobe RGB (an embedded profile, or only the EXIF "R03" index) and Display P3 are shown in
// sRGB: the colours the camera meant, as lcms2 converts them, not dull or shifted.
TEST_F(PhotoLoaderTest, EmbeddedProfilesAreConvertedToSrgb) {
    const int w = 64, h = 48;
    const std::string srgb = writeBytes("srgb.icc", QColorSpace(QColorSpace::SRgb).iccProfile());
    struct Case {
        const char* name;
        QColorSpace::NamedColorSpace space;
        const char* format;
    };
    for (const Case c :
         {Case{"adobe.jpg", QColorSpace::AdobeRgb, "JPEG"}, Case{"p3.png", QColorSpace::DisplayP3, "PNG"},
          Case{"adobe.png", QColorSpace::AdobeRgb, "PNG"}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(blocksIn(c.space, w, h).save(QString::fromStdString(path(c.name)), c.format, 100));
        const QImage picture = load(path(c.name), w, h);
        // Inside each block, away from the JPEG's edges: the sRGB colour it was made from.
        for (int i = 0; i < 4; ++i) {
            const QPoint centre((i % 2) * w / 2 + w / 4, (i / 2) * h / 2 + h / 4);
            EXPECT_TRUE(near(picture.pixel(centre), kSrgbBlocks[i], 3))
                << i << ": " << std::hex << picture.pixel(centre);
        }
        const QImage reference =
            convertedByImageMagick(path(c.name), srgb, path(std::string(c.name) + ".ref.png"));
        if (reference.isNull()) continue;
        ASSERT_EQ(reference.size(), picture.size());
        EXPECT_LE(testing::largestChannelDifference(picture, reference, QRect(4, 4, w - 8, h - 8)), 3);
    }
}

// A photo named .heic that is really a JPEG is read by its bytes; the new endings are photos; random
// bytes named like a phone photo give the background.
TEST_F(PhotoLoaderTest, PhoneFormatsAreToldByTheirBytes) {
    for (const char* name : {"IMG_0001.HEIC", "a.heif", "b.AVIF", "c.webp"})
        EXPECT_TRUE(isSupportedPhotoName(name)) << name;
    const std::string jpegNamedHeic = writeBytes("IMG_0002.HEIC", encodeJpeg(quadrants(64, 48)));
    const QImage picture = load(jpegNamedHeic, 64, 48);
    EXPECT_EQ(PhotoLoader::uprightSize(jpegNamedHeic), QSize(64, 48));
    EXPECT_FALSE(PhotoLoader::uprightSize(path("missing.heic")).isValid());
    EXPECT_TRUE(near(picture.pixel(10, 10), Qt::red, 12));
    EXPECT_TRUE(near(picture.pixel(50, 40), Qt::yellow, 12));

    QImage webp = quadrants(64, 48);
    if (webp.save(QString::fromStdString(path("w.webp")), "WEBP", 100)) {
        const QImage fromWebp = load(path("w.webp"), 64, 48);
        EXPECT_TRUE(near(fromWebp.pixel(50, 10), Qt::green, 16));
    }
    QByteArray noise(4096, '\0');
    std::uint32_t seed = 7;
    for (char& byte : noise) byte = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    for (const char* name : {"noise.heic", "noise.avif"}) {
        const QImage background = load(writeBytes(name, noise), 64, 48, kBlackBackground, false);
        EXPECT_TRUE(
            coversExactly(background, QRect(), Qt::black, 0, premultipliedBackground(kBlackBackground)));
    }
    // An ftyp box naming HEIC with nothing after it.
    const QByteArray ftypOnly(
        "\x00\x00\x00\x18"
        "ftypheic\x00\x00\x00\x00"
        "mif1heic",
        24);
    load(writeBytes("empty.heic", ftypOnly), 64, 48, kBlackBackground, false);
}

}  // namespace
}  // namespace kestrelle
