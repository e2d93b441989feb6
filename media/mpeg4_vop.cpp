#include "media/mpeg4_vop.h"

namespace kestrelle::mpeg4 {

namespace {

constexpr std::uint8_t kVopStartCode = 0xB6;
constexpr std::uint8_t kGovStartCode = 0xB3;
constexpr int kShapeRectangular = 0;
constexpr int kShapeBinaryOnly = 2;
constexpr int kShapeGrayscale = 3;
constexpr int kMaxModuloTimeBase = 3600;  // an hour of seconds between two pictures is not a slideshow

// Reads bits most significant first; reading past the end sets `failed` and gives zeros.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size, std::size_t bitOffset = 0)
        : data_(data), bits_(size * 8), position_(bitOffset) {}

    std::uint32_t read(int count) {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | bit();
        return value;
    }
    std::uint32_t bit() {
        if (position_ >= bits_) {
            failed = true;
            return 0;
        }
        const std::uint32_t b = (data_[position_ / 8] >> (7 - position_ % 8)) & 1u;
        ++position_;
        return b;
    }
    // A marker bit must be 1.
    void marker() {
        if (bit() != 1) failed = true;
    }
    std::size_t position() const { return position_; }

    bool failed = false;

private:
    const std::uint8_t* data_;
    std::size_t bits_;
    std::size_t position_;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void write(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bit((value >> i) & 1u);
    }
    // Eight bits at once, for copying data that has shifted.
    void byte(std::uint8_t value) {
        if (fill_ == 0) {
            out_.push_back(value);
            return;
        }
        out_.back() |= static_cast<std::uint8_t>(value >> fill_);
        out_.push_back(static_cast<std::uint8_t>(value << (8 - fill_)));
    }
    void bit(std::uint32_t b) {
        if (fill_ == 0) out_.push_back(0);
        if (b) out_.back() |= static_cast<std::uint8_t>(0x80u >> fill_);
        fill_ = (fill_ + 1) % 8;
    }
    // next_start_code(): a zero bit, then ones up to the byte boundary.
    void stuffing() {
        bit(0);
        while (fill_ != 0) bit(1);
    }

private:
    std::vector<std::uint8_t>& out_;
    int fill_ = 0;  // bits used in the last byte (0: a new byte is needed)
};

// Byte offset of the next start code prefix 00 00 01 at or after `from`, or `size`.
std::size_t nextStartCode(const std::uint8_t* data, std::size_t size, std::size_t from) {
    for (std::size_t i = from; i + 3 < size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    return size;
}

// Bits needed to write values 0 .. resolution - 1, at least 1.
int incrementBits(int resolution) {
    int bits = 1;
    while (bits < 16 && (1 << bits) < resolution) ++bits;
    return bits;
}

// Skips a quantiser matrix: up to 64 values of 8 bits, ended early by a 0.
void skipQuantMatrix(BitReader& in) {
    for (int i = 0; i < 64 && !in.failed; ++i)
        if (in.read(8) == 0) break;
}

bool readVolBody(BitReader& in, VolInfo& vol) {
    in.read(1);      // random_accessible_vol
    in.read(8);      // video_object_type_indication
    if (in.bit()) {  // is_object_layer_identifier
        vol.verid = static_cast<int>(in.read(4));
        in.read(3);  // priority
    }
    if (in.read(4) == 0xF) in.read(16);  // extended pixel aspect ratio
    if (in.bit()) {                      // vol_control_parameters
        in.read(2);                      // chroma_format
        in.read(1);                      // low_delay
        if (in.bit()) {                  // vbv_parameters
            in.read(15);
            in.marker();
            in.read(15);
            in.marker();
            in.read(15);
            in.marker();
            in.read(3);
            in.read(11);
            in.marker();
            in.read(15);
            in.marker();
        }
    }
    vol.shape = static_cast<int>(in.read(2));
    if (vol.shape == kShapeGrayscale && vol.verid != 1) in.read(4);
    in.marker();
    vol.timeIncrementResolution = static_cast<int>(in.read(16));
    in.marker();
    if (vol.timeIncrementResolution <= 0) return false;
    vol.timeIncrementBits = incrementBits(vol.timeIncrementResolution);
    vol.fixedVopRate = in.bit() != 0;
    if (vol.fixedVopRate) vol.fixedVopTimeIncrement = static_cast<int>(in.read(vol.timeIncrementBits));
    if (vol.shape == kShapeBinaryOnly) return !in.failed;
    if (vol.shape == kShapeRectangular) {
        in.marker();
        vol.width = static_cast<int>(in.read(13));
        in.marker();
        vol.height = static_cast<int>(in.read(13));
        in.marker();
    }
    vol.interlaced = in.bit() != 0;
    in.read(1);  // obmc_disable
    vol.spriteEnable = static_cast<int>(in.read(vol.verid == 1 ? 1 : 2));
    if (vol.spriteEnable != 0) return !in.failed;                      // not read further: not supported
    if (vol.verid != 1 && vol.shape != kShapeRectangular) in.read(1);  // sadct_disable
    if (in.bit()) {                                                    // not_8_bit
        vol.quantPrecision = static_cast<int>(in.read(4));
        in.read(4);  // bits_per_pixel
    }
    if (vol.shape == kShapeGrayscale) return !in.failed;
    if (in.bit()) {  // quant_type (MPEG quantisation)
        if (in.bit()) skipQuantMatrix(in);
        if (in.bit()) skipQuantMatrix(in);
    }
    if (vol.verid != 1) vol.quarterSample = in.bit() != 0;
    vol.complexityEstimationDisable = in.bit() != 0;
    if (!vol.complexityEstimationDisable) return !in.failed;
    vol.resyncMarkerDisable = in.bit() != 0;
    vol.dataPartitioned = in.bit() != 0;
    if (vol.dataPartitioned) in.read(1);  // reversible_vlc
    if (vol.verid != 1) {
        vol.newpred = in.bit() != 0;
        if (vol.newpred) in.read(3);
        vol.reducedResolution = in.bit() != 0;
    }
    vol.scalability = in.bit() != 0;
    return !in.failed;
}

}  // namespace

bool VolInfo::supported() const {
    return shape == kShapeRectangular && timeIncrementResolution > 0 && width > 0 && height > 0 &&
           !interlaced && spriteEnable == 0 && quantPrecision >= 3 && quantPrecision <= 9 &&
           complexityEstimationDisable && !dataPartitioned && !newpred && !reducedResolution && !scalability;
}

std::optional<VolInfo> parseVol(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) return std::nullopt;
    for (std::size_t at = nextStartCode(data, size, 0); at < size; at = nextStartCode(data, size, at + 3)) {
        const std::uint8_t code = data[at + 3];
        if (code < 0x20 || code > 0x2F) continue;
        BitReader in(data, size, (at + 4) * 8);
        VolInfo vol;
        if (!readVolBody(in, vol)) return std::nullopt;
        return vol;
    }
    return std::nullopt;
}

