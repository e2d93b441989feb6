#include "render/jpeg_entropy.h"

#include "render/jpeg_markers.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace kestrelle {

namespace {

// The end-of-block symbol in an AC lookup entry: a run that takes the coefficient index past anything a
// real run reaches (63 + 15 in a corrupt block), so the entry it would write is dropped.
constexpr int kEndOfBlockRun = 0x80;
constexpr int kPastRealRuns = 64 + 15;

// Zig-zag position to natural position. Like libjpeg's table, a corrupt run past the 64th coefficient
// lands on the last one; the entries beyond serve the end-of-block run.
constexpr std::array<std::uint8_t, 64 + 2 * kEndOfBlockRun> kNaturalOrder = [] {
    constexpr std::uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                          12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                          35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                          58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    std::array<std::uint8_t, 64 + 2 * kEndOfBlockRun> order{};
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k < 64 ? kZigZag[k] : 63;
    return order;
}();

constexpr int kLookupBits = 11;
constexpr int kLookupSize = 1 << kLookupBits;
// Most MCUs of a real photo take a few hundred bits; where the halves have not met within this many
// MCUs past the guessed start, the guess is given up.
constexpr std::int64_t kMaxMcusToMeet = 4096;
// The second thread tries a few starting bytes when its guess runs into a code no table holds.
constexpr int kStartAttempts = 8;
// Entries a part may hold per byte of the data it covers: a coefficient takes at least two bits.
constexpr std::size_t kMaxEntriesPerByte = 16;
// Bounds on the memory this decoder takes (a photo of 50 megapixels at quality 95 has about 25 MB of
// data and needs about 30 million entries); larger scans are decoded the usual way, a row at a time.
constexpr std::size_t kMaxScanBytes = std::size_t{32} << 20;
constexpr std::size_t kMaxEntries = std::size_t{1} << 25;
// Where each of the second half's first MCUs starts, kept for finding where the halves meet.
constexpr std::int64_t kMeetingPointsKept = 2 * kMaxMcusToMeet;

std::uint16_t bigEndian16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

// A Huffman table: codes of up to kLookupBits bits are looked up at once, longer ones by length.
struct HuffmanTable {
    bool defined = false;
    std::array<std::uint16_t, kLookupSize> lookup{};  // code length << 8 | symbol, 0 for longer codes
    // For AC tables, up to two coefficients whose codes and values fit the lookup bits together: for
    // each (the second in the upper 32 bits) value << 16 | run << 8 | bits taken, the end-of-block
    // symbol as the run kEndOfBlockRun; 0 where not even the first fits (and for the 16-zeros symbol).
    std::array<std::uint64_t, kLookupSize> coefficients{};
    std::array<std::int32_t, 18> maxCode{};
    std::array<std::int32_t, 17> valueOffset{};
    std::array<std::uint8_t, 256> symbols{};
};

int extend(int value, int size) {
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// A coefficient (or the end of the block) read from the top `available` of kLookupBits lookup bits:
// how many bits its code and value take, its run of zeros before it, and its value.
struct KnownCoefficient {
    int bits;
    int run;
    std::uint16_t value;
};

std::optional<KnownCoefficient> knownCoefficient(const HuffmanTable& table, int bits, int available) {
    const std::uint16_t entry = table.lookup[static_cast<std::size_t>(bits)];
    const int length = entry >> 8;
    const int symbol = entry & 0xFF;
    if (entry == 0 || length > available) return std::nullopt;
    if (symbol == 0) return KnownCoefficient{length, kEndOfBlockRun, 0};
    const int size = symbol & 15;
    if (size == 0 || length + size > available) return std::nullopt;
    const int raw = (bits >> (kLookupBits - length - size)) & ((1 << size) - 1);
    return KnownCoefficient{length + size, symbol >> 4, static_cast<std::uint16_t>(extend(raw, size))};
}

// Builds a table from a DHT segment's counts and symbols; false for one libjpeg refuses too.
bool buildTable(HuffmanTable& table, const std::uint8_t* counts, const std::uint8_t* symbols, int symbolCount,
                bool dc) {
    table = HuffmanTable{};
    std::copy(symbols, symbols + symbolCount, table.symbols.begin());
    int code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        table.valueOffset[static_cast<std::size_t>(length)] = index - code;
        for (int i = 0; i < counts[length - 1]; ++i, ++index, ++code) {
            // More codes than the length has room for: refused before one lands past the lookup table.
            if (code >= (1 << length) || (dc && symbols[index] > 15)) return false;
            if (length > kLookupBits) continue;
            const int first = code << (kLookupBits - length);
            for (int fill = 0; fill < (1 << (kLookupBits - length)); ++fill) {
                table.lookup[static_cast<std::size_t>(first + fill)] =
                    static_cast<std::uint16_t>(length << 8 | symbols[index]);
            }
        }
        table.maxCode[static_cast<std::size_t>(length)] = counts[length - 1] ? code - 1 : -1;
        // As libjpeg: a length's codes may not use up its every code, all ones included.
        if (code >= (1 << length)) return false;
        code <<= 1;
    }
    table.maxCode[17] = 0x7FFFFFFF;
    table.defined = true;
    if (dc) return true;
    for (int bits = 0; bits < kLookupSize; ++bits) {
        const std::optional<KnownCoefficient> first = knownCoefficient(table, bits, kLookupBits);
        if (!first) continue;
        std::uint64_t known =
            first->bits | std::uint64_t(first->run) << 8 | std::uint64_t(first->value) << 16;
        // A second coefficient (or the end of the block) whose code and value lie wholly in the bits left.
        const int left = kLookupBits - first->bits;
        if (first->run != kEndOfBlockRun && left > 0) {
            const int rest = (bits << first->bits) & (kLookupSize - 1);
            const std::optional<KnownCoefficient> second = knownCoefficient(table, rest, left);
            if (second) {
                known |= std::uint64_t(second->bits) << 32 | std::uint64_t(second->run) << 40 |
                         std::uint64_t(second->value) << 48;
            }
        }
        table.coefficients[static_cast<std::size_t>(bits)] = known;
    }
    return true;
}

// How the scan is laid out and coded.
struct ScanLayout {
    int restartInterval = 0;  // MCUs between restart markers, 0 for none
    int mcusPerRow = 0;
    int mcuRows = 0;
    int mcuHeight = 0;
    int height = 0;
    std::size_t heightAt = 0;
    int blocksPerMcu = 0;
    std::array<int, 10> blockComponent{};
    std::array<int, 4> dcTable{};  // per scan component
    std::array<int, 4> acTable{};
    std::size_t entropyAt = 0;
};

struct ScanTables {
    std::array<HuffmanTable, 4> dc;
    std::array<HuffmanTable, 4> ac;
};

bool readDefineHuffman(const std::uint8_t* payload, std::size_t size, ScanTables& tables) {
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 17) return false;
        const int tableClass = payload[at] >> 4;
        const int id = payload[at] & 15;
        int count = 0;
        for (int i = 1; i <= 16; ++i) count += payload[at + static_cast<std::size_t>(i)];
        if (tableClass > 1 || id > 3 || count > 256 || size - at - 17 < static_cast<std::size_t>(count))
            return false;
        HuffmanTable& table = tableClass == 0 ? tables.dc[static_cast<std::size_t>(id)]
                                              : tables.ac[static_cast<std::size_t>(id)];
        if (!buildTable(table, payload + at + 1, payload + at + 17, count, tableClass == 0)) return false;
        at += 17 + static_cast<std::size_t>(count);
    }
    return true;
}

