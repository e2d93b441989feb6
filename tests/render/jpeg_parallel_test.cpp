// JPEGs decoded on two threads, with restart markers or without: the picture is libjpeg-turbo's own decode
// bit for bit at every sampling and scale, and damaged or unsuitable files are left to the usual decoder.

#include "render/jpeg_parallel.h"
#include "render/jpeg_decoder.h"
#include "render/jpeg_entropy.h"
#include "tests/support/pictures.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <turbojpeg.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A photo-like picture: flat colour, overlapping ellipses and a little noise, so that the scan holds
// long and short codes, large and small DC steps.
QImage photoLike(QSize size, unsigned seed) {
    QImage image = testing::ellipsesPicture(size, seed, 200);
    std::mt19937 random(seed);
    for (int y = 0; y < size.height(); y += 3) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) row[x] ^= random() & 0x0F0F0F;
    }
    return image;
}

Bytes encode(const QImage& image, int subsampling, int quality) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int result =
        tjCompress2(handle, image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()),
                    image.height(), TJPF_BGRX, &out, &outSize, subsampling, quality, 0);
    Bytes bytes;
    if (result == 0) bytes.assign(out, out + outSize);
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

// libjpeg-turbo's own decode at `scale`, as 0xFF-filled BGRX rows.
QImage reference(const Bytes& bytes, tjscalingfactor scale) {
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    tjDecompressHeader3(handle, bytes.data(), bytes.size(), &width, &height, &subsampling, &colourspace);
    QImage image(TJSCALED(width, scale), TJSCALED(height, scale), QImage::Format_RGB32);
    image.fill(0);
    tjDecompress2(handle, bytes.data(), bytes.size(), image.bits(), image.width(),
                  static_cast<int>(image.bytesPerLine()), image.height(), TJPF_BGRX, 0);
    tjDestroy(handle);
    return image;
}

// Ours at `scale`, or a null picture when it declines.
QImage onTwoThreads(const Bytes& bytes, QSize full, tjscalingfactor scale) {
    QImage image(TJSCALED(full.width(), scale), TJSCALED(full.height(), scale), QImage::Format_RGB32);
    image.fill(0x12345678);
    const PixelRows rows{image.bits(), image.width(), image.height(), image.bytesPerLine()};
    if (!decodeJpegOnTwoThreads(bytes.data(), bytes.size(), scale.num, scale.denom, true, rows)) return {};
    return image;
}

// Every sampling, odd sizes (partial MCUs at the right and bottom) and every fast scale and one slow one:
// the same pixels as libjpeg-turbo's decode, including the rows where the two threads' shares meet.
TEST(JpegParallelTest, DecodesToLibjpegTurbosPictureBitForBit) {
    struct Case {
        QSize size;
        int subsampling;
        int quality;
    };
    const Case cases[] = {{{1600, 1200}, TJSAMP_420, 90}, {{1203, 1001}, TJSAMP_420, 75},
                          {{1001, 777}, TJSAMP_422, 95},  {{900, 703}, TJSAMP_444, 85},
                          {{1000, 650}, TJSAMP_440, 90},  {{1100, 899}, TJSAMP_GRAY, 92}};
    unsigned seed = 1;
    for (const Case& c : cases) {
        const Bytes bytes = encode(photoLike(c.size, seed++), c.subsampling, c.quality);
        ASSERT_FALSE(bytes.empty());
        for (const tjscalingfactor scale :
             {tjscalingfactor{1, 1}, tjscalingfactor{1, 2}, tjscalingfactor{3, 8}, tjscalingfactor{1, 4},
              tjscalingfactor{1, 8}}) {
            SCOPED_TRACE(std::to_string(c.size.width()) + "x" + std::to_string(c.size.height()) +
                         " sampling " + std::to_string(c.subsampling) + " scale " +
                         std::to_string(scale.num) + "/" + std::to_string(scale.denom));
            const QImage ours = onTwoThreads(bytes, c.size, scale);
            ASSERT_FALSE(ours.isNull());
            EXPECT_TRUE(ours == reference(bytes, scale));
        }
    }
}

