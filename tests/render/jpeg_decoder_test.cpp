#include "render/jpeg_decoder.h"
#include "render/loading_threads.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <random>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

constexpr std::int64_t kNoPixelBound = std::int64_t{1} << 40;

const std::uint8_t* data(const QByteArray& bytes) {
    return reinterpret_cast<const std::uint8_t*>(bytes.constData());
}

QImage decode(const QByteArray& jpeg, QSize cover = {}, std::int64_t maxPixels = kNoPixelBound,
              QSize* upright = nullptr, JpegScale scale = JpegScale::Fastest) {
    return decodeJpeg(data(jpeg), static_cast<std::size_t>(jpeg.size()), cover, maxPixels, upright, scale);
}

std::optional<JpegFacts> factsOf(const QByteArray& jpeg) {
    return readJpegFacts(data(jpeg), static_cast<std::size_t>(jpeg.size()));
}

QByteArray saveJpeg(const QImage& image, int quality, bool progressive = false) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

// A marker segment: FF, the marker, the big-endian length and the payload.
QByteArray segment(std::uint8_t marker, const QByteArray& payload) {
    const int length = static_cast<int>(payload.size()) + 2;
    QByteArray bytes;
    bytes.append(char(0xFF)).append(static_cast<char>(marker));
    bytes.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    return bytes + payload;
}

// The JPEG with `segments` inserted right after its SOI marker.
QByteArray withSegments(const QByteArray& jpeg, const QList<QByteArray>& segments) {
    QByteArray result = jpeg.left(2);
    for (const QByteArray& s : segments) result += s;
    return result + jpeg.mid(2);
}

// The offset of the first marker `marker` in a JPEG (the FF byte).
qsizetype markerAt(const QByteArray& jpeg, std::uint8_t marker, qsizetype from = 2) {
    for (qsizetype i = from; i + 1 < jpeg.size(); ++i) {
        if (static_cast<std::uint8_t>(jpeg[i]) == 0xFF && static_cast<std::uint8_t>(jpeg[i + 1]) == marker)
            return i;
    }
    return -1;
}

// A little-endian EXIF payload: IFD0 with the orientation, an EXIF IFD and Interoperability IFD saying
// R03 when `adobeRgb`, and IFD1 pointing to `thumbnail` right after the IFDs. `thumbnailOffsetShift`
// moves the offset IFD1 gives away from where the thumbnail really is.
QByteArray exifPayload(int orientation, bool adobeRgb, const QByteArray& thumbnail = {},
                       std::int64_t thumbnailOffsetShift = 0) {
    QByteArray tiff;
    const auto u16 = [&tiff](int v) {
        tiff.append(static_cast<char>(v & 0xFF)).append(static_cast<char>(v >> 8));
    };
    const auto u32 = [&](std::int64_t v) {
        u16(static_cast<int>(v & 0xFFFF));
        u16(static_cast<int>((v >> 16) & 0xFFFF));
    };
    const auto entry = [&](int tag, int type, int count, std::int64_t value) {
        u16(tag);
        u16(type);
        u32(count);
        u32(value);
    };
    // Offsets: header 8, IFD0 (3 entries) 42 bytes, IFD1 (2 entries) 30, EXIF IFD (1) 18, Interop (1) 18.
    const int ifd0 = 8, ifd1 = ifd0 + 42, exifIfd = ifd1 + 30, interopIfd = exifIfd + 18,
              end = interopIfd + 18;
    tiff.append("II");
    u16(42);
    u32(ifd0);
    u16(3);
    entry(0x0112, 3, 1, orientation);
    entry(0x0131, 2, 4, 0x00474B);  // Software "KG", an entry to skip
    entry(0x8769, 4, 1, exifIfd);
    u32(thumbnail.isEmpty() ? 0 : ifd1);
    u16(2);
    entry(0x0201, 4, 1, end + thumbnailOffsetShift);
    entry(0x0202, 4, 1, thumbnail.size());
    u32(0);
    u16(1);
    entry(0xA005, 4, 1, interopIfd);
    u32(0);
    u16(1);
    entry(0x0001, 2, 4, adobeRgb ? 0x00333052 : 0x00383952);  // "R03" or "R98"
    u32(0);
    EXPECT_EQ(tiff.size(), end);
    return QByteArray("Exif\0\0", 6) + tiff + thumbnail;
}

QByteArray exifSegment(int orientation, bool adobeRgb = false, const QByteArray& thumbnail = {},
                       std::int64_t thumbnailOffsetShift = 0) {
    return segment(0xE1, exifPayload(orientation, adobeRgb, thumbnail, thumbnailOffsetShift));
}

QByteArray iccSegment(int sequence, int count, const QByteArray& chunk) {
    QByteArray payload("ICC_PROFILE\0", 12);
    payload.append(static_cast<char>(sequence)).append(static_cast<char>(count));
    return segment(0xE2, payload + chunk);
}