// Reads the markers up to the scan: baseline or extended sequential Huffman coding of 8-bit samples,
// one or three components all in the one scan.
bool readScanLayout(const std::uint8_t* bytes, std::size_t size, ScanLayout& layout, ScanTables& tables) {
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    struct Component {
        int id, h, v;
    };
    std::array<Component, 3> components{};
    int componentCount = 0;
    int width = 0;
    int height = 0;
    JpegMarkerReader reader(bytes, size);
    while (reader.next()) {
        const std::uint8_t marker = reader.marker();
        const std::uint8_t* payload = reader.payload();
        const std::size_t payloadSize = reader.payloadSize();
        if (marker == 0xC0 || marker == 0xC1) {
            if (componentCount != 0 || payloadSize < 6 || payload[0] != 8) return false;
            height = bigEndian16(payload + 1);
            width = bigEndian16(payload + 3);
            layout.heightAt = reader.lengthAt() + 3;
            componentCount = payload[5];
            if ((componentCount != 1 && componentCount != 3) ||
                payloadSize < 6 + 3 * static_cast<std::size_t>(componentCount))
                return false;
            for (int c = 0; c < componentCount; ++c) {
                const std::uint8_t* spec = payload + 6 + 3 * c;
                components[static_cast<std::size_t>(c)] = {spec[0], spec[1] >> 4, spec[1] & 15};
                if ((spec[1] >> 4) < 1 || (spec[1] >> 4) > 2 || (spec[1] & 15) < 1 || (spec[1] & 15) > 2)
                    return false;
            }
        } else if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            return false;  // progressive, lossless or arithmetic-coded
        } else if (marker == 0xC4) {
            if (!readDefineHuffman(payload, payloadSize, tables)) return false;
        } else if (marker == 0xDD) {
            if (payloadSize < 2) return false;
            layout.restartInterval = bigEndian16(payload);
        } else if (marker == 0xDA) {
            if (componentCount == 0 || width == 0 || height == 0 || payloadSize < 1 ||
                payload[0] != componentCount ||
                payloadSize < 4 + 2 * static_cast<std::size_t>(componentCount))
                return false;
            const std::uint8_t* tail = payload + 1 + 2 * componentCount;
            if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0) return false;  // not a sequential scan
            int hMax = 1;
            int vMax = 1;
            for (int c = 0; c < componentCount; ++c) {
                hMax = std::max(hMax, components[static_cast<std::size_t>(c)].h);
                vMax = std::max(vMax, components[static_cast<std::size_t>(c)].v);
            }
            for (int s = 0; s < componentCount; ++s) {
                const int id = payload[1 + 2 * s];
                const auto found = std::find_if(components.begin(), components.begin() + componentCount,
                                                [id](const Component& c) { return c.id == id; });
                if (found == components.begin() + componentCount) return false;
                layout.dcTable[static_cast<std::size_t>(s)] = payload[2 + 2 * s] >> 4;
                layout.acTable[static_cast<std::size_t>(s)] = payload[2 + 2 * s] & 15;
                if (layout.dcTable[static_cast<std::size_t>(s)] > 3 ||
                    layout.acTable[static_cast<std::size_t>(s)] > 3 ||
                    !tables.dc[static_cast<std::size_t>(layout.dcTable[static_cast<std::size_t>(s)])]
                         .defined ||
                    !tables.ac[static_cast<std::size_t>(layout.acTable[static_cast<std::size_t>(s)])].defined)
                    return false;
                const int blocks = componentCount == 1 ? 1 : found->h * found->v;
                for (int b = 0; b < blocks; ++b)
                    layout.blockComponent[static_cast<std::size_t>(layout.blocksPerMcu++)] = s;
            }
            // One component is scanned a block at a time; several are interleaved in MCUs of the
            // largest sampling factors.
            const int mcuWidth = componentCount == 1 ? 8 : 8 * hMax;
            const int mcuHeight = componentCount == 1 ? 8 : 8 * vMax;
            layout.mcusPerRow = (width + mcuWidth - 1) / mcuWidth;
            layout.mcuRows = (height + mcuHeight - 1) / mcuHeight;
            layout.mcuHeight = mcuHeight;
            layout.height = height;
            layout.entropyAt = reader.end();
            return true;
        }
    }
    return false;
}

