#pragma once
// Loading a photo fitted and centred into a picture of an exact size.

#include <QImage>

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrelle {

// Whether a file counts as a photo, by the trailing characters of its name alone.
bool isSupportedPhotoName(std::string_view name);

// Background colours the callers use (ARGB; the colour is premultiplied by its alpha).
constexpr std::uint32_t kBlackBackground = 0x000000FFu;
constexpr std::uint32_t kWhiteBackground = 0xFFFFFFFFu;

// The rectangle a photo is drawn into inside a picture.
struct PhotoPlacement {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const PhotoPlacement&) const = default;
};

// Where a photoWidth x photoHeight photo lands in a width x height picture: scaled to fit with its
// shape kept (never enlarged) and centred. The scale factors are 32-bit floats; sizes and offsets
// are truncated towards zero, so a factor that rounds down can leave the last column or row
// uncovered. Empty for a photo without pixels.
PhotoPlacement fitPhoto(int width, int height, int photoWidth, int photoHeight);

// The RGB32 pixel a background colour fills with: each channel premultiplied by the alpha.
std::uint32_t premultipliedBackground(std::uint32_t argb);

class PhotoLoader {
public:
    // Fills `target` with a QImage::Format_RGB32 picture of exactly width x height (bytes blue, green,
    // red, unused: a FrameImage): the photo at `path` scaled to fit and centred on `background`.
    // A missing or undecodable photo gives the background alone and still succeeds. False (and
    // `target` untouched) only when the name is not a supported photo name, the size is not positive
    // or the picture itself cannot be allocated.
    // The format is told by the file's bytes: JPEG through TurboJPEG at the smallest DCT scale that
    // covers the drawn size (or from its EXIF thumbnail when that covers it), HEIF and AVIF through
    // libheif, everything else through Qt's readers (WebP, PNG, TIFF, ...). The orientation (EXIF, or
    // HEIF's own) is honoured, and a photo with a colour profile (embedded ICC, or Adobe RGB by EXIF
    // "R03") is converted to sRGB. A JPEG is bounded by its pixels after the shrink while decoding
    // (kMaxDecodedPixels), so a 65000 x 36563 panorama opens at 1/8; any other file claiming more
    // pixels than kMaxPhotoPixels, or HEIF beyond kMaxDecodedPixels, counts as undecodable.
    // `decoded`, when given, tells whether the photo itself could be read (false when only the
    // background was drawn). Safe to call from several threads at once.
    static bool load(QImage& target, int width, int height, const std::string& path, std::uint32_t background,
                     bool* decoded = nullptr);

    // The photo's size as shown (its orientation applied), read from the file's header alone; invalid
    // when the file is no photo the loader reads. Never blocks on a FIFO or a device.
    static QSize uprightSize(const std::string& path);

    // Largest photo (in pixels, as the file claims it) that is decoded at all.
    static constexpr std::int64_t kMaxPhotoPixels = std::int64_t{1} << 28;
    // Largest picture decoded into memory (after any reduction while decoding), in pixels.
    static constexpr std::int64_t kMaxDecodedPixels = std::int64_t{1} << 26;
};

}  // namespace kestrelle