// A picture of coloured cells, each cell `cell` pixels square, rows of `colours` `columns` wide.
QImage cells(const std::vector<QColor>& colours, int columns, int cell) {
    const int rows = static_cast<int>(colours.size()) / columns;
    QImage image(columns * cell, rows * cell, QImage::Format_RGB32);
    QPainter painter(&image);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const int column = static_cast<int>(i) % columns;
        const int row = static_cast<int>(i) / columns;
        painter.fillRect(column * cell, row * cell, cell, cell, colours[i]);
    }
    return image;
}

bool near(QRgb pixel, QColor expected, int tolerance) {
    return std::abs(qRed(pixel) - expected.red()) <= tolerance &&
           std::abs(qGreen(pixel) - expected.green()) <= tolerance &&
           std::abs(qBlue(pixel) - expected.blue()) <= tolerance;
}

std::string describe(QRgb pixel) {
    return std::to_string(qRed(pixel)) + "," + std::to_string(qGreen(pixel)) + "," +
           std::to_string(qBlue(pixel));
}

// A baseline JPEG of 4 components without subsampling and without any colour transform, made of
// flat 8 x 8 blocks (DC coefficients only, all quantisers 1, so each block decodes to exactly its
// value): cells of `cell` blocks square, `columns` x `rows` of them, each cell's four values from
// `valuesAt(column, row)`; with an Adobe APP14 marker (transform 0) when `adobeMarker`.
template <typename ValuesAt>
QByteArray flatCmykJpeg(int columns, int rows, int cell, ValuesAt valuesAt, bool adobeMarker) {
    const int width = columns * cell * 8, height = rows * cell * 8;
    QByteArray jpeg("\xFF\xD8", 2);
    if (adobeMarker) jpeg += segment(0xEE, QByteArray("Adobe\0\x64\0\0\0\0\0", 12));
    jpeg += segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame("\x08", 1);
    frame.append(static_cast<char>(height >> 8)).append(static_cast<char>(height & 0xFF));
    frame.append(static_cast<char>(width >> 8)).append(static_cast<char>(width & 0xFF)).append('\4');
    for (char id = 1; id <= 4; ++id) frame.append(id).append('\x11').append('\0');
    jpeg += segment(0xC0, frame);
    // DC: categories 0..11, each a 4-bit code (its own number). AC: only end-of-block, code "0".
    QByteArray dc(1, '\x00');
    QByteArray counts(16, '\0');
    counts[3] = 12;
    dc += counts;
    for (char category = 0; category < 12; ++category) dc.append(category);
    jpeg += segment(0xC4, dc);
    QByteArray ac(1, '\x10');
    QByteArray acCounts(16, '\0');
    acCounts[0] = 1;
    jpeg += segment(0xC4, ac + acCounts + QByteArray(1, '\0'));
    jpeg += segment(0xDA, QByteArray("\4\1\0\2\0\3\0\4\0\0\x3F\0", 12));

    std::uint32_t bits = 0;
    int bitCount = 0;
    const auto put = [&](std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits = bits << 1 | ((value >> i) & 1);
            if (++bitCount == 8) {
                jpeg.append(static_cast<char>(bits));
                if ((bits & 0xFF) == 0xFF) jpeg.append('\0');
                bits = 0;
                bitCount = 0;
            }
        }
    };
    std::array<int, 4> previous{};
    for (int by = 0; by < height / 8; ++by) {
        for (int bx = 0; bx < width / 8; ++bx) {
            const std::array<int, 4> values = valuesAt(bx / cell, by / cell);
            for (std::size_t c = 0; c < 4; ++c) {
                const int dcValue = (values[c] - 128) * 8;
                const int diff = dcValue - previous[c];
                previous[c] = dcValue;
                int category = 0;
                while ((std::abs(diff) >> category) != 0) ++category;
                put(static_cast<std::uint32_t>(category), 4);
                if (category > 0) {
                    put(static_cast<std::uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << category) - 1),
                        category);
                }
                put(0, 1);  // end of block
            }
        }
    }
    if (bitCount > 0) put(0xFF, 8 - bitCount);
    return jpeg + QByteArray("\xFF\xD9", 2);
}

// A camera-like 4000 x 3000 photo: smooth gradients with fine noise, so the file has a camera's size.
const QByteArray& cameraJpeg() {
    static const QByteArray jpeg = [] {
        QImage image(4000, 3000, QImage::Format_RGB32);
        std::mt19937 random(7);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int noise = static_cast<int>(random() % 24);
                row[x] =
                    qRgb((x / 16 + noise) & 0xFF, (y / 12 + noise) & 0xFF, ((x + y) / 28 + 2 * noise) & 0xFF);
            }
        }
        return saveJpeg(image, 90);
    }();
    return jpeg;
}

QString tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

