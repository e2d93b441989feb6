#include "render/exif_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace kestrelle {
namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kAscii = 2;

// One IFD entry: an integer value, four bytes of text, or a pointer to another IFD of the block.
struct Field {
    std::uint16_t tag = 0;
    std::uint16_t type = kShort;
    std::uint32_t count = 1;
    std::uint32_t value = 0;
    int pointsToIfd = -1;
    std::array<char, 4> text{};
};

struct Ifd {
    std::vector<Field> fields;
    int next = -1;  // index of the next IFD in the chain, -1 for none
};

// An APP1 payload: "Exif\0\0", a TIFF header in the chosen byte order, the IFDs one after another
// (IFD0 first) and `trailerBytes` zero bytes after them, where a thumbnail would go.
class ExifBlock {
public:
    ExifBlock(bool bigEndian, std::vector<Ifd> ifds, std::size_t trailerBytes = 0)
        : bigEndian_(bigEndian), ifds_(std::move(ifds)) {
        std::uint32_t offset = 8;
        for (const Ifd& ifd : ifds_) {
            ifdOffsets_.push_back(offset);
            offset += static_cast<std::uint32_t>(2 + 12 * ifd.fields.size() + 4);
        }
        trailerOffset_ = offset;
        tiff_.assign(offset + trailerBytes, 0);
        const char order = bigEndian_ ? 'M' : 'I';
        tiff_[0] = tiff_[1] = static_cast<std::uint8_t>(order);
        put16(2, 42);
        put32(4, ifdOffsets_.empty() ? 0 : ifdOffsets_[0]);
        for (std::size_t i = 0; i < ifds_.size(); ++i) {
            std::size_t at = ifdOffsets_[i];
            put16(at, static_cast<std::uint16_t>(ifds_[i].fields.size()));
            at += 2;
            for (const Field& field : ifds_[i].fields) {
                put16(at, field.tag);
                put16(at + 2, field.type);
                put32(at + 4, field.count);
                if (field.pointsToIfd >= 0) {
                    put32(at + 8, ifdOffsets_[static_cast<std::size_t>(field.pointsToIfd)]);
                } else if (field.type == kAscii) {
                    for (std::size_t k = 0; k < 4; ++k)
                        tiff_[at + 8 + k] = static_cast<std::uint8_t>(field.text[k]);
                } else if (field.type == kShort) {
                    put16(at + 8, static_cast<std::uint16_t>(field.value));
                } else {
                    put32(at + 8, field.value);
                }
                at += 12;
            }
            put32(at, ifds_[i].next >= 0 ? ifdOffsets_[static_cast<std::size_t>(ifds_[i].next)] : 0);
        }
    }

    std::vector<std::uint8_t> payload() const {
        std::vector<std::uint8_t> bytes{'E', 'x', 'i', 'f', 0, 0};
        bytes.insert(bytes.end(), tiff_.begin(), tiff_.end());
        return bytes;
    }
    std::uint32_t trailerOffset() const { return trailerOffset_; }
    std::uint32_t ifdOffset(std::size_t index) const { return ifdOffsets_[index]; }
    // Overwrites TIFF bytes (offsets relative to the TIFF header) to make the block lie.
    void put16(std::size_t at, std::uint16_t v) {
        if (bigEndian_) {
            tiff_[at] = static_cast<std::uint8_t>(v >> 8);
            tiff_[at + 1] = static_cast<std::uint8_t>(v);
        } else {
            tiff_[at] = static_cast<std::uint8_t>(v);
            tiff_[at + 1] = static_cast<std::uint8_t>(v >> 8);
        }
    }
    void put32(std::size_t at, std::uint32_t v) {
        if (bigEndian_) {
            put16(at, static_cast<std::uint16_t>(v >> 16));
            put16(at + 2, static_cast<std::uint16_t>(v));
        } else {
            put16(at, static_cast<std::uint16_t>(v));
            put16(at + 2, static_cast<std::uint16_t>(v >> 16));
        }
    }

private:
    bool bigEndian_;
    std::vector<Ifd> ifds_;
    std::vector<std::uint32_t> ifdOffsets_;
    std::uint32_t trailerOffset_ = 0;
    std::vector<std::uint8_t> tiff_;
};

