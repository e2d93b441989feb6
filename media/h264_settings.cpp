#include "media/h264_settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>

namespace kestrelle {

namespace {

// Layout, little-endian, 14 bytes: magic "KH26", u16 version (1), u16 total size, u8 rate control,
// u8 constant quality, u8 preset index, u8 flags (bit 0: stills as long samples), u16 longest stretch
// between key frames in milliseconds. Later versions may only append fields, so a newer block is read
// as far as this version knows it.
constexpr std::array<std::uint8_t, 4> kMagic{'K', 'H', '2', '6'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kSize = 14;

constexpr int kMinQuality = 18;
constexpr int kMaxQuality = 28;
constexpr int kMinKeyFrameMillis = 500;
constexpr int kMaxKeyFrameMillis = 2000;

int presetIndex(const std::string& preset) {
    for (std::size_t i = 0; i < std::size(kH264Presets); ++i)
        if (preset == kH264Presets[i]) return static_cast<int>(i);
    return 0;
}

}  // namespace

std::vector<std::uint8_t> serializeH264Settings(const H264Settings& settings) {
    std::vector<std::uint8_t> out(kMagic.begin(), kMagic.end());
    appendLe16(out, kVersion);
    appendLe16(out, static_cast<std::uint16_t>(kSize));
    out.push_back(static_cast<std::uint8_t>(settings.rateControl));
    out.push_back(static_cast<std::uint8_t>(std::clamp(settings.constantQuality, kMinQuality, kMaxQuality)));
    out.push_back(static_cast<std::uint8_t>(presetIndex(settings.preset)));
    out.push_back(settings.stillsAsLongSamples ? 1 : 0);
    const double seconds = std::isfinite(settings.keyFrameSeconds) ? settings.keyFrameSeconds : 2.0;
    const long millis = std::clamp(std::lround(seconds * 1000.0), static_cast<long>(kMinKeyFrameMillis),
                                   static_cast<long>(kMaxKeyFrameMillis));
    appendLe16(out, static_cast<std::uint16_t>(millis));
    return out;
}

std::optional<H264Settings> parseH264Settings(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < kSize || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) return std::nullopt;
    const std::uint16_t version = readLe16(bytes.data() + 4);
    const std::uint16_t size = readLe16(bytes.data() + 6);
    if (version < 1 || size < kSize || size > bytes.size()) return std::nullopt;
    H264Settings s;
    s.rateControl =
        bytes[8] == static_cast<std::uint8_t>(H264RateControl::ConstantQuality) ? H264RateControl::ConstantQuality
                                                                               : H264RateControl::AverageBitRate;
    s.constantQuality = std::clamp(static_cast<int>(bytes[9]), kMinQuality, kMaxQuality);
    const std::size_t preset = bytes[10];
    s.preset = kH264Presets[preset < std::size(kH264Presets) ? preset : 0];
    s.stillsAsLongSamples = (bytes[11] & 1) != 0;
    const int millis = std::clamp(static_cast<int>(readLe16(bytes.data() + 12)), kMinKeyFrameMillis,
                                  kMaxKeyFrameMillis);
    s.keyFrameSeconds = millis / 1000.0;
    return s;
}

}  // namespace kestrelle