TEST(JpegDecoderTest, ReadsFactsFromTheMarkers) {
    const QImage picture = cells({Qt::red, Qt::green, Qt::blue, Qt::white}, 2, 24);
    const QByteArray plain = saveJpeg(picture, 90);
    std::optional<JpegFacts> facts = factsOf(plain);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->width, 48);
    EXPECT_EQ(facts->height, 48);
    EXPECT_EQ(facts->components, 3);
    EXPECT_FALSE(facts->multiScan);
    EXPECT_FALSE(facts->exif);
    EXPECT_TRUE(facts->iccProfile.isEmpty());
    EXPECT_FALSE(facts->adobeMarker);

    // An Adobe marker (transform 1), EXIF, stray bytes and fill bytes before a marker.
    QByteArray adobe("Adobe\0\x64\0\0\0\0\x01", 12);
    QByteArray marked = withSegments(plain, {segment(0xEE, adobe), exifSegment(6, true)});
    marked.insert(2, QByteArray("\x00\x13\xFF\xFF", 4));
    facts = factsOf(marked);
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->adobeMarker);
    EXPECT_EQ(facts->adobeTransform, 1);
    ASSERT_TRUE(facts->exif);
    EXPECT_EQ(facts->exif->orientation, 6);
    EXPECT_TRUE(facts->exif->adobeRgbInterop);
    EXPECT_EQ(marked.mid(static_cast<qsizetype>(facts->exifTiffOffset), 4), QByteArray("II*\0", 4));

    const QByteArray progressive = saveJpeg(picture, 90, true);
    facts = factsOf(progressive);
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->multiScan);
    EXPECT_EQ(facts->coefficientBytes, 48 * 48 * 128 / 64 + 2 * 24 * 24 * 128 / 64);  // 4:2:0

    // No frame before the scan, a segment running past the end, an empty frame.
    QByteArray noFrame = plain;
    noFrame[markerAt(plain, 0xC0) + 1] = char(0xE5);  // the frame header becomes an APP5
    EXPECT_FALSE(factsOf(noFrame));
    EXPECT_FALSE(factsOf(plain.left(markerAt(plain, 0xC0) + 6)));
    QByteArray zeroHeight = plain;
    zeroHeight[markerAt(plain, 0xC0) + 5] = 0;
    zeroHeight[markerAt(plain, 0xC0) + 6] = 0;
    EXPECT_FALSE(factsOf(zeroHeight));
}

TEST(JpegDecoderTest, DecodesAtTheSmallestScaleThatCovers) {
    const QByteArray& jpeg = cameraJpeg();
    const QByteArray turned = withSegments(jpeg, {exifSegment(6)});
    struct Case {
        QByteArray bytes;
        QSize cover;
        QSize smallest;  // any M/8
        QSize fastest;   // 1/8, 1/4, 1/2 or 1
    };
    for (const Case& c :
         std::vector<Case>{{jpeg, {1440, 1080}, {1500, 1125}, {2000, 1500}},  // 3/8, 1/2
                           {jpeg, {1920, 1440}, {2000, 1500}, {2000, 1500}},  // 1/2
                           {jpeg, {500, 375}, {500, 375}, {500, 375}},        // 1/8
                           {jpeg, {501, 375}, {1000, 750}, {1000, 750}},      // 1/4
                           {jpeg, {3400, 2000}, {3500, 2625}, {4000, 3000}},  // 7/8, 1
                           {jpeg, {}, {4000, 3000}, {4000, 3000}},
                           {jpeg, {5000, 4000}, {4000, 3000}, {4000, 3000}},  // never enlarged
                           {turned, {1080, 1440}, {1125, 1500}, {1500, 2000}},
                           {turned, {1440, 1080}, {1500, 2000}, {1500, 2000}}}) {
        for (const JpegScale scale : {JpegScale::Smallest, JpegScale::Fastest}) {
            SCOPED_TRACE(std::to_string(c.cover.width()) + "x" + std::to_string(c.cover.height()) +
                         (scale == JpegScale::Fastest ? " fastest" : " smallest"));
            QSize upright;
            const QImage image = decode(c.bytes, c.cover, kNoPixelBound, &upright, scale);
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.size(), scale == JpegScale::Fastest ? c.fastest : c.smallest);
            EXPECT_EQ(image.format(), QImage::Format_RGB32);
            EXPECT_EQ(upright, c.bytes == turned ? QSize(3000, 4000) : QSize(4000, 3000));
            EXPECT_FALSE(image.colorSpace().isValid());
            // RGB32 needs 0xFF in the unused byte.
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(image.height() / 2));
            EXPECT_TRUE(std::all_of(row, row + image.width(), [](QRgb p) { return qAlpha(p) == 0xFF; }));
        }
    }
    // The pixel bound is checked against the scaled size; the upright size is still told. Where the
    // fast scale would break it, the smallest one is used.
    QSize upright;
    EXPECT_TRUE(decode(jpeg, {1440, 1080}, 1500 * 1125 - 1, &upright).isNull());
    EXPECT_EQ(upright, QSize(4000, 3000));
    EXPECT_EQ(decode(jpeg, {1440, 1080}, 1500 * 1125).size(), QSize(1500, 1125));

    // Decoding into a picture of the right size reuses its memory.
    QImage picture;
    ASSERT_TRUE(decodeJpegInto(picture, data(jpeg), static_cast<std::size_t>(jpeg.size()), {900, 700},
                               kNoPixelBound));
    EXPECT_EQ(picture.size(), QSize(1000, 750));
    const uchar* memory = picture.constBits();
    const QByteArray tagged = withSegments(jpeg, {exifSegment(1, true)});
    ASSERT_TRUE(decodeJpegInto(picture, data(tagged), static_cast<std::size_t>(tagged.size()), {900, 700},
                               kNoPixelBound));
    EXPECT_EQ(picture.constBits(), memory);
    EXPECT_EQ(picture.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
    ASSERT_TRUE(decodeJpegInto(picture, data(jpeg), static_cast<std::size_t>(jpeg.size()), {900, 700},
                               kNoPixelBound));
    EXPECT_FALSE(picture.colorSpace().isValid());
    EXPECT_FALSE(decodeJpegInto(picture, data(jpeg), 100, {900, 700}, kNoPixelBound));
}

