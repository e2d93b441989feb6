#include "media/video_compressor.h"

#include "media/bgra_to_yuv420.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <cctype>
#include <cstring>

namespace kestrelle {

namespace {

// --- The compressors on offer -------------------------------------------------------------------

struct CompressorEntry {
    const char* description;
    std::uint32_t handler;
    const char* encoderName;
    int maxDimension;    // largest width or height the encoder opens
    bool evenSizesOnly;  // whether it refuses odd widths and heights
};

// Fixed order: the first entry is what a fresh profile names.
constexpr std::array<CompressorEntry, 2> kEntries{{
    // Xvid refuses odd sizes; libavcodec's MPEG-4 encoder takes any size its 13-bit fields hold.
    {"Xvid MPEG-4 Codec", makeFourCC('X', 'V', 'I', 'D'), "libxvid", 8190, true},
    {"DivX-compatible MPEG-4 (libavcodec)", makeFourCC('D', 'X', '5', '0'), "mpeg4", 8191, false},
}};

// Handler codes compare without regard to letter case, as installed compressors do.
std::uint32_t upperFourCC(std::uint32_t code) {
    std::uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>((code >> (8 * i)) & 0xFF);
        result |= static_cast<std::uint32_t>(std::toupper(byte)) << (8 * i);
    }
    return result;
}

std::string avErrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

// --- The state block ------------------------------------------------------------------------------
// Layout, little-endian, 24 bytes: magic "KVCS", u16 version (1), u16 total size (24), u8 rate control,
// i32 bit rate (kbit/s), i32 quantizer, i32 key-frame interval, 3 reserved zero bytes.

constexpr std::array<std::uint8_t, 4> kStateMagic{'K', 'V', 'C', 'S'};
constexpr std::uint16_t kStateVersion = 1;
constexpr std::size_t kStateSize = 24;

// A kbit of the state's bit rate is 1024 bits, as the writer's data rate counts 780 x 1024 bytes: the
// default 6240 kbit/s is exactly its 798,720 bytes per second, so an untouched state encodes as no state.
constexpr std::int64_t kBitsPerKbit = 1024;
constexpr int kMinBitRateKbps = 16;
constexpr int kMaxBitRateKbps = 100000;
constexpr int kMaxKeyFrameInterval = 3000;

void putI32(std::vector<std::uint8_t>& out, std::int32_t value) {
    appendLe32(out, static_cast<std::uint32_t>(value));
}

std::int32_t getI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(readLe32(p));
}

bool settingsValid(const CompressorSettings& s) {
    return (s.rateControl == CompressorSettings::RateControl::TargetBitRate ||
            s.rateControl == CompressorSettings::RateControl::ConstantQuantizer) &&
           s.bitRateKbps >= kMinBitRateKbps && s.bitRateKbps <= kMaxBitRateKbps && s.quantizer >= 1 &&
           s.quantizer <= 31 && s.keyFrameInterval >= 1 && s.keyFrameInterval <= kMaxKeyFrameInterval;
}

// --- RAII for the FFmpeg objects -------------------------------------------------------------------

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;

AVPixelFormat sourceFormat(CompressorInput input) {
    switch (input) {
        case CompressorInput::Rgb32BottomUp:
            return AV_PIX_FMT_BGRA;
        case CompressorInput::Rgb24BottomUp:
            return AV_PIX_FMT_BGR24;
        case CompressorInput::Yuy2:
            return AV_PIX_FMT_YUYV422;
    }
    return AV_PIX_FMT_NONE;
}

// --- One compressor over a libavcodec encoder -----------------------------------------------------

class AvCompressor final : public VideoCompressor {
public:
    AvCompressor(const CompressorEntry& entry, const AVCodec* codec) : entry_(entry), codec_(codec) {}
    ~AvCompressor() override { end(); }

    std::string description() const override { return entry_.description; }
    std::uint32_t typeCode() const override { return kCompressorType; }
    std::uint32_t handlerCode() const override { return entry_.handler; }

    bool canCompress(CompressorInput input, int width, int height) const override {
        if (sourceFormat(input) == AV_PIX_FMT_NONE) return false;
        if (width < 1 || height < 1 || width > entry_.maxDimension || height > entry_.maxDimension)
            return false;
        // YUY2 pixels come in pairs sharing their chroma, so its rows need an even width.
        if ((entry_.evenSizesOnly || input == CompressorInput::Yuy2) && width % 2 != 0) return false;
        return !entry_.evenSizesOnly || height % 2 == 0;
    }

