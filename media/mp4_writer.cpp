#include "media/mp4_writer.h"

#include "base/run_log.h"
#include "media/bgra_to_yuv420.h"
#include "media/h264_settings.h"
#include "media/h264_skip_frames.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#define MP4_LOG(level, ...) KESTRELLE_LOG_AS("mp4_writer.cpp", (level), __VA_ARGS__)

namespace kestrelle {

namespace {

constexpr int kSampleRate = 44100;
constexpr int kDefaultAudioKbps = 128;
constexpr int kMaxDimension = 16384;
// Frames of a still handed to the encoder (from its start and from each key frame in it) before skip
// frames take over: the encoder spends the repeat among them on sharpening the picture, as it would on
// a longer run of it (measured on the headline show: one frame loses 2.8 dB, a third gains nothing).
constexpr int kStillFramesEncoded = 2;

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
// Closes the file (when open) and frees the muxer.
struct FormatContextDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;

std::string avErrorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

// FFmpeg's libraries (and libx264 through them) would print to stderr; the run log has what matters.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// The exact rational for the frame rates players know by their NTSC names; others as av_d2q finds.
AVRational frameRateFor(double fps) {
    for (int base : {24, 30, 60}) {
        if (std::fabs(fps - base * 1000.0 / 1001.0) < 0.005) return AVRational{base * 1000, 1001};
    }
    return av_d2q(fps, 1000000);
}

std::string numberedFileName(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "_01";
    return path.substr(0, dot) + "_01" + path.substr(dot);
}

}  // namespace

struct Mp4Writer::State {
    std::string fileName;
    int frameLimit = 0;
    int width = 0;
    int height = 0;
    double fps = 0;
    FrameLayout layout = FrameLayout::Rgb32BottomUp;
    bool audio = false;
    FrameObserver frameObserver;

    FormatContextPtr format;
    bool headerWritten = false;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    CodecContextPtr video;
    CodecContextPtr audioCodec;
    FramePtr picture;     // the converted picture handed to the video encoder
    FramePtr audioFrame;  // one encoder frame of planar float samples
    PacketPtr packet;
    SwsPtr scaler;  // none when the fast BGRA path converts
    bool fastConversion = false;
    YuvMatrix matrix = YuvMatrix::Bt601;
    bool flushEachPacket = false;

    int framesWritten = 0;
    std::int64_t audioFramesIn = 0;  // stereo sample frames taken (samples and silence)
    std::int64_t audioPts = 0;       // stereo sample frames handed to the encoder
    int audioFill = 0;               // samples waiting in audioFrame

    int stillFramesLeft = 0;
    bool stillFirstPending = false;
    const std::uint8_t* stillPixels = nullptr;
    bool keyFramePending = false;
    int keyFrameInterval = 1;
    int framesSinceKeyFrame = 0;
    int stillFramesEncoded = 0;  // since the current still or its last key frame began

