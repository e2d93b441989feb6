#include "render/jpeg_decoder.h"

#include "render/jpeg_markers.h"
#include "render/jpeg_parallel.h"
#include "render/loading_threads.h"

#include <QColorSpace>
#include <QTransform>
#include <QtEndian>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace kestrelle {

namespace {

constexpr std::uint8_t kMarkerSoi = 0xD8;
constexpr std::uint8_t kMarkerSos = 0xDA;
constexpr std::uint8_t kMarkerApp1 = 0xE1;
constexpr std::uint8_t kMarkerApp2 = 0xE2;
constexpr std::uint8_t kMarkerApp14 = 0xEE;

constexpr char kExifSignature[] = "Exif\0";  // with the terminating zero: "Exif\0\0"
constexpr std::size_t kExifSignatureBytes = 6;
constexpr char kIccSignature[] = "ICC_PROFILE";  // with the terminating zero: 12 bytes
constexpr std::size_t kIccSignatureBytes = 12;
constexpr std::size_t kIccHeaderBytes = 128;
constexpr char kAdobeSignature[] = "Adobe";
constexpr std::size_t kAdobePayloadBytes = 12;

// An EXIF thumbnail lives in one APP1 block (under 64 KB); a frame header claiming more pixels than
// this is not a thumbnail worth decoding.
constexpr std::int64_t kMaxThumbnailPixels = std::int64_t{1} << 22;

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

bool startsWith(const std::uint8_t* payload, std::size_t size, const char* signature, std::size_t length) {
    return size >= length && std::memcmp(payload, signature, length) == 0;
}

// Start-of-frame markers: C0 to CF except DHT (C4), JPG (C8) and DAC (CC).
bool isFrameMarker(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool isProgressiveFrame(std::uint8_t marker) {
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

// The bytes libjpeg's whole-picture coefficient buffer takes: each component's blocks (padded to its
// sampling factors, as libjpeg pads them) at 64 coefficients of 2 bytes. Nothing for a frame header
// that libjpeg refuses anyway (sampling factors outside 1..4).
std::optional<std::int64_t> coefficientBytes(const std::uint8_t* frame, std::size_t size) {
    const std::int64_t height = bigEndian16(frame + 1);
    const std::int64_t width = bigEndian16(frame + 3);
    const int count = frame[5];
    if (size < 6 + 3 * static_cast<std::size_t>(count)) return std::nullopt;
    int maxH = 1;
    int maxV = 1;
    for (int i = 0; i < count; ++i) {
        const int h = frame[6 + 3 * i + 1] >> 4;
        const int v = frame[6 + 3 * i + 1] & 0x0F;
        if (h < 1 || h > 4 || v < 1 || v > 4) return std::nullopt;
        maxH = std::max(maxH, h);
        maxV = std::max(maxV, v);
    }
    const auto ceilDiv = [](std::int64_t a, std::int64_t b) { return (a + b - 1) / b; };
    std::int64_t total = 0;
    for (int i = 0; i < count; ++i) {
        const int h = frame[6 + 3 * i + 1] >> 4;
        const int v = frame[6 + 3 * i + 1] & 0x0F;
        const std::int64_t blocksWide = ceilDiv(ceilDiv(width * h, maxH), 8);
        const std::int64_t blocksHigh = ceilDiv(ceilDiv(height * v, maxV), 8);
        total += ceilDiv(blocksWide, h) * h * ceilDiv(blocksHigh, v) * v * 64 * 2;
    }
    return total;
}

struct IccChunk {
    int sequence = 0;
    int count = 0;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The profile from its chunks, or empty when they do not make exactly one complete profile of at
// most kMaxIccProfileBytes whose header does not claim more than the chunks hold.
QByteArray assembleIccProfile(const std::vector<IccChunk>& chunks) {
    if (chunks.empty()) return {};
    const int count = chunks.front().count;
    if (count < 1 || static_cast<std::size_t>(count) != chunks.size()) return {};
    std::array<const IccChunk*, 256> bySequence{};
    std::size_t total = 0;
    for (const IccChunk& chunk : chunks) {
        if (chunk.count != count || chunk.sequence < 1 || chunk.sequence > count ||
            bySequence[static_cast<std::size_t>(chunk.sequence)] != nullptr) {
            return {};
        }
        bySequence[static_cast<std::size_t>(chunk.sequence)] = &chunk;
        total += chunk.size;
        if (total > JpegFacts::kMaxIccProfileBytes) return {};
    }
    if (total < kIccHeaderBytes) return {};
    QByteArray profile;
    profile.reserve(static_cast<qsizetype>(total));
    for (int sequence = 1; sequence <= count; ++sequence) {
        const IccChunk& chunk = *bySequence[static_cast<std::size_t>(sequence)];
        profile.append(reinterpret_cast<const char*>(chunk.data), static_cast<qsizetype>(chunk.size));
    }
    const std::uint32_t claimed = qFromBigEndian<std::uint32_t>(profile.constData());
    if (claimed < kIccHeaderBytes || claimed > total) return {};
    return profile;
}

struct TurboJpegDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using TurboJpegHandle = std::unique_ptr<void, TurboJpegDeleter>;

// Whether libjpeg-turbo decodes at this scale with its SIMD code: 1/8, 1/4 and 1/2 (reduced inverse
// DCTs) and 1. The other M/8 run plain C inverse DCTs and colour conversion; measured with 2.1.5 on a
// 12 MP photo, 3/8 decodes slower than 1/2, and 5/8 to 7/8 slower than full size.
bool hasFastPath(const tjscalingfactor& factor) {
    if (factor.num <= 0 || factor.denom % factor.num != 0) return false;
    const int shrink = factor.denom / factor.num;
    return shrink == 1 || shrink == 2 || shrink == 4 || shrink == 8;
}

// The smallest scale of at most 1 whose scaled size still covers `cover` both ways (1/1 for an empty
// cover or one the photo does not reach), among the fast scales only when `fastOnly`.
tjscalingfactor coveringScale(int width, int height, QSize cover, bool fastOnly) {
    tjscalingfactor best{1, 1};
    if (cover.isEmpty()) return best;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor factor = factors[i];
        if (factor.num <= 0 || factor.denom <= 0 || factor.num > factor.denom) continue;
        if (fastOnly && !hasFastPath(factor)) continue;
        if (TJSCALED(width, factor) < cover.width() || TJSCALED(height, factor) < cover.height()) continue;
        if (factor.num * best.denom < best.num * factor.denom) best = factor;
    }
    return best;
}

std::int64_t scaledPixels(int width, int height, const tjscalingfactor& factor) {
    return static_cast<std::int64_t>(TJSCALED(width, factor)) * TJSCALED(height, factor);
}

// The scale to decode at as `choice` says, falling back to the smallest where the fast one would break
// the pixel bound; none where even that does.
std::optional<tjscalingfactor> chooseScale(int width, int height, QSize storedCover, JpegScale choice,
                                           std::int64_t maxDecodedPixels) {
    tjscalingfactor scale = coveringScale(width, height, storedCover, choice == JpegScale::Fastest);
    if (scaledPixels(width, height, scale) > maxDecodedPixels)
        scale = coveringScale(width, height, storedCover, false);
    if (scaledPixels(width, height, scale) > maxDecodedPixels) return std::nullopt;
    return scale;
}

// CMYK as libjpeg hands it over, turned into RGB32 in place (both take four bytes a pixel). Adobe's
// files store the ink inverted (0 is full ink); others store it as it is. No CMYK profile is applied:
// the ink is converted naively, which keeps the hues and is what most viewers show.
void convertCmykInPlace(QImage& image, bool inverted) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        const std::uint8_t* bytes = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* cmyk = bytes + 4 * x;
            // Each channel as how much light it lets through: 255 for no ink.
            std::uint32_t c = cmyk[0], m = cmyk[1], yellow = cmyk[2], k = cmyk[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yellow = 255 - yellow;
                k = 255 - k;
            }
            const std::uint32_t red = (c * k + 127) / 255;
            const std::uint32_t green = (m * k + 127) / 255;
            const std::uint32_t blue = (yellow * k + 127) / 255;
            row[x] = 0xFF000000u | red << 16 | green << 8 | blue;
        }
    }
}