std::optional<VopTiming> parseVopTiming(const VolInfo& vol, const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || vol.timeIncrementResolution <= 0) return std::nullopt;
    VopTiming timing;
    bool found = false;
    for (std::size_t at = nextStartCode(data, size, 0); at < size; at = nextStartCode(data, size, at + 3)) {
        const std::uint8_t code = data[at + 3];
        if (code == kGovStartCode && !found) {
            BitReader in(data, size, (at + 4) * 8);
            const int hours = static_cast<int>(in.read(5));
            const int minutes = static_cast<int>(in.read(6));
            in.marker();
            const int seconds = static_cast<int>(in.read(6));
            if (in.failed) return std::nullopt;
            timing.govSeconds = (hours * 60 + minutes) * 60 + seconds;
        } else if (code == kVopStartCode) {
            ++timing.vopCount;
            if (!found) {
                found = true;
                timing.vopStart = at;
            }
        }
    }
    if (!found) return std::nullopt;

    BitReader in(data, size, (timing.vopStart + 4) * 8);
    timing.type = static_cast<VopType>(in.read(2));
    timing.moduloBit = in.position();
    while (in.bit() == 1 && !in.failed) {
        if (++timing.moduloTimeBase > kMaxModuloTimeBase) return std::nullopt;
    }
    in.marker();
    timing.timeIncrement = static_cast<int>(in.read(vol.timeIncrementBits));
    in.marker();
    timing.afterTimeBit = in.position();
    timing.coded = in.bit() != 0;
    if (timing.coded && vol.supported()) {
        if (timing.type == VopType::P) in.read(1);  // vop_rounding_type
        in.read(3);                                 // intra_dc_vlc_thr
        timing.quant = static_cast<int>(in.read(vol.quantPrecision));
    }
    if (in.failed) return std::nullopt;
    return timing;
}