    // Repeats written without the encoder (H.264 only; see media/h264_skip_frames.h): skip frames,
    // and at a key frame inside a still, the still's own first frames again.
    enum class Written : std::uint8_t { Skip, StillKey, StillSharpened };
    struct EncodedFrame {
        std::int64_t pts = 0;
        std::vector<Written> after;  // the frames that follow it, written without the encoder
    };
    bool skipFramesPossible = false;  // the encoder's stream takes skip frames
    bool skipFrames = false;          // and they are still written
    bool longSamples = false;         // repeats lengthen the sample before them instead
    H264StreamFacts facts;
    std::deque<EncodedFrame> encoderQueue;  // frames handed to the encoder, not yet back
    int lastFrameNum = 0;                   // of the last frame written
    // The current still's encoded first frames (its IDR frame and the one that sharpens it), as
    // written: a key frame later in the still is the same two frames again, so the decoder shows the
    // same pictures and the encoder has no work.
    std::int64_t stillStartPts = -1;
    std::vector<std::uint8_t> stillKeyBytes;
    std::vector<std::uint8_t> stillSharpenedBytes;
    bool stillFirstFramesSent = false;  // both handed to the encoder (it gives them back later)
    bool sharpenedReplayNext = false;
    std::int64_t lastVideoPts = -1;  // of the last video packet written
    int framesWithoutEncoder = 0;
    std::vector<std::uint8_t> packetBytes;
};

namespace {

using State = Mp4Writer::State;

// Writes the packet in s.packet (its time stamps in `codec`'s time base) to `stream`.
bool writePacket(State& s, AVCodecContext* codec, AVStream* stream) {
    av_packet_rescale_ts(s.packet.get(), codec->time_base, stream->time_base);
    s.packet->stream_index = stream->index;
    const int rc = av_interleaved_write_frame(s.format.get(), s.packet.get());
    if (rc >= 0 && s.flushEachPacket) avio_flush(s.format->pb);
    if (rc < 0 || (s.format->pb && s.format->pb->error < 0)) {
        MP4_LOG(2, "Writing %s failed: %s.", s.fileName.c_str(),
                avErrorText(rc < 0 ? rc : s.format->pb->error).c_str());
        return false;
    }
    return true;
}

// Writes `bytes` as the video packet of frame `pts`.
bool writeVideoBytes(State& s, const std::vector<std::uint8_t>& bytes, std::int64_t pts, bool key) {
    av_packet_unref(s.packet.get());
    if (av_new_packet(s.packet.get(), static_cast<int>(bytes.size())) < 0) return false;
    std::memcpy(s.packet->data, bytes.data(), bytes.size());
    s.packet->pts = pts;
    s.packet->dts = pts;
    s.packet->duration = 1;
    if (key) s.packet->flags |= AV_PKT_FLAG_KEY;
    s.lastVideoPts = pts;
    return writePacket(s, s.video.get(), s.videoStream);
}

int nextFrameNum(const State& s) {
    return (s.lastFrameNum + 1) % (1 << s.facts.log2MaxFrameNum);
}

// A skip frame for frame `pts`: the next reference frame, a copy of the one before. With long samples
// none is written and the sample before simply lasts longer.
bool writeSkipFrame(State& s, std::int64_t pts) {
    if (s.longSamples) return true;
    s.lastFrameNum = nextFrameNum(s);
    return writeVideoBytes(s, makeH264SkipFrame(s.facts, s.lastFrameNum), pts, false);
}

// A frame written without the encoder.
bool writeWithoutEncoder(State& s, State::Written kind, std::int64_t pts) {
    switch (kind) {
        case State::Written::Skip:
            return writeSkipFrame(s, pts);
        case State::Written::StillKey:
        case State::Written::StillSharpened: {
            const bool keyFrame = kind == State::Written::StillKey;
            const std::vector<std::uint8_t>& bytes = keyFrame ? s.stillKeyBytes : s.stillSharpenedBytes;
            if (bytes.empty()) {
                // The encoder did not give the still's first frames as planned: the picture stays.
                MP4_LOG(1, "The still's first frames are missing; frame %lld repeats the one before.",
                        static_cast<long long>(pts));
                return writeSkipFrame(s, pts);
            }
            // The IDR frame, then its sharpening frame right after it (frame_num 1), as first written.
            s.lastFrameNum = keyFrame ? 0 : nextFrameNum(s);
            return writeVideoBytes(s, bytes, pts, keyFrame);
        }
    }
    return false;
}

// An encoded frame back from the encoder, numbered after the frame written before it, then the frames
// that follow it without the encoder.
bool writeEncodedFrame(State& s) {
    s.packetBytes.assign(s.packet->data, s.packet->data + s.packet->size);
    H264FrameFacts frame;
    if (s.encoderQueue.empty() || !renumberH264Frame(s.packetBytes, s.facts, nextFrameNum(s), frame)) {
        MP4_LOG(2, "The encoder gave a frame that cannot be renumbered.");
        return false;
    }
    const State::EncodedFrame encoded = s.encoderQueue.front();
    s.encoderQueue.pop_front();
    s.lastFrameNum = frame.frameNum;
    // The still's first two frames are kept for its later key frames.
    if (encoded.pts == s.stillStartPts && frame.idr) {
        s.stillKeyBytes = s.packetBytes;
        s.stillSharpenedBytes.clear();
    } else if (encoded.pts == s.stillStartPts + 1 && !s.stillKeyBytes.empty() && frame.frameNum == 1) {
        s.stillSharpenedBytes = s.packetBytes;
    }
    if (!frame.reference) {
        // Nothing may copy a frame that is no reference: later repeats go to the encoder.
        MP4_LOG(1, "The encoder wrote a frame that is no reference; skip frames stop here.");
        s.skipFrames = false;
    }
    const bool key = (s.packet->flags & AV_PKT_FLAG_KEY) != 0;
    if (!writeVideoBytes(s, s.packetBytes, encoded.pts, key)) return false;
    for (std::size_t k = 0; k < encoded.after.size(); ++k) {
        if (!writeWithoutEncoder(s, encoded.after[k], encoded.pts + 1 + static_cast<std::int64_t>(k)))
            return false;
    }
    return true;
}

// Hands one frame (none: the flush) to `codec` and writes every packet it gives back.
bool encodeAndWrite(State& s, AVCodecContext* codec, AVStream* stream, const AVFrame* frame) {
    int rc = avcodec_send_frame(codec, frame);
    if (rc < 0) {
        MP4_LOG(2, "Encoding failed: %s.", avErrorText(rc).c_str());
        return false;
    }
    while (true) {
        rc = avcodec_receive_packet(codec, s.packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) {
            MP4_LOG(2, "Encoding failed: %s.", avErrorText(rc).c_str());
            return false;
        }
        const bool ok = codec == s.video.get() && s.skipFramesPossible ? writeEncodedFrame(s)
                                                                       : writePacket(s, codec, stream);
        if (!ok) return false;
    }
}

// Encodes the samples waiting in audioFrame (the whole frame, or a shorter last one).
bool encodeAudioFrame(State& s) {
    if (s.audioFill == 0) return true;
    s.audioFrame->nb_samples = s.audioFill;
    s.audioFrame->pts = s.audioPts;
    s.audioPts += s.audioFill;
    s.audioFill = 0;
    const bool ok = encodeAndWrite(s, s.audioCodec.get(), s.audioStream, s.audioFrame.get());
    s.audioFrame->nb_samples = s.audioCodec->frame_size;
    return ok;
}

// Appends stereo samples (none: silence) to the audio, encoding each full frame.
bool addAudio(State& s, const std::int16_t* samples, std::int64_t frames) {
    const int frameSize = s.audioCodec->frame_size;
    while (frames > 0) {
        if (av_frame_make_writable(s.audioFrame.get()) < 0) return false;
        const int take = static_cast<int>(std::min<std::int64_t>(frames, frameSize - s.audioFill));
        auto* left = reinterpret_cast<float*>(s.audioFrame->data[0]) + s.audioFill;
        auto* right = reinterpret_cast<float*>(s.audioFrame->data[1]) + s.audioFill;
        for (int i = 0; i < take; ++i) {
            left[i] = samples ? static_cast<float>(samples[2 * i]) * (1.0f / 32768.0f) : 0.0f;
            right[i] = samples ? static_cast<float>(samples[2 * i + 1]) * (1.0f / 32768.0f) : 0.0f;
        }
        if (samples) samples += 2 * static_cast<std::ptrdiff_t>(take);
        frames -= take;
        s.audioFill += take;
        s.audioFramesIn += take;
        if (s.audioFill == frameSize && !encodeAudioFrame(s)) return false;
    }
    return true;
}

bool setUpVideo(State& s, const ContainerWriterOptions& options, WriterError& error) {
    const char* encoderName = options.compressorHandler == kHevcHandler ? "libx265" : "libx264";
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName);
    if (!codec || (options.compressorHandler != kH264Handler && options.compressorHandler != kHevcHandler)) {
        MP4_LOG(1, "No video encoder %s.", encoderName);
        error = WriterError::CompressorMissing;
        return false;
    }
    error = WriterError::VideoSetupFailed;
    // 4:2:0 halves both dimensions for chroma: the encoders take even sizes only.
    if (s.width < 2 || s.height < 2 || s.width > kMaxDimension || s.height > kMaxDimension ||
        s.width % 2 != 0 || s.height % 2 != 0) {
        MP4_LOG(1, "The video size %dx%d is not even or out of range.", s.width, s.height);
        return false;
    }
    if (!(s.fps > 0) || !std::isfinite(s.fps) || s.fps > 1000) {
        MP4_LOG(1, "No frame rate %f.", s.fps);
        return false;
    }
    const H264Settings settings = parseH264Settings(options.codecState).value_or(H264Settings{});
    const AVRational rate = frameRateFor(s.fps);

