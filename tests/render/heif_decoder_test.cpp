#include "render/heif_decoder.h"

#include "render/photo_loader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelle {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct OptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};

// A picture with smooth gradients, hard edges and thin lines, so a wrong orientation, mirror or
// channel order shows as a large error.
QImage referencePicture(int width, int height) {
    QImage picture(width, height, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0.0, QColor(20, 40, 200));
    gradient.setColorAt(0.5, QColor(230, 200, 60));
    gradient.setColorAt(1.0, QColor(200, 30, 40));
    painter.fillRect(picture.rect(), gradient);
    painter.setBrush(QColor(30, 160, 70));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(width * 0.08, height * 0.1, width * 0.3, height * 0.35));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(QRectF(width * 0.6, height * 0.55, width * 0.3, height * 0.3));
    painter.setPen(QPen(QColor(10, 10, 10), 3));
    painter.drawLine(QPointF(width * 0.05, height * 0.9), QPointF(width * 0.5, height * 0.6));
    painter.end();
    return picture;
}

// PSNR of the RGB channels in dB; 0 when the sizes differ.
double psnr(const QImage& decoded, const QImage& reference) {
    if (decoded.size() != reference.size()) {
        return 0.0;
    }
    const QImage a = decoded.convertToFormat(QImage::Format_RGB32);
    const QImage b = reference.convertToFormat(QImage::Format_RGB32);
    double squared = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const double dr = qRed(rowA[x]) - qRed(rowB[x]);
            const double dg = qGreen(rowA[x]) - qGreen(rowB[x]);
            const double db = qBlue(rowA[x]) - qBlue(rowB[x]);
            squared += dr * dr + dg * dg + db * db;
        }
    }
    const double mean = squared / (3.0 * a.width() * a.height());
    return mean == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mean);
}

struct EncodeSettings {
    heif_orientation orientation = heif_orientation_normal;
    QByteArray iccProfile;
    int nclxPrimaries = 0;  // 0: no nclx set on the image
    bool tenBits = false;   // 10 bits a channel, as HDR-capable phones write (no alpha)
};

// Adds `picture` (RGB, or RGBA when it has alpha) as an image of `context`.
std::unique_ptr<heif_image_handle, HandleDeleter> addImage(heif_context* context,
                                                           heif_compression_format format,
                                                           const QImage& picture,
                                                           const EncodeSettings& settings = {}) {
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context, format, &rawEncoder).code != heif_error_Ok) {
        return nullptr;
    }
    const std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 95);
    if (format == heif_compression_AV1) {
        heif_encoder_set_parameter(encoder.get(), "speed", "8");
    }
    const bool alpha = picture.hasAlphaChannel() && !settings.tenBits;
    const heif_chroma chroma = settings.tenBits ? heif_chroma_interleaved_RRGGBB_LE
                               : alpha          ? heif_chroma_interleaved_RGBA
                                                : heif_chroma_interleaved_RGB;
    heif_image* rawImage = nullptr;
    if (heif_image_create(picture.width(), picture.height(), heif_colorspace_RGB, chroma, &rawImage).code !=
        heif_error_Ok) {
        return nullptr;
    }
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    heif_image_add_plane(image.get(), heif_channel_interleaved, picture.width(), picture.height(),
                         settings.tenBits ? 10 : 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const QImage source = picture.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    for (int y = 0; y < picture.height(); ++y) {
        std::uint8_t* row = plane + static_cast<std::ptrdiff_t>(y) * stride;
        const std::uint8_t* in = source.constScanLine(y);
        if (!settings.tenBits) {
            std::memcpy(row, in, static_cast<std::size_t>(picture.width()) * (alpha ? 4 : 3));
            continue;
        }
        for (int i = 0; i < picture.width() * 3; ++i) {
            const int value = (in[i] << 2) | (in[i] >> 6);  // 0..255 spread over 0..1023
            row[2 * i] = static_cast<std::uint8_t>(value & 0xff);
            row[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
        }
    }
    if (!settings.iccProfile.isEmpty()) {
        heif_image_set_raw_color_profile(image.get(), "prof", settings.iccProfile.constData(),
                                         static_cast<std::size_t>(settings.iccProfile.size()));
    }
    if (settings.nclxPrimaries != 0) {
        const std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(heif_nclx_color_profile_alloc());
        heif_nclx_color_profile_set_color_primaries(nclx.get(),
                                                    static_cast<std::uint16_t>(settings.nclxPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx.get(),
                                                             heif_transfer_characteristic_IEC_61966_2_1);
        heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), heif_matrix_coefficients_ITU_R_BT_601_6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image.get(), nclx.get());
    }
    const std::unique_ptr<heif_encoding_options, OptionsDeleter> options(heif_encoding_options_alloc());
    options->image_orientation = settings.orientation;
    heif_image_handle* handle = nullptr;
    if (heif_context_encode_image(context, image.get(), encoder.get(), options.get(), &handle).code !=
        heif_error_Ok) {
        return nullptr;
    }
    return std::unique_ptr<heif_image_handle, HandleDeleter>(handle);
}