// A large photo handed over a few rows at a time by two threads makes exactly decodeJpeg's picture; a
// turned one, one tagged Adobe RGB, and one decoded under a megapixel are declined (the loader then
// decodes them whole), as is a size the caller refuses, and any photo loaded beside busy threads.
TEST(JpegDecoderTest, LargePhotosComeRowByRowAsTheWholePicture) {
    QImage image(2400, 1800, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgb((x * 7) & 255, (y * 3) & 255, ((x ^ y) * 5) & 255);
    }
    const QByteArray jpeg = saveJpeg(image, 90);
    const QSize cover(1000, 700);
    QImage rows;
    std::uint8_t* bits = nullptr;
    const auto start = [&](QSize size) {
        rows = QImage(size, QImage::Format_RGB32);
        rows.fill(0);
        bits = rows.bits();
        return true;
    };
    const auto sink = [&](int firstRow, const std::uint8_t* const* lines, int count) {
        for (int i = 0; i < count; ++i) {
            std::memcpy(bits + (firstRow + i) * rows.bytesPerLine(), lines[i],
                        static_cast<std::size_t>(rows.width()) * 4);
        }
    };
    const auto byRows = [&](const QByteArray& bytes, QSize wanted, const std::function<bool(QSize)>& begin) {
        return decodeJpegRows(data(bytes), static_cast<std::size_t>(bytes.size()), wanted, kNoPixelBound,
                              begin, sink);
    };
    ASSERT_TRUE(byRows(jpeg, cover, start));
    EXPECT_EQ(rows.size(), QSize(1200, 900));
    EXPECT_TRUE(rows == decode(jpeg, cover));

    EXPECT_FALSE(byRows(withSegments(jpeg, {exifSegment(6)}), cover, start));
    EXPECT_FALSE(byRows(withSegments(jpeg, {exifSegment(1, true)}), cover, start));
    EXPECT_FALSE(byRows(jpeg, QSize(500, 300), start));
    EXPECT_FALSE(byRows(jpeg, cover, [](QSize) { return false; }));

    // Loading beside busy threads stays on its own thread: no rows this way, the same whole picture.
    {
        const PhotoLoadingOnOneThread alone;
        EXPECT_FALSE(photoLoadingMayUseTwoThreads());
        { const PhotoLoadingOnOneThread nested; }
        EXPECT_FALSE(photoLoadingMayUseTwoThreads());
        EXPECT_FALSE(byRows(jpeg, cover, start));
        EXPECT_TRUE(decode(jpeg, cover) == rows);
    }
    EXPECT_EQ(photoLoadingMayUseTwoThreads(), std::thread::hardware_concurrency() >= 2);
}

// Where the upright pixel (x, y) lies in the stored W x H picture, for each EXIF orientation.
QPoint storedPoint(int orientation, QPoint p, QSize stored) {
    const int w = stored.width(), h = stored.height();
    switch (orientation) {
        case 2:
            return {w - 1 - p.x(), p.y()};
        case 3:
            return {w - 1 - p.x(), h - 1 - p.y()};
        case 4:
            return {p.x(), h - 1 - p.y()};
        case 5:
            return {p.y(), p.x()};
        case 6:
            return {p.y(), h - 1 - p.x()};
        case 7:
            return {w - 1 - p.y(), h - 1 - p.x()};
        case 8:
            return {w - 1 - p.y(), p.x()};
        default:
            return p;
    }
}