    s.video.reset(avcodec_alloc_context3(codec));
    if (!s.video) return false;
    AVCodecContext* c = s.video.get();
    c->width = s.width;
    c->height = s.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = av_inv_q(rate);
    c->framerate = rate;
    c->sample_aspect_ratio = AVRational{1, 1};
    c->gop_size = std::max(1, static_cast<int>(std::lround(settings.keyFrameSeconds * av_q2d(rate))));
    c->max_b_frames = -1;  // the preset's
    const bool hd = s.height >= 720;
    c->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
    c->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    c->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
    c->color_range = AVCOL_RANGE_MPEG;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", settings.preset.c_str(), 0);
    const bool h264 = options.compressorHandler == kH264Handler;
    if (h264) {
        av_opt_set(c->priv_data, "profile", "high", 0);
        av_opt_set_int(c->priv_data, "forced-idr", 1, 0);
    }
    // Skip frames for repeats need every encoded frame to be the one reference of the next.
    const bool wantSkipFrames = h264 && !everyFrameEncoded();
    if (wantSkipFrames) {
        c->max_b_frames = 0;
        c->refs = 1;
    }
    if (h264) {
        // One frame thread a core and a short look-ahead: a slideshow's pictures change at its cuts,
        // and the frames the encoder holds are most of the writer's memory (about 12 MB each at 1080p).
        const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        av_opt_set(c->priv_data, "x264-params",
                   ("threads=" + std::to_string(cores) + ":rc-lookahead=5").c_str(), 0);
    }
    if (settings.rateControl == H264RateControl::AverageBitRate && options.videoBitRateKbps > 0) {
        const std::int64_t bits = static_cast<std::int64_t>(options.videoBitRateKbps) * 1000;
        c->bit_rate = bits;
        // A decoder buffer of two seconds, peaks up to twice the average: smooth for players, room for
        // the cuts between slides.
        c->rc_max_rate = 2 * bits;
        c->rc_buffer_size = static_cast<int>(std::min<std::int64_t>(4 * bits, INT32_MAX));
    } else {
        av_opt_set_double(c->priv_data, "crf", settings.constantQuality, 0);
    }
    int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        MP4_LOG(1, "%s refuses %dx%d at %d/%d: %s.", encoderName, s.width, s.height, rate.num, rate.den,
                avErrorText(rc).c_str());
        return false;
    }
    s.keyFrameInterval = c->gop_size;
    if (wantSkipFrames) {
        const std::optional<H264StreamFacts> facts = readH264StreamFacts(c->extradata, c->extradata_size);
        s.skipFramesPossible = facts && skipFramesFit(*facts);
        if (s.skipFramesPossible) s.facts = *facts;
        s.skipFrames = s.skipFramesPossible;
        s.longSamples = s.skipFramesPossible && settings.stillsAsLongSamples;
        if (!s.skipFramesPossible)
            MP4_LOG(1, "The encoder's stream takes no skip frames; every frame is encoded.");
    }
    s.videoStream = avformat_new_stream(s.format.get(), nullptr);
    if (!s.videoStream || avcodec_parameters_from_context(s.videoStream->codecpar, c) < 0) return false;
    s.videoStream->time_base = c->time_base;
    s.videoStream->avg_frame_rate = rate;