// The data bytes (stuffed zeros and repeated 0xFF taken out) in [from, to) of a scan, or -1 when a
// marker lies there.
std::int64_t dataBytesBetween(const std::uint8_t* bytes, std::size_t from, std::size_t to) {
    std::int64_t count = 0;
    std::size_t at = from;
    while (at < to) {
        const void* found = std::memchr(bytes + at, 0xFF, to - at);
        if (!found) return count + static_cast<std::int64_t>(to - at);
        const auto ff = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes);
        count += static_cast<std::int64_t>(ff - at);
        std::size_t next = ff + 1;
        while (next < to && bytes[next] == 0xFF) ++next;
        if (next >= to) return count + 1;  // the pair's zero lies at or past `to`
        if (bytes[next] != 0x00) return -1;
        count += 1;
        at = next + 1;
    }
    return count;
}

// The bits at hand, most significant first: what the decoding loops keep in registers.
struct BitWindow {
    std::uint64_t buffer = 0;
    std::int64_t count = 0;

    std::uint32_t peek(int bits) const { return static_cast<std::uint32_t>(buffer >> (64 - bits)); }
    void skip(std::int64_t bits) {
        buffer <<= bits;
        count -= bits;
    }
};

// Reads a scan's bits as libjpeg does: a 0xFF followed by 0x00 is a data byte 0xFF, any other byte after
// 0xFF (and any further 0xFF) is a marker, and past a marker or the end of the buffer zeros come.
class BitReader {
public:
    BitReader(const std::uint8_t* at, const std::uint8_t* end, std::int64_t dataBytesBefore)
        : at_(at), end_(end), bufferEnd_(end), dataBytes_(dataBytesBefore) {}

    BitWindow window() const { return window_; }
    void keep(BitWindow window) { window_ = window; }