Bytes writeContext(heif_context* context) {
    Bytes bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, std::size_t size, void* userdata) {
        auto* out = static_cast<Bytes*>(userdata);
        const auto* begin = static_cast<const std::uint8_t*>(data);
        out->insert(out->end(), begin, begin + size);
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    if (heif_context_write(context, &writer, &bytes).code != heif_error_Ok) {
        return {};
    }
    return bytes;
}

Bytes encodeFile(heif_compression_format format, const QImage& picture, const EncodeSettings& settings = {}) {
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!addImage(context.get(), format, picture, settings)) {
        return {};
    }
    return writeContext(context.get());
}

QImage decode(const Bytes& bytes, std::int64_t maxPixels = PhotoLoader::kMaxPhotoPixels) {
    return decodeHeif(bytes.data(), bytes.size(), maxPixels);
}

// The offset of the first box of `type` at or after `from` (found by its type's bytes), else the size.
std::size_t findBox(const Bytes& bytes, std::string_view type, std::size_t from = 0) {
    for (std::size_t i = from + 4; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(bytes.data() + i, type.data(), 4) == 0) {
            return i - 4;
        }
    }
    return bytes.size();
}

void putBigEndian32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

std::uint32_t bigEndian32At(const Bytes& bytes, std::size_t offset) {
    return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
           (std::uint32_t{bytes[offset + 2]} << 8) | std::uint32_t{bytes[offset + 3]};
}

// libheif writes a picture whose height is no multiple of the coding block as a grid of one tile,
// cropped. This turns that file into a 2 x 2 grid of the same tile, canvas `width` x `height`, as
// phones write their tiled photos: the grid's rows and columns and canvas size in its idat, its ispe,
// three more 'dimg' references (the iref and meta boxes grow, the tile's offset into mdat moves).
// Empty when the file is laid out otherwise.
Bytes twoByTwoGrid(const Bytes& file, int width, int height) {
    const std::size_t meta = findBox(file, "meta");
    const std::size_t iloc = findBox(file, "iloc");
    const std::size_t idat = findBox(file, "idat");
    const std::size_t iref = findBox(file, "iref");
    const std::size_t mdat = findBox(file, "mdat");
    if (mdat >= file.size() || iref > mdat || iloc > iref || idat + 16 > iloc || meta > idat ||
        bigEndian32At(file, idat) != 16 || file[idat + 9] != 0 || bigEndian32At(file, iref + 12) != 14 ||
        std::memcmp(file.data() + iref + 16, "dimg", 4) != 0 || file[iref + 23] != 1) {
        return {};
    }
    Bytes grid = file;
    // The tile's data starts right after the mdat header; its iloc offset moves with the 6 new bytes.
    const std::uint32_t tileOffset = static_cast<std::uint32_t>(mdat + 8);
    int offsetsMoved = 0;
    for (std::size_t i = iloc + 12; i + 4 <= iloc + bigEndian32At(file, iloc); ++i) {
        if (bigEndian32At(file, i) == tileOffset) {
            putBigEndian32(grid, i, tileOffset + 6);
            ++offsetsMoved;
        }
    }
    if (offsetsMoved != 1) {
        return {};
    }
    // idat: version, flags, rows - 1, columns - 1, 16-bit canvas width and height.
    grid[idat + 10] = 1;
    grid[idat + 11] = 1;
    grid[idat + 12] = static_cast<std::uint8_t>(width >> 8);
    grid[idat + 13] = static_cast<std::uint8_t>(width);
    grid[idat + 14] = static_cast<std::uint8_t>(height >> 8);
    grid[idat + 15] = static_cast<std::uint8_t>(height);
    // The grid's ispe is the last one (the tile's comes first).
    std::size_t gridIspe = file.size();
    for (std::size_t ispe = findBox(file, "ispe"); ispe < iref; ispe = findBox(file, "ispe", ispe + 1)) {
        gridIspe = ispe;
    }
    if (gridIspe >= iref) {
        return {};
    }
    putBigEndian32(grid, gridIspe + 12, static_cast<std::uint32_t>(width));
    putBigEndian32(grid, gridIspe + 16, static_cast<std::uint32_t>(height));
    const Bytes tileId(grid.begin() + static_cast<std::ptrdiff_t>(iref + 24),
                       grid.begin() + static_cast<std::ptrdiff_t>(iref + 26));
    for (int copy = 0; copy < 3; ++copy) {
        grid.insert(grid.begin() + static_cast<std::ptrdiff_t>(iref + 26), tileId.begin(), tileId.end());
    }
    grid[iref + 23] = 4;
    putBigEndian32(grid, iref + 12, 20);
    putBigEndian32(grid, iref, bigEndian32At(file, iref) + 6);
    putBigEndian32(grid, meta, bigEndian32At(file, meta) + 6);
    return grid;
}