TEST(JpegDecoderTest, EveryOrientationComesOutUpright) {
    // 96 x 64 stored: six 32-pixel cells of distinct colours.
    const std::vector<QColor> colours{Qt::red, Qt::green, Qt::blue, Qt::white, Qt::black, Qt::yellow};
    const QImage stored = cells(colours, 3, 32);
    const QByteArray jpeg = saveJpeg(stored, 95);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        QSize upright;
        const QImage image =
            decode(withSegments(jpeg, {exifSegment(orientation)}), {}, kNoPixelBound, &upright);
        ASSERT_FALSE(image.isNull());
        const QSize expected = orientation >= 5 ? stored.size().transposed() : stored.size();
        EXPECT_EQ(image.size(), expected);
        EXPECT_EQ(upright, expected);
        for (int y = 8; y < image.height(); y += 16) {
            for (int x = 8; x < image.width(); x += 16) {
                const QPoint source = storedPoint(orientation, {x, y}, stored.size());
                const QColor want = stored.pixelColor(source);
                ASSERT_TRUE(near(image.pixel(x, y), want, 12))
                    << "at " << x << "," << y << ": " << describe(image.pixel(x, y));
            }
        }
    }
}

TEST(JpegDecoderTest, CmykAndYcckComeOutInTheirColoursNotInverted) {
    const std::vector<QColor> colours{Qt::red,   Qt::green, Qt::blue,
                                      Qt::white, Qt::black, QColor(200, 120, 40)};
    const QImage picture = cells(colours, 3, 32);
    const auto checkColours = [&](const QImage& image, int tolerance) {
        ASSERT_EQ(image.size(), picture.size());
        for (std::size_t i = 0; i < colours.size(); ++i) {
            const QPoint centre(static_cast<int>(i % 3) * 32 + 16, static_cast<int>(i / 3) * 32 + 16);
            EXPECT_TRUE(near(image.pixel(centre), colours[i], tolerance))
                << "cell " << i << ": " << describe(image.pixel(centre));
        }
    };

    // YCCK from ImageMagick: inverted ink, as Photoshop writes it, and an Adobe marker (transform 2).
    if (tool("convert").isEmpty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString png = folder.filePath(QStringLiteral("cells.png"));
    const QString jpg = folder.filePath(QStringLiteral("cells.jpg"));
    ASSERT_TRUE(picture.save(png));
    ASSERT_EQ(QProcess::execute(tool("convert"), {png, QStringLiteral("-colorspace"), QStringLiteral("CMYK"),
                                                  QStringLiteral("-quality"), QStringLiteral("95"), jpg}),
              0);
    QFile file(jpg);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray cmyk = file.readAll();
    const std::optional<JpegFacts> facts = factsOf(cmyk);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->components, 4);
    EXPECT_TRUE(facts->adobeMarker);
    const QImage image = decode(cmyk, {}, kNoPixelBound);
    checkColours(image, 12);
    EXPECT_FALSE(image.colorSpace().isValid());
    // Scaled decoding goes through the same conversion.
    const QImage half = decode(cmyk, {48, 32});
    ASSERT_EQ(half.size(), QSize(48, 32));
    EXPECT_TRUE(near(half.pixel(8, 8), Qt::red, 12)) << describe(half.pixel(8, 8));

    // Plain CMYK (no colour transform) with and without Adobe's marker: the marker says the ink is
    // stored inverted, its absence that it is stored as it is.
    const std::vector<std::array<int, 4>> inks{{0, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 0},
                                               {0, 0, 0, 0},     {0, 0, 0, 255},   {0, 100, 200, 55}};
    for (const bool adobe : {false, true}) {
        SCOPED_TRACE(adobe ? "Adobe CMYK" : "plain CMYK");
        const QByteArray flat = flatCmykJpeg(
            3, 2, 2,
            [&](int column, int row) {
                std::array<int, 4> ink = inks[static_cast<std::size_t>(row * 3 + column)];
                if (adobe) {
                    for (int& v : ink) v = 255 - v;
                }
                return ink;
            },
            adobe);
        const std::optional<JpegFacts> flatFacts = factsOf(flat);
        ASSERT_TRUE(flatFacts);
        EXPECT_EQ(flatFacts->adobeMarker, adobe);
        EXPECT_EQ(flatFacts->components, 4);
        // The naive conversion is exact on flat blocks: light through each ink times light through black.
        const std::vector<QColor> expected{
            Qt::red, Qt::green, Qt::blue, Qt::white, Qt::black, QColor(200, 155 * 200 / 255, 55 * 200 / 255)};
        const QImage flatImage = decode(flat);
        ASSERT_EQ(flatImage.size(), QSize(48, 32));
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const QPoint centre(static_cast<int>(i % 3) * 16 + 8, static_cast<int>(i / 3) * 16 + 8);
            EXPECT_TRUE(near(flatImage.pixel(centre), expected[i], 1))
                << "cell " << i << ": " << describe(flatImage.pixel(centre));
        }
    }
}