    // `window` with at least 57 bits at hand: eight bytes at once where none of them is 0xFF.
    BitWindow refill(BitWindow window) {
        if (end_ - at_ >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, at_, 8);
            const std::uint64_t inverted = ~word;
            if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
                const std::int64_t take = (64 - window.count) >> 3;
                word = __builtin_bswap64(word);
                window.buffer |= (word >> (64 - 8 * take)) << (64 - window.count - 8 * take);
                window.count += 8 * take;
                at_ += take;
                dataBytes_ += take;
                return window;
            }
        }
        return refillByBytes(window);
    }

    // At the end of a restart interval: drops the last byte's padding bits and the restart marker
    // numbered `number` (0 to 7) that must follow them, and starts afresh after it. False when the data
    // does not end there or another marker comes.
    bool restart(BitWindow& window, int number) {
        while (!ended_ && window.count <= 56) {
            window.buffer |= std::uint64_t{nextByte()} << (56 - window.count);
            window.count += 8;
        }
        if (!ended_ || window.count - madeUpBits_ >= 8 || window.count < madeUpBits_ ||
            markerAt_ == nullptr || *markerAt_ != 0xD0 + number)
            return false;
        dataBytes_ -= madeUpBits_ / 8;
        at_ = markerAt_ + 1;
        end_ = bufferEnd_;
        markerAt_ = nullptr;
        ended_ = false;
        madeUpBits_ = 0;
        window = BitWindow{};
        return true;
    }

    // The place of the next bit among the scan's data bits (with the kept window).
    std::int64_t position() const { return dataBytes_ * 8 - window_.count; }
    // Whether bits past the data were used (zeros made up after a marker or the end).
    bool pastEnd() const { return ended_ && position() > dataBytes_ * 8 - madeUpBits_; }

private:
    // The slow way, a byte at a time, near a 0xFF or the end.
    [[gnu::noinline]] BitWindow refillByBytes(BitWindow window) {
        while (window.count <= 56) {
            window.buffer |= std::uint64_t{nextByte()} << (56 - window.count);
            window.count += 8;
        }
        return window;
    }

    std::uint8_t nextByte() {
        if (ended_ || at_ >= end_) {
            ended_ = true;
            madeUpBits_ += 8;
            ++dataBytes_;
            return 0;
        }
        std::uint8_t byte = *at_++;
        if (byte == 0xFF) {
            const std::uint8_t* next = at_;
            while (next < end_ && *next == 0xFF) ++next;
            if (next == at_ && next < end_ && *next == 0x00) {
                at_ = next + 1;
            } else {
                // A marker: a restart or the scan's end; nothing more is read. Fill bytes before a
                // stuffed zero end the data too: libjpeg-turbo's fast path takes them for a marker and
                // its retry keeps some of what it decoded from the zeros, which no decoder can match.
                ended_ = true;
                markerAt_ = next < end_ && *next != 0x00 ? next : nullptr;
                end_ = at_;
                madeUpBits_ += 8;
                byte = 0;
            }
        }
        ++dataBytes_;
        return byte;
    }

    const std::uint8_t* at_;
    const std::uint8_t* end_;        // where reading stops: the buffer's end, or a marker met
    const std::uint8_t* bufferEnd_;  // the buffer's end
    BitWindow window_;
    std::int64_t dataBytes_;
    std::int64_t madeUpBits_ = 0;
    bool ended_ = false;
    const std::uint8_t* markerAt_ = nullptr;  // the code of the marker that ended the data
};

// One symbol; -1 for a code no table entry has.
int decodeSymbol(BitWindow& in, const HuffmanTable& table) {
    const std::uint16_t entry = table.lookup[in.peek(kLookupBits)];
    if (entry != 0) {
        in.skip(entry >> 8);
        return entry & 0xFF;
    }
    int length = kLookupBits + 1;
    auto code = static_cast<std::int32_t>(in.peek(length));
    while (length <= 16 && code > table.maxCode[static_cast<std::size_t>(length)]) {
        ++length;
        code = static_cast<std::int32_t>(in.peek(length));
    }
    if (length > 16) return -1;
    in.skip(length);
    return table.symbols[static_cast<std::size_t>(
        (code + table.valueOffset[static_cast<std::size_t>(length)]) & 0xFF)];
}

std::uint32_t entry(int naturalIndex, int value) {
    return static_cast<std::uint32_t>(naturalIndex) << 16 | static_cast<std::uint16_t>(value);
}

