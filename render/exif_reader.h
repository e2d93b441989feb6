#pragma once
// Reading the few EXIF facts the photo loader needs from a JPEG's APP1 "Exif\0\0" block.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrelle {

struct ExifFacts {
    // The EXIF orientation, 1 to 8 (1 when absent or out of range).
    int orientation = 1;
    // The Interoperability IFD's InteroperabilityIndex is "R03": the pixels are Adobe RGB (1998),
    // as some cameras say instead of embedding a profile.
    bool adobeRgbInterop = false;
    // IFD1's JPEGInterchangeFormat and JPEGInterchangeFormatLength: where the embedded thumbnail JPEG
    // lies, relative to the TIFF header (6 bytes into the payload). Both 0 unless it lies wholly
    // inside the block.
    std::size_t thumbnailOffset = 0;
    std::size_t thumbnailLength = 0;
};

// The facts of an APP1 payload that starts with "Exif\0\0" followed by a TIFF header in either byte
// order. Every offset and count is checked against the block; a chain of IFDs that loops is cut
// short and only the first few hundred entries are looked at. Nothing when the payload is not EXIF
// or its first IFD lies outside it; a broken sub-IFD only loses the facts it would have given.
std::optional<ExifFacts> readExif(const std::uint8_t* payload, std::size_t size);

}  // namespace kestrelle