// Restart markers every row, every few MCUs and every half row: the second half starts after the
// marker nearest the middle, and the picture is still libjpeg-turbo's bit for bit. A marker renumbered
// out of sequence is declined.
TEST(JpegParallelTest, RestartMarkersSplitTheScanExactly) {
    if (QStandardPaths::findExecutable(QStringLiteral("jpegtran")).isEmpty())
        GTEST_SKIP() << "jpegtran (libjpeg-turbo-progs) is not installed";
    const QSize size(1203, 1001);
    const Bytes plain = encode(photoLike(size, 21), TJSAMP_420, 90);
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString plainPath = folder.filePath(QStringLiteral("plain.jpg"));
    QFile plainFile(plainPath);
    ASSERT_TRUE(plainFile.open(QIODevice::WriteOnly));
    plainFile.write(reinterpret_cast<const char*>(plain.data()), static_cast<qint64>(plain.size()));
    plainFile.close();
    for (const char* restart : {"1", "7B", "38B"}) {
        SCOPED_TRACE(restart);
        const QString markedPath = folder.filePath(QStringLiteral("marked.jpg"));
        QProcess::execute(QStringLiteral("jpegtran"),
                          {QStringLiteral("-restart"), QString::fromLatin1(restart),
                           QStringLiteral("-outfile"), markedPath, plainPath});
        QFile markedFile(markedPath);
        ASSERT_TRUE(markedFile.open(QIODevice::ReadOnly));
        const QByteArray read = markedFile.readAll();
        Bytes marked(read.begin(), read.end());
        for (const tjscalingfactor scale : {tjscalingfactor{1, 1}, tjscalingfactor{1, 2}}) {
            const QImage ours = onTwoThreads(marked, size, scale);
            ASSERT_FALSE(ours.isNull());
            EXPECT_TRUE(ours == reference(marked, scale));
        }
        // The photo decoder takes the same path: the marked file gives the plain file's picture.
        for (const QSize cover : {QSize(), size / 2}) {
            const QImage whole = decodeJpeg(plain.data(), plain.size(), cover, std::int64_t{1} << 28);
            ASSERT_FALSE(whole.isNull());
            EXPECT_TRUE(decodeJpeg(marked.data(), marked.size(), cover, std::int64_t{1} << 28) == whole);
        }
        // The last restart marker renumbered.
        for (std::size_t i = marked.size() - 2; i > 2; --i) {
            if (marked[i] == 0xFF && marked[i + 1] >= 0xD0 && marked[i + 1] <= 0xD7) {
                marked[i + 1] = static_cast<std::uint8_t>(0xD0 + (marked[i + 1] - 0xD0 + 3) % 8);
                break;
            }
        }
        EXPECT_TRUE(onTwoThreads(marked, size, {1, 2}).isNull());
    }
}

// The halves meet within a few MCUs of the guess and every MCU is accounted for; the second half's DC values
// were moved onto the first's predictors (else the picture above would differ in brightness below the
// middle).
TEST(JpegParallelTest, TheTwoHalvesMeetNearTheMiddle) {
    const Bytes bytes = encode(photoLike({1600, 1200}, 9), TJSAMP_420, 90);
    JpegCoefficients coefficients;
    ASSERT_TRUE(decodeJpegEntropy(bytes.data(), bytes.size(), coefficients));
    ASSERT_EQ(coefficients.parts.size(), 3u);
    const auto& first = coefficients.parts[0];
    const auto& bridge = coefficients.parts[1];
    const auto& second = coefficients.parts[2];
    EXPECT_EQ(first.firstMcu, 0);
    EXPECT_EQ(bridge.firstMcu, first.count);
    EXPECT_EQ(second.firstMcu, first.count + bridge.count);
    EXPECT_EQ(first.count + bridge.count + second.count, coefficients.mcuCount());
    EXPECT_LT(bridge.count, 100);
    EXPECT_NEAR(static_cast<double>(first.count) / static_cast<double>(coefficients.mcuCount()), 0.5, 0.2);
}

// What the decoder does not take: progressive files, tiny pictures, a frame far larger than its scan,
// restart markers missing, and anything that is not a JPEG.
TEST(JpegParallelTest, LeavesUnsuitableFilesToTheUsualDecoder) {
    const QImage image = photoLike({800, 600}, 3);
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    ASSERT_EQ(tjCompress2(handle, image.constBits(), image.width(), static_cast<int>(image.bytesPerLine()),
                          image.height(), TJPF_BGRX, &out, &outSize, TJSAMP_420, 90, TJFLAG_PROGRESSIVE),
              0);
    const Bytes progressive(out, out + outSize);
    tjFree(out);
    tjDestroy(handle);
    JpegCoefficients coefficients;
    EXPECT_FALSE(decodeJpegEntropy(progressive.data(), progressive.size(), coefficients));
    EXPECT_TRUE(onTwoThreads(progressive, image.size(), {1, 1}).isNull());

    const Bytes tiny = encode(photoLike({40, 30}, 4), TJSAMP_420, 90);
    EXPECT_FALSE(decodeJpegEntropy(tiny.data(), tiny.size(), coefficients));
    EXPECT_FALSE(decodeJpegEntropy(nullptr, 0, coefficients));
    const Bytes noise(5000, 0x5A);
    EXPECT_FALSE(decodeJpegEntropy(noise.data(), noise.size(), coefficients));

    // A frame claiming 65000 x 36563 pixels over a small scan: the data runs out, nothing large is taken.
    Bytes huge = encode(image, TJSAMP_420, 90);
    for (std::size_t i = 2; i + 8 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 36563 >> 8;
            huge[i + 6] = 36563 & 0xFF;
            huge[i + 7] = 65000 >> 8;
            huge[i + 8] = 65000 & 0xFF;
            break;
        }
    }
    EXPECT_FALSE(decodeJpegEntropy(huge.data(), huge.size(), coefficients));

    // A restart interval whose markers are missing from the data.
    Bytes withInterval = encode(image, TJSAMP_420, 90);
    const std::uint8_t dri[] = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x10};
    withInterval.insert(withInterval.begin() + 2, std::begin(dri), std::end(dri));
    EXPECT_FALSE(decodeJpegEntropy(withInterval.data(), withInterval.size(), coefficients));
}

