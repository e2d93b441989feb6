#pragma once
// JPEG photos through libjpeg-turbo's TurboJPEG API: the facts in the markers before the first scan,
// decoding at the smallest DCT scale that still covers the drawn size, upright and colour-tagged,
// and the EXIF thumbnail where it shows the same picture.

#include "render/exif_reader.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestrelle {

struct JpegFacts {
    // The size as stored (before the EXIF orientation) and the frame's component count.
    int width = 0;
    int height = 0;
    int components = 0;
    // Progressive, or a sequential file whose first scan does not hold every component: libjpeg then
    // keeps every coefficient of the picture in memory at once.
    bool multiScan = false;
    // What that whole-picture coefficient buffer takes (0 for a single-scan file).
    std::int64_t coefficientBytes = 0;
    // The first APP1 "Exif\0\0" block that reads as EXIF, and where its TIFF header starts in the file
    // (the thumbnail's offsets count from there).
    std::optional<ExifFacts> exif;
    std::size_t exifTiffOffset = 0;
    // The embedded ICC profile, reassembled from its APP2 chunks in their sequence order; empty when
    // there is none, when chunks are missing, repeated or disagree on their count, when they hold more
    // than kMaxIccProfileBytes in all, or when the profile's header claims more bytes than they hold.
    QByteArray iccProfile;
    // An Adobe APP14 marker and its colour transform (0 none, 1 YCbCr, 2 YCCK). CMYK data in a file
    // with this marker is stored inverted, as Photoshop writes it.
    bool adobeMarker = false;
    int adobeTransform = 0;

    static constexpr std::size_t kMaxIccProfileBytes = std::size_t{4} << 20;
};

// Reads the markers from SOI up to the first SOS, every length checked against the buffer. Nothing
// when the data does not start like a JPEG, a marker runs past the end, the data ends before the first
// scan, or no frame header with a non-empty size and valid sampling factors comes before it.
std::optional<JpegFacts> readJpegFacts(const std::uint8_t* bytes, std::size_t size);

// Largest whole-picture coefficient buffer decodeJpeg accepts for a progressive or multi-scan JPEG,
// whose every coefficient libjpeg keeps in memory however small the decoded picture is.
constexpr std::int64_t kMaxJpegCoefficientBytes = std::int64_t{512} << 20;

// How decodeJpeg picks its DCT scale M/8 among those whose result covers the drawn size.
enum class JpegScale {
    // The smallest of 1/8, 1/4, 1/2 and 1, the scales libjpeg-turbo decodes with SIMD code. The others
    // run plain C code: with 2.1.5 a 12 MP photo decodes slower at 3/8 than at 1/2, and slower at 5/8
    // to 7/8 than at full size. Where that scale would break the pixel bound, the smallest M/8 is used.
    Fastest,
    // The smallest M/8: the least memory.
    Smallest,
};

// Decodes a JPEG to QImage::Format_RGB32 at a DCT scale M/8 whose result still covers `cover` (given
// upright; an empty `cover` means full size), chosen as `scale` says, with the EXIF orientation
// applied so the picture is upright. Null when the data is not a decodable JPEG, when the scaled
// picture would hold more than `maxDecodedPixels` pixels (checked from the header, before anything is
// allocated), or when a multi-scan file needs more than kMaxJpegCoefficientBytes. A truncated or
// damaged file gives what libjpeg-turbo recovered when it only warned. The picture's colour space is
// the embedded ICC profile when Qt reads it as an RGB profile, else Adobe RGB when EXIF says "R03"
// and there is no profile, else untagged (sRGB). CMYK and YCCK files are converted to RGB here,
// Adobe's inverted CMYK included. `uprightSize`, when given, receives the full photo's size shown
// upright (invalid when the header cannot be read).
QImage decodeJpeg(const std::uint8_t* bytes, std::size_t size, QSize cover, std::int64_t maxDecodedPixels,
                  QSize* uprightSize = nullptr, JpegScale scale = JpegScale::Fastest);

// decodeJpeg into `picture`, whose memory is decoded into when it already has the decoded size, is
// RGB32 and is not shared (upright photos only: a quarter turn needs a second picture). Fresh pages
// cost the kernel about a third of a full-size decode's time. False, with `picture` in an unspecified
// state, where decodeJpeg gives a null picture.
bool decodeJpegInto(QImage& picture, const std::uint8_t* bytes, std::size_t size, QSize cover,
                    std::int64_t maxDecodedPixels, QSize* uprightSize = nullptr,
                    JpegScale scale = JpegScale::Fastest);

// Receives a decoded JPEG's rows as they are made: `count` rows of 0xFF-filled RGB32 pixels, `rows[i]`
// being row `firstRow` + i. Called from two threads at once, for different rows; the rows are only
// valid during the call.
using JpegRowSink = std::function<void(int firstRow, const std::uint8_t* const* rows, int count)>;

// decodeJpeg's picture (JpegScale::Fastest) for a large photo that needs neither a turn nor a colour
// conversion, decoded on two threads and handed over a few rows at a time instead of kept whole, for a
// caller that turns the rows into something else while they are still in the processor's cache.
// `start` is told the decoded size before any row comes and may refuse it. False, perhaps after some
// rows were handed over, where the photo does not suit (turned, tagged with a colour space other than
// sRGB, CMYK, progressive, under a megapixel decoded, a single core) or cannot be decoded this way:
// the caller then uses decodeJpeg.
bool decodeJpegRows(const std::uint8_t* bytes, std::size_t size, QSize cover, std::int64_t maxDecodedPixels,
                    const std::function<bool(QSize)>& start, const JpegRowSink& sink);

// The photo's EXIF thumbnail, decoded and turned upright by the photo's own orientation, tagged with
// the photo's colour space. Null unless the thumbnail is a decodable JPEG lying inside the EXIF block,
// covers `cover` when upright, and has the photo's stored shape to within one thumbnail pixel each
// way (a letterboxed or differently shaped thumbnail may show another picture or another turn).
QImage decodeExifThumbnail(const std::uint8_t* bytes, std::size_t size, QSize cover);

}  // namespace kestrelle