Bytes ftypBox(std::string_view major, std::initializer_list<std::string_view> compatible) {
    Bytes box(16, 0);
    std::memcpy(box.data() + 4, "ftyp", 4);
    std::memcpy(box.data() + 8, major.data(), 4);
    for (const std::string_view brand : compatible) {
        box.insert(box.end(), brand.begin(), brand.end());
    }
    putBigEndian32(box, 0, static_cast<std::uint32_t>(box.size()));
    return box;
}

Bytes savedAs(const QImage& picture, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, format);
    return Bytes(data.begin(), data.end());
}

#define REQUIRE_ENCODER(format, name)                                                     \
    if (!heif_have_encoder_for_format(format) || !heif_have_decoder_for_format(format)) { \
        GTEST_SKIP() << "libheif has no " name " encoder or decoder here";                \
    }

TEST(HeifDecoder, HeicAndAvifDecodeToTheirReferencePicture) {
    const QImage reference = referencePicture(256, 160);
    for (const auto& [format, name] :
         {std::pair{heif_compression_HEVC, "HEIC"}, std::pair{heif_compression_AV1, "AVIF"}}) {
        if (!heif_have_encoder_for_format(format) || !heif_have_decoder_for_format(format)) {
            GTEST_SKIP() << "libheif cannot encode and decode " << name << " here";
        }
        const Bytes file = encodeFile(format, reference);
        ASSERT_FALSE(file.empty()) << name;
        EXPECT_TRUE(looksLikeHeif(file.data(), file.size())) << name;
        EXPECT_EQ(heifUprightSize(file.data(), file.size()), QSize(256, 160)) << name;
        const QImage decoded = decode(file);
        ASSERT_FALSE(decoded.isNull()) << name;
        EXPECT_EQ(decoded.format(), QImage::Format_RGB32) << name;
        const double quality = psnr(decoded, reference);
        EXPECT_GE(quality, 35.0) << name;
        std::printf("%s 256x160: %zu bytes, PSNR %.2f dB\n", name, file.size(), quality);
    }
}

TEST(HeifDecoder, TenBitHeicComesAsEightBits) {
    // HEVC, not AV1: libheif 1.15 hands 10-bit 4:2:0 to aom with a profile aom's encoder asserts on.
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    const QImage reference = referencePicture(256, 160);
    EncodeSettings settings;
    settings.tenBits = true;
    const Bytes file = encodeFile(heif_compression_HEVC, reference, settings);
    if (file.empty()) {
        GTEST_SKIP() << "this x265 has no 10-bit encoder";
    }
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    ASSERT_EQ(
        heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr).code,
        heif_error_Ok);
    heif_image_handle* rawHandle = nullptr;
    ASSERT_EQ(heif_context_get_primary_image_handle(context.get(), &rawHandle).code, heif_error_Ok);
    const std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    ASSERT_EQ(heif_image_handle_get_luma_bits_per_pixel(handle.get()), 10);
    const QImage decoded = decode(file);
    ASSERT_EQ(decoded.format(), QImage::Format_RGB32);
    const double quality = psnr(decoded, reference);
    EXPECT_GE(quality, 35.0);
    std::printf("10-bit HEIC 256x160: PSNR %.2f dB\n", quality);
}

