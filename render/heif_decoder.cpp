#include "render/heif_decoder.h"

#include <QByteArray>
#include <QColorSpace>
#include <QPointF>

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>

namespace kestrelle {

namespace {

struct HeifContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
using HeifContextPtr = std::unique_ptr<heif_context, HeifContextDeleter>;

struct HeifHandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
using HeifHandlePtr = std::unique_ptr<heif_image_handle, HeifHandleDeleter>;

struct HeifImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
using HeifImagePtr = std::unique_ptr<heif_image, HeifImageDeleter>;

struct HeifDecodingOptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using HeifDecodingOptionsPtr = std::unique_ptr<heif_decoding_options, HeifDecodingOptionsDeleter>;

struct HeifNclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
using HeifNclxPtr = std::unique_ptr<heif_color_profile_nclx, HeifNclxDeleter>;

// Brands of HEIF images and image sequences (HEVC, its layered variants and AV1).
constexpr std::array<std::string_view, 12> kHeifBrands = {
    "heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1", "avif", "avis",
};

// libheif's own side limit is 32768; panoramas may be wider, and our pixel bound guards the rest.
constexpr std::int64_t kLargestSide = 65535;

// A larger embedded profile is not a real one; the photo is shown as sRGB.
constexpr std::size_t kLargestIccProfile = std::size_t{4} << 20;

std::uint32_t bigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

bool isHeifBrand(const std::uint8_t* brand) {
    const std::string_view text(reinterpret_cast<const char*>(brand), 4);
    return std::find(kHeifBrands.begin(), kHeifBrands.end(), text) != kHeifBrands.end();
}

// The primary image's handle of a file read from memory that stays valid while the context lives.
// `largestSide` bounds each side libheif accepts while reading the boxes.
bool openPrimary(const std::uint8_t* bytes, std::size_t size, int largestSide, HeifContextPtr& context,
                 HeifHandlePtr& handle) {
    if (bytes == nullptr || !looksLikeHeif(bytes, size)) {
        return false;
    }
    context.reset(heif_context_alloc());
    if (!context) {
        return false;
    }
    heif_context_set_maximum_image_size_limit(context.get(), largestSide);
    if (heif_context_read_from_memory_without_copy(context.get(), bytes, size, nullptr).code !=
        heif_error_Ok) {
        return false;
    }
    heif_image_handle* primary = nullptr;
    const heif_error error = heif_context_get_primary_image_handle(context.get(), &primary);
    handle.reset(primary);  // ours even when an error comes with it
    return error.code == heif_error_Ok && handle != nullptr;
}

QColorSpace colourSpaceFromIcc(const heif_image_handle* handle) {
    const std::size_t profileSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (profileSize == 0 || profileSize > kLargestIccProfile) {
        return {};
    }
    QByteArray profile(static_cast<qsizetype>(profileSize), Qt::Uninitialized);
    if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok) {
        return {};
    }
    return QColorSpace::fromIccProfile(profile);
}

// The nclx tag as a QColorSpace where Qt can express it: any primaries (by their chromaticities), and
// the sRGB, linear or pure gamma curves. BT.709-family curves are shown with the sRGB curve, as
// browsers and viewers show them. PQ and HLG (HDR) have no QColorSpace and stay unset.
QColorSpace colourSpaceFromNclx(const heif_image_handle* handle) {
    heif_color_profile_nclx* raw = nullptr;
    const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &raw);
    // libheif may hand over a profile with an error too: it is ours to free either way.
    const HeifNclxPtr nclx(raw);
    if (error.code != heif_error_Ok || !nclx) {
        return {};
    }
    if (nclx->color_primaries == heif_color_primaries_unspecified) {
        return {};
    }
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0.0f;
    switch (nclx->transfer_characteristics) {
        case heif_transfer_characteristic_IEC_61966_2_1:
        case heif_transfer_characteristic_unspecified:
        case heif_transfer_characteristic_ITU_R_BT_709_5:
        case heif_transfer_characteristic_ITU_R_BT_601_6:
        case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
        case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
            break;
        case heif_transfer_characteristic_linear:
            transfer = QColorSpace::TransferFunction::Linear;
            break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
            transfer = QColorSpace::TransferFunction::Gamma;
            gamma = 2.2f;
            break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
            transfer = QColorSpace::TransferFunction::Gamma;
            gamma = 2.8f;
            break;
        default:
            return {};
    }
    if (nclx->color_primaries == heif_color_primaries_ITU_R_BT_709_5) {
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    }
    if (nclx->color_primaries == heif_color_primaries_SMPTE_EG_432_1) {
        return QColorSpace(QColorSpace::Primaries::DciP3D65, transfer, gamma);
    }
    const QPointF white(nclx->color_primary_white_x, nclx->color_primary_white_y);
    const QPointF red(nclx->color_primary_red_x, nclx->color_primary_red_y);
    const QPointF green(nclx->color_primary_green_x, nclx->color_primary_green_y);
    const QPointF blue(nclx->color_primary_blue_x, nclx->color_primary_blue_y);
    if (white.y() <= 0.0 || red.y() <= 0.0 || green.y() <= 0.0 || blue.y() <= 0.0) {
        return {};
    }
    const QColorSpace space(white, red, green, blue, transfer, gamma);
    return space.isValid() ? space : QColorSpace();
}

QColorSpace colourSpaceOf(const heif_image_handle* handle) {
    QColorSpace space = colourSpaceFromIcc(handle);
    if (!space.isValid()) {
        space = colourSpaceFromNclx(handle);
    }
    return space;
}

