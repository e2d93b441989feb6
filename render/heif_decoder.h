#pragma once
// HEIF and AVIF photos (HEVC and AV1 stills in an ISO base media file) decoded through libheif.

#include <QImage>
#include <QSize>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace kestrelle {

// Whether the bytes start with an ISO base media `ftyp` box whose major or compatible brands name a
// HEIF or AVIF still or sequence (heic heix hevc hevx heim heis hevm hevs mif1 msf1 avif avis). Decided by
// the bytes alone: a file named .heic that holds a JPEG is no HEIF.
bool looksLikeHeif(const std::uint8_t* bytes, std::size_t size);

// The primary image's size as it is shown (after its rotation and mirroring), read from the file's
// boxes without decoding any pixels. Empty when the bytes are no readable HEIF.
std::optional<QSize> heifUprightSize(const std::uint8_t* bytes, std::size_t size);

// The primary image (the first of a multi-image file; grids assembled from their tiles), upright, as
// QImage::Format_RGB32, or Format_ARGB32_Premultiplied when the image has an alpha channel. The
// QImage carries the file's colour space: its embedded ICC profile, else what its nclx primaries and
// transfer characteristics describe (left unset when untagged or not expressible). A null QImage when
// the primary image claims more than maxPixels pixels (checked before any pixel is allocated) or
// anything cannot be read or decoded. `bytes` need stay valid only during the call.
QImage decodeHeif(const std::uint8_t* bytes, std::size_t size, std::int64_t maxPixels);

}  // namespace kestrelle