TEST(HeifDecoder, EveryOrientationComesUpright) {
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    const QImage reference = referencePicture(128, 80);
    const QImage flippedH = reference.mirrored(true, false);
    const QImage flippedV = reference.mirrored(false, true);
    const QTransform quarterCounterClockwise = QTransform().rotate(-90);
    const QTransform quarterClockwise = QTransform().rotate(90);
    // The stored picture for each EXIF-numbered orientation: what a camera holding the scene
    // `reference` sideways or upside down writes before the rotation and mirror that undo it.
    const std::pair<heif_orientation, QImage> cases[] = {
        {heif_orientation_flip_horizontally, flippedH},
        {heif_orientation_rotate_180, reference.transformed(QTransform().rotate(180))},
        {heif_orientation_flip_vertically, flippedV},
        {heif_orientation_rotate_90_cw_then_flip_horizontally, flippedH.transformed(quarterCounterClockwise)},
        {heif_orientation_rotate_90_cw, reference.transformed(quarterCounterClockwise)},
        {heif_orientation_rotate_90_cw_then_flip_vertically, flippedV.transformed(quarterCounterClockwise)},
        {heif_orientation_rotate_270_cw, reference.transformed(quarterClockwise)},
    };
    for (const auto& [orientation, stored] : cases) {
        EncodeSettings settings;
        settings.orientation = orientation;
        const Bytes file = encodeFile(heif_compression_HEVC, stored, settings);
        ASSERT_FALSE(file.empty()) << orientation;
        const bool turned = orientation >= heif_orientation_rotate_90_cw_then_flip_horizontally;
        if (orientation != heif_orientation_flip_horizontally &&
            orientation != heif_orientation_flip_vertically) {
            EXPECT_LT(findBox(file, "irot"), file.size()) << "the file carries its rotation: " << orientation;
        }
        EXPECT_EQ(heifUprightSize(file.data(), file.size()), QSize(128, 80)) << orientation;
        const QImage decoded = decode(file);
        ASSERT_EQ(decoded.size(), QSize(128, 80)) << orientation << (turned ? " (turned)" : "");
        EXPECT_GE(psnr(decoded, reference), 35.0) << orientation;
    }
}

TEST(HeifDecoder, PrimaryImageOfAMultiImageFileAndAlpha) {
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    const QImage first = referencePicture(256, 160);
    const QImage primary = referencePicture(256, 160).mirrored(true, true);
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    ASSERT_TRUE(addImage(context.get(), heif_compression_HEVC, first));
    const auto primaryHandle = addImage(context.get(), heif_compression_HEVC, primary);
    ASSERT_TRUE(primaryHandle);
    ASSERT_EQ(heif_context_set_primary_image(context.get(), primaryHandle.get()).code, heif_error_Ok);
    const Bytes file = writeContext(context.get());
    const double quality = psnr(decode(file), primary);
    EXPECT_GE(quality, 35.0);
    std::printf("second of two images, 256x160: PSNR %.2f dB\n", quality);

    // A picture with a transparent half comes premultiplied, the clear half fully transparent.
    QImage withAlpha = referencePicture(256, 160).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < withAlpha.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(withAlpha.scanLine(y));
        for (int x = withAlpha.width() / 2; x < withAlpha.width(); ++x) {
            row[x] = qRgba(255, 255, 255, 0);
        }
    }
    const QImage decoded = decode(encodeFile(heif_compression_HEVC, withAlpha));
    ASSERT_EQ(decoded.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_LE(qAlpha(decoded.pixel(240, 80)), 2);
    EXPECT_LE(qRed(decoded.pixel(240, 80)), qAlpha(decoded.pixel(240, 80)));
    EXPECT_GE(qAlpha(decoded.pixel(10, 80)), 253);
    const double opaqueQuality = psnr(decoded.copy(0, 0, 120, 160), withAlpha.copy(0, 0, 120, 160));
    EXPECT_GE(opaqueQuality, 35.0);
    std::printf("half transparent, 256x160: opaque half PSNR %.2f dB\n", opaqueQuality);
}

TEST(HeifDecoder, GridTilesAreAssembled) {
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    // libheif codes a picture lower than 64 rows as a taller tile and writes a one-tile grid cropped
    // to the picture. Few shapes: chroma at quarter resolution blurs small ones below 35 dB.
    QImage tile = referencePicture(64, 48);
    {
        QPainter painter(&tile);
        QLinearGradient gradient(0, 0, 64, 48);
        gradient.setColorAt(0.0, QColor(40, 60, 180));
        gradient.setColorAt(1.0, QColor(220, 190, 80));
        painter.fillRect(tile.rect(), gradient);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(120, 60, 60));
        painter.drawEllipse(QRectF(6, 8, 30, 24));
    }
    const Bytes single = encodeFile(heif_compression_HEVC, tile);
    const QImage singleDecoded = decode(single);
    ASSERT_GE(psnr(singleDecoded, tile), 35.0);
    const std::size_t tileIspe = findBox(single, "ispe");
    ASSERT_LT(tileIspe + 20, single.size());
    const int codedWidth = static_cast<int>(bigEndian32At(single, tileIspe + 12));
    const int codedHeight = static_cast<int>(bigEndian32At(single, tileIspe + 16));
    ASSERT_GE(codedWidth, 64);
    ASSERT_GE(codedHeight, 48);
    const QSize canvas(codedWidth + 64, codedHeight + 48);
    const Bytes grid = twoByTwoGrid(single, canvas.width(), canvas.height());
    ASSERT_FALSE(grid.empty()) << "libheif laid the one-tile grid out differently";
    EXPECT_EQ(heifUprightSize(grid.data(), grid.size()), canvas);
    const QImage decoded = decode(grid);
    ASSERT_EQ(decoded.size(), canvas);
    // The tiles start every coded width and height; the canvas cuts the right and bottom ones.
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(codedWidth, 0), QPoint(0, codedHeight), QPoint(codedWidth, codedHeight)}) {
        const QImage part = decoded.copy(QRect(corner, tile.size()));
        const double quality = psnr(part, tile);
        EXPECT_GE(quality, 35.0) << corner.x() << "," << corner.y();
        EXPECT_GE(psnr(part, singleDecoded), 45.0) << corner.x() << "," << corner.y();
        std::printf("grid tile at %d,%d: PSNR %.2f dB\n", corner.x(), corner.y(), quality);
    }
    // A canvas larger than its tiles cover: a picture of the claimed size or nothing, never a crash.
    const Bytes uncovered = twoByTwoGrid(single, 2 * codedWidth + 40, 2 * codedHeight + 40);
    ASSERT_FALSE(uncovered.empty());
    const QImage refused = decode(uncovered);
    EXPECT_TRUE(refused.isNull() || refused.size() == QSize(2 * codedWidth + 40, 2 * codedHeight + 40));
}