// One block's coefficients appended at `out`; returns past them, or nullptr for an unknown code. The
// bits at hand stay in `in`, a local of the caller's that the coefficient stores cannot reach.
std::uint32_t* decodeBlock(BitReader& reader, BitWindow& in, const HuffmanTable& dc, const HuffmanTable& ac,
                           int& predictor, std::uint32_t* out) {
    if (in.count < 32) in = reader.refill(in);
    const int size = decodeSymbol(in, dc);
    if (size < 0) return nullptr;
    if (size != 0) {
        // Modulo 2^32 as libjpeg's int arithmetic on real data; a hostile file may not overflow it.
        predictor = static_cast<int>(static_cast<unsigned>(predictor) +
                                     static_cast<unsigned>(extend(static_cast<int>(in.peek(size)), size)));
        in.skip(size);
    }
    std::uint32_t* const first = out++;
    for (int k = 1; k < 64; ++k) {
        if (in.count < 32) in = reader.refill(in);
        const std::uint64_t known = ac.coefficients[in.peek(kLookupBits)];
        if (known != 0) {
            k += static_cast<int>((known >> 8) & 0xFF);
            in.skip(static_cast<std::int64_t>(known & 0xFF));
            *out = entry(kNaturalOrder[static_cast<std::size_t>(k)], static_cast<std::int16_t>(known >> 16));
            out += k < kPastRealRuns ? 1 : 0;
            // The second only while the block goes on (else its bits are the next block's).
            const std::uint64_t second = k < 63 ? known >> 32 : 0;
            k += 1 + static_cast<int>((second >> 8) & 0xFF);
            in.skip(static_cast<std::int64_t>(second & 0xFF));
            *out = entry(kNaturalOrder[static_cast<std::size_t>(k)], static_cast<std::int16_t>(second >> 16));
            out += second != 0 && k < kPastRealRuns ? 1 : 0;
            k -= second != 0 ? 0 : 1;
            continue;
        }
        const int symbol = decodeSymbol(in, ac);
        if (symbol < 0) return nullptr;
        const int run = symbol >> 4;
        const int bits = symbol & 15;
        if (bits != 0) {
            k += run;
            const int value = extend(static_cast<int>(in.peek(bits)), bits);
            in.skip(bits);
            *out++ = entry(kNaturalOrder[static_cast<std::size_t>(k)], value);
        } else {
            if (run != 15) break;
            k += 15;
        }
    }
    *first = static_cast<std::uint32_t>(out - first - 1) << 16 | static_cast<std::uint16_t>(predictor);
    return out;
}

// A thread's decoding: its MCUs' coefficients, and where each MCU starts and with which predictors.
struct Run {
    explicit Run(JpegCoefficients::Part& into, std::size_t entryBound, std::int64_t mcuBound)
        : part(into), maxEntries(entryBound) {
        mcuBit.reserve(static_cast<std::size_t>(std::min(mcuBound, kMeetingPointsKept)));
        mcuPredictors.reserve(static_cast<std::size_t>(std::min(mcuBound, kMeetingPointsKept)));
        part.mcuEntry.reserve(static_cast<std::size_t>(mcuBound));
        reset();
    }
    // Starts again, keeping the memory.
    void reset() {
        part.mcuEntry.clear();
        part.firstMcu = 0;
        part.firstLocal = 0;
        part.count = 0;
        part.dcShift = {};
        mcuBit.clear();
        mcuPredictors.clear();
        predictors = {};
        used = 0;
    }

    JpegCoefficients::Part& part;
    bool keepsMeetingPoints = false;                // the second half's guessed run records its first MCUs':
    std::vector<std::int64_t> mcuBit;               // where they start
    std::vector<std::array<int, 4>> mcuPredictors;  // and the predictors they start with
    std::array<int, 4> predictors{};
    std::size_t used = 0;  // entries written
    std::size_t maxEntries;
    std::int64_t firstIndex = 0;  // the scan's MCU the run starts at (where restart markers count)
};

class ScanDecoder {
public:
    ScanDecoder(const ScanLayout& layout, const ScanTables& tables) : layout_(layout), tables_(tables) {}

    // Decodes one MCU into `run`, recording where it starts; false (nothing recorded) for an unknown
    // code, data used up, or the run's entry bound reached.
    bool decodeMcu(BitReader& in, Run& run) const {
        constexpr std::size_t kMostPerMcu = 10 * 66;
        if (run.part.entries.size() < run.used + kMostPerMcu) {
            if (run.used + kMostPerMcu > run.maxEntries) return false;
            run.part.entries.resize(
                std::min(run.maxEntries, std::max(run.used + kMostPerMcu, run.part.entries.size() * 2)));
        }
        // A restart marker before every restart interval but the run's first: the predictors start at 0.
        const std::int64_t index = run.firstIndex + run.part.count;
        const int interval = layout_.restartInterval;
        if (interval > 0 && index % interval == 0 && run.part.count > 0) {
            BitWindow window = in.window();
            if (!in.restart(window, static_cast<int>((index / interval - 1) % 8))) return false;
            in.keep(window);
            run.predictors = {};
        }
        const std::int64_t start = in.position();
        const std::array<int, 4> predictors = run.predictors;
        std::uint32_t* out = run.part.entries.data() + run.used;
        BitWindow window = in.window();
        for (int b = 0; b < layout_.blocksPerMcu && out != nullptr; ++b) {
            const auto component =
                static_cast<std::size_t>(layout_.blockComponent[static_cast<std::size_t>(b)]);
            out = decodeBlock(in, window, tables_.dc[static_cast<std::size_t>(layout_.dcTable[component])],
                              tables_.ac[static_cast<std::size_t>(layout_.acTable[component])],
                              run.predictors[component], out);
        }
        in.keep(window);
        if (out == nullptr || in.pastEnd()) return false;
        if (run.keepsMeetingPoints && run.part.count < kMeetingPointsKept) {
            run.mcuBit.push_back(start);
            run.mcuPredictors.push_back(predictors);
        }
        run.part.mcuEntry.push_back(static_cast<std::uint32_t>(run.used));
        run.used = static_cast<std::size_t>(out - run.part.entries.data());
        ++run.part.count;
        return true;
    }

private:
    const ScanLayout& layout_;
    const ScanTables& tables_;
};

