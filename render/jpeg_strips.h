#pragma once
// Splitting a JPEG with restart markers into strips that decode on their own, so that several cores can
// share one photo. Entropy decoding is most of a JPEG's decoding time at every DCT scale and runs from
// the start of the scan to its end; a restart marker resets it, so the data after one that falls on the
// start of a row of MCUs is the scan of the rows below. Each strip is a complete JPEG: the original
// markers with the frame's height cut to the strip's rows, the strip's part of the scan with its restart
// markers numbered from 0, and an end marker.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrelle {

struct JpegStrip {
    std::vector<std::uint8_t> bytes;  // a JPEG of its own
    int firstRow = 0;                 // where the strip's rows start in the whole picture
    int height = 0;                   // how many rows the strip holds (a multiple of the MCU's height
                                      // but in the last strip)
};

// The strips of a picture and, for each place two strips meet, a strip of the rows of MCUs around it:
// the rows next to a seam are smoothed (chroma upsampling) with their neighbours across it, which a
// strip on its own does not have, so they are taken from the seam's strip instead.
struct JpegSplit {
    std::vector<JpegStrip> strips;
    std::vector<JpegStrip> seams;

    bool empty() const { return strips.empty(); }
};

// Up to `parts` strips of about equal height covering the whole picture, in order, or none when the
// file cannot be split: not one sequential Huffman-coded scan holding every component, no restart
// interval, no restart marker at the start of a row of MCUs near the split points, restart markers
// missing or out of order (a damaged file is left to the usual decoder), or any marker running past
// the end of the data.
JpegSplit splitJpegAtRestarts(const std::uint8_t* bytes, std::size_t size, int parts);

}  // namespace kestrelle
