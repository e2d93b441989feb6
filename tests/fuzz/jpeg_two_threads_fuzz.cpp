// Feeds arbitrary bytes to the two-thread JPEG decoder (render/jpeg_parallel.h) and checks it against
// libjpeg-turbo: wherever ours accepts a file, TurboJPEG must decode it too, to the very same pixels.
// The first byte of an input picks the DCT scale and the pixel order, the rest is the file. Unlike the
// photo loader, which keeps this decoder for pictures of a megapixel or more, the fuzzer takes any size,
// so small inputs reach every part of it: the guessed middle, the halves' meeting, the bands.

#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "render/jpeg_parallel.h"

namespace {

// Pictures beyond this many pixels are skipped: the decoders' own bounds are the loader's business.
constexpr long kMostPixels = 1L << 22;

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "jpeg_two_threads_fuzz: %s\n", what);
        std::abort();
    }
}

struct TurboJpegFree {
    void operator()(void* handle) const { tjDestroy(handle); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const tjscalingfactor kScales[] = {{1, 1}, {1, 2}, {3, 8}, {1, 4}, {1, 8}, {5, 8}};
    const tjscalingfactor scale = kScales[(data[0] & 0x7F) % (sizeof kScales / sizeof kScales[0])];
    const bool bgrx = (data[0] & 0x80) != 0;
    const std::uint8_t* jpeg = data + 1;
    const auto jpegSize = static_cast<unsigned long>(size - 1);

    std::unique_ptr<void, TurboJpegFree> handle(tjInitDecompress());
    require(handle != nullptr, "tjInitDecompress failed");
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg, jpegSize, &width, &height, &subsampling, &colourspace) != 0)
        return 0;
    const int scaledWidth = TJSCALED(width, scale);
    const int scaledHeight = TJSCALED(height, scale);
    if (scaledWidth <= 0 || scaledHeight <= 0 || long{scaledWidth} * scaledHeight > kMostPixels) return 0;

    const std::size_t bytesPerLine = static_cast<std::size_t>(scaledWidth) * 4;
    std::vector<std::uint8_t> ours(bytesPerLine * static_cast<std::size_t>(scaledHeight), 0x5A);
    const kestrelle::PixelRows rows{ours.data(), scaledWidth, scaledHeight,
                                    static_cast<std::ptrdiff_t>(bytesPerLine)};
    if (!kestrelle::decodeJpegOnTwoThreads(jpeg, jpegSize, scale.num, scale.denom, bgrx, rows)) return 0;

    std::vector<std::uint8_t> theirs(ours.size(), 0xA5);
    const int decoded =
        tjDecompress2(handle.get(), jpeg, jpegSize, theirs.data(), scaledWidth,
                      static_cast<int>(bytesPerLine), scaledHeight, bgrx ? TJPF_BGRX : TJPF_XRGB, 0);
    require(decoded == 0 || tjGetErrorCode(handle.get()) == TJERR_WARNING,
            "accepted a file libjpeg-turbo refuses");
    require(std::memcmp(ours.data(), theirs.data(), ours.size()) == 0, "pixels differ from libjpeg-turbo's");
    return 0;
}