    s.picture.reset(av_frame_alloc());
    if (!s.picture) return false;
    s.picture->format = c->pix_fmt;
    s.picture->width = s.width;
    s.picture->height = s.height;
    s.picture->color_primaries = c->color_primaries;
    s.picture->color_trc = c->color_trc;
    s.picture->colorspace = c->colorspace;
    s.picture->color_range = c->color_range;
    if (av_frame_get_buffer(s.picture.get(), 0) < 0) return false;

    // 32-bit pictures take the fast conversion with the matching coefficients; the other layouts go
    // through swscale.
    s.fastConversion = s.layout == FrameLayout::Rgb32BottomUp;
    s.matrix = hd ? YuvMatrix::Bt709 : YuvMatrix::Bt601;
    if (!s.fastConversion) {
        const AVPixelFormat source = s.layout == FrameLayout::Rgb32BottomUp   ? AV_PIX_FMT_BGRA
                                     : s.layout == FrameLayout::Rgb24BottomUp ? AV_PIX_FMT_BGR24
                                                                              : AV_PIX_FMT_YUYV422;
        s.scaler.reset(sws_getContext(s.width, s.height, source, s.width, s.height, AV_PIX_FMT_YUV420P,
                                      SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
        if (!s.scaler) return false;
        if (source != AV_PIX_FMT_YUYV422) {
            const int* coefficients = sws_getCoefficients(hd ? SWS_CS_ITU709 : SWS_CS_ITU601);
            sws_setColorspaceDetails(s.scaler.get(), coefficients, 0, coefficients, 0, 0, 1 << 16, 1 << 16);
        }
    }
    error = WriterError::Ok;
    return true;
}

bool setUpAudio(State& s, const ContainerWriterOptions& options) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec) return false;
    s.audioCodec.reset(avcodec_alloc_context3(codec));
    if (!s.audioCodec) return false;
    AVCodecContext* c = s.audioCodec.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = kSampleRate;
    c->time_base = AVRational{1, kSampleRate};
    c->profile = FF_PROFILE_AAC_LOW;
    av_channel_layout_default(&c->ch_layout, 2);
    const int kbps = options.audioBitRateKbps.value_or(kDefaultAudioKbps);
    c->bit_rate = static_cast<std::int64_t>(std::clamp(kbps, 32, 512)) * 1000;
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int rc = avcodec_open2(c, codec, nullptr);
    if (rc < 0) {
        MP4_LOG(1, "The AAC encoder refuses its setup: %s.", avErrorText(rc).c_str());
        return false;
    }
    s.audioStream = avformat_new_stream(s.format.get(), nullptr);
    // initial_padding travels in the stream's parameters: the muxer turns it into an edit list.
    if (!s.audioStream || avcodec_parameters_from_context(s.audioStream->codecpar, c) < 0) return false;
    s.audioStream->time_base = c->time_base;
    s.audioFrame.reset(av_frame_alloc());
    if (!s.audioFrame) return false;
    s.audioFrame->format = c->sample_fmt;
    s.audioFrame->sample_rate = kSampleRate;
    s.audioFrame->nb_samples = c->frame_size;
    if (av_channel_layout_copy(&s.audioFrame->ch_layout, &c->ch_layout) < 0) return false;
    return av_frame_get_buffer(s.audioFrame.get(), 0) >= 0;
}

