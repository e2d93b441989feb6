#include "render/exif_reader.h"

#include <array>
#include <cstring>

namespace kestrelle {

namespace {

constexpr std::uint8_t kExifSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::size_t kTiffHeaderBytes = 8;
constexpr std::size_t kEntryBytes = 12;
// Entries looked at over all IFDs together: real photos carry well under a hundred in the IFDs read
// here, and the bound keeps a hostile block from costing more than a few microseconds.
constexpr int kMaxEntries = 400;
// IFDs read: IFD0, IFD1, the EXIF IFD and the Interoperability IFD.
constexpr int kMaxIfds = 4;

constexpr std::uint16_t kTagInteroperabilityIndex = 0x0001;
constexpr std::uint16_t kTagOrientation = 0x0112;
constexpr std::uint16_t kTagThumbnailOffset = 0x0201;
constexpr std::uint16_t kTagThumbnailLength = 0x0202;
constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagInteropIfd = 0xA005;

constexpr std::uint16_t kTypeAscii = 2;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

// The TIFF structure inside the block: every read is checked against its size.
class TiffView {
public:
    TiffView(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    std::size_t size() const { return size_; }
    const std::uint8_t* at(std::size_t offset) const { return data_ + offset; }

    bool fits(std::size_t offset, std::size_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    std::uint16_t u16(std::size_t offset) const {
        const std::uint8_t* p = data_ + offset;
        return bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                          : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
    }
    std::uint32_t u32(std::size_t offset) const {
        const std::uint8_t* p = data_ + offset;
        return bigEndian_
                   ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
                   : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 |
                      p[0]);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool bigEndian_;
};

// One 12-byte IFD entry.
struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::uint32_t count = 0;
    std::size_t valueField = 0;  // offset of the 4-byte value (or value offset) field
};

// A single integer value of type SHORT or LONG, or nothing.
std::optional<std::uint32_t> integerValue(const TiffView& tiff, const Entry& entry) {
    if (entry.count != 1) return std::nullopt;
    if (entry.type == kTypeShort) return tiff.u16(entry.valueField);
    if (entry.type == kTypeLong) return tiff.u32(entry.valueField);
    return std::nullopt;
}

// Walks the IFDs reachable from IFD0, remembering which ones were read so that none is read twice.
class IfdWalker {
public:
    explicit IfdWalker(const TiffView& tiff) : tiff_(tiff) {}

    // Reads the IFD at `offset`, calling `visit` for each entry. Returns the offset of the next IFD
    // in the chain (0 for none, or when the entry budget ran out), or nothing when the IFD lies
    // outside the block or was read already.
    template <typename Visit>
    std::optional<std::uint32_t> read(std::uint32_t offset, Visit&& visit) {
        if (offset < kTiffHeaderBytes || !tiff_.fits(offset, 2) || visitedCount_ >= kMaxIfds) {
            return std::nullopt;
        }
        for (int i = 0; i < visitedCount_; ++i) {
            if (visited_[static_cast<std::size_t>(i)] == offset) return std::nullopt;
        }
        visited_[static_cast<std::size_t>(visitedCount_++)] = offset;

        const std::size_t count = tiff_.u16(offset);
        const std::size_t first = std::size_t{offset} + 2;
        if (!tiff_.fits(first, count * kEntryBytes)) return std::nullopt;
        for (std::size_t i = 0; i < count; ++i) {
            // Past the budget the walk ends, keeping what was read.
            if (entriesLeft_ <= 0) return 0u;
            --entriesLeft_;
            const std::size_t at = first + i * kEntryBytes;
            visit(Entry{tiff_.u16(at), tiff_.u16(at + 2), tiff_.u32(at + 4), at + 8});
        }
        const std::size_t nextField = first + count * kEntryBytes;
        return tiff_.fits(nextField, 4) ? tiff_.u32(nextField) : 0u;
    }

private:
    const TiffView& tiff_;
    std::array<std::uint32_t, kMaxIfds> visited_{};
    int visitedCount_ = 0;
    int entriesLeft_ = kMaxEntries;
};

}  // namespace

std::optional<ExifFacts> readExif(const std::uint8_t* payload, std::size_t size) {
    if (payload == nullptr || size < sizeof kExifSignature + kTiffHeaderBytes ||
        std::memcmp(payload, kExifSignature, sizeof kExifSignature) != 0) {
        return std::nullopt;
    }
    const std::uint8_t* header = payload + sizeof kExifSignature;
    const std::size_t tiffSize = size - sizeof kExifSignature;
    bool bigEndian = false;
    if (header[0] == 'I' && header[1] == 'I') {
        bigEndian = false;
    } else if (header[0] == 'M' && header[1] == 'M') {
        bigEndian = true;
    } else {
        return std::nullopt;
    }
    const TiffView tiff(header, tiffSize, bigEndian);
    if (tiff.u16(2) != 42) return std::nullopt;

    ExifFacts facts;
    IfdWalker walker(tiff);
    std::uint32_t exifIfd = 0;
    const std::optional<std::uint32_t> ifd1 = walker.read(tiff.u32(4), [&](const Entry& entry) {
        if (entry.tag == kTagOrientation) {
            const std::optional<std::uint32_t> value = integerValue(tiff, entry);
            if (value && *value >= 1 && *value <= 8) facts.orientation = static_cast<int>(*value);
        } else if (entry.tag == kTagExifIfd) {
            exifIfd = integerValue(tiff, entry).value_or(0);
        }
    });
    if (!ifd1) return std::nullopt;

    if (*ifd1 != 0) {
        std::uint32_t offset = 0;
        std::uint32_t length = 0;
        walker.read(*ifd1, [&](const Entry& entry) {
            if (entry.tag == kTagThumbnailOffset) {
                offset = integerValue(tiff, entry).value_or(0);
            } else if (entry.tag == kTagThumbnailLength) {
                length = integerValue(tiff, entry).value_or(0);
            }
        });
        // Past the TIFF header, non-empty and wholly inside the block, or not at all.
        if (offset >= kTiffHeaderBytes && length > 0 && tiff.fits(offset, length)) {
            facts.thumbnailOffset = offset;
            facts.thumbnailLength = length;
        }
    }

    if (exifIfd != 0) {
        std::uint32_t interopIfd = 0;
        walker.read(exifIfd, [&](const Entry& entry) {
            if (entry.tag == kTagInteropIfd) interopIfd = integerValue(tiff, entry).value_or(0);
        });
        if (interopIfd != 0) {
            walker.read(interopIfd, [&](const Entry& entry) {
                // "R03" with its terminating zero fits the 4-byte value field itself.
                if (entry.tag == kTagInteroperabilityIndex && entry.type == kTypeAscii && entry.count >= 3 &&
                    entry.count <= 4) {
                    facts.adobeRgbInterop = std::memcmp(tiff.at(entry.valueField), "R03", 3) == 0;
                }
            });
        }
    }
    return facts;
}

}  // namespace kestrelle