TEST(JpegDecoderTest, EmbeddedProfileIsReassembledAndTagsThePicture) {
    const QImage picture = cells({QColor(30, 200, 60), QColor(220, 40, 90)}, 2, 16);
    const QByteArray jpeg = saveJpeg(picture, 92);
    const QByteArray adobeRgb = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    ASSERT_GT(adobeRgb.size(), 200);
    const qsizetype half = adobeRgb.size() / 2;
    const QByteArray first = adobeRgb.left(half), second = adobeRgb.mid(half);

    // Two chunks, in either order in the file.
    for (const auto& segments :
         {QList<QByteArray>{iccSegment(1, 2, first), iccSegment(2, 2, second)},
          QList<QByteArray>{iccSegment(2, 2, second), exifSegment(1), iccSegment(1, 2, first)}}) {
        const QByteArray tagged = withSegments(jpeg, segments);
        const std::optional<JpegFacts> facts = factsOf(tagged);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->iccProfile, adobeRgb);
        const QImage image = decode(tagged);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.colorSpace(), QColorSpace(QColorSpace::AdobeRgb));
        // Tagging leaves the pixels as stored.
        EXPECT_TRUE(near(image.pixel(8, 8), QColor(30, 200, 60), 8)) << describe(image.pixel(8, 8));
    }

    // A missing chunk, a repeated one, inconsistent counts, a lone fragment: no profile, untagged.
    for (const auto& segments :
         {QList<QByteArray>{iccSegment(1, 3, first), iccSegment(2, 3, second)},
          QList<QByteArray>{iccSegment(1, 2, first), iccSegment(1, 2, first), iccSegment(2, 2, second)},
          QList<QByteArray>{iccSegment(1, 2, first), iccSegment(2, 3, second)},
          QList<QByteArray>{iccSegment(1, 1, QByteArray(100, 'x'))}}) {
        const QByteArray broken = withSegments(jpeg, segments);
        const std::optional<JpegFacts> facts = factsOf(broken);
        ASSERT_TRUE(facts);
        EXPECT_TRUE(facts->iccProfile.isEmpty());
        EXPECT_FALSE(decode(broken).colorSpace().isValid());
    }

    // A malformed profile of a plausible size is handed over but Qt refuses it: untagged, even with R03.
    QByteArray malformed = adobeRgb;
    for (qsizetype i = 128; i < malformed.size(); ++i) malformed[i] = static_cast<char>(i * 7);
    const QByteArray bad = withSegments(jpeg, {iccSegment(1, 1, malformed), exifSegment(1, true)});
    EXPECT_EQ(factsOf(bad)->iccProfile, malformed);
    QImage image = decode(bad);
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(image.colorSpace().isValid());

    // A header claiming 10 MB, and 10 MB really spread over 160 chunks: ignored, the photo still shows.
    QByteArray claim = adobeRgb;
    claim[0] = 0;
    claim[1] = char(0xA0);
    claim[2] = 0;
    claim[3] = 0;
    image = decode(withSegments(jpeg, {iccSegment(1, 1, claim)}));
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(image.colorSpace().isValid());
    QList<QByteArray> huge;
    const QByteArray filler(65519 - 14, 'p');
    for (int i = 1; i <= 160; ++i)
        huge.append(iccSegment(i, 160, i == 1 ? claim + filler.mid(claim.size()) : filler));
    const QByteArray hugeJpeg = withSegments(jpeg, huge);
    ASSERT_GT(hugeJpeg.size(), 10'000'000);
    EXPECT_TRUE(factsOf(hugeJpeg)->iccProfile.isEmpty());
    image = decode(hugeJpeg);
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(image.colorSpace().isValid());

    // No profile: EXIF's R03 stands for Adobe RGB, R98 for nothing.
    EXPECT_EQ(decode(withSegments(jpeg, {exifSegment(1, true)})).colorSpace(),
              QColorSpace(QColorSpace::AdobeRgb));
    EXPECT_FALSE(decode(withSegments(jpeg, {exifSegment(1, false)})).colorSpace().isValid());
    // A profile wins over R03.
    const QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    EXPECT_EQ(decode(withSegments(jpeg, {exifSegment(1, true), iccSegment(1, 1, p3)})).colorSpace(),
              QColorSpace(QColorSpace::DisplayP3));
}

