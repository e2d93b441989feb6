#pragma once
// The H.264 and H.265 encoders' settings (libx264 and libx265 through libavcodec), as a profile's codec
// settings keep them: a small versioned byte block, like the MPEG-4 compressors' states.

#include "base/byte_order.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

// The handler codes of the two entries in the codec list (type kCompressorType, as every compressor).
constexpr std::uint32_t kH264Handler = makeFourCC('H', '2', '6', '4');
constexpr std::uint32_t kHevcHandler = makeFourCC('H', 'E', 'V', 'C');

enum class H264RateControl : std::uint8_t {
    AverageBitRate,   // the profile's video bit rate as the average
    ConstantQuality,  // a constant rate factor, 18 (better) to 28 (smaller)
};

struct H264Settings {
    H264RateControl rateControl = H264RateControl::AverageBitRate;
    int constantQuality = 23;           // 18..28
    std::string preset = "veryfast";    // one of kH264Presets
    double keyFrameSeconds = 2.0;       // the longest stretch between key frames, 0.5..2 s
    bool stillsAsLongSamples = false;   // false: constant frame rate (the default)

    bool operator==(const H264Settings&) const = default;
};

// The presets offered, fastest first.
inline constexpr const char* kH264Presets[] = {"veryfast", "faster", "fast", "medium", "slow"};

// The settings as a profile stores them, and back; none for bytes that are not such a block (then the
// defaults apply). Values out of range are brought into range when read.
std::vector<std::uint8_t> serializeH264Settings(const H264Settings& settings);
std::optional<H264Settings> parseH264Settings(const std::vector<std::uint8_t>& bytes);

}  // namespace kestrelle
