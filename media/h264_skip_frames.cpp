#include "media/h264_skip_frames.h"

#include <algorithm>
#include <array>

namespace kestrelle {

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdrSlice = 5;
constexpr int kNalSps = 7;
constexpr int kNalPps = 8;

// A NAL unit inside an Annex B byte stream: from its header byte to the next start code.
struct NalUnit {
    std::size_t start = 0;  // the header byte
    std::size_t end = 0;
};

std::vector<NalUnit> splitAnnexB(const std::uint8_t* data, std::size_t size) {
    std::vector<NalUnit> units;
    std::size_t i = 0;
    auto nextStartCode = [&](std::size_t from) {
        for (std::size_t k = from; k + 2 < size; ++k) {
            if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) return k;
        }
        return size;
    };
    i = nextStartCode(0);
    while (i < size) {
        const std::size_t begin = i + 3;
        std::size_t next = nextStartCode(begin);
        std::size_t end = next;
        // The zero before a four-byte start code, and trailing zeros, belong to no unit.
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) units.push_back(NalUnit{begin, end});
        i = next;
    }
    return units;
}

// The unit's payload without emulation prevention bytes (00 00 03 → 00 00).
std::vector<std::uint8_t> unescape(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.push_back(data[i]);
    }
    return out;
}

// Appends a payload with emulation prevention bytes where three bytes would look like a start code.
void appendEscaped(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& rbsp) {
    int zeros = 0;
    for (std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
}

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    bool failed() const { return failed_; }
    std::size_t position() const { return position_; }

    unsigned bit() {
        if (position_ >= bytes_.size() * 8) {
            failed_ = true;
            return 0;
        }
        const unsigned value = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u;
        ++position_;
        return value;
    }
    unsigned bits(int count) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | bit();
        return value;
    }
    // Exp-Golomb; values beyond 32 bits mark the reader failed.
    unsigned ue() {
        int zeros = 0;
        while (bit() == 0) {
            if (failed_ || ++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return ((1u << zeros) - 1) + bits(zeros);
    }
    int se() {
        const unsigned k = ue();
        return (k & 1) ? static_cast<int>((k + 1) / 2) : -static_cast<int>(k / 2);
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

class BitWriter {
public:
    void bit(unsigned value) {
        current_ = static_cast<std::uint8_t>((current_ << 1) | (value & 1));
        if (++count_ == 8) {
            bytes_.push_back(current_);
            current_ = 0;
            count_ = 0;
        }
    }
    void bits(unsigned value, int count) {
        for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1);
    }
    void ue(unsigned value) {
        const unsigned coded = value + 1;
        int length = 0;
        while ((coded >> length) > 1) ++length;
        bits(0, length);
        bits(coded, length + 1);
    }
    void se(int value) {
        ue(value > 0 ? 2u * static_cast<unsigned>(value) - 1 : 2u * static_cast<unsigned>(-value));
    }
    bool aligned() const { return count_ == 0; }
    // rbsp_trailing_bits: a one, then zeros to the byte boundary.
    void trailingBits() {
        bit(1);
        while (!aligned()) bit(0);
    }
    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t current_ = 0;
    int count_ = 0;
};

// The CABAC tables of the H.264 standard: the LPS range by state and range quarter, the next state
// after an LPS.
constexpr std::uint8_t kRangeTabLps[64][4] = {
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205},
    {116, 142, 169, 195}, {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166},
    {95, 116, 137, 158},  {90, 110, 130, 150},  {85, 104, 123, 142},  {81, 99, 117, 135},
    {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},   {66, 80, 95, 110},
    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
    {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},
    {41, 50, 59, 69},     {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},
    {33, 41, 48, 56},     {32, 39, 46, 53},     {30, 37, 43, 50},     {29, 35, 41, 48},
    {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},     {23, 28, 33, 39},
    {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
    {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},
    {14, 18, 21, 24},     {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},
    {12, 14, 17, 20},     {11, 14, 16, 19},     {11, 13, 15, 18},     {10, 12, 15, 17},
    {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},      {8, 10, 12, 14},
    {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
    {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2},
};
constexpr std::uint8_t kTransIdxLps[64] = {
    0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
    18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
    31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};

// The arithmetic encoder of the standard's CABAC, writing into a BitWriter.
class CabacEncoder {
public:
    explicit CabacEncoder(BitWriter& out) : out_(out) {}

    struct Context {
        int state = 0;
        unsigned mps = 0;
    };

    // A context's start from its (m, n) pair at the slice's QP.
    static Context initialContext(int m, int n, int qp) {
        const int pre = std::clamp(((m * std::clamp(qp, 0, 51)) >> 4) + n, 1, 126);
        return pre <= 63 ? Context{63 - pre, 0} : Context{pre - 64, 1};
    }

    void decision(Context& context, unsigned bin) {
        const unsigned lps = kRangeTabLps[context.state][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != context.mps) {
            low_ += range_;
            range_ = lps;
            if (context.state == 0) context.mps = 1 - context.mps;
            context.state = kTransIdxLps[context.state];
        } else {
            context.state = std::min(context.state + 1, 62);
        }
        renormalize();
    }

    // end_of_slice_flag; a 1 ends the arithmetic code, its last bit being the RBSP stop bit.
    void terminate(unsigned bin) {
        range_ -= 2;
        if (bin) {
            low_ += range_;
            range_ = 2;
            renormalize();
            putBit((low_ >> 9) & 1);
            out_.bits(((low_ >> 7) & 3) | 1, 2);
        } else {
            renormalize();
        }
    }

private:
    void renormalize() {
        while (range_ < 256) {
            if (low_ < 256) {
                putBit(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                putBit(1);
            } else {
                low_ -= 256;
                ++outstanding_;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void putBit(unsigned bit) {
        if (first_) {
            first_ = false;
        } else {
            out_.bit(bit);
        }
        for (; outstanding_ > 0; --outstanding_) out_.bit(1 - bit);
    }

    BitWriter& out_;
    unsigned low_ = 0;
    unsigned range_ = 510;
    int outstanding_ = 0;
    bool first_ = true;
};

bool highProfile(unsigned profile) {
    constexpr std::array<unsigned, 13> kProfiles = {100, 110, 122, 244, 44,  83, 86,
                                                    118, 128, 138, 139, 134, 135};
    return std::find(kProfiles.begin(), kProfiles.end(), profile) != kProfiles.end();
}

void skipScalingList(BitReader& reader, int size) {
    int last = 8;
    int next = 8;
    for (int j = 0; j < size && !reader.failed(); ++j) {
        if (next != 0) next = (last + reader.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

bool readSps(const std::vector<std::uint8_t>& rbsp, H264StreamFacts& facts) {
    BitReader r(rbsp);
    r.bits(8);  // the NAL header
    const unsigned profile = r.bits(8);
    r.bits(16);  // constraint flags, level
    r.ue();      // seq_parameter_set_id
    facts.chromaArrayType = 1;
    if (highProfile(profile)) {
        const unsigned chromaFormat = r.ue();
        bool separatePlanes = false;
        if (chromaFormat == 3) separatePlanes = r.bit() != 0;
        facts.chromaArrayType = separatePlanes ? 0 : static_cast<int>(chromaFormat);
        r.ue();  // bit depths
        r.ue();
        r.bit();  // qpprime_y_zero_transform_bypass_flag
        if (r.bit()) {
            for (int i = 0; i < (chromaFormat == 3 ? 12 : 8); ++i) {
                if (r.bit()) skipScalingList(r, i < 6 ? 16 : 64);
            }
        }
    }
    const unsigned log2MaxFrameNumMinus4 = r.ue();
    facts.picOrderCntType = static_cast<int>(r.ue());
    if (facts.picOrderCntType == 0) {
        r.ue();
    } else if (facts.picOrderCntType == 1) {
        r.bit();
        r.se();
        r.se();
        const unsigned cycle = r.ue();
        if (cycle > 255) return false;
        for (unsigned i = 0; i < cycle; ++i) r.se();
    }
    facts.maxNumRefFrames = static_cast<int>(r.ue());
    r.bit();  // gaps_in_frame_num_value_allowed_flag
    const unsigned widthMbs = r.ue() + 1;
    const unsigned heightUnits = r.ue() + 1;
    facts.frameMbsOnly = r.bit() != 0;
    if (r.failed() || log2MaxFrameNumMinus4 > 12 || widthMbs > 1024 || heightUnits > 1024) return false;
    facts.log2MaxFrameNum = static_cast<int>(log2MaxFrameNumMinus4) + 4;
    facts.macroblocks = static_cast<int>(widthMbs * heightUnits * (facts.frameMbsOnly ? 1 : 2));
    return true;
}

bool readPps(const std::vector<std::uint8_t>& rbsp, H264StreamFacts& facts) {
    BitReader r(rbsp);
    r.bits(8);
    facts.ppsId = static_cast<int>(r.ue());
    r.ue();  // seq_parameter_set_id
    facts.cabac = r.bit() != 0;
    r.bit();                        // bottom_field_pic_order_in_frame_present_flag
    if (r.ue() != 0) return false;  // slice groups
    r.ue();                         // num_ref_idx_l0/l1_default_active_minus1
    r.ue();
    facts.weightedPred = r.bit() != 0;
    r.bits(2);
    facts.picInitQp = 26 + r.se();
    r.se();  // pic_init_qs_minus26, chroma_qp_index_offset
    r.se();
    facts.deblockingFilterControl = r.bit() != 0;
    r.bit();  // constrained_intra_pred_flag
    facts.redundantPicCnt = r.bit() != 0;
    return !r.failed() && facts.ppsId <= 255;
}

}  // namespace

std::optional<H264StreamFacts> readH264StreamFacts(const std::uint8_t* data, std::size_t size) {
    if (!data) return std::nullopt;
    H264StreamFacts facts;
    bool sps = false;
    bool pps = false;
    for (const NalUnit& unit : splitAnnexB(data, size)) {
        const int type = data[unit.start] & 0x1f;
        if (type == kNalSps && !sps) {
            sps = readSps(unescape(data + unit.start, unit.end - unit.start), facts);
            if (!sps) return std::nullopt;
        } else if (type == kNalPps && !pps) {
            pps = readPps(unescape(data + unit.start, unit.end - unit.start), facts);
            if (!pps) return std::nullopt;
        }
    }
    if (!sps || !pps) return std::nullopt;
    return facts;
}

bool skipFramesFit(const H264StreamFacts& facts) {
    return facts.picOrderCntType == 2 && facts.maxNumRefFrames == 1 && facts.frameMbsOnly &&
           facts.macroblocks > 0;
}

std::vector<std::uint8_t> makeH264SkipFrame(const H264StreamFacts& facts, int frameNum) {
    BitWriter w;
    w.bits(0x41, 8);  // nal_ref_idc 2, nal_unit_type 1: a reference slice, not IDR
    w.ue(0);          // first_mb_in_slice
    w.ue(0);          // slice_type P
    w.ue(static_cast<unsigned>(facts.ppsId));
    const unsigned maxFrameNum = 1u << facts.log2MaxFrameNum;
    w.bits(static_cast<unsigned>(frameNum) % maxFrameNum, facts.log2MaxFrameNum);
    if (facts.redundantPicCnt) w.ue(0);
    w.bit(1);  // num_ref_idx_active_override_flag: one reference
    w.ue(0);
    w.bit(0);  // ref_pic_list_modification_flag_l0
    if (facts.weightedPred) {
        // Default weights: the prediction is the reference picture unchanged.
        w.ue(0);
        if (facts.chromaArrayType != 0) w.ue(0);
        w.bit(0);
        if (facts.chromaArrayType != 0) w.bit(0);
    }
    w.bit(0);                                    // adaptive_ref_pic_marking_mode_flag: sliding window
    if (facts.cabac) w.ue(0);                    // cabac_init_idc
    w.se(0);                                     // slice_qp_delta
    if (facts.deblockingFilterControl) w.ue(1);  // deblocking off

    if (facts.cabac) {
        while (!w.aligned()) w.bit(1);  // cabac_alignment_one_bit
        CabacEncoder cabac(w);
        // mb_skip_flag in a P slice, cabac_init_idc 0: context 11, its neighbours being skipped too.
        CabacEncoder::Context skipFlag = CabacEncoder::initialContext(23, 33, facts.picInitQp);
        for (int mb = 0; mb < facts.macroblocks; ++mb) {
            cabac.decision(skipFlag, 1);
            cabac.terminate(mb + 1 == facts.macroblocks ? 1 : 0);
        }
        while (!w.aligned()) w.bit(0);
    } else {
        w.ue(static_cast<unsigned>(facts.macroblocks));  // mb_skip_run
        w.trailingBits();
    }
    std::vector<std::uint8_t> unit(4, 0);
    unit[3] = 1;  // the start code
    appendEscaped(unit, w.bytes());
    return unit;
}

bool renumberH264Frame(std::vector<std::uint8_t>& data, const H264StreamFacts& facts, int frameNum,
                       H264FrameFacts& frame) {
    const std::vector<NalUnit> units = splitAnnexB(data.data(), data.size());
    const unsigned maxFrameNum = 1u << facts.log2MaxFrameNum;
    std::vector<std::uint8_t> out;
    out.reserve(data.size() + 16);
    bool sliceSeen = false;
    std::size_t copiedTo = 0;
    for (const NalUnit& unit : units) {
        const int type = data[unit.start] & 0x1f;
        if (type != kNalSlice && type != kNalIdrSlice) continue;
        std::vector<std::uint8_t> rbsp = unescape(data.data() + unit.start, unit.end - unit.start);
        BitReader r(rbsp);
        r.bits(8);
        r.ue();  // first_mb_in_slice, slice_type, pic_parameter_set_id
        r.ue();
        r.ue();
        const std::size_t at = r.position();
        const unsigned stored = r.bits(facts.log2MaxFrameNum);
        if (r.failed()) return false;
        const bool idr = type == kNalIdrSlice;
        const unsigned renumbered = idr ? stored : static_cast<unsigned>(frameNum) % maxFrameNum;
        if (!sliceSeen) {
            frame = H264FrameFacts{idr, (data[unit.start] & 0x60) != 0, static_cast<int>(renumbered)};
            sliceSeen = true;
        }
        if (renumbered == stored) continue;
        for (int i = 0; i < facts.log2MaxFrameNum; ++i) {
            const std::size_t bit = at + static_cast<std::size_t>(i);
            const unsigned value = (renumbered >> (facts.log2MaxFrameNum - 1 - i)) & 1u;
            const auto mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
            rbsp[bit / 8] =
                static_cast<std::uint8_t>(value ? (rbsp[bit / 8] | mask) : (rbsp[bit / 8] & ~mask));
        }
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(copiedTo),
                   data.begin() + static_cast<std::ptrdiff_t>(unit.start));
        appendEscaped(out, rbsp);
        copiedTo = unit.end;
    }
    if (!sliceSeen) return false;
    if (copiedTo == 0) return true;
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(copiedTo), data.end());
    data.swap(out);
    return true;
}

}  // namespace kestrelle
