#pragma once
// A sequential JPEG decoded on two threads: its scan's Huffman codes by render/jpeg_entropy.h, then its
// pixels by libjpeg decoders on both threads, each taking a band of rows from those coefficients instead
// of from the file. The picture is the one libjpeg-turbo decodes on its own, bit for bit.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestrelle {

// Where the decoded rows go: `height` rows of `width` four-byte pixels, `bytesPerLine` apart.
struct PixelRows {
    std::uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t bytesPerLine = 0;
};

// Receives decoded rows as they are made: `count` rows of pixels, `rows[i]` being row `firstRow` + i.
// Called from both threads at once, for different rows; the rows are only valid during the call.
using RowSink = std::function<void(int firstRow, const std::uint8_t* const* rows, int count)>;

// Decodes the JPEG at the DCT scale `scaleNumerator`/`scaleDenominator` into `rows` (which must have the
// scaled size) as 0xFF-filled BGRX when `bgrx`, else XRGB. False, with the rows in an unspecified
// state, where the file does not suit (see decodeJpegEntropy) or anything fails: the caller then decodes
// the file as usual, with libjpeg-turbo's handling of damaged data.
bool decodeJpegOnTwoThreads(const std::uint8_t* bytes, std::size_t size, int scaleNumerator,
                            int scaleDenominator, bool bgrx, const PixelRows& rows);

// The same, handing the rows (`width` pixels each, `height` in all) to `sink` a few at a time instead of
// keeping the picture: for a caller that turns them into something else at once, while they are still
// in the processor's cache. False where the other gives false, perhaps after some rows were handed over.
bool decodeJpegOnTwoThreads(const std::uint8_t* bytes, std::size_t size, int scaleNumerator,
                            int scaleDenominator, bool bgrx, int width, int height, const RowSink& sink);

}  // namespace kestrelle