// Copies libheif's interleaved 8-bit RGB or RGBA rows into a QImage of the same size.
void copyPixels(const std::uint8_t* source, int stride, bool withAlpha, bool alreadyPremultiplied,
                QImage& target) {
    const int width = target.width();
    for (int y = 0; y < target.height(); ++y) {
        const std::uint8_t* in = source + static_cast<std::ptrdiff_t>(y) * stride;
        auto* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        if (!withAlpha) {
            for (int x = 0; x < width; ++x, in += 3) {
                out[x] = qRgb(in[0], in[1], in[2]);
            }
        } else if (alreadyPremultiplied) {
            for (int x = 0; x < width; ++x, in += 4) {
                out[x] = qRgba(std::min(in[0], in[3]), std::min(in[1], in[3]), std::min(in[2], in[3]), in[3]);
            }
        } else {
            for (int x = 0; x < width; ++x, in += 4) {
                out[x] = qPremultiply(qRgba(in[0], in[1], in[2], in[3]));
            }
        }
    }
}

QImage decodePrimary(const std::uint8_t* bytes, std::size_t size, std::int64_t maxPixels) {
    if (maxPixels <= 0) {
        return {};
    }
    HeifContextPtr context;
    HeifHandlePtr handle;
    const int largestSide = static_cast<int>(std::min(maxPixels, kLargestSide) + 1);
    if (!openPrimary(bytes, size, largestSide, context, handle)) {
        return {};
    }
    // Both the stored size (what a grid canvas or the decoder allocates) and the shown size count.
    const std::int64_t width = heif_image_handle_get_width(handle.get());
    const std::int64_t height = heif_image_handle_get_height(handle.get());
    const std::int64_t storedWidth = heif_image_handle_get_ispe_width(handle.get());
    const std::int64_t storedHeight = heif_image_handle_get_ispe_height(handle.get());
    if (width <= 0 || height <= 0 || width * height > maxPixels || storedWidth * storedHeight > maxPixels) {
        return {};
    }

    // A grid's canvas size comes from its own header, which may claim far more than the image's size
    // (a damaged file asked for 11032 x 64017 behind an image of 28 x 18): libheif allocates the canvas
    // before any check of ours, so its side limit is narrowed to the image's own sides, with room
    // for a whole 512-pixel tile.
    constexpr std::int64_t kTileRoom = 512;
    const std::int64_t ownSide = std::max({width, height, storedWidth, storedHeight, kTileRoom});
    heif_context_set_maximum_image_size_limit(context.get(),
                                              static_cast<int>(std::min(ownSide, kLargestSide) + 1));

    const bool withAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const HeifDecodingOptionsPtr options(heif_decoding_options_alloc());
    if (!options) {
        return {};
    }
    options->ignore_transformations = 0;  // rotation, mirroring and cropping applied: the photo comes upright
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(
        handle.get(), &decoded, heif_colorspace_RGB,
        withAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    const HeifImagePtr image(decoded);  // ours even when an error comes with it
    if (error.code != heif_error_Ok || !image) {
        return {};
    }
    if (heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height ||
        heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
        return {};
    }
    int stride = 0;
    const std::uint8_t* pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (pixels == nullptr || stride < width * (withAlpha ? 4 : 3)) {
        return {};
    }

    QImage result(static_cast<int>(width), static_cast<int>(height),
                  withAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (result.isNull()) {
        return {};
    }
    copyPixels(pixels, stride, withAlpha, heif_image_is_premultiplied_alpha(image.get()) != 0, result);
    const QColorSpace space = colourSpaceOf(handle.get());
    if (space.isValid()) {
        result.setColorSpace(space);
    }
    return result;
}

}  // namespace

bool looksLikeHeif(const std::uint8_t* bytes, std::size_t size) {
    // size, 'ftyp', major brand, minor version, then compatible brands up to the box's end.
    constexpr std::size_t kFtypHeader = 16;
    if (bytes == nullptr || size < kFtypHeader || std::memcmp(bytes + 4, "ftyp", 4) != 0) {
        return false;
    }
    const std::uint32_t declared = bigEndian32(bytes);
    // Size 0 runs to the end of the file; size 1 (a 64-bit size) and anything shorter than the
    // header are no ftyp box.
    std::size_t boxEnd = declared == 0 ? size : declared;
    if (boxEnd < kFtypHeader) {
        return false;
    }
    boxEnd = std::min(boxEnd, size);
    if (isHeifBrand(bytes + 8)) {
        return true;
    }
    for (std::size_t offset = kFtypHeader; offset + 4 <= boxEnd; offset += 4) {
        if (isHeifBrand(bytes + offset)) {
            return true;
        }
    }
    return false;
}

std::optional<QSize> heifUprightSize(const std::uint8_t* bytes, std::size_t size) {
    try {
        HeifContextPtr context;
        HeifHandlePtr handle;
        if (!openPrimary(bytes, size, static_cast<int>(kLargestSide + 1), context, handle)) {
            return std::nullopt;
        }
        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        if (width <= 0 || height <= 0) {
            return std::nullopt;
        }
        return QSize(width, height);
    } catch (...) {
        return std::nullopt;
    }
}

QImage decodeHeif(const std::uint8_t* bytes, std::size_t size, std::int64_t maxPixels) {
    try {
        return decodePrimary(bytes, size, maxPixels);
    } catch (...) {
        return {};
    }
}

}  // namespace kestrelle
