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

class PhotoLoader {
public:
    // Fills `target` with a QImage::Format_RGB32 picture of exactly width x height (bytes blue, green,
    // red, unused: a FrameImage): the photo at `path` scaled to fit and centred on `background`.
    // A missing or undecodable photo gives the background alone and still succeeds. False (and
    // `target` untouched) only when the name is not a supported photo name or the size is not positive.
    static bool load(QImage& target, int width, int height, const std::string& path, std::uint32_t background);
};

}  // namespace kestrelle