std::optional<ExifFacts> read(const std::vector<std::uint8_t>& payload) {
    return readExif(payload.data(), payload.size());
}

// A camera-like block: IFD0 with the orientation and the EXIF IFD pointer, IFD1 with a thumbnail
// of `thumbnailBytes` in the trailer, the EXIF IFD pointing to an Interoperability IFD saying `index`.
ExifBlock cameraBlock(bool bigEndian, std::uint32_t orientation, const char (&index)[4],
                      std::uint32_t thumbnailBytes) {
    // The thumbnail offset is only known once the IFDs are laid out: build once to learn it.
    const auto ifds = [&](std::uint32_t thumbnailOffset) {
        Ifd ifd0{{Field{0x0112, kShort, 1, orientation}, Field{0x8769, kLong, 1, 0, 2}}, 1};
        Ifd ifd1{{Field{0x0201, kLong, 1, thumbnailOffset}, Field{0x0202, kLong, 1, thumbnailBytes}}};
        Ifd exifIfd{{Field{0xA005, kLong, 1, 0, 3}}};
        Field interop{0x0001, kAscii, 4};
        for (std::size_t k = 0; k < 4; ++k) interop.text[k] = index[k];
        return std::vector<Ifd>{ifd0, ifd1, exifIfd, Ifd{{interop}}};
    };
    const ExifBlock layout(bigEndian, ifds(0), thumbnailBytes);
    return ExifBlock(bigEndian, ifds(layout.trailerOffset()), thumbnailBytes);
}

TEST(ExifReaderTest, ReadsOrientationAdobeRgbAndThumbnailInBothByteOrders) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        const ExifBlock block = cameraBlock(bigEndian, 6, "R03", 500);
        const std::optional<ExifFacts> facts = read(block.payload());
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->orientation, 6);
        EXPECT_TRUE(facts->adobeRgbInterop);
        EXPECT_EQ(facts->thumbnailOffset, block.trailerOffset());
        EXPECT_EQ(facts->thumbnailLength, 500u);

        const std::optional<ExifFacts> srgb = read(cameraBlock(bigEndian, 8, "R98", 0).payload());
        ASSERT_TRUE(srgb);
        EXPECT_EQ(srgb->orientation, 8);
        EXPECT_FALSE(srgb->adobeRgbInterop);
        EXPECT_EQ(srgb->thumbnailLength, 0u);
    }
}

TEST(ExifReaderTest, FirstIfdOutsideTheBlockIsNoExif) {
    ASSERT_TRUE(read(cameraBlock(false, 6, "R03", 10).payload()));
    // IFD0 past the end, inside the TIFF header, or with more entries than the block holds.
    for (const std::uint32_t offset : {0xFFFFFFF0u, 2u}) {
        ExifBlock lying = cameraBlock(false, 6, "R03", 10);
        lying.put32(4, offset);
        EXPECT_FALSE(read(lying.payload())) << offset;
    }
    ExifBlock manyEntries = cameraBlock(true, 6, "R03", 10);
    manyEntries.put16(manyEntries.ifdOffset(0), 5000);
    EXPECT_FALSE(read(manyEntries.payload()));
}