TEST(HeifDecoder, ColourSpaceFromIccProfileOrNclx) {
    REQUIRE_ENCODER(heif_compression_AV1, "AV1");
    const QImage reference = referencePicture(64, 64);

    EncodeSettings icc;
    icc.iccProfile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    QImage decoded = decode(encodeFile(heif_compression_AV1, reference, icc));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.colorSpace(), QColorSpace(QColorSpace::DisplayP3));

    // A malformed profile and an oversized one are ignored; the photo still decodes.
    EncodeSettings malformed;
    malformed.iccProfile = QByteArray(600, '\x5a');
    decoded = decode(encodeFile(heif_compression_AV1, reference, malformed));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_NE(decoded.colorSpace().primaries(), QColorSpace::Primaries::DciP3D65);
    EncodeSettings oversized;
    oversized.iccProfile = QColorSpace(QColorSpace::DisplayP3).iccProfile();
    oversized.iccProfile.append(QByteArray(5 << 20, '\0'));
    decoded = decode(encodeFile(heif_compression_AV1, reference, oversized));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_NE(decoded.colorSpace().primaries(), QColorSpace::Primaries::DciP3D65);

    EncodeSettings p3;
    p3.nclxPrimaries = heif_color_primaries_SMPTE_EG_432_1;
    decoded = decode(encodeFile(heif_compression_AV1, reference, p3));
    ASSERT_FALSE(decoded.isNull());
    EXPECT_EQ(decoded.colorSpace().primaries(), QColorSpace::Primaries::DciP3D65);
    EXPECT_EQ(decoded.colorSpace().transferFunction(), QColorSpace::TransferFunction::SRgb);

    EncodeSettings bt2020;
    bt2020.nclxPrimaries = heif_color_primaries_ITU_R_BT_2020_2_and_2100_0;
    decoded = decode(encodeFile(heif_compression_AV1, reference, bt2020));
    ASSERT_FALSE(decoded.isNull());
    const QColorSpace expected(QPointF(0.3127, 0.3290), QPointF(0.708, 0.292), QPointF(0.170, 0.797),
                               QPointF(0.131, 0.046), QColorSpace::TransferFunction::SRgb);
    EXPECT_TRUE(decoded.colorSpace().isValid());
    // Pure green of BT.2020 lies far outside sRGB: converted, its red channel clips to 0.
    // A BT.2020 green converted to sRGB as the decoded colour space converts it.
    const QColor green(60, 180, 60);
    const QColor expectedGreen = expected.transformationToColorSpace(QColorSpace::SRgb).map(green);
    const QColor decodedGreen = decoded.colorSpace().transformationToColorSpace(QColorSpace::SRgb).map(green);
    EXPECT_EQ(decodedGreen.rgb(), expectedGreen.rgb());
    EXPECT_NE(decodedGreen.rgb(), green.rgb());
}

TEST(HeifDecoder, PixelBoundRefusesBeforeDecoding) {
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    const Bytes file = encodeFile(heif_compression_HEVC, referencePicture(64, 48));
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(decode(file, 64 * 48 - 1).isNull());
    EXPECT_FALSE(decode(file, 64 * 48).isNull());
    EXPECT_TRUE(decode(file, 0).isNull());

    // The same file claiming 30000 x 30000 in its ispe box: the claim is read, nothing is decoded.
    Bytes huge = file;
    int patched = 0;
    for (std::size_t ispe = findBox(huge, "ispe"); ispe + 20 <= huge.size();
         ispe = findBox(huge, "ispe", ispe + 1)) {
        putBigEndian32(huge, ispe + 12, 30000);
        putBigEndian32(huge, ispe + 16, 30000);
        ++patched;
    }
    ASSERT_GE(patched, 1);
    EXPECT_EQ(heifUprightSize(huge.data(), huge.size()), QSize(30000, 30000));
    EXPECT_TRUE(decode(huge).isNull());
}