TEST(JpegDecoderTest, ExifThumbnailOnlyWhenItShowsThePhotoUpright) {
    // The thumbnail has cells of its own colours so that it cannot be mistaken for the photo.
    const QImage thumbnailPicture =
        cells({Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta, Qt::white, Qt::black,
               Qt::gray, QColor(255, 128, 0), QColor(0, 128, 255), QColor(128, 0, 64)},
              4, 40);  // 160 x 120
    const QByteArray thumbnail = saveJpeg(thumbnailPicture, 90);
    const auto uniformPhoto = [](int width, int height) {
        QImage photo(width, height, QImage::Format_RGB32);
        photo.fill(QColor(90, 90, 90));
        return saveJpeg(photo, 80);
    };
    const QByteArray photo43 = uniformPhoto(400, 300);
    const QByteArray photo169 = uniformPhoto(320, 180);
    const QSize box(100, 90);
    const auto thumbnailOf = [](const QByteArray& jpeg, QSize cover) {
        return decodeExifThumbnail(data(jpeg), static_cast<std::size_t>(jpeg.size()), cover);
    };

    // 160 x 120 for a 4:3 photo, turned by the photo's orientation 6: 105 x 140 (7/8 covers 90 x 100).
    const QByteArray turned = withSegments(photo43, {exifSegment(6, false, thumbnail)});
    QImage image = thumbnailOf(turned, box);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(105, 140));
    const QImage full = thumbnailOf(turned, {});
    ASSERT_EQ(full.size(), QSize(120, 160));
    for (const QPoint upright : {QPoint(20, 20), QPoint(100, 20), QPoint(20, 140), QPoint(100, 140)}) {
        const QColor want = thumbnailPicture.pixelColor(storedPoint(6, upright, thumbnailPicture.size()));
        EXPECT_TRUE(near(full.pixel(upright), want, 16)) << describe(full.pixel(upright));
    }
    // The photo's colour tagging goes with it.
    EXPECT_EQ(thumbnailOf(withSegments(photo43, {exifSegment(1, true, thumbnail)}), box).colorSpace(),
              QColorSpace(QColorSpace::AdobeRgb));

    // Another shape, too small for the box, lying offsets, a thumbnail that is no JPEG: nothing.
    EXPECT_TRUE(thumbnailOf(withSegments(photo169, {exifSegment(1, false, thumbnail)}), box).isNull());
    EXPECT_TRUE(thumbnailOf(withSegments(photo43, {exifSegment(1, false, thumbnail)}), {170, 90}).isNull());
    EXPECT_TRUE(thumbnailOf(withSegments(photo43, {exifSegment(6, false, thumbnail)}), {130, 90}).isNull());
    EXPECT_TRUE(thumbnailOf(withSegments(photo43, {exifSegment(1, false, thumbnail, 40)}), box).isNull());
    EXPECT_TRUE(
        thumbnailOf(withSegments(photo43, {exifSegment(1, false, thumbnail, 1'000'000)}), box).isNull());
    EXPECT_TRUE(
        thumbnailOf(withSegments(photo43, {exifSegment(1, false, QByteArray(3000, 'j'))}), box).isNull());
    EXPECT_TRUE(thumbnailOf(photo43, box).isNull());

    // Within one thumbnail pixel: 160 x 107 for a 3:2 photo is the same shape, 160 x 100 is not.
    const QByteArray photo32 = uniformPhoto(300, 200);
    const QByteArray thumb107 = saveJpeg(thumbnailPicture.scaled(160, 107), 90);
    const QByteArray thumb100 = saveJpeg(thumbnailPicture.scaled(160, 100), 90);
    EXPECT_FALSE(thumbnailOf(withSegments(photo32, {exifSegment(1, false, thumb107)}), box).isNull());
    EXPECT_TRUE(thumbnailOf(withSegments(photo32, {exifSegment(1, false, thumb100)}), box).isNull());
}

TEST(JpegDecoderTest, HugeClaimsOpenScaledOrAreRefusedBeforeAllocating) {
    // A small photo whose frame header claims 65000 x 36563: decoded at 1/8 (the missing data is
    // filled in by libjpeg with a warning); full size would be far beyond the bound.
    const QImage small = cells({Qt::red, Qt::green, Qt::blue, Qt::white}, 2, 64);
    const auto claiming = [](QByteArray jpeg, std::uint8_t frameMarker, int width, int height) {
        const qsizetype frame = markerAt(jpeg, frameMarker);
        EXPECT_GT(frame, 0);
        jpeg[frame + 5] = static_cast<char>(height >> 8);
        jpeg[frame + 6] = static_cast<char>(height & 0xFF);
        jpeg[frame + 7] = static_cast<char>(width >> 8);
        jpeg[frame + 8] = static_cast<char>(width & 0xFF);
        return jpeg;
    };
    const QByteArray huge = claiming(saveJpeg(small, 90), 0xC0, 65000, 36563);
    constexpr std::int64_t kBound = std::int64_t{1} << 26;
    QSize upright;
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(decode(huge, {}, kBound, &upright).isNull());
    EXPECT_LT(timer.elapsed(), 1000);  // refused from the header, nothing decoded
    EXPECT_EQ(upright, QSize(65000, 36563));
    const QImage scaled = decode(huge, {1920, 1080}, kBound);
    ASSERT_FALSE(scaled.isNull());
    EXPECT_EQ(scaled.size(), QSize(8125, 4571));
    EXPECT_TRUE(near(scaled.pixel(0, 0), Qt::red, 24)) << describe(scaled.pixel(0, 0));

    // A progressive file keeps every coefficient: refused when that alone is beyond the bound.
    const QByteArray progressive = claiming(saveJpeg(small, 90, true), 0xC2, 65000, 36563);
    ASSERT_TRUE(factsOf(progressive));
    EXPECT_GT(factsOf(progressive)->coefficientBytes, kMaxJpegCoefficientBytes);
    EXPECT_TRUE(decode(progressive, {1920, 1080}, kBound).isNull());
    EXPECT_FALSE(decode(saveJpeg(small, 90, true), {64, 64}, kBound).isNull());
}