// The picture as the EXIF orientation says it is to be shown.
QImage upright(QImage image, int orientation) {
    switch (orientation) {
        case 2:
            return image.mirrored(true, false);
        case 3:
            return image.mirrored(true, true);
        case 4:
            return image.mirrored(false, true);
        case 5:
            return image.transformed(QTransform().rotate(90)).mirrored(true, false);
        case 6:
            return image.transformed(QTransform().rotate(90));
        case 7:
            return image.transformed(QTransform().rotate(90)).mirrored(false, true);
        case 8:
            return image.transformed(QTransform().rotate(270));
        default:
            return image;
    }
}

bool isQuarterTurn(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The colour space the photo's pixels are in: an embedded RGB profile Qt can read, else Adobe RGB for
// an EXIF "R03" without a profile, else none (sRGB). Profiles of CMYK files describe the ink, not the
// RGB made from it here, and are left aside.
QColorSpace photoColourSpace(const JpegFacts& facts, bool cmyk) {
    if (cmyk) return {};
    if (!facts.iccProfile.isEmpty()) {
        QColorSpace space = QColorSpace::fromIccProfile(facts.iccProfile);
        return space.isValid() ? space : QColorSpace();
    }
    if (facts.exif && facts.exif->adobeRgbInterop) return QColorSpace(QColorSpace::AdobeRgb);
    return {};
}

bool isCmyk(int colourspace) {
    return colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
}

// Below this many decoded pixels a second thread costs more than it saves (thumbnails, previews).
constexpr std::int64_t kMinPixelsForTwoCores = std::int64_t{1} << 20;

// A large sequential JPEG decoded on two cores: its Huffman codes decoded from the middle as well as
// from the start (after the restart marker nearest the middle where it has them), then its rows made by
// both threads (render/jpeg_parallel.h).
bool decodeOnTwoCores(QImage& picture, const std::uint8_t* bytes, std::size_t size,
                      const tjscalingfactor& scale, int pixelFormat) {
    if (!photoLoadingMayUseTwoThreads()) return false;
    const PixelRows rows{picture.bits(), picture.width(), picture.height(), picture.bytesPerLine()};
    return decodeJpegOnTwoThreads(bytes, size, scale.num, scale.denom, pixelFormat == TJPF_BGRX, rows);
}

// What both decoders share: `facts` are those of the JPEG in `bytes`; `orientation` and `colourSpace`
// come from the photo (the thumbnail takes them from its photo, not from itself).
// `picture`'s memory is reused when it already has the decoded size and format and is not shared.
bool decodeScaled(QImage& picture, const std::uint8_t* bytes, std::size_t size, const JpegFacts& facts,
                  QSize cover, std::int64_t maxDecodedPixels, JpegScale choice, int orientation,
                  const QColorSpace* colourSpace, QSize* uprightSize) {
    TurboJpegHandle handle(tjInitDecompress());
    if (!handle) return false;
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), bytes, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0) {
        return false;
    }
    const bool quarterTurn = isQuarterTurn(orientation);
    if (uprightSize) *uprightSize = quarterTurn ? QSize(height, width) : QSize(width, height);

    // Every size below is checked before the picture is allocated.
    const QSize storedCover = quarterTurn ? cover.transposed() : cover;
    const std::optional<tjscalingfactor> chosen =
        chooseScale(width, height, storedCover, choice, maxDecodedPixels);
    if (!chosen) return false;
    const tjscalingfactor scale = *chosen;
    const int scaledWidth = TJSCALED(width, scale);
    const int scaledHeight = TJSCALED(height, scale);
    if (facts.multiScan && facts.coefficientBytes > kMaxJpegCoefficientBytes) return false;

    const bool cmyk = isCmyk(colourspace);
    if (picture.size() != QSize(scaledWidth, scaledHeight) || picture.format() != QImage::Format_RGB32 ||
        !picture.isDetached()) {
        picture = QImage();  // the old memory goes before the new is taken
        picture = QImage(scaledWidth, scaledHeight, QImage::Format_RGB32);
        if (picture.isNull()) return false;
    }
    picture.setColorSpace(QColorSpace());
    QImage& image = picture;
    // RGB32 is 0xffRRGGBB in native order; libjpeg-turbo fills the X byte with 0xFF.
    const int pixelFormat =
        cmyk ? TJPF_CMYK : (QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB);
    // A hostile progressive file can hold any number of scans; libjpeg-turbo stops at 500.
    const int flags = TJFLAG_LIMITSCANS;
    const bool onTwoCores = !cmyk && !facts.multiScan &&
                            scaledPixels(width, height, scale) >= kMinPixelsForTwoCores &&
                            decodeOnTwoCores(image, bytes, size, scale, pixelFormat);
    if (!onTwoCores &&
        tjDecompress2(handle.get(), bytes, static_cast<unsigned long>(size), image.bits(), scaledWidth,
                      static_cast<int>(image.bytesPerLine()), scaledHeight, pixelFormat, flags) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        return false;
    }
    if (cmyk) convertCmykInPlace(image, facts.adobeMarker);

    if (orientation != 1) {
        image = upright(std::move(image), orientation);
        if (image.isNull()) return false;
    }
    const QColorSpace space = colourSpace ? *colourSpace : photoColourSpace(facts, cmyk);
    if (space.isValid()) image.setColorSpace(space);
    return true;
}

}  // namespace

