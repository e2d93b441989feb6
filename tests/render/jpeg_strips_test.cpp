// JPEGs with restart markers split into strips that decode on their own: the strips cover the picture,
// decode (on two threads) to what the whole file decodes to, and anything damaged or unsplittable is
// left to the usual decoder.

#include "render/jpeg_strips.h"
#include "render/jpeg_decoder.h"

#include "tests/support/pictures.h"
#include "tests/support/temp_home.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace kestrelle {
namespace {

class JpegStripsTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        if (QStandardPaths::findExecutable(QStringLiteral("jpegtran")).isEmpty())
            GTEST_SKIP() << "jpegtran (libjpeg-turbo-progs) is not installed";
    }

    // A photo-like JPEG, then the same coefficients with a restart marker every `restart` (jpegtran's
    // -restart: "N" rows of MCUs or "NB" MCUs); "0" for none.
    std::vector<std::uint8_t> photo(QSize size, const char* restart, bool grey = false) {
        QImage image = testing::ellipsesPicture(size, 7, 300);
        if (grey) image = image.convertToFormat(QImage::Format_Grayscale8);
        const QString plain = QString::fromStdString(path("plain.jpg"));
        const QString marked = QString::fromStdString(path("marked.jpg"));
        EXPECT_TRUE(image.save(plain, "JPEG", 90));
        QProcess::execute(QStringLiteral("jpegtran"),
                          {QStringLiteral("-restart"), QString::fromLatin1(restart),
                           QStringLiteral("-outfile"), marked, plain});
        QFile file(marked);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        return {bytes.begin(), bytes.end()};
    }

    static QImage decoded(const std::vector<std::uint8_t>& bytes, QSize cover = {}) {
        return decodeJpeg(bytes.data(), bytes.size(), cover, std::int64_t{1} << 28);
    }
};

// Split at restart markers, the strips cover the picture at rows of MCUs; decoded on two threads the
// picture is exactly the whole file's (the rows at the seam taken from the seam's own strip).
TEST_F(JpegStripsTest, StripsDecodeToTheWholePicture) {
    struct Case {
        QSize size;
        const char* restart;
        bool grey;
    };
    for (const Case& c :
         {Case{{1600, 1200}, "1", false}, Case{{1600, 1203}, "50B", false}, Case{{1400, 1000}, "2", true}}) {
        SCOPED_TRACE(std::string(c.restart) + (c.grey ? " grey" : ""));
        const std::vector<std::uint8_t> marked = photo(c.size, c.restart, c.grey);
        const JpegSplit split = splitJpegAtRestarts(marked.data(), marked.size(), 2);
        const std::vector<JpegStrip>& strips = split.strips;
        ASSERT_EQ(strips.size(), 2u);
        ASSERT_EQ(split.seams.size(), 1u);
        EXPECT_LT(split.seams[0].firstRow, strips[1].firstRow);
        EXPECT_GT(split.seams[0].firstRow + split.seams[0].height, strips[1].firstRow);
        EXPECT_EQ(strips[0].firstRow, 0);
        EXPECT_EQ(strips[0].height, strips[1].firstRow);
        EXPECT_EQ(strips[1].firstRow + strips[1].height, c.size.height());
        EXPECT_EQ(strips[1].firstRow % 8, 0);
        EXPECT_NEAR(strips[1].firstRow, c.size.height() / 2, c.size.height() / 4);

        QFile plainFile(QString::fromStdString(path("plain.jpg")));
        ASSERT_TRUE(plainFile.open(QIODevice::ReadOnly));
        const QByteArray plainBytes = plainFile.readAll();
        const std::vector<std::uint8_t> plain(plainBytes.begin(), plainBytes.end());
        for (const QSize cover : {QSize(), QSize(c.size.width() / 2, c.size.height() / 2)}) {
            const QImage whole = decoded(plain, cover);
            const QImage inStrips = decoded(marked, cover);
            ASSERT_FALSE(whole.isNull());
            EXPECT_EQ(inStrips, whole);
        }
    }
}

// No restart markers, a damaged or cut-off scan, markers out of order, random bytes: no strips.
TEST_F(JpegStripsTest, WhatCannotBeSplitIsLeftWhole) {
    EXPECT_TRUE(splitJpegAtRestarts(nullptr, 0, 2).empty());
    const std::vector<std::uint8_t> plain = photo({640, 480}, "0");
    EXPECT_TRUE(splitJpegAtRestarts(plain.data(), plain.size(), 2).empty());

    const std::vector<std::uint8_t> marked = photo({640, 480}, "1");
    ASSERT_EQ(splitJpegAtRestarts(marked.data(), marked.size(), 2).strips.size(), 2u);
    EXPECT_TRUE(splitJpegAtRestarts(marked.data(), marked.size(), 1).empty());
    // 41 MCUs a row and a marker every 41 x 7 + 1 MCUs: no row near the middle starts with one.
    const std::vector<std::uint8_t> unaligned = photo({650, 480}, "288B");
    EXPECT_TRUE(splitJpegAtRestarts(unaligned.data(), unaligned.size(), 2).empty());
    for (std::size_t cut : {marked.size() - 2, marked.size() / 2, std::size_t{600}, std::size_t{3}})
        EXPECT_TRUE(splitJpegAtRestarts(marked.data(), cut, 2).empty()) << cut;
    // A restart marker renumbered out of order.
    std::vector<std::uint8_t> misnumbered = marked;
    for (std::size_t i = marked.size() / 2; i + 1 < misnumbered.size(); ++i) {
        if (misnumbered[i] == 0xFF && misnumbered[i + 1] >= 0xD0 && misnumbered[i + 1] <= 0xD7) {
            misnumbered[i + 1] = static_cast<std::uint8_t>(0xD0 + (misnumbered[i + 1] - 0xD0 + 3) % 8);
            break;
        }
    }
    EXPECT_TRUE(splitJpegAtRestarts(misnumbered.data(), misnumbered.size(), 2).empty());
    // Random bytes after a JPEG's start, with and without the markers' lengths making sense.
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> noise = marked;
        for (int flips = 0; flips < 20; ++flips)
            noise[2 + random() % (noise.size() - 2)] = static_cast<std::uint8_t>(random());
        const JpegSplit split = splitJpegAtRestarts(noise.data(), noise.size(), 2);
        for (const JpegStrip& strip : split.strips) {
            EXPECT_GT(strip.height, 0);
            decoded(strip.bytes);  // whatever it holds, it decodes or is refused without harm
        }
        decoded(noise);
    }
}

}  // namespace
}  // namespace kestrelle