TEST(ExifReaderTest, ThumbnailOnlyWhenWhollyInsideTheBlock) {
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        const auto blockFor = [&](std::uint32_t offset, std::uint32_t length) {
            Ifd ifd0{{Field{0x0112, kShort, 1, 3}}, 1};
            Ifd ifd1{{Field{0x0201, kLong, 1, offset}, Field{0x0202, kLong, 1, length}}};
            return ExifBlock(bigEndian, {ifd0, ifd1}, 300);
        };
        const auto thumbnailAt = [&](std::uint32_t offset, std::uint32_t length) {
            return read(blockFor(offset, length).payload());
        };
        const auto blockSize = static_cast<std::uint32_t>(blockFor(0, 0).payload().size() - 6);

        std::optional<ExifFacts> facts = thumbnailAt(200, 50);
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->thumbnailOffset, 200u);
        EXPECT_EQ(facts->thumbnailLength, 50u);
        facts = thumbnailAt(blockSize - 50, 50);  // ends exactly at the end
        ASSERT_TRUE(facts);
        EXPECT_EQ(facts->thumbnailLength, 50u);

        for (const auto& [offset, length] :
             std::vector<std::pair<std::uint32_t, std::uint32_t>>{{blockSize - 49, 50},
                                                                  {blockSize + 100, 10},
                                                                  {0xFFFFFFF0u, 0x20},  // wraps in 32 bits
                                                                  {200, 0xFFFFFFFFu},
                                                                  {0, 50},
                                                                  {4, 50},
                                                                  {200, 0}}) {
            facts = thumbnailAt(offset, length);
            ASSERT_TRUE(facts);
            EXPECT_EQ(facts->orientation, 3) << "still read for " << offset << "+" << length;
            EXPECT_EQ(facts->thumbnailOffset, 0u) << offset << "+" << length;
            EXPECT_EQ(facts->thumbnailLength, 0u) << offset << "+" << length;
        }
    }
}

TEST(ExifReaderTest, LoopsAndOverlongIfdsEndTheWalk) {
    // IFD1's chain points back to IFD0, the EXIF IFD to itself, IFD1 to IFD0 again.
    Ifd ifd0{{Field{0x0112, kShort, 1, 6}, Field{0x8769, kLong, 1, 0, 0}}, 0};
    std::optional<ExifFacts> facts = read(ExifBlock(true, {ifd0}).payload());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->orientation, 6);
    EXPECT_EQ(facts->thumbnailLength, 0u);

    Ifd loopIfd0{{Field{0x0112, kShort, 1, 7}, Field{0x8769, kLong, 1, 0, 2}}, 1};
    Ifd loopIfd1{{Field{0x0201, kLong, 1, 8}, Field{0x0202, kLong, 1, 4}}, 0};
    Ifd exifIfd{{Field{0xA005, kLong, 1, 0, 2}}};
    facts = read(ExifBlock(false, {loopIfd0, loopIfd1, exifIfd}).payload());
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->orientation, 7);
    EXPECT_FALSE(facts->adobeRgbInterop);

    // Only the first few hundred entries are looked at.
    const auto orientationAfter = [](int filler) {
        std::vector<Field> fields(static_cast<std::size_t>(filler), Field{0x9999, kShort, 1, 0});
        fields.push_back(Field{0x0112, kShort, 1, 8});
        const std::optional<ExifFacts> result = read(ExifBlock(false, {Ifd{fields}}).payload());
        return result ? result->orientation : -1;
    };
    EXPECT_EQ(orientationAfter(100), 8);
    EXPECT_EQ(orientationAfter(5000), 1);
}

TEST(ExifReaderTest, EveryTruncationAndRandomDamageIsHarmless) {
    const std::vector<std::uint8_t> good = cameraBlock(true, 6, "R03", 64).payload();
    for (std::size_t length = 0; length <= good.size(); ++length) {
        const std::vector<std::uint8_t> prefix(good.begin(),
                                               good.begin() + static_cast<std::ptrdiff_t>(length));
        const std::optional<ExifFacts> facts = read(prefix);
        if (facts) {
            // Whatever was read stays inside the shortened block.
            EXPECT_LE(facts->thumbnailOffset + facts->thumbnailLength, length - 6);
        }
    }
    std::mt19937 random(23);
    for (int round = 0; round < 5000; ++round) {
        std::vector<std::uint8_t> damaged = good;
        for (int k = 0; k < 4; ++k) {
            damaged[6 + random() % (damaged.size() - 6)] = static_cast<std::uint8_t>(random());
        }
        const std::optional<ExifFacts> facts = read(damaged);
        if (facts) {
            EXPECT_GE(facts->orientation, 1);
            EXPECT_LE(facts->orientation, 8);
            EXPECT_LE(facts->thumbnailOffset + facts->thumbnailLength, damaged.size() - 6);
        }
    }
}

}  // namespace
}  // namespace kestrelle