std::optional<JpegFacts> readJpegFacts(const std::uint8_t* bytes, std::size_t size) {
    if (bytes == nullptr || size < 4 || bytes[0] != 0xFF || bytes[1] != kMarkerSoi) return std::nullopt;
    JpegFacts facts;
    bool sawFrame = false;
    std::vector<IccChunk> iccChunks;
    bool iccBroken = false;
    JpegMarkerReader reader(bytes, size);
    while (true) {
        if (!reader.next()) return std::nullopt;
        const std::uint8_t marker = reader.marker();
        const std::uint8_t* payload = reader.payload();
        const std::size_t payloadSize = reader.payloadSize();

        if (isFrameMarker(marker) && !sawFrame) {
            if (payloadSize < 6) return std::nullopt;
            facts.height = bigEndian16(payload + 1);
            facts.width = bigEndian16(payload + 3);
            facts.components = payload[5];
            const std::optional<std::int64_t> coefficients = coefficientBytes(payload, payloadSize);
            if (!coefficients || facts.width == 0 || facts.height == 0 || facts.components == 0) {
                return std::nullopt;
            }
            facts.coefficientBytes = *coefficients;
            facts.multiScan = isProgressiveFrame(marker);
            sawFrame = true;
        } else if (marker == kMarkerSos) {
            if (!sawFrame || payloadSize < 1) return std::nullopt;
            facts.multiScan = facts.multiScan || payload[0] < facts.components;
            if (!facts.multiScan) facts.coefficientBytes = 0;
            break;
        } else if (marker == kMarkerApp1 && !facts.exif &&
                   startsWith(payload, payloadSize, kExifSignature, kExifSignatureBytes)) {
            facts.exif = readExif(payload, payloadSize);
            if (facts.exif)
                facts.exifTiffOffset = static_cast<std::size_t>(payload - bytes) + kExifSignatureBytes;
        } else if (marker == kMarkerApp2 &&
                   startsWith(payload, payloadSize, kIccSignature, kIccSignatureBytes)) {
            // At most 255 chunks (the sequence number is one byte); more means repeated ones.
            if (payloadSize < kIccSignatureBytes + 2 || iccChunks.size() >= 255) {
                iccBroken = true;
            } else {
                iccChunks.push_back(IccChunk{payload[kIccSignatureBytes], payload[kIccSignatureBytes + 1],
                                             payload + kIccSignatureBytes + 2,
                                             payloadSize - kIccSignatureBytes - 2});
            }
        } else if (marker == kMarkerApp14 && startsWith(payload, payloadSize, kAdobeSignature, 5) &&
                   payloadSize >= kAdobePayloadBytes) {
            facts.adobeMarker = true;
            facts.adobeTransform = payload[11];
        }
    }
    if (!iccBroken) facts.iccProfile = assembleIccProfile(iccChunks);
    return facts;
}

