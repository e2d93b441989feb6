// The byte-order helpers at the edges where hand-written versions go wrong: bytes of 0x80 and above in
// char buffers (sign extension), values at and above 2^31 and 2^32, and signed fields read back through
// their unsigned form. Also the two white-space classes, which must stay apart.

#include "base/byte_order.h"
#include "base/text.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

TEST(ByteOrder, ReadsEdgeValuesFromByteAndCharBuffers) {
    struct Case {
        std::string bytes;  // little-endian, 8 bytes
        std::uint64_t value;
    } cases[] = {
        {std::string(8, '\0'), 0},
        {std::string("\x7F\xFF\xFF\x7F\0\0\0\0", 8), 0x7FFFFF7Full},
        {std::string("\0\0\0\x80\0\0\0\0", 8), 0x80000000ull},  // 2^31: the top bit of a 32-bit field
        {std::string("\xFF\xFF\xFF\xFF\0\0\0\0", 8), 0xFFFFFFFFull},
        {std::string("\0\0\0\0\x01\0\0\0", 8), 0x100000000ull},  // 2^32: only the upper half set
        {std::string("\x01\x02\x03\x04\x05\x06\x07\x88", 8), 0x8807060504030201ull},
        {std::string(8, '\xFF'), 0xFFFFFFFFFFFFFFFFull},
    };
    for (const Case& c : cases) {
        const char* text = c.bytes.data();
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
        EXPECT_EQ(readLe64(text), c.value) << std::hex << c.value;
        EXPECT_EQ(readLe64(bytes), c.value);
        EXPECT_EQ(readLe32(text), static_cast<std::uint32_t>(c.value)) << std::hex << c.value;
        EXPECT_EQ(readLe32(bytes), static_cast<std::uint32_t>(c.value));
        EXPECT_EQ(readLe16(text), static_cast<std::uint16_t>(c.value)) << std::hex << c.value;
        EXPECT_EQ(readLe16(bytes), static_cast<std::uint16_t>(c.value));
    }
    // Signed fields: the stored two's complement comes back as the negative value.
    EXPECT_EQ(static_cast<std::int16_t>(readLe16("\xFD\xFF")), -3);
    EXPECT_EQ(static_cast<std::int32_t>(readLe32("\x00\x00\x00\x80")), INT32_MIN);
    EXPECT_EQ(static_cast<std::int32_t>(readLe32("\xFF\xFF\xFF\xFF")), -1);
}

TEST(ByteOrder, WritesAndAppendsTheSameBytesItReads) {
    const std::uint64_t values[] = {
        0, 1, 0x7F, 0x80, 0xFFFF, 0x80000000ull, 0xFFFFFFFFull, 0x100000000ull, 0xFEDCBA9876543210ull};
    for (std::uint64_t v : values) {
        std::uint8_t fixed[8] = {};
        writeLe64(fixed, v);
        EXPECT_EQ(readLe64(fixed), v);
        writeLe32(fixed, static_cast<std::uint32_t>(v));
        EXPECT_EQ(readLe32(fixed), static_cast<std::uint32_t>(v));
        writeLe16(fixed, static_cast<std::uint16_t>(v));
        EXPECT_EQ(readLe16(fixed), static_cast<std::uint16_t>(v));

        // Appending to every buffer kind gives the bytes writeLe* puts in place.
        std::uint8_t expected[14];
        writeLe16(expected, static_cast<std::uint16_t>(v));
        writeLe32(expected + 2, static_cast<std::uint32_t>(v));
        writeLe64(expected + 6, v);
        std::vector<std::uint8_t> vector;
        std::string text;
        QByteArray qt;
        appendLe16(vector, static_cast<std::uint16_t>(v));
        appendLe32(vector, static_cast<std::uint32_t>(v));
        appendLe64(vector, v);
        appendLe16(text, static_cast<std::uint16_t>(v));
        appendLe32(text, static_cast<std::uint32_t>(v));
        appendLe64(text, v);
        appendLe16(qt, static_cast<std::uint16_t>(v));
        appendLe32(qt, static_cast<std::uint32_t>(v));
        appendLe64(qt, v);
        const std::string want(reinterpret_cast<const char*>(expected), sizeof expected);
        EXPECT_EQ(std::string(vector.begin(), vector.end()), want) << std::hex << v;
        EXPECT_EQ(text, want) << std::hex << v;
        EXPECT_EQ(qt.toStdString(), want) << std::hex << v;
    }
    static_assert(makeFourCC("RIFF") == 0x46464952u);
    static_assert(makeFourCC('\xFF', 'a', 'b', 'c') == 0x636261FFu);
}

TEST(Text, XmlWhiteSpaceIsNarrowerThanTypedWhiteSpace) {
    for (char c : {' ', '\t', '\r', '\n'}) {
        EXPECT_TRUE(isXmlSpace(c)) << int(c);
        EXPECT_TRUE(isAsciiSpace(c)) << int(c);
    }
    for (char c : {'\v', '\f'}) {
        EXPECT_FALSE(isXmlSpace(c)) << int(c);
        EXPECT_TRUE(isAsciiSpace(c)) << int(c);
    }
    for (char c : {'\0', 'a', '\x85', '\xA0'}) {  // no byte above 0x7F counts, whatever the locale
        EXPECT_FALSE(isXmlSpace(c)) << int(c);
        EXPECT_FALSE(isAsciiSpace(c)) << int(c);
    }
    EXPECT_EQ(trimAsciiSpace(" \v\tname \f\r\n"), "name");
    EXPECT_EQ(trimAsciiSpace("a b"), "a b");
    EXPECT_EQ(trimAsciiSpace(" \n "), "");
}

}  // namespace
}  // namespace kestrelle