// Releases everything without finishing the file; removes it when `removeFile`.
void discard(State& s, bool removeFile) {
    s.video.reset();
    s.audioCodec.reset();
    s.picture.reset();
    s.audioFrame.reset();
    s.scaler.reset();
    s.format.reset();
    s.videoStream = nullptr;
    s.audioStream = nullptr;
    s.headerWritten = false;
    if (removeFile && !s.fileName.empty()) std::remove(s.fileName.c_str());
}

// Flushes both encoders and writes the index; true when the whole file was stored.
bool finish(State& s) {
    if (!s.format) return true;
    bool ok = s.headerWritten;
    if (ok && s.video) ok = encodeAndWrite(s, s.video.get(), s.videoStream, nullptr);
    // With long samples the last sample must still reach the end: it ends on a real skip frame.
    if (ok && s.longSamples && s.lastVideoPts >= 0 && s.lastVideoPts < s.framesWritten - 1) {
        s.longSamples = false;
        ok = writeSkipFrame(s, s.framesWritten - 1);
    }
    if (s.skipFramesPossible) {
        MP4_LOG(1, "Frames stored without the encoder: %d of %d.", s.framesWithoutEncoder, s.framesWritten);
    }
    if (ok && s.audioCodec) {
        ok = encodeAudioFrame(s) && encodeAndWrite(s, s.audioCodec.get(), s.audioStream, nullptr);
    }
    if (ok) {
        const int rc = av_write_trailer(s.format.get());
        ok = rc >= 0 && s.format->pb->error >= 0;
        if (!ok) MP4_LOG(2, "Finishing %s failed: %s.", s.fileName.c_str(), avErrorText(rc).c_str());
    }
    if (ok && s.format->pb) ok = avio_closep(&s.format->pb) >= 0;
    // A file that could not be finished is no playable video: it goes rather than misleads.
    discard(s, !ok);
    MP4_LOG(0, ok ? "MP4 file %s finished." : "MP4 file %s failed and was removed.", s.fileName.c_str());
    return ok;
}