TEST(JpegDecoderTest, TruncatedDamagedAndRandomBytesNeverCrash) {
    QImage picture(256, 192, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(30, 90, 160));
    painter.fillRect(40, 40, 120, 80, QColor(240, 200, 20));
    painter.end();
    const QByteArray thumbnail = saveJpeg(picture.scaled(160, 120), 80);
    const QByteArray icc = QColorSpace(QColorSpace::AdobeRgb).iccProfile();
    for (const bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        const QList<QByteArray> segments{exifSegment(6, true, thumbnail), iccSegment(1, 1, icc)};
        const QByteArray jpeg = withSegments(saveJpeg(picture, 85, progressive), segments);
        // The photo's first scan, after the thumbnail's.
        const qsizetype scan = markerAt(jpeg, 0xDA, 2 + segments[0].size() + segments[1].size());
        for (qsizetype length = 0; length <= jpeg.size(); length += (length < scan + 40 ? 1 : 23)) {
            const QByteArray cut = jpeg.left(length);
            factsOf(cut);
            const QImage image = decode(cut, {100, 90}, kNoPixelBound);
            decodeExifThumbnail(data(cut), static_cast<std::size_t>(cut.size()), {100, 90});
            // Once well into the scan, what was decoded comes back (the rest filled in) at full shape.
            if (length > scan + (jpeg.size() - scan) / 2) {
                ASSERT_FALSE(image.isNull()) << length;
                EXPECT_EQ(image.size(), QSize(192, 256));  // turned; 5/8 would cover but is no fast scale
            }
        }
        std::mt19937 random(progressive ? 5 : 6);
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged = jpeg;
            for (int k = 0; k < 6; ++k) damaged[random() % damaged.size()] = static_cast<char>(random());
            factsOf(damaged);
            decode(damaged, {100, 90}, kNoPixelBound);
            decodeExifThumbnail(data(damaged), static_cast<std::size_t>(damaged.size()), {});
        }
    }
    std::mt19937 random(9);
    for (int round = 0; round < 300; ++round) {
        QByteArray noise(static_cast<qsizetype>(random() % 3000), '\0');
        for (char& c : noise) c = static_cast<char>(random());
        if (round % 2 == 0) noise.prepend("\xFF\xD8\xFF", 3);
        factsOf(noise);
        EXPECT_TRUE(decode(noise).isNull() || !decode(noise).isNull());
        decodeExifThumbnail(data(noise), static_cast<std::size_t>(noise.size()), {});
    }
    EXPECT_TRUE(decodeJpeg(nullptr, 0, {}, kNoPixelBound).isNull());
}

// Not a check but a figure: the fitted decode of a camera-sized JPEG against djpeg's full decode.
TEST(JpegDecoderTest, ReportsFittedDecodeTimeAgainstDjpeg) {
    const QByteArray& jpeg = cameraJpeg();
    const auto median = [](std::vector<double> times) {
        std::sort(times.begin(), times.end());
        return times[times.size() / 2];
    };
    const auto timeDecode = [&](QSize cover, JpegScale scale) {
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer timer;
            timer.start();
            const QImage image = decode(jpeg, cover, kNoPixelBound, nullptr, scale);
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            EXPECT_FALSE(image.isNull());
        }
        return median(times);
    };
    const double fitted = timeDecode({1440, 1080}, JpegScale::Fastest);
    const double smallest = timeDecode({1440, 1080}, JpegScale::Smallest);
    std::cout << "4000x3000 JPEG (" << jpeg.size() / 1024 << " KB) fitted to 1440x1080: at 1/2 " << fitted
              << " ms, at 3/8 " << smallest << " ms";
    const QString djpeg = tool("djpeg");
    if (!djpeg.isEmpty()) {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("camera.jpg"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(jpeg);
        file.close();
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer timer;
            timer.start();
            QProcess::execute(djpeg, {QStringLiteral("-outfile"), QStringLiteral("/dev/null"), path});
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        }
        const double reference = median(times);
        std::cout << ", djpeg full size " << reference << " ms (with its process start); ratios "
                  << fitted / reference << " (1/2) and " << smallest / reference << " (3/8)";
    }
    std::cout << std::endl;
}

}  // namespace
}  // namespace kestrelle