std::vector<std::uint8_t> notCodedPVop(const VolInfo& vol, int moduloTimeBase, int timeIncrement) {
    std::vector<std::uint8_t> out;
    if (!vol.supported() || moduloTimeBase < 0 || moduloTimeBase > kMaxModuloTimeBase || timeIncrement < 0 ||
        timeIncrement >= vol.timeIncrementResolution)
        return out;
    const int macroblocks = vol.macroblockCount();
    out.reserve(static_cast<std::size_t>(16 + moduloTimeBase / 8 + macroblocks / 8));
    BitWriter bits(out);
    bits.write(0x000001B6, 32);
    bits.write(static_cast<std::uint32_t>(VopType::P), 2);
    for (int i = 0; i < moduloTimeBase; ++i) bits.bit(1);
    bits.bit(0);
    bits.bit(1);  // marker
    bits.write(static_cast<std::uint32_t>(timeIncrement), vol.timeIncrementBits);
    bits.bit(1);                        // marker
    bits.bit(1);                        // vop_coded
    bits.bit(0);                        // vop_rounding_type: no motion, so no interpolation to round
    bits.write(0, 3);                   // intra_dc_vlc_thr
    bits.write(2, vol.quantPrecision);  // vop_quant: any valid value, nothing is quantised
    bits.write(1, 3);                   // vop_fcode_forward
    for (int i = 0; i < macroblocks; ++i) bits.bit(1);  // not_coded
    bits.stuffing();
    return out;
}

bool restampVop(const VolInfo& vol, std::vector<std::uint8_t>& packet, int moduloTimeBase, int timeIncrement,
                int govSeconds) {
    if (moduloTimeBase < 0 || moduloTimeBase > kMaxModuloTimeBase || timeIncrement < 0 ||
        timeIncrement >= vol.timeIncrementResolution || govSeconds < 0 || govSeconds >= 24 * 3600)
        return false;
    const auto timing = parseVopTiming(vol, packet.data(), packet.size());
    if (!timing || timing->vopCount != 1) return false;
    // Nothing but the VOP's own data may follow its start code.
    if (nextStartCode(packet.data(), packet.size(), timing->vopStart + 3) != packet.size()) return false;

    std::vector<std::uint8_t> out;
    if (timing->moduloTimeBase == moduloTimeBase) {
        out = packet;
    } else {
        // The VOP's data shifts: find where it ends, before its trailing stuffing (a zero, then ones).
        if (!vol.resyncMarkerDisable || vol.dataPartitioned || packet.empty()) return false;
        const std::uint8_t last = packet.back();
        int ones = 0;
        while (ones < 8 && ((last >> ones) & 1u)) ++ones;
        if (ones == 8) return false;
        const std::size_t dataEnd = packet.size() * 8 - static_cast<std::size_t>(ones) - 1;
        if (dataEnd < timing->afterTimeBit) return false;
        out.assign(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(timing->vopStart + 4));
        BitWriter bits(out);
        bits.write(static_cast<std::uint32_t>(timing->type), 2);
        for (int i = 0; i < moduloTimeBase; ++i) bits.bit(1);
        bits.bit(0);
        bits.bit(1);
        bits.write(static_cast<std::uint32_t>(timeIncrement), vol.timeIncrementBits);
        bits.bit(1);
        std::size_t at = timing->afterTimeBit;
        for (; at + 8 <= dataEnd; at += 8) {
            const std::size_t index = at / 8;
            const unsigned shift = at % 8;
            unsigned value = static_cast<unsigned>(packet[index]) << shift;
            if (shift != 0) value |= static_cast<unsigned>(packet[index + 1]) >> (8 - shift);
            bits.byte(static_cast<std::uint8_t>(value));
        }
        BitReader rest(packet.data(), packet.size(), at);
        for (; at < dataEnd; ++at) bits.bit(rest.bit());
        bits.stuffing();
    }

    // Fields of fixed width are written in place.
    auto overwrite = [&out](std::size_t bitOffset, std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            const std::size_t at = bitOffset + static_cast<std::size_t>(i);
            const auto mask = static_cast<std::uint8_t>(0x80u >> (at % 8));
            if ((value >> (count - 1 - i)) & 1u)
                out[at / 8] |= mask;
            else
                out[at / 8] &= static_cast<std::uint8_t>(~mask);
        }
    };
    if (timing->moduloTimeBase == moduloTimeBase) {
        overwrite(timing->afterTimeBit - 1 - static_cast<std::size_t>(vol.timeIncrementBits),
                  static_cast<std::uint32_t>(timeIncrement), vol.timeIncrementBits);
    }
    if (timing->govSeconds) {
        const std::size_t gov = nextStartCode(out.data(), out.size(), 0);
        for (std::size_t at = gov; at < out.size(); at = nextStartCode(out.data(), out.size(), at + 3)) {
            if (out[at + 3] != kGovStartCode) continue;
            const std::size_t bit = (at + 4) * 8;
            overwrite(bit, static_cast<std::uint32_t>(govSeconds / 3600), 5);
            overwrite(bit + 5, static_cast<std::uint32_t>(govSeconds / 60 % 60), 6);
            overwrite(bit + 12, static_cast<std::uint32_t>(govSeconds % 60), 6);
            break;
        }
    }
    packet.swap(out);
    return true;
}

}  // namespace kestrelle::mpeg4