// The second thread: decodes from `from` (a guess at an MCU's start) to the end of the data, starting
// again a byte further on where the guess runs into an unknown code. False when no attempt got there.
bool decodeFromGuess(const ScanDecoder& decoder, const std::uint8_t* bytes, std::size_t size,
                     std::size_t entropyAt, std::size_t from, std::int64_t dataBytesBefore,
                     std::int64_t mostMcus, Run& run) {
    for (int attempt = 0; attempt < kStartAttempts && from < size; ++attempt) {
        run.reset();
        BitReader in(bytes + from, bytes + size, dataBytesBefore);
        while (run.part.count < mostMcus) {
            if (!decoder.decodeMcu(in, run)) break;
        }
        if (in.pastEnd() || run.part.count >= mostMcus) return true;
        // An unknown code: the next byte that is plain data.
        ++from;
        while (from < size && (bytes[from - 1] == 0xFF || bytes[from] == 0xFF)) ++from;
        dataBytesBefore = dataBytesBetween(bytes, entropyAt, from);
        if (dataBytesBefore < 0) break;
    }
    return false;
}

}  // namespace

JpegCoefficients::Cursor::Cursor(const JpegCoefficients& coefficients, std::int64_t firstMcu)
    : coefficients_(coefficients) {
    for (part_ = 0; part_ < coefficients.parts.size(); ++part_) {
        const Part& part = coefficients.parts[part_];
        if (firstMcu < part.firstMcu + part.count) {
            const std::int64_t local = part.firstLocal + std::max<std::int64_t>(0, firstMcu - part.firstMcu);
            left_ = part.firstMcu + part.count - std::max(firstMcu, part.firstMcu);
            at_ = part.entries.data() + part.mcuEntry[static_cast<std::size_t>(local)];
            return;
        }
    }
}

bool JpegCoefficients::Cursor::next(std::int16_t* const* blocks) {
    while (left_ == 0) {
        if (++part_ >= coefficients_.parts.size()) return false;
        const Part& part = coefficients_.parts[part_];
        left_ = part.count;
        if (left_ > 0) at_ = part.entries.data() + part.mcuEntry[static_cast<std::size_t>(part.firstLocal)];
    }
    const Part& part = coefficients_.parts[part_];
    for (int b = 0; b < coefficients_.blocksPerMcu; ++b) {
        std::int16_t* block = blocks[b];
        const int shift =
            part.dcShift[static_cast<std::size_t>(coefficients_.blockComponent[static_cast<std::size_t>(b)])];
        const std::uint32_t dc = *at_++;
        block[0] =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(dc + static_cast<std::uint32_t>(shift)));
        const std::uint32_t* const end = at_ + (dc >> 16);
        for (; at_ != end; ++at_) block[*at_ >> 16] = static_cast<std::int16_t>(*at_);
    }
    --left_;
    return true;
}

namespace {

// The next marker in a scan's data from `at` on (stuffed zeros and fill bytes skipped): its code and
// where the bytes after it start; none before the end of the buffer.
std::optional<std::pair<std::uint8_t, std::size_t>> nextMarker(const std::uint8_t* bytes, std::size_t size,
                                                               std::size_t at) {
    while (at < size) {
        const void* found = std::memchr(bytes + at, 0xFF, size - at);
        if (!found) return std::nullopt;
        std::size_t next = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - bytes) + 1;
        while (next < size && bytes[next] == 0xFF) ++next;
        if (next >= size) return std::nullopt;
        if (bytes[next] != 0x00) return std::make_pair(bytes[next], next + 1);
        at = next + 1;
    }
    return std::nullopt;
}