bool decodeJpegInto(QImage& picture, const std::uint8_t* bytes, std::size_t size, QSize cover,
                    std::int64_t maxDecodedPixels, QSize* uprightSize, JpegScale scale) {
    if (uprightSize) *uprightSize = QSize();
    const std::optional<JpegFacts> facts = readJpegFacts(bytes, size);
    if (!facts) return false;
    const int orientation = facts->exif ? facts->exif->orientation : 1;
    return decodeScaled(picture, bytes, size, *facts, cover, maxDecodedPixels, scale, orientation, nullptr,
                        uprightSize);
}

QImage decodeJpeg(const std::uint8_t* bytes, std::size_t size, QSize cover, std::int64_t maxDecodedPixels,
                  QSize* uprightSize, JpegScale scale) {
    QImage picture;
    if (!decodeJpegInto(picture, bytes, size, cover, maxDecodedPixels, uprightSize, scale)) return {};
    return picture;
}

bool decodeJpegRows(const std::uint8_t* bytes, std::size_t size, QSize cover, std::int64_t maxDecodedPixels,
                    const std::function<bool(QSize)>& start, const JpegRowSink& sink) {
    if (!photoLoadingMayUseTwoThreads()) return false;
    const std::optional<JpegFacts> facts = readJpegFacts(bytes, size);
    if (!facts || facts->multiScan || (facts->components != 1 && facts->components != 3)) return false;
    if (facts->exif && facts->exif->orientation != 1) return false;
    const QColorSpace space = photoColourSpace(*facts, false);
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) return false;
    const std::optional<tjscalingfactor> chosen =
        chooseScale(facts->width, facts->height, cover, JpegScale::Fastest, maxDecodedPixels);
    if (!chosen || scaledPixels(facts->width, facts->height, *chosen) < kMinPixelsForTwoCores) return false;
    const tjscalingfactor scale = *chosen;
    const QSize decoded(TJSCALED(facts->width, scale), TJSCALED(facts->height, scale));
    if (!start(decoded)) return false;
    const bool bgrx = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    return decodeJpegOnTwoThreads(bytes, size, scale.num, scale.denom, bgrx, decoded.width(),
                                  decoded.height(), sink);
}