TEST(HeifDecoder, TinyTruncatedRandomAndCorruptFilesNeverCrash) {
    REQUIRE_ENCODER(heif_compression_HEVC, "HEVC");
    const Bytes tiny = encodeFile(heif_compression_HEVC, QImage(1, 1, QImage::Format_RGB32));
    if (!tiny.empty()) {
        const QImage decoded = decode(tiny);
        EXPECT_TRUE(decoded.isNull() || decoded.size() == QSize(1, 1));
        std::printf("1x1 HEIC: %zu bytes, decoded %dx%d\n", tiny.size(), decoded.width(), decoded.height());
    }

    const Bytes file = encodeFile(heif_compression_HEVC, referencePicture(64, 48));
    ASSERT_FALSE(file.empty());
    for (std::size_t length = 0; length < file.size(); length += 1 + length / 8) {
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_TRUE(decode(cut).isNull()) << length << " of " << file.size();
        heifUprightSize(cut.data(), cut.size());
    }
    EXPECT_TRUE(decodeHeif(nullptr, 100, PhotoLoader::kMaxPhotoPixels).isNull());

    std::mt19937 random(23);
    Bytes noise(4096);
    for (auto& byte : noise) {
        byte = static_cast<std::uint8_t>(random());
    }
    EXPECT_FALSE(looksLikeHeif(noise.data(), noise.size()));
    EXPECT_TRUE(decode(noise).isNull());
    // Noise behind a real ftyp box reaches libheif's box parser.
    Bytes headed = ftypBox("heic", {"mif1", "heic"});
    headed.insert(headed.end(), noise.begin(), noise.end());
    EXPECT_TRUE(decode(headed).isNull());
    EXPECT_FALSE(heifUprightSize(headed.data(), headed.size()).has_value());

    // Corrupted bytes anywhere in a real file: a picture of the right size or nothing.
    for (int round = 0; round < 60; ++round) {
        Bytes corrupt = file;
        for (int flips = 0; flips < 4; ++flips) {
            corrupt[random() % corrupt.size()] = static_cast<std::uint8_t>(random());
        }
        const QImage decoded = decode(corrupt);
        heifUprightSize(corrupt.data(), corrupt.size());
        EXPECT_TRUE(decoded.isNull() || decoded.width() * std::int64_t{decoded.height()} <= 64 * 48 * 4);
    }
}

TEST(HeifDecoder, RecognisedByBrandNotByName) {
    const QImage picture = referencePicture(32, 24);
    const Bytes jpeg = savedAs(picture, "JPEG");
    const Bytes png = savedAs(picture, "PNG");
    ASSERT_FALSE(jpeg.empty());
    ASSERT_FALSE(png.empty());
    EXPECT_FALSE(looksLikeHeif(jpeg.data(), jpeg.size()));
    EXPECT_FALSE(looksLikeHeif(png.data(), png.size()));
    EXPECT_TRUE(decode(jpeg).isNull());

    Bytes mif1 = ftypBox("mif1", {"heic"});
    EXPECT_TRUE(looksLikeHeif(mif1.data(), mif1.size()));
    Bytes sony = ftypBox("heix", {});
    EXPECT_TRUE(looksLikeHeif(sony.data(), sony.size()));
    Bytes avif = ftypBox("isom", {"mp41", "avif"});
    EXPECT_TRUE(looksLikeHeif(avif.data(), avif.size()));
    Bytes mp4 = ftypBox("isom", {"iso2", "mp41"});
    EXPECT_FALSE(looksLikeHeif(mp4.data(), mp4.size()));
    // A brand after the end of the ftyp box does not count; nor does a box shorter than its header.
    Bytes shortBox = ftypBox("isom", {"mp41"});
    const std::string_view heic = "heic";
    shortBox.insert(shortBox.end(), heic.begin(), heic.end());
    EXPECT_FALSE(looksLikeHeif(shortBox.data(), shortBox.size()));
    Bytes tooShort = ftypBox("heic", {});
    putBigEndian32(tooShort, 0, 12);
    EXPECT_FALSE(looksLikeHeif(tooShort.data(), tooShort.size()));
    EXPECT_FALSE(looksLikeHeif(mif1.data(), 15));
    EXPECT_FALSE(looksLikeHeif(nullptr, 64));
}