bool isRestartMarker(std::uint8_t code) {
    return code >= 0xD0 && code <= 0xD7;
}

// The first restart marker at or after `from` in the scan starting at `scanAt`: where the data after it
// starts and how many restart markers come before it. None when a marker out of sequence or any other
// marker comes first, or there is none.
std::optional<std::pair<std::size_t, std::int64_t>> restartMarkerFrom(const std::uint8_t* bytes,
                                                                      std::size_t size, std::size_t scanAt,
                                                                      std::size_t from) {
    std::int64_t seen = 0;
    std::size_t at = scanAt;
    while (const auto marker = nextMarker(bytes, size, at)) {
        at = marker->second;
        if (marker->first != 0xD0 + seen % 8) return std::nullopt;
        if (at > from) return std::make_pair(at, seen);
        ++seen;
    }
    return std::nullopt;
}

// Whether the scan's data from `from` on ends as libjpeg-turbo accepts once every MCU is decoded: at the
// end-of-image marker (restart markers may come first) or at the end of the file. Any other marker there,
// such as a second start of image or another scan, makes it refuse the file; so do we.
bool endsCleanly(const std::uint8_t* bytes, std::size_t size, std::size_t from) {
    std::size_t at = from;
    while (const auto marker = nextMarker(bytes, size, at)) {
        if (!isRestartMarker(marker->first)) return marker->first == 0xD9;
        at = marker->second;
    }
    return true;
}

}  // namespace

struct JpegEntropyDecoder::State {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    ScanLayout layout;
    ScanTables tables;
    std::size_t guess = 0;        // where the second half's decoding starts
    std::int64_t dataBefore = 0;  // the data bytes before it
    std::int64_t restartAt = 0;   // with restart markers: the MCU it starts at, known for sure
    std::int64_t mcuCount = 0;
    std::optional<ScanDecoder> decoder;
    std::optional<BitReader> reader;  // the first half's, carried on to where the halves meet
    std::optional<Run> first;
    std::optional<Run> bridge;
    std::optional<Run> second;
};

JpegEntropyDecoder::JpegEntropyDecoder() : state_(std::make_unique<State>()) {}
JpegEntropyDecoder::~JpegEntropyDecoder() = default;

bool JpegEntropyDecoder::prepare(const std::uint8_t* bytes, std::size_t size, JpegCoefficients& result) {
    State& s = *state_;
    if (bytes == nullptr || !readScanLayout(bytes, size, s.layout, s.tables)) return false;
    s.bytes = bytes;
    s.size = size;
    s.mcuCount = std::int64_t{s.layout.mcusPerRow} * s.layout.mcuRows;
    const std::size_t dataSize = size - s.layout.entropyAt;
    if (s.layout.mcuRows < 4 || dataSize < 1024 || dataSize > kMaxScanBytes) return false;

    if (s.layout.restartInterval > 0) {
        // The second half starts after the restart marker nearest the middle: its MCU is known from
        // the markers before it, and its predictors start at 0.
        const std::optional<std::pair<std::size_t, std::int64_t>> marker =
            restartMarkerFrom(bytes, size, s.layout.entropyAt, s.layout.entropyAt + dataSize / 2);
        if (!marker) return false;
        s.guess = marker->first;
        s.restartAt = (marker->second + 1) * s.layout.restartInterval;
        if (s.restartAt <= 0 || s.restartAt >= s.mcuCount) return false;
    } else {
        // The second half's guess: the middle of the data, on a byte that is plain data.
        s.guess = s.layout.entropyAt + dataSize / 2;
        while (s.guess < size && (bytes[s.guess - 1] == 0xFF || bytes[s.guess] == 0xFF)) ++s.guess;
        s.dataBefore = dataBytesBetween(bytes, s.layout.entropyAt, s.guess);
        if (s.guess >= size || s.dataBefore < 0) return false;
    }

    result.mcusPerRow = s.layout.mcusPerRow;
    result.mcuRows = s.layout.mcuRows;
    result.blocksPerMcu = s.layout.blocksPerMcu;
    result.blockComponent = s.layout.blockComponent;
    result.mcuHeight = s.layout.mcuHeight;
    result.height = s.layout.height;
    result.headerBytes = s.layout.entropyAt;
    result.heightAt = s.layout.heightAt;
    result.parts.resize(3);
    // Room for about two entries a byte of data in each half from the start (a photo at quality 90 takes
    // under one), so that the buffers seldom grow while decoding.
    for (std::size_t p : {std::size_t{0}, std::size_t{2}}) {
        if (result.parts[p].entries.size() < dataSize) result.parts[p].entries.resize(dataSize);
    }
    const std::size_t maxEntries = std::min(dataSize * kMaxEntriesPerByte + 1024, kMaxEntries);
    s.decoder.emplace(s.layout, s.tables);
    s.reader.emplace(bytes + s.layout.entropyAt, bytes + size, 0);
    // Every MCU takes at least a bit a block, so a small scan cannot hold the MCUs a huge frame claims.
    const std::int64_t mostMcus = std::min<std::int64_t>(s.mcuCount, static_cast<std::int64_t>(dataSize) * 8);
    s.first.emplace(result.parts[0], maxEntries, mostMcus);
    s.bridge.emplace(result.parts[1], maxEntries, kMaxMcusToMeet);
    s.second.emplace(result.parts[2], maxEntries, mostMcus);
    s.second->keepsMeetingPoints = s.restartAt == 0;
    return true;
}