    std::vector<std::uint8_t> state() const override {
        std::vector<std::uint8_t> out;
        out.reserve(kStateSize);
        out.insert(out.end(), kStateMagic.begin(), kStateMagic.end());
        appendLe16(out, kStateVersion);
        appendLe16(out, static_cast<std::uint16_t>(kStateSize));
        out.push_back(static_cast<std::uint8_t>(settings_.rateControl));
        putI32(out, settings_.bitRateKbps);
        putI32(out, settings_.quantizer);
        putI32(out, settings_.keyFrameInterval);
        out.resize(kStateSize, 0);
        return out;
    }

    bool setState(const std::uint8_t* data, std::size_t size) override {
        if (data == nullptr || size != kStateSize) return false;
        if (std::memcmp(data, kStateMagic.data(), kStateMagic.size()) != 0) return false;
        if (readLe16(data + 4) != kStateVersion || readLe16(data + 6) != kStateSize) return false;
        if (data[8] > 1) return false;
        for (std::size_t i = 21; i < kStateSize; ++i)
            if (data[i] != 0) return false;
        CompressorSettings s;
        s.rateControl = static_cast<CompressorSettings::RateControl>(data[8]);
        s.bitRateKbps = getI32(data + 9);
        s.quantizer = getI32(data + 13);
        s.keyFrameInterval = getI32(data + 17);
        if (!settingsValid(s)) return false;
        settings_ = s;
        hasState_ = true;
        return true;
    }

    CompressorSettings settings() const override { return settings_; }

    // Settings chosen explicitly count like a state block taken; out-of-range values are refused.
    void setSettings(const CompressorSettings& settings) override {
        if (!settingsValid(settings)) return;
        settings_ = settings;
        hasState_ = true;
    }

    bool hasState() const override { return hasState_; }