QImage decodeExifThumbnail(const std::uint8_t* bytes, std::size_t size, QSize cover) {
    const std::optional<JpegFacts> photo = readJpegFacts(bytes, size);
    if (!photo || !photo->exif || photo->exif->thumbnailLength == 0) return {};
    // readExif only reports a thumbnail lying inside the block, and the block lies inside `bytes`.
    const std::uint8_t* thumbnail = bytes + photo->exifTiffOffset + photo->exif->thumbnailOffset;
    const std::size_t thumbnailSize = photo->exif->thumbnailLength;
    const std::optional<JpegFacts> facts = readJpegFacts(thumbnail, thumbnailSize);
    if (!facts) return {};

    // The same shape as the photo, to within one thumbnail pixel each way:
    // |tw * H - th * W| <= min(W, H).
    const std::int64_t difference =
        std::int64_t{facts->width} * photo->height - std::int64_t{facts->height} * photo->width;
    if (std::abs(difference) > std::min(photo->width, photo->height)) return {};
    if (std::int64_t{facts->width} * facts->height > kMaxThumbnailPixels) return {};

    const int orientation = photo->exif->orientation;
    const QSize thumbnailUpright =
        isQuarterTurn(orientation) ? QSize(facts->height, facts->width) : QSize(facts->width, facts->height);
    if (thumbnailUpright.width() < cover.width() || thumbnailUpright.height() < cover.height()) return {};

    const QColorSpace space = photoColourSpace(*photo, photo->components == 4);
    QImage picture;
    if (!decodeScaled(picture, thumbnail, thumbnailSize, *facts, cover, kMaxThumbnailPixels,
                      JpegScale::Smallest, orientation, &space, nullptr)) {
        return {};
    }
    return picture;
}

}  // namespace kestrelle