// A damaged AVIF found by the fuzzer: libheif reports an error for its colour tag yet hands over a
// profile, which must still be freed (the sanitizer build checks that nothing leaks).
TEST(HeifDecoder, AnErrorThatComesWithAProfileLeaksNothing) {
    const std::string bytes(
        "\x00\x00\x00\x1c\x66\x74\x79\x70\x61\x76\x69\x66\x00\x00\x00\x00\x61\x76\x69\x66\x6d\x69\x66\x31"
        "\x6d\x69\x61\x66\x00\x00\x00\xea\x6d\x65\x74\x61\x00\x00\x00\x00\x00\x00\x00\x21\x68\x64\x6c\x72"
        "\x00\x00\x00\x00\x00\x00\x00\x00\x70\x69\x63\x74\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x00\x0e\x70\x69\x74\x6d\x00\x00\x00\x00\x00\x01\x00\x00\x00\x22\x69\x6c\x6f\x63\x00"
        "\x00\x00\x00\x44\x40\x00\x01\x00\x01\x00\x00\x00\x00\x01\x0e\x00\x01\x00\x00\x00\x00\x00\x00\x00"
        "\x44\x00\x00\x00\x23\x69\x69\x6e\x66\x00\x00\x00\x00\x00\x01\x00\x00\x00\x15\x69\x6e\x66\x65\x02"
        "\x00\x00\x00\x00\x01\x00\x00\x61\x76\x30\x31\x00\x00\x00\x00\x6a\x69\x70\x72\x70\x00\x00\x00\x4b"
        "\x69\x70\x63\x6f\x00\x00\x00\x13\x63\x6f\x6c\x72\x6e\x63\x6c\x78\x00\x02\x00\x00\x06\x02\x80\x00"
        "\x00\x00\x0c\x61\x76\x31\x43\x81\x00\x0c\x00\x00\x00\x00\x14\x69\x73\x70\x65\x00\x00\x00\x00\x00"
        "\x00\x00\x18\x00\x00\x00\x12\x00\x00\x00\x10\x70\x69\x78\x69\x00\x00\x00\x00\x03\x08\x08\x08\x00"
        "\x00\x00\x17\x69\x70\x6d\x61\x00\x00\x00\x00\x00\x00\x00\x01\x00\x01\x04\x81\x82\x03\x84\x00\x00"
        "\x00\x4c\x6d\x64\x61\x74\x12\x00\x0a\x09\x18\x11\x2f\x16\x08\x10\x10\x34\x20\x32\x35\x46\x00\x02"
        "\x8a\x28\xa1\x40\xc8\x15\x9b\x68\xd9\xd7\x4b\x7c\xbd\xa3\xc3\x92\x94\xcb\x83\x9c\x9f\x38\x02\x14"
        "\x49\x7b\x24\xc1\x7b\xb9\xe6\x6f\x1e\xed\x07\x9c\x78\xa1\x38\xac\x51\x89\xf1\x33\x60\x77\x28\x30"
        "\x07\x2c",
        338);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_TRUE(looksLikeHeif(data, bytes.size()));
    decodeHeif(data, bytes.size(), std::int64_t{1} << 26);
    heifUprightSize(data, bytes.size());
}