bool JpegEntropyDecoder::decodeFirstHalf() {
    State& s = *state_;
    if (s.restartAt > 0) {
        while (s.first->part.count < s.restartAt) {
            if (!s.decoder->decodeMcu(*s.reader, *s.first)) return false;
        }
        return true;
    }
    while (s.first->part.count < s.mcuCount && s.reader->position() < s.dataBefore * 8) {
        if (!s.decoder->decodeMcu(*s.reader, *s.first)) return false;
    }
    return true;
}

bool JpegEntropyDecoder::decodeSecondHalf() {
    State& s = *state_;
    if (s.restartAt > 0) {
        Run& second = *s.second;
        second.firstIndex = s.restartAt;
        BitReader in(s.bytes + s.guess, s.bytes + s.size, 0);
        while (second.part.count < s.mcuCount - s.restartAt) {
            if (!s.decoder->decodeMcu(in, second)) return false;
        }
        return endsCleanly(s.bytes, s.size, s.guess);
    }
    return decodeFromGuess(*s.decoder, s.bytes, s.size, s.layout.entropyAt, s.guess, s.dataBefore, s.mcuCount,
                           *s.second) &&
           endsCleanly(s.bytes, s.size, s.guess);
}

bool JpegEntropyDecoder::meet(bool secondDecoded) {
    State& s = *state_;
    Run& first = *s.first;
    Run& bridge = *s.bridge;
    Run& second = *s.second;
    bridge.part.firstMcu = first.part.count;
    bridge.firstIndex = first.part.count;
    second.part.firstMcu = first.part.count;
    if (s.restartAt > 0) {  // the halves meet at the restart marker
        return secondDecoded && first.part.count == s.restartAt;
    }
    if (first.part.count == s.mcuCount) {  // the whole scan came before the guess
        second.reset();
        second.part.firstMcu = s.mcuCount;
        return endsCleanly(s.bytes, s.size, s.layout.entropyAt);
    }
    if (!secondDecoded) return false;

    // The first MCU the first half starts on a bit the second also started one; the MCUs the first
    // decodes on the way there go to the bridge.
    bridge.predictors = first.predictors;
    BitReader& in = *s.reader;
    std::size_t meet = 0;
    while (true) {
        while (meet < second.mcuBit.size() && second.mcuBit[meet] < in.position()) ++meet;
        if (meet == second.mcuBit.size()) return false;
        if (second.mcuBit[meet] == in.position()) break;
        if (first.part.count + bridge.part.count >= s.mcuCount || bridge.part.count >= kMaxMcusToMeet ||
            !s.decoder->decodeMcu(in, bridge))
            return false;
    }
    const std::int64_t met = first.part.count + bridge.part.count;
    const std::int64_t rest = s.mcuCount - met;
    if (second.part.count - static_cast<std::int64_t>(meet) < rest) return false;
    second.part.firstMcu = met;
    second.part.firstLocal = static_cast<std::int64_t>(meet);
    second.part.count = rest;
    for (std::size_t c = 0; c < 4; ++c)
        second.part.dcShift[c] = static_cast<int>(static_cast<unsigned>(bridge.predictors[c]) -
                                                  static_cast<unsigned>(second.mcuPredictors[meet][c]));
    return true;
}

bool decodeJpegEntropy(const std::uint8_t* bytes, std::size_t size, JpegCoefficients& result) {
    JpegEntropyDecoder decoder;
    if (!decoder.prepare(bytes, size, result)) return false;
    bool secondDecoded = false;
    std::thread secondThread;
    try {
        secondThread = std::thread([&] { secondDecoded = decoder.decodeSecondHalf(); });
    } catch (const std::system_error&) {
        return false;
    }
    const bool firstDecoded = decoder.decodeFirstHalf();
    secondThread.join();
    return firstDecoded && decoder.meet(secondDecoded);
}

}  // namespace kestrelle
