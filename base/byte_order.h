#pragma once
// Little-endian integers in byte buffers: every RIFF, WAV, AVI and archive field this program reads or
// writes is stored least significant byte first, whatever the machine's own order. The functions are
// inline and work byte by byte, so they are safe on unaligned positions and compile to a plain load or
// store where the machine allows it.
//
// Signed fields go through their unsigned form: a value read as uint16_t / uint32_t and cast to the
// signed type gives the two's-complement value (a stored 0xFFFF reads back as -1).

#include <cstddef>
#include <cstdint>

namespace kestrelle {

// --- Reading ------------------------------------------------------------------------------------------

inline std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t readLe64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(readLe32(p)) | (static_cast<std::uint64_t>(readLe32(p + 4)) << 32);
}

// The same for text buffers (std::string, QByteArray), whose bytes are plain (possibly signed) chars.
inline std::uint16_t readLe16(const char* p) {
    return readLe16(reinterpret_cast<const std::uint8_t*>(p));
}
inline std::uint32_t readLe32(const char* p) {
    return readLe32(reinterpret_cast<const std::uint8_t*>(p));
}
inline std::uint64_t readLe64(const char* p) {
    return readLe64(reinterpret_cast<const std::uint8_t*>(p));
}

// --- Writing in place ---------------------------------------------------------------------------------

inline void writeLe16(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void writeLe32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

inline void writeLe64(std::uint8_t* p, std::uint64_t value) {
    writeLe32(p, static_cast<std::uint32_t>(value));
    writeLe32(p + 4, static_cast<std::uint32_t>(value >> 32));
}

// --- Appending to a growing buffer --------------------------------------------------------------------
// `Bytes` is any container of byte-sized values with push_back: std::vector<std::uint8_t>, std::string,
// QByteArray.

template <typename Bytes>
inline void appendLe16(Bytes& out, std::uint16_t value) {
    using Byte = typename Bytes::value_type;
    out.push_back(static_cast<Byte>(value & 0xFFu));
    out.push_back(static_cast<Byte>(value >> 8));
}

template <typename Bytes>
inline void appendLe32(Bytes& out, std::uint32_t value) {
    using Byte = typename Bytes::value_type;
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<Byte>((value >> shift) & 0xFFu));
}

template <typename Bytes>
inline void appendLe64(Bytes& out, std::uint64_t value) {
    appendLe32(out, static_cast<std::uint32_t>(value));
    appendLe32(out, static_cast<std::uint32_t>(value >> 32));
}

// --- Four-character codes -----------------------------------------------------------------------------
// A RIFF tag ("RIFF", "avih", "00dc") as the 32-bit value whose little-endian bytes spell it.

constexpr std::uint32_t makeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

constexpr std::uint32_t makeFourCC(const char (&text)[5]) {
    return makeFourCC(text[0], text[1], text[2], text[3]);
}

}  // namespace kestrelle