// A damaged HEIC found by the fuzzer: a 28 x 18 grid image whose grid header asks for a canvas of
// 11032 x 64017 (over 2 GB of pixels). It is refused without the canvas ever being allocated.
TEST(HeifDecoder, AGridHeaderClaimingAHugeCanvasIsRefused) {
    const std::string bytes(
        "\x00\x00\x00\x1c\x66\x74\x79\x70\x68\x65\x69\x63\x00\x00\x00\x00\x6d\x69\x66\x31\x68\x65\x69\x63"
        "\x6d\x69\x61\x66\x00\x00\x01\xad\x6d\x65\x74\x61\x00\x00\x00\x00\x00\x00\x00\x21\x68\x64\x6c\x72"
        "\x00\x00\x00\x00\x00\x00\x00\x00\x70\x69\x63\x74\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
        "\x00\x00\x00\x00\x0e\x70\x69\x74\x6d\x00\x00\x00\x00\x00\x02\x00\x00\x00\x10\x69\x64\x61\x74\x00"
        "\x00\x00\x00\x2b\x18\xfa\x11\x00\x00\x00\x38\x69\x6c\x6f\x63\x01\x00\x00\x00\x44\x40\x00\x02\x00"
        "\x01\x00\x00\x00\x00\x00\x00\x01\xd1\x00\x01\x00\x00\x00\x00\x00\x00\x00\xd0\x00\x02\x00\x01\x00"
        "\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x08\x00\x00\x00\x38\x69\x69\x6e\x66\x00"
        "\x00\x00\x00\x00\x02\x00\x00\x00\x15\x69\x6e\x66\x65\x02\x00\x00\x01\x00\x01\x00\x00\x68\x76\x63"
        "\x31\x00\x00\x00\x00\x15\x69\x6e\x66\x65\x02\x00\x00\x00\x00\x02\x00\x00\x67\x72\x69\x64\x00\x00"
        "\x00\x00\xd8\x69\x70\x72\x70\x00\x00\x00\xb6\x69\x70\x63\x6f\x00\x00\x00\x76\x68\x76\x63\x43\x01"
        "\x03\x70\x00\x00\x00\x00\x00\x00\x00\x00\x00\x1e\xf0\x00\xfc\xfd\xf8\xf8\x00\x00\x0f\x03\x20\x00"
        "\x01\x00\x18\x40\x01\x0c\x01\xff\xff\x03\x70\x00\x00\x03\x00\x90\x00\x00\x03\x00\x00\x03\x00\x1e"
        "\xba\x02\x40\x21\x00\x01\x00\x2a\x42\x01\x01\x03\x70\x00\x00\x03\x00\x90\x00\x00\x03\x00\x00\x03"
        "\x00\x1e\xa0\x20\x81\x05\x96\xea\xae\x9a\xe6\xe0\x40\x40\xc0\x80\x00\x00\x03\x00\x80\x00\x00\x03"
        "\x00\x84\x22\x00\x01\x00\x06\x44\x01\xc1\x73\xc1\x89\x00\x00\x00\x14\x69\x73\x70\x65\x00\x00\x00"
        "\x00\x00\x00\x00\x40\x00\x00\x00\x40\x00\x00\x00\x14\x69\x73\x70\x65\x00\x00\x00\x00\x00\x00\x00"
        "\x1c\x00\x00\x00\x12\x00\x00\x00\x10\x70\x69\x78\x69\x00\x00\x00\x00\x03\x08\x08\x08\x00\x00\x00"
        "\x1a\x69\x70\x6d\x61\x00\x00\x00\x00\x00\x00\x00\x02\x00\x01\x02\x81\x02\x00\x02\x02\x03\x84\x00"
        "\x00\x00\x1a\x69\x72\x65\x66\x00\x00\x00\x00\x00\x00\x00\x0e\x64\x69\x6d\x67\x00\x02\x00\x01\x00"
        "\x01\x00\x00\x00\xd8\x6d\x64\x61\x74\x00\x00\x00\xcc\x28\x01\xaf\x13\x20\x88\x92\x20\xf8\xda\xb2"
        "\x51\xaf\xd3\xc1\x08\x25\x73\x9e\x5f\x07\x9e\xc0\x4c\x56\x7a\xa1\x4f\x4e\xc9\x7a\x00\xea\x3b\xea"
        "\xe8\x2f\x43\x8e\x68\x45\x8f\xf3\xf0\x62\x97\x54\x80\xdc\x08\x80\x38\xef\xbe\x49\x76\xa6\xfd\x7f"
        "\x7e\x87\xaf\x2d\x29\xe0\xaa\x7f\x27\x18\xf8\xb8\x73\xda\x35\x50\x07\x4f\x78\xd6\x82\x5f\x91\x4d"
        "\x80\xbe\xdc\xac\xa3\xfa\xd8\x06\x39\x62\xe7\x3b\x00\x00\x00\xb5\x9e\xb0\xa3\x49\xcd\xc3\xf2\x56"
        "\x41\x41\xa5\x7d\xc4\x51\xfe\x7e\xfe\xeb\x6c\xba\xa6\xc8\xdf\xb2\x2a\xdb\x91\xe2\x84\xb9\x27\x31"
        "\x84\x07\x98\xa7\xeb\xe1\x8c\x85\x92\xbd\x37\xdb\x57\x62\xe7\x5c\x1c\xf8\x4b\xb5\x9e\xb0\xa3\x49"
        "\xcd\xc3\xf2\x56\x41\x41\xa5\x7d\xc4\x51\xfe\x3e\xfe\xeb\x6c\xba\xa6\xc8\xdf\xb2\x49\xfa\xf0\xa8"
        "\x28\xcd\x60\x67\x21\xb3\x84\xda\xdf\xfa\x23\xdc\xd3\x7e\xe6\x40\xd5\xd7\x42\xd9\xae\xb5\xad\x8b"
        "\xd4",
        673);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    ASSERT_TRUE(looksLikeHeif(data, bytes.size()));
    EXPECT_TRUE(decodeHeif(data, bytes.size(), std::int64_t{1} << 26).isNull());
}

}  // namespace
}  // namespace kestrelle