// Cut short, bytes flipped in the scan or in the tables: declined, or (where every code still decodes)
// exactly libjpeg-turbo's picture of the same bytes. Never a crash.
TEST(JpegParallelTest, DamagedFilesAreDeclinedOrDecodedAsLibjpegDoes) {
    const QSize size(1200, 900);
    const Bytes bytes = encode(photoLike(size, 5), TJSAMP_420, 85);
    // Without its end marker the scan is whole; cut into, it is left to libjpeg's recovery.
    const Bytes withoutEnd(bytes.begin(), bytes.end() - 2);
    EXPECT_TRUE(onTwoThreads(withoutEnd, size, {1, 2}) == reference(withoutEnd, {1, 2}));
    for (const std::size_t cut : {bytes.size() - 500, bytes.size() / 2, std::size_t{700}}) {
        const Bytes shortened(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_TRUE(onTwoThreads(shortened, size, {1, 2}).isNull()) << cut;
    }
    std::mt19937 random(17);
    int decoded = 0;
    for (int round = 0; round < 60; ++round) {
        Bytes damaged = bytes;
        for (int flips = 0; flips < 1 + round % 4; ++flips)
            damaged[2 + random() % (damaged.size() - 2)] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        const QImage ours = onTwoThreads(damaged, size, {1, 2});
        if (ours.isNull()) continue;
        ++decoded;
        EXPECT_TRUE(ours == reference(damaged, {1, 2})) << round;
    }
    SUCCEED() << decoded << " damaged files decoded";
}

// Faults the fuzzer found. A Huffman table with more codes of one length than the length holds (it once
// filled the lookup past its end) is refused, as libjpeg refuses it. Fill bytes before a stuffed zero in
// the scan read as data to libjpeg's careful path, but its fast path takes them for a marker and keeps
// some coefficients it decoded from the zeros after it: ours declines such a file rather than draw a
// picture libjpeg-turbo does not. A second start of image after the scan makes libjpeg-turbo refuse the
// file, though every MCU came before it: declined too.
TEST(JpegParallelTest, WhatLibjpegTurboRefusesOrDecodesOtherwiseIsDeclined) {
    const QSize size(1200, 900);
    const Bytes bytes = encode(photoLike(size, 6), TJSAMP_420, 85);
    JpegCoefficients coefficients;
    ASSERT_TRUE(decodeJpegEntropy(bytes.data(), bytes.size(), coefficients));

    // The first table's counts (codes of 1, 2, 3 bits...): three codes of one bit, the symbols unchanged.
    Bytes overfull = bytes;
    std::size_t counts = 0;
    for (std::size_t i = 2; i + 5 < overfull.size() && counts == 0; ++i) {
        if (overfull[i] == 0xFF && overfull[i + 1] == 0xC4) counts = i + 5;
    }
    ASSERT_NE(counts, 0u);
    const int moved = 3 - overfull[counts];
    ASSERT_GE(overfull[counts + 2], moved);
    overfull[counts] = 3;
    overfull[counts + 2] = static_cast<std::uint8_t>(overfull[counts + 2] - moved);
    EXPECT_FALSE(decodeJpegEntropy(overfull.data(), overfull.size(), coefficients));
    EXPECT_TRUE(onTwoThreads(overfull, size, {1, 2}).isNull());

    // A fill byte before stuffed zeros early in the scan, where libjpeg-turbo decodes on its fast path.
    int filled = 0;
    for (std::size_t i = bytes.size() / 50; i + 1 < bytes.size() && filled < 3; ++i) {
        if (bytes[i] != 0xFF || bytes[i + 1] != 0x00) continue;
        Bytes withFill = bytes;
        withFill.insert(withFill.begin() + static_cast<std::ptrdiff_t>(i), 0xFF);
        EXPECT_TRUE(onTwoThreads(withFill, size, {1, 1}).isNull()) << i;
        ++filled;
        i += bytes.size() / 5;
    }
    EXPECT_EQ(filled, 3);

    Bytes twoStarts = bytes;
    ASSERT_EQ(twoStarts[twoStarts.size() - 1], 0xD9);
    const std::uint8_t start[] = {0xFF, 0xD8};
    twoStarts.insert(twoStarts.end() - 2, std::begin(start), std::end(start));
    EXPECT_TRUE(onTwoThreads(twoStarts, size, {1, 2}).isNull());
    Bytes restartThenEnd = bytes;
    const std::uint8_t restart[] = {0xFF, 0xD3};
    restartThenEnd.insert(restartThenEnd.end() - 2, std::begin(restart), std::end(restart));
    EXPECT_TRUE(onTwoThreads(restartThenEnd, size, {1, 2}) == reference(restartThenEnd, {1, 2}));
}

}  // namespace
}  // namespace kestrelle
