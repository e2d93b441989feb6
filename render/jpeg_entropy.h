#pragma once
// Huffman decoding of a JPEG's scan on two threads. Entropy decoding is most of a JPEG's decoding time
// and runs from the start of the scan to its end, since each code's place depends on every code before
// it. Where the file has restart markers, the second thread starts after the one nearest the middle,
// whose MCU the markers before it tell. Where it has none, the second thread starts in the middle of the
// data at a guessed place: Huffman codes fall into step with the true decoding within a few blocks, and
// once a guessed MCU starts on the same bit as a true one, every MCU after it is decoded right. The first
// thread decodes the first half from the start and then confirms where the two meet; the DC values of
// the second half, which count from a wrong predictor until then, are moved by the difference.
//
// The result is the quantized coefficients of every MCU, as libjpeg's own Huffman decoder would have
// stored them, to be turned into pixels by libjpeg (render/jpeg_parallel.cpp).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kestrelle {

// The coefficients of a whole scan, MCU by MCU in scan order, each block as its non-zero coefficients.
class JpegCoefficients {
public:
    // One thread's run of consecutive MCUs.
    struct Part {
        // Per block: the count of its AC entries << 16 | its 16-bit DC value, then the AC coefficients
        // as natural-order index << 16 | 16-bit value, in decoding order.
        std::vector<std::uint32_t> entries;
        std::vector<std::uint32_t> mcuEntry;  // where each MCU's entries start
        std::int64_t firstMcu = 0;            // the first MCU of the whole scan this part holds
        std::int64_t firstLocal = 0;          // ... and its index in mcuEntry
        std::int64_t count = 0;               // how many MCUs it holds
        std::array<int, 4> dcShift{};         // added to each component's DC values
    };

    // Walks the MCUs from one of them on, writing each into libjpeg's blocks.
    class Cursor {
    public:
        Cursor(const JpegCoefficients& coefficients, std::int64_t firstMcu);
        // Writes the next MCU's coefficients into `blocks` (blocksPerMcu blocks of 64 coefficients in
        // natural order, zeroed by the caller); false past the last MCU.
        bool next(std::int16_t* const* blocks);

    private:
        const JpegCoefficients& coefficients_;
        std::size_t part_ = 0;
        std::int64_t left_ = 0;  // MCUs left in the current part
        const std::uint32_t* at_ = nullptr;
    };

    int mcusPerRow = 0;
    int mcuRows = 0;
    int mcuHeight = 0;  // in pixels
    int height = 0;     // the frame's
    int blocksPerMcu = 0;
    std::array<int, 10> blockComponent{};  // the scan component of each block of an MCU
    std::size_t headerBytes = 0;           // the markers up to the scan's data
    std::size_t heightAt = 0;              // where the frame's 16-bit height is stored
    std::vector<Part> parts;

    std::int64_t mcuCount() const { return std::int64_t{mcusPerRow} * mcuRows; }
};

// The two halves' decoding as steps, for a caller that runs them on threads of its own and starts using
// the first half's coefficients (result.parts[0]) before the second half is done. The parts are: the
// first half's MCUs, those between where it stopped and where the halves met (the bridge), the second
// half's MCUs from there on.
class JpegEntropyDecoder {
public:
    JpegEntropyDecoder();
    ~JpegEntropyDecoder();
    JpegEntropyDecoder(const JpegEntropyDecoder&) = delete;
    JpegEntropyDecoder& operator=(const JpegEntropyDecoder&) = delete;

    // Reads the markers and readies `result`, which must outlive the decoder; false where the file does
    // not suit (see decodeJpegEntropy).
    bool prepare(const std::uint8_t* bytes, std::size_t size, JpegCoefficients& result);
    // From the start of the scan up to the guessed middle; what it decodes is final once it returns true.
    bool decodeFirstHalf();
    // From the guessed middle to the end, at the same time as decodeFirstHalf.
    bool decodeSecondHalf();
    // Once both are done (with decodeSecondHalf's result): where the halves meet. True when every MCU
    // is then accounted for.
    bool meet(bool secondDecoded);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Decodes a JPEG's coefficients on two threads into `result`, whose buffers are reused (they keep their
// memory from one call to the next). False, with `result` in an unspecified state, where this decoder
// does not apply or fails and the caller decodes the file as usual: not one sequential Huffman-coded scan
// of 8-bit samples holding one or three components, tables missing or malformed, restart markers missing
// or out of sequence, data that does not decode (damaged or cut short: libjpeg's recovery is the
// caller's), the two halves not meeting, or more than 16 coefficient entries a byte of data (no real
// photo comes near).
bool decodeJpegEntropy(const std::uint8_t* bytes, std::size_t size, JpegCoefficients& result);

}  // namespace kestrelle