// Converts `pixels` into the picture handed to the encoder.
void convertPicture(State& s, const std::uint8_t* pixels) {
    AVFrame* f = s.picture.get();
    if (s.fastConversion) {
        const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(s.width) * 4;
        convertBgraToYuv420(
            pixels + stride * (s.height - 1), -stride, s.width, s.height,
            Yuv420Planes{f->data[0], f->data[1], f->data[2], f->linesize[0], f->linesize[1], f->linesize[2]},
            s.matrix);
        return;
    }
    const bool bottomUp = s.layout != FrameLayout::Yuy2;
    const int bytesPerPixel = s.layout == FrameLayout::Rgb32BottomUp   ? 4
                              : s.layout == FrameLayout::Rgb24BottomUp ? 3
                                                                       : 2;
    const int stride = s.width * bytesPerPixel;
    const std::uint8_t* first =
        bottomUp ? pixels + static_cast<std::ptrdiff_t>(stride) * (s.height - 1) : pixels;
    const int strides[1] = {bottomUp ? -stride : stride};
    sws_scale(s.scaler.get(), &first, strides, 0, s.height, f->data, f->linesize);
}

// True when `pixels` repeats the announced still's picture; notes where a still starts.
bool isRepeat(State& s, const std::uint8_t* pixels) {
    if (s.stillFramesLeft <= 0) return false;
    bool repeat = false;
    if (s.stillFirstPending) {
        s.stillPixels = pixels;
        s.keyFramePending = true;
        s.stillFramesEncoded = 0;
        s.stillStartPts = s.framesWritten;
        s.stillKeyBytes.clear();
        s.stillSharpenedBytes.clear();
        s.stillFirstFramesSent = false;
        s.sharpenedReplayNext = false;
    } else {
        repeat = pixels == s.stillPixels;
    }
    s.stillFirstPending = false;
    s.stillFramesLeft = pixels == s.stillPixels ? s.stillFramesLeft - 1 : 0;
    return repeat;
}

bool writeVideo(State& s, const std::uint8_t* pixels) {
    const bool repeat = isRepeat(s, pixels);
    const std::int64_t pts = s.framesWritten;
    // With skip frames the encoder sees only some frames, so the key-frame distance is counted here.
    // A replayed key frame is always followed by its sharpening frame; should the still end before it
    // (no announced still does), this frame starts afresh with a key frame instead.
    const bool sharpeningMissed = s.sharpenedReplayNext && !repeat;
    const bool key = s.keyFramePending || sharpeningMissed ||
                     (s.skipFramesPossible && s.framesSinceKeyFrame >= s.keyFrameInterval);
    s.keyFramePending = false;
    s.framesSinceKeyFrame = key ? 1 : s.framesSinceKeyFrame + 1;
    if (key) s.stillFramesEncoded = 0;
    std::optional<State::Written> without;
    if (repeat && s.skipFrames) {
        if (key && s.stillFirstFramesSent && s.stillFramesLeft > 0) {
            // A key frame inside a still: the still's own first two frames again.
            without = State::Written::StillKey;
            s.sharpenedReplayNext = true;
            s.stillFramesEncoded = kStillFramesEncoded;
        } else if (!key && s.sharpenedReplayNext) {
            without = State::Written::StillSharpened;
            s.sharpenedReplayNext = false;
        } else if (!key && s.stillFramesEncoded >= kStillFramesEncoded) {
            without = State::Written::Skip;
        }
    }
    if (key && !without) s.sharpenedReplayNext = false;
    if (without) {
        s.framesWithoutEncoder += 1;
        if (!s.encoderQueue.empty()) {
            s.encoderQueue.back().after.push_back(*without);
            return true;
        }
        return writeWithoutEncoder(s, *without, pts);
    }
    // A repeat shows the picture already converted: the encoder gets the same frame again.
    s.stillFramesEncoded += 1;
    if (!repeat) {
        if (av_frame_make_writable(s.picture.get()) < 0) return false;
        convertPicture(s, pixels);
    }
    s.picture->pts = pts;
    s.picture->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (repeat && pts == s.stillStartPts + 1) s.stillFirstFramesSent = true;
    if (s.skipFramesPossible) s.encoderQueue.push_back(State::EncodedFrame{pts, {}});
    return encodeAndWrite(s, s.video.get(), s.videoStream, s.picture.get());
}

}  // namespace

