#pragma once
// A video encoder as a container writer sees it: begun once with the frame size, rate and input
// layout, then handed one uncompressed frame at a time, each giving one compressed packet with its
// key-frame flag, and ended. The installable MPEG-4 compressors (media/video_compressor.h) are the
// encoders the AVI writer uses; another container's writer can take another encoder through the same
// calls.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {

// The input a compression run takes (the frame header of the writer). 32-bit frames hold bytes blue,
// green, red, unused, rows bottom-up, width x 4 bytes each; 24-bit frames hold blue, green, red, rows
// bottom-up, each padded to a multiple of 4 bytes; YUY2 frames hold rows top-down, width x 2 bytes each.
enum class CompressorInput { Rgb32BottomUp, Rgb24BottomUp, Yuy2 };

struct CompressionParams {
    int width = 0;
    int height = 0;
    int rateNumerator = 30000;  // frames per second = rateNumerator / rateDenominator
    int rateDenominator = 1000;
    int keyFrameInterval = 30;
    int bytesPerSecond = 798720;  // used unless the encoder's own settings name a rate
    CompressorInput input = CompressorInput::Rgb32BottomUp;
};

// One compressed frame. The writer keeps one and hands it to every compress call, so its buffer is
// reused from frame to frame.
struct CompressedFrame {
    std::vector<std::uint8_t> bytes;
    bool keyFrame = false;
};

class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;

    // Sequential compression: begin, one call per frame (the encoder emits one frame per input, no
    // reordering), end. `pixels` holds one frame of the begun input format. On failure `error` says why.
    virtual bool begin(const CompressionParams& params, std::string& error) = 0;
    virtual bool compress(const std::uint8_t* pixels, CompressedFrame& out, std::string& error) = 0;
    virtual void end() = 0;
    // The codec's global header bytes for the stream format (may be empty).
    virtual std::vector<std::uint8_t> extraData() const = 0;
};

}  // namespace kestrelle