    bool begin(const CompressionParams& params, std::string& error) override {
        end();
        if (!canCompress(params.input, params.width, params.height)) {
            error = "unsupported frame size " + std::to_string(params.width) + " x " +
                    std::to_string(params.height);
            return false;
        }
        if (params.rateNumerator <= 0 || params.rateDenominator <= 0) {
            error = "invalid frame rate " + std::to_string(params.rateNumerator) + "/" +
                    std::to_string(params.rateDenominator);
            return false;
        }
        CodecContextPtr context(avcodec_alloc_context3(codec_));
        if (!context) {
            error = "cannot allocate the encoder context";
            return false;
        }
        int rateNum = 0;
        int rateDen = 0;
        // MPEG-4 Part 2 keeps the time base denominator within 16 bits.
        av_reduce(&rateNum, &rateDen, params.rateNumerator, params.rateDenominator, 65535);
        if (rateNum <= 0 || rateDen <= 0) {
            error = "invalid frame rate";
            return false;
        }
        context->width = params.width;
        context->height = params.height;
        context->time_base = AVRational{rateDen, rateNum};
        context->framerate = AVRational{rateNum, rateDen};
        context->pix_fmt = encoderPixelFormat();
        context->max_b_frames = 0;
        context->thread_count = 0;  // as many encoding threads as the encoder finds useful
        context->codec_tag = entry_.handler;
        context->flags &= ~AV_CODEC_FLAG_GLOBAL_HEADER;  // AVI needs the headers in the stream
        const int interval = hasState_ ? settings_.keyFrameInterval : params.keyFrameInterval;
        context->gop_size = interval > 0 ? interval : 1;
        quality_ = 0;
        if (hasState_ && settings_.rateControl == CompressorSettings::RateControl::ConstantQuantizer) {
            context->flags |= AV_CODEC_FLAG_QSCALE;
            quality_ = FF_QP2LAMBDA * settings_.quantizer;
            context->global_quality = quality_;
        } else {
            const std::int64_t bitRate = hasState_
                                             ? static_cast<std::int64_t>(settings_.bitRateKbps) * kBitsPerKbit
                                             : static_cast<std::int64_t>(params.bytesPerSecond) * 8;
            context->bit_rate = bitRate > 0 ? bitRate : 800000;
        }

        int rc = avcodec_open2(context.get(), codec_, nullptr);
        if (rc < 0) {
            error = std::string("cannot open encoder ") + entry_.encoderName + " for " +
                    std::to_string(params.width) + " x " + std::to_string(params.height) + ": " +
                    avErrorText(rc);
            return false;
        }
        FramePtr frame(av_frame_alloc());
        PacketPtr packet(av_packet_alloc());
        if (!frame || !packet) {
            error = "cannot allocate a frame or a packet";
            return false;
        }
        frame->format = context->pix_fmt;
        frame->width = context->width;
        frame->height = context->height;
        rc = av_frame_get_buffer(frame.get(), 0);
        if (rc < 0) {
            error = "cannot allocate the frame buffer (" + std::to_string(params.width) + " x " +
                    std::to_string(params.height) + "): " + avErrorText(rc);
            return false;
        }
        const AVPixelFormat source = sourceFormat(params.input);
        SwsPtr scaler(sws_getContext(params.width, params.height, source, params.width, params.height,
                                     context->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler) {
            error = "cannot create the pixel format conversion";
            return false;
        }
        params_ = params;
        context_ = std::move(context);
        frame_ = std::move(frame);
        packet_ = std::move(packet);
        scaler_ = std::move(scaler);
        nextPts_ = 0;
        keyFrameForced_ = false;
        inputRepeats_ = false;
        lastInput_.clear();
        return true;
    }

    bool compress(const std::uint8_t* pixels, CompressedFrame& out, std::string& error) override {
        out.bytes.clear();
        out.keyFrame = false;
        const bool toldRepeat = inputRepeats_;
        inputRepeats_ = false;
        if (!context_) {
            error = "compression has not begun";
            return false;
        }
        if (pixels == nullptr) {
            error = "no frame given";
            return false;
        }
        int rc = av_frame_make_writable(frame_.get());
        if (rc < 0) {
            error = "cannot make the frame writable: " + avErrorText(rc);
            return false;
        }
        // A slideshow repeats its still frames many times: the frame already holds the conversion of
        // an input equal to the previous one (making it writable keeps its content).
        if (!toldRepeat && !repeatsLastInput(pixels)) {
            if (!convertInput(pixels)) {
                lastInput_.clear();
                error = "pixel format conversion failed";
                return false;
            }
            lastInput_.assign(pixels, pixels + inputBytes());
        }
        frame_->pts = nextPts_++;
        frame_->quality = quality_;
        frame_->pict_type = keyFrameForced_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        keyFrameForced_ = false;

        rc = avcodec_send_frame(context_.get(), frame_.get());
        if (rc < 0) {
            error =
                "cannot send frame " + std::to_string(frame_->pts) + " to the encoder: " + avErrorText(rc);
            return false;
        }
        bool first = true;
        for (;;) {
            rc = avcodec_receive_packet(context_.get(), packet_.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) break;
            if (rc < 0) {
                error = "encoding frame " + std::to_string(frame_->pts) + " failed: " + avErrorText(rc);
                return false;
            }
            if (packet_->size > 0 && packet_->data != nullptr) {
                if (first) out.keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
                out.bytes.insert(out.bytes.end(), packet_->data, packet_->data + packet_->size);
                first = false;
            }
            av_packet_unref(packet_.get());
        }
        // An encoder may hold a frame back and give nothing: the caller then writes an empty frame.
        return true;
    }

    void end() override {
        lastInput_.clear();
        lastInput_.shrink_to_fit();
        scaler_.reset();
        packet_.reset();
        frame_.reset();
        context_.reset();
    }

    std::vector<std::uint8_t> extraData() const override {
        if (!context_ || context_->extradata == nullptr || context_->extradata_size <= 0) return {};
        return std::vector<std::uint8_t>(context_->extradata, context_->extradata + context_->extradata_size);
    }

    bool repeatsPreviousInput(const std::uint8_t* pixels) const override {
        return context_ && pixels != nullptr && repeatsLastInput(pixels);
    }
    void skipFrame() override {
        ++nextPts_;
        inputRepeats_ = false;
    }
    void nextInputRepeats() override { inputRepeats_ = !lastInput_.empty(); }
    void forceKeyFrame() override { keyFrameForced_ = true; }
    int keyFrameInterval() const override { return context_ ? context_->gop_size : 0; }

private:
    std::size_t inputBytes() const {
        const std::size_t w = static_cast<std::size_t>(params_.width);
        const std::size_t h = static_cast<std::size_t>(params_.height);
        switch (params_.input) {
            case CompressorInput::Rgb32BottomUp:
                return w * 4 * h;
            case CompressorInput::Rgb24BottomUp:
                return ((w * 3 + 3) & ~std::size_t{3}) * h;
            case CompressorInput::Yuy2:
                return w * 2 * h;
        }
        return 0;
    }

    // Converts one input frame into frame_: 32-bit RGB into 4:2:0 by the fast path, the rest by swscale.
    bool convertInput(const std::uint8_t* pixels) {
        const std::uint8_t* sourcePlanes[4] = {};
        int sourceStrides[4] = {};
        sourceRows(pixels, sourcePlanes, sourceStrides);
        if (params_.input == CompressorInput::Rgb24BottomUp && params_.width % 2 != 0) {
            widenOddRows(sourcePlanes[0], sourceStrides[0]);
            sourcePlanes[0] = widened_.data();
            sourceStrides[0] = widenedStride();
        }
        if (params_.input == CompressorInput::Rgb32BottomUp && frame_->format == AV_PIX_FMT_YUV420P) {
            convertBgraToYuv420(sourcePlanes[0], sourceStrides[0], params_.width, params_.height,
                                {frame_->data[0], frame_->data[1], frame_->data[2], frame_->linesize[0],
                                 frame_->linesize[1], frame_->linesize[2]});
            return true;
        }
        return sws_scale(scaler_.get(), sourcePlanes, sourceStrides, 0, params_.height, frame_->data,
                         frame_->linesize) == params_.height;
    }

    // swscale reads 24-bit pixels in pairs for the halved chroma, so with an odd width it reads one
    // pixel beyond each row: past the end of the frame on its last row. The rows are copied top-down
    // with their last pixel repeated, which also gives that pixel its own colour as chroma.
    int widenedStride() const { return ((params_.width + 1) * 3 + 15) & ~15; }
    void widenOddRows(const std::uint8_t* firstRow, int stride) {
        const std::size_t rowBytes = static_cast<std::size_t>(params_.width) * 3;
        const std::size_t outStride = static_cast<std::size_t>(widenedStride());
        widened_.resize(outStride * static_cast<std::size_t>(params_.height) + 64);
        for (int y = 0; y < params_.height; ++y) {
            const std::uint8_t* in = firstRow + static_cast<std::ptrdiff_t>(y) * stride;
            std::uint8_t* out = widened_.data() + outStride * static_cast<std::size_t>(y);
            std::memcpy(out, in, rowBytes);
            std::memcpy(out + rowBytes, in + rowBytes - 3, 3);
        }
    }

    bool repeatsLastInput(const std::uint8_t* pixels) const {
        return !lastInput_.empty() && std::memcmp(pixels, lastInput_.data(), lastInput_.size()) == 0;
    }

    AVPixelFormat encoderPixelFormat() const {
        if (codec_->pix_fmts != nullptr && codec_->pix_fmts[0] != AV_PIX_FMT_NONE) return codec_->pix_fmts[0];
        return AV_PIX_FMT_YUV420P;
    }

    // The rows of one input frame as swscale reads them. Bottom-up frames start at their last row and
    // walk backwards; 24-bit rows are padded to 4 bytes like device-independent bitmaps.
    void sourceRows(const std::uint8_t* pixels, const std::uint8_t* planes[4], int strides[4]) const {
        const int w = params_.width;
        const int h = params_.height;
        switch (params_.input) {
            case CompressorInput::Rgb32BottomUp: {
                const int stride = w * 4;
                planes[0] = pixels + static_cast<std::ptrdiff_t>(h - 1) * stride;
                strides[0] = -stride;
                break;
            }
            case CompressorInput::Rgb24BottomUp: {
                const int stride = (w * 3 + 3) & ~3;
                planes[0] = pixels + static_cast<std::ptrdiff_t>(h - 1) * stride;
                strides[0] = -stride;
                break;
            }
            case CompressorInput::Yuy2:
                planes[0] = pixels;
                strides[0] = w * 2;
                break;
        }
    }

    CompressorEntry entry_;
    const AVCodec* codec_;
    CompressorSettings settings_;
    bool hasState_ = false;

    CompressionParams params_;
    CodecContextPtr context_;
    FramePtr frame_;
    PacketPtr packet_;
    SwsPtr scaler_;
    std::int64_t nextPts_ = 0;
    bool keyFrameForced_ = false;
    bool inputRepeats_ = false;  // the caller knows the next input equals the last
    int quality_ = 0;
    std::vector<std::uint8_t> lastInput_;  // the input whose conversion the frame holds
    std::vector<std::uint8_t> widened_;    // odd-width 24-bit rows with their last pixel repeated
};

}  // namespace

std::vector<CompressorInfo> enumerateCompressors() {
    std::vector<CompressorInfo> result;
    result.reserve(kEntries.size());
    for (const auto& entry : kEntries) result.push_back({entry.description, kCompressorType, entry.handler});
    return result;
}

std::unique_ptr<VideoCompressor> openCompressor(std::uint32_t type, std::uint32_t handler) {
    if (type != kCompressorType) return nullptr;
    for (const auto& entry : kEntries) {
        if (upperFourCC(entry.handler) != upperFourCC(handler)) continue;
        const AVCodec* codec = avcodec_find_encoder_by_name(entry.encoderName);
        if (codec == nullptr) return nullptr;
        return std::make_unique<AvCompressor>(entry, codec);
    }
    return nullptr;
}

bool hasEncoderNamed(const std::string& name) {
    return !name.empty() && avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

}  // namespace kestrelle