Mp4Writer::Mp4Writer() : state_(std::make_unique<State>()) {}

Mp4Writer::~Mp4Writer() {
    finish(*state_);
}

WriterError Mp4Writer::open(const ContainerWriterOptions& options) {
    silenceLibraryLog();
    State& s = *state_;
    finish(s);
    s = State{};
    s.fileName = options.numberedName ? numberedFileName(options.path) : options.path;
    s.frameLimit = options.frameLimit;
    s.width = options.width;
    s.height = options.height;
    s.fps = options.framesPerSecond;
    s.layout = options.layout;
    s.audio = options.audio;
    s.frameObserver = options.frameObserver;
    MP4_LOG(0, "Open MP4 file %s, %dx%d at %.3f frames/s.", s.fileName.c_str(), s.width, s.height, s.fps);

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "mp4", s.fileName.c_str()) < 0 || !raw) {
        MP4_LOG(1, "No mp4 muxer.");
        return WriterError::VideoSetupFailed;
    }
    s.format.reset(raw);
    WriterError error = WriterError::Ok;
    if (!setUpVideo(s, options, error)) {
        discard(s, false);
        return error;
    }
    if (s.audio && !setUpAudio(s, options)) {
        discard(s, false);
        return WriterError::AudioSetupFailed;
    }
    // The file is replaced, but only a plain file: the muxer reads it back to move the index, which a
    // device or a pipe cannot give (and opening a pipe would wait for a reader).
    struct stat existing {};
    if (lstat(s.fileName.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode) || std::remove(s.fileName.c_str()) != 0) {
            MP4_LOG(1, "Cannot replace %s.", s.fileName.c_str());
            discard(s, false);
            return WriterError::FileNotCreated;
        }
    }
    placeLargeBlocksOnTheHeap();
    int rc = avio_open(&s.format->pb, s.fileName.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        MP4_LOG(1, "Cannot create %s: %s.", s.fileName.c_str(), avErrorText(rc).c_str());
        discard(s, false);
        return WriterError::FileNotCreated;
    }
    // Tests: every packet reaches the file as it is written, so a write failure shows at once.
    s.flushEachPacket = options.fileBufferBytes.has_value();
    AVDictionary* muxerOptions = nullptr;
    av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    rc = avformat_write_header(s.format.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0) {
        MP4_LOG(1, "Cannot start %s: %s.", s.fileName.c_str(), avErrorText(rc).c_str());
        discard(s, true);
        return WriterError::VideoSetupFailed;
    }
    s.headerWritten = true;
    s.packet.reset(av_packet_alloc());
    if (!s.packet) {
        discard(s, true);
        return WriterError::VideoSetupFailed;
    }
    return WriterError::Ok;
}

bool Mp4Writer::writeFrame(const std::uint8_t* pixels, const std::int16_t* samples, int sampleCount) {
    State& s = *state_;
    if (!s.format) return false;
    if (s.framesWritten >= s.frameLimit || !pixels) {
        finish(s);
        return false;
    }
    if (s.frameObserver) s.frameObserver(pixels, s.width, s.height);
    bool ok = writeVideo(s, pixels);
    if (ok && s.audioCodec) {
        const std::int64_t frames = samples && sampleCount > 0 ? sampleCount / 2 : 0;
        ok = addAudio(s, samples, frames);
        const std::int64_t target =
            std::llround(static_cast<double>(s.framesWritten + 1) * kSampleRate / s.fps);
        if (ok && s.audioFramesIn < target) ok = addAudio(s, nullptr, target - s.audioFramesIn);
    }
    if (!ok) {
        MP4_LOG(2, "Writing frame %d of %s failed.", s.framesWritten, s.fileName.c_str());
        discard(s, true);
        return false;
    }
    s.framesWritten += 1;
    return true;
}

void Mp4Writer::announceStill(int frames) {
    State& s = *state_;
    s.stillFramesLeft = frames > 0 ? frames : 0;
    s.stillFirstPending = s.stillFramesLeft > 0;
}

bool Mp4Writer::close() {
    return finish(*state_);
}

std::string Mp4Writer::fileName() const {
    return state_->fileName;
}

int Mp4Writer::framesWritten() const {
    return state_->framesWritten;
}

std::int64_t Mp4Writer::audioDelayFrames() const {
    return 0;
}

}  // namespace kestrelle
