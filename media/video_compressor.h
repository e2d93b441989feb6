#pragma once
// Installable video compressors, standing in for the platform's codec interface: each one wraps a
// libavcodec MPEG-4 encoder and offers a description, a type and handler code, a format query, an
// opaque state block with its settings, and frame-by-frame compression as a VideoEncoder. The AVI
// writer drives them; it also uses the hooks for repeated still frames below.

#include "media/video_encoder.h"

#include "base/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

constexpr std::uint32_t kCompressorType = makeFourCC('v', 'i', 'd', 'c');

// The settings a compressor keeps in its state block.
struct CompressorSettings {
    enum class RateControl : std::uint8_t { TargetBitRate = 0, ConstantQuantizer = 1 };
    RateControl rateControl = RateControl::TargetBitRate;
    int bitRateKbps = 6240;     // in units of 1024 bit/s: 798,720 bytes per second, the writer's own rate
    int quantizer = 4;          // 1 (best) .. 31
    int keyFrameInterval = 30;  // frames
};

// One opened compressor.
class VideoCompressor : public VideoEncoder {
public:
    virtual std::string description() const = 0;
    virtual std::uint32_t typeCode() const = 0;     // kCompressorType
    virtual std::uint32_t handlerCode() const = 0;  // e.g. 'XVID', 'DX50'

    // Whether it can compress `input` frames of this size.
    virtual bool canCompress(CompressorInput input, int width, int height) const = 0;

    // The opaque state block (a versioned binary record of the settings) and its inverse. setState
    // refuses a block it does not understand and keeps its settings.
    virtual std::vector<std::uint8_t> state() const = 0;
    virtual bool setState(const std::uint8_t* data, std::size_t size) = 0;
    virtual CompressorSettings settings() const = 0;
    virtual void setSettings(const CompressorSettings& settings) = 0;
    // Whether a state block was taken since opening (its rate then wins over the writer's rate).
    virtual bool hasState() const = 0;

    // Sequential compression (begin, compress per frame, end, extraData) is the VideoEncoder's.

    // For frames stored without the encoder: whether `pixels` equal the last frame compressed, the
    // caller's word that the next frame does (so it is not compared again), a frame position passed
    // over (the encoder's clock stays at the true position), a key frame demanded for the next frame,
    // and the key-frame interval in use since begin (0: unknown, nothing is skipped).
    virtual bool repeatsPreviousInput(const std::uint8_t* /*pixels*/) const { return false; }
    virtual void nextInputRepeats() {}
    virtual void skipFrame() {}
    virtual void forceKeyFrame() {}
    virtual int keyFrameInterval() const { return 0; }
};

struct CompressorInfo {
    std::string description;
    std::uint32_t type = kCompressorType;
    std::uint32_t handler = 0;
};

// The compressors this machine offers, in a fixed order, whether or not they open.
std::vector<CompressorInfo> enumerateCompressors();

// Opens the compressor with these codes; nullptr when none matches or its encoder is missing.
std::unique_ptr<VideoCompressor> openCompressor(std::uint32_t type, std::uint32_t handler);

// Whether libavcodec on this machine has an encoder of this name (e.g. "libx264"); the MP4 codecs of
// the codec list are offered only then.
bool hasEncoderNamed(const std::string& name);

}  // namespace kestrelle
