#include "media/avi_writer.h"

#include "base/byte_order.h"

#include "base/run_log.h"
#include "media/mp3_encoder.h"
#include "media/riff_avi_file.h"
#include "media/still_frame_shortcut.h"
#include "media/video_compressor.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#define AVI_LOG(level, ...) KESTRELLE_LOG_AS("avi_lib.cpp", (level), __VA_ARGS__)

namespace kestrelle {

namespace {

constexpr const char* kVideoInitFailed = "Failed to init video codec. Please check AVI codec settings.";
constexpr const char* kVideoEncodeFailed = "Failed to encode AVI video. Please check AVI codec settings.";
constexpr const char* kAudioInitFailed = "Failed to init audio codec.";
constexpr const char* kAudioEncodeFailed = "Failed to encode AVI audio.";

constexpr int kKeyFrameInterval = 30;
constexpr int kBytesPerSecond = 780 * 1024;  // 798,720
constexpr int kSampleRate = 44100;
constexpr int kMaxDimension = 16384;
constexpr int kSilenceFrames = 4096;

// The 40-byte frame header of the compressor's output format, followed by the codec's extra data.
std::vector<std::uint8_t> videoStreamFormat(int width, int height, std::uint32_t handler,
                                            const std::vector<std::uint8_t>& extra) {
    std::vector<std::uint8_t> f(40, 0);
    auto set32 = [&f](std::size_t at, std::uint32_t v) { writeLe32(f.data() + at, v); };
    set32(0, static_cast<std::uint32_t>(40 + extra.size()));
    set32(4, static_cast<std::uint32_t>(width));
    set32(8, static_cast<std::uint32_t>(height));
    f[12] = 1;   // planes
    f[14] = 24;  // bit count
    set32(16, handler);
    set32(20, static_cast<std::uint32_t>(width) * static_cast<std::uint32_t>(height) * 3u);
    f.insert(f.end(), extra.begin(), extra.end());
    return f;
}

// The MP3 encoder on a thread of its own, beside the video's compression: blocks of samples go in,
// and the MP3 bytes made so far are taken after each frame. At most a few blocks wait, so the stream
// stays within a few frames of the video.
class AsideEncoder {
public:
    explicit AsideEncoder(std::unique_ptr<Mp3Encoder> encoder)
        : encoder_(std::move(encoder)), thread_([this] { run(); }) {}
    ~AsideEncoder() { finish(nullptr); }
    AsideEncoder(const AsideEncoder&) = delete;
    AsideEncoder& operator=(const AsideEncoder&) = delete;

    // Queues interleaved stereo samples, waiting while the queue is full; false once encoding failed.
    bool encode(std::vector<std::int16_t> block) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return queue_.size() < kQueuedBlocks || failed_; });
        if (failed_) return false;
        queue_.push_back(std::move(block));
        guard.unlock();
        changed_.notify_all();
        return true;
    }

    // Appends the MP3 bytes made so far to `out`; false once encoding failed.
    bool take(std::vector<std::uint8_t>& out) {
        std::lock_guard<std::mutex> guard(lock_);
        out.insert(out.end(), ready_.begin(), ready_.end());
        ready_.clear();
        return !failed_;
    }

    // Encodes what waits, flushes the encoder's tail and ends the thread; the bytes not yet taken go
    // to `out` (when given). False when encoding or the flush failed.
    bool finish(std::vector<std::uint8_t>* out) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            closing_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
        std::lock_guard<std::mutex> guard(lock_);
        if (out) out->insert(out->end(), ready_.begin(), ready_.end());
        ready_.clear();
        return !failed_ && flushed_;
    }

private:
    static constexpr std::size_t kQueuedBlocks = 8;

    void run() {
        std::vector<std::uint8_t> bytes;
        std::unique_lock<std::mutex> guard(lock_);
        while (true) {
            changed_.wait(guard, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) break;
            std::vector<std::int16_t> block = std::move(queue_.front());
            queue_.pop_front();
            const bool skip = failed_;
            guard.unlock();
            changed_.notify_all();
            bytes.clear();
            const int result =
                skip ? -1
                     : encoder_->encodeInterleaved(block.data(), static_cast<int>(block.size() / 2), bytes);
            guard.lock();
            if (result < 0) failed_ = true;
            ready_.insert(ready_.end(), bytes.begin(), bytes.end());
        }
        guard.unlock();
        bytes.clear();
        const bool flushed = encoder_->flush(bytes) >= 0;
        guard.lock();
        flushed_ = flushed;
        if (flushed) ready_.insert(ready_.end(), bytes.begin(), bytes.end());
    }

    const std::unique_ptr<Mp3Encoder> encoder_;  // used by the thread only
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::vector<std::int16_t>> queue_;
    std::vector<std::uint8_t> ready_;
    bool closing_ = false;
    bool failed_ = false;
    bool flushed_ = false;
    std::thread thread_;  // last: starts once everything above is made
};

}  // namespace

struct AviWriter::State {
    std::string fileName;
    int frameLimit = 0;
    int width = 0;
    int height = 0;
    double fps = 0;
    bool audio = false;
    std::optional<int> audioBitRateKbps;  // none: the library's setting
    bool audioDelayCompensated = false;
    std::int64_t audioDelay = 0;  // decoding delay of the stream, in stereo sample frames
    FrameLayout layout = FrameLayout::Rgb32BottomUp;
    std::uint32_t compressorType = 0;
    std::uint32_t compressorHandler = 0;
    FrameObserver frameObserver;

    int framesWritten = 0;
    int videoFrameIndex = 0;
    std::size_t frameBytes = 0;      // bytes of one input frame as the caller passes it
    std::size_t rowBytes = 0;        // caller's row size (24-bit rows are passed tightly packed)
    std::size_t paddedRowBytes = 0;  // row size the compressor reads

    std::unique_ptr<RiffAviFile> file;
    std::unique_ptr<VideoCompressor> compressor;
    bool compressing = false;
    std::unique_ptr<StillFrameShortcut> shortcut;  // none when every frame goes to the encoder
    int stillFramesLeft = 0;                       // frames of an announced still still to come
    bool stillFirstPending = false;                // the announced still's first frame is still to come
    const std::uint8_t* stillPixels = nullptr;     // where the announced still's frames come from
    int videoStream = -1;
    int audioStream = -1;

    std::unique_ptr<Mp3Encoder> encoder;
    bool audioAside = false;              // the encoder runs on a thread of its own
    std::unique_ptr<AsideEncoder> aside;  // the encoder, moved there once the stream is set up
    std::int64_t audioFramesEncoded = 0;  // stereo sample frames handed to the encoder
    std::uint64_t audioPosition = 0;

    CompressedFrame compressed;
    std::vector<std::uint8_t> mp3;
    std::vector<std::uint8_t> repacked;
    std::vector<std::int16_t> silence;
};

namespace {

using State = AviWriter::State;

bool closeState(State& s);

// Stereo sample frames the audio must have reached after `frames` video frames.
std::int64_t audioTarget(std::int64_t frames, double fps) {
    if (!(fps > 0) || !std::isfinite(fps)) return 0;
    return std::llround(static_cast<double>(frames) * kSampleRate / fps);
}

bool setUpAudio(State& s) {
    AVI_LOG(0, "Setup audio encoder.");
    if (!Mp3EncoderLibrary::libraryReady()) {
        closeState(s);
        AVI_LOG(0, "%s", kAudioInitFailed);
        return false;
    }
    if (s.encoder) {
        AVI_LOG(0, "Delete old encoder.");
        s.encoder.reset();
    }
    AVI_LOG(0, "Create new audio encoder.");
    s.encoder = Mp3Encoder::create();
    if (!s.encoder) {
        AVI_LOG(0, "Create audio encoder failed.");
        closeState(s);
        AVI_LOG(0, "%s", kAudioInitFailed);
        return false;
    }
    AVI_LOG(0, "Set mp3 audio encoder parameters.");
    s.encoder->applyParameters();
    if (s.audioBitRateKbps && !s.encoder->setBitRate(*s.audioBitRateKbps)) {
        AVI_LOG(1, "No MP3 bit rate of %d kbit/s.", *s.audioBitRateKbps);
        closeState(s);
        AVI_LOG(0, "%s", kAudioInitFailed);
        return false;
    }
    AVI_LOG(0, "Init audio encoder.");
    if (s.encoder->initParams() < 0) {
        closeState(s);
        AVI_LOG(0, "%s", kAudioInitFailed);
        return false;
    }
    s.audioDelay = s.encoder->encoderDelay() + kMp3DecoderDelay;
    const Mp3WaveFormat format = s.audioBitRateKbps ? mp3WaveFormatForBitRate(*s.audioBitRateKbps)
                                                    : mp3WaveFormat(Mp3EncoderLibrary::settings());
    const auto formatBytes = waveFormatBytes(format);
    const AudioStreamHeader header = audioStreamHeader(format);

    AVI_LOG(0, "Create avi audio stream.");
    AviAudioStreamInfo info;
    info.handler = header.handler;
    info.scale = header.scale;
    info.rate = header.rate;
    info.quality = static_cast<std::int32_t>(header.quality);
    info.sampleSize = header.sampleSize;
    info.suggestedBufferSize = header.suggestedBufferSize;
    info.name = header.name;
    info.format.assign(formatBytes.begin(), formatBytes.begin() + (format.extraSize + 18));
    if (!s.file || header.scale == 0 || header.rate == 0) {
        AVI_LOG(0, "%s", kAudioInitFailed);
        closeState(s);
        return false;
    }
    AVI_LOG(0, "Set stream format.");
    s.audioStream = s.file->addAudioStream(info);
    if (s.audioStream < 0) {
        AVI_LOG(0, "%s", kAudioInitFailed);
        closeState(s);
        return false;
    }
    if (s.audioAside) s.aside = std::make_unique<AsideEncoder>(std::move(s.encoder));
    return true;
}

// Sets up the compressor and the video stream; on failure logs, closes and says which step failed.
WriterError setUpVideo(State& s, const std::vector<std::uint8_t>& codecState) {
    AVI_LOG(0, "Set AVI dimension.");
    const bool sizeOk = s.width > 0 && s.height > 0 && s.width <= kMaxDimension && s.height <= kMaxDimension;
    const std::size_t w = sizeOk ? static_cast<std::size_t>(s.width) : 0;
    const std::size_t h = sizeOk ? static_cast<std::size_t>(s.height) : 0;
    const std::size_t rgbImageSize = w * h * (s.layout == FrameLayout::Rgb32BottomUp ? 4 : 3);
    const std::size_t yuy2ImageSize = w * h * 2;
    if (s.layout == FrameLayout::Rgb32BottomUp) {
        s.rowBytes = s.paddedRowBytes = w * 4;
    } else if (s.layout == FrameLayout::Yuy2) {
        s.rowBytes = s.paddedRowBytes = w * 2;
    } else {
        s.rowBytes = w * 3;
        s.paddedRowBytes = (w * 3 + 3) & ~static_cast<std::size_t>(3);
    }
    s.frameBytes = s.rowBytes * h;

    const bool withSettings = !codecState.empty();
    AVI_LOG(0,
            withSettings ? "Init avi video codec with settings." : "Init avi video codec without settings.");
    const CompressorInput input = s.layout == FrameLayout::Rgb32BottomUp   ? CompressorInput::Rgb32BottomUp
                                  : s.layout == FrameLayout::Rgb24BottomUp ? CompressorInput::Rgb24BottomUp
                                                                           : CompressorInput::Yuy2;
    bool codecOk = false;
    s.compressor = openCompressor(s.compressorType, s.compressorHandler);
    if (!s.compressor) {
        AVI_LOG(0, "ICOpen [%x,%x] failed.", s.compressorType, s.compressorHandler);
    } else if (!sizeOk || !s.compressor->canCompress(input, s.width, s.height)) {
        AVI_LOG(0, "%s", kVideoInitFailed);
    } else {
        (void)s.compressor->state();
        if (withSettings) {
            AVI_LOG(0, "ICSetState: setting size=%d.", static_cast<int>(codecState.size()));
            s.compressor->setState(codecState.data(), codecState.size());
        }
        codecOk = true;
    }
    AVI_LOG(0, "Out out init video codec...");
    if (!codecOk) {
        AVI_LOG(0, "%s", kVideoInitFailed);
        const bool missing = !s.compressor;
        closeState(s);
        return missing ? WriterError::CompressorMissing : WriterError::VideoSetupFailed;
    }

    AVI_LOG(0, "Set AVIStreamInfo...");
    const double scaledRate = s.fps * 1000.0;
    const bool rateOk = std::isfinite(scaledRate) && scaledRate >= 1.0 && scaledRate <= 2147483647.0;
    CompressionParams params;
    params.width = s.width;
    params.height = s.height;
    params.rateNumerator = rateOk ? static_cast<int>(scaledRate) : 0;
    params.rateDenominator = 1000;
    params.keyFrameInterval = kKeyFrameInterval;
    params.bytesPerSecond = kBytesPerSecond;
    params.input = input;

    AviVideoStreamInfo info;
    info.handler = s.compressorHandler;
    info.scale = 1000;
    info.rate = static_cast<std::uint32_t>(params.rateNumerator);
    info.quality = -1;
    info.suggestedBufferSize = static_cast<std::uint32_t>(rgbImageSize);
    info.width = s.width;
    info.height = s.height;

    if (s.layout == FrameLayout::Yuy2) {
        AVI_LOG(0, "Setup YUY2 frame.");
        info.suggestedBufferSize = static_cast<std::uint32_t>(yuy2ImageSize);
        // The frames information (quality, data rate, key rate, rate and scale) travels in params.
        AVI_LOG(0, "ICSendMessage");
        AVI_LOG(0, "ICSendMessage return 0x%08x.", 0u);
    }

    AVI_LOG(0, "Create Stream.");
    bool streamOk = rateOk && s.file != nullptr;
    std::string error;
    AVI_LOG(0, "Make compressed stream.");
    if (streamOk && s.layout != FrameLayout::Yuy2) {
        streamOk = s.compressor->begin(params, error);
        if (!streamOk) AVI_LOG(1, "%s", error.c_str());
        s.compressing = streamOk;
    }
    AVI_LOG(0, "Set format.");
    if (!streamOk) {
        AVI_LOG(0, "%s", kVideoInitFailed);
        closeState(s);
        return WriterError::VideoSetupFailed;
    }

    if (s.layout == FrameLayout::Yuy2) {
        AVI_LOG(0, "Compress frame start.");
        if (!s.compressor->begin(params, error)) {
            AVI_LOG(0, "Compress frame start failed.");
            AVI_LOG(0, "%s", kVideoInitFailed);
            closeState(s);
            return WriterError::VideoSetupFailed;
        }
        s.compressing = true;
        AVI_LOG(0, "Compress frame start successed.");
    }

    if (!everyFrameEncoded())
        s.shortcut = std::make_unique<StillFrameShortcut>(s.compressor->keyFrameInterval());
    info.format = videoStreamFormat(s.width, s.height, s.compressorHandler, s.compressor->extraData());
    s.videoStream = s.file->addVideoStream(info);
    if (s.videoStream < 0) {
        AVI_LOG(0, "%s", kVideoInitFailed);
        closeState(s);
        return WriterError::VideoSetupFailed;
    }
    return WriterError::Ok;
}

// Compresses one frame into s.compressed, or, for a repeated still the encoder has settled on, makes
// the packet that repeats the picture without it.
bool compressFrame(State& s, const std::uint8_t* input, std::string& error) {
    if (!s.shortcut) return s.compressor->compress(input, s.compressed, error);
    // Within an announced still every frame after the first repeats the one before: no need to compare.
    bool announcedRepeat = false;
    if (s.stillFramesLeft > 0) {
        if (s.stillFirstPending) s.stillPixels = input;
        announcedRepeat = !s.stillFirstPending && input == s.stillPixels;
        s.stillFirstPending = false;
        // A frame from another buffer voids the announcement: from here on every frame is compared.
        s.stillFramesLeft = announcedRepeat || input == s.stillPixels ? s.stillFramesLeft - 1 : 0;
    }
    const bool repeat = announcedRepeat || s.compressor->repeatsPreviousInput(input);
    if (s.shortcut->repeatWithoutEncoder(s.videoFrameIndex, repeat, s.compressed.bytes)) {
        s.compressed.keyFrame = false;
        s.compressor->skipFrame();
        return true;
    }
    if (s.shortcut->keyFrameDue(s.videoFrameIndex)) s.compressor->forceKeyFrame();
    if (repeat) s.compressor->nextInputRepeats();
    if (!s.compressor->compress(input, s.compressed, error)) return false;
    s.shortcut->encoded(s.videoFrameIndex, repeat, s.compressed.bytes, s.compressed.keyFrame);
    return true;
}

// Compresses and stores one video frame; false after logging and closing.
bool writeVideo(State& s, const std::uint8_t* pixels) {
    const bool sequential = s.layout == FrameLayout::Yuy2;
    if (sequential) AVI_LOG(1, "Compress one frame...");
    const std::uint8_t* input = pixels;
    if (pixels && s.rowBytes != s.paddedRowBytes) {
        // 24-bit rows arrive tightly packed; the compressor reads rows padded to 4 bytes.
        s.repacked.resize(s.paddedRowBytes * static_cast<std::size_t>(s.height));
        for (int y = 0; y < s.height; ++y) {
            std::memcpy(s.repacked.data() + s.paddedRowBytes * static_cast<std::size_t>(y),
                        pixels + s.rowBytes * static_cast<std::size_t>(y), s.rowBytes);
        }
        input = s.repacked.data();
    }
    std::string error;
    if (!s.file || !s.compressor || !s.compressing || !input || !compressFrame(s, input, error)) {
        if (!error.empty()) AVI_LOG(1, "%s", error.c_str());
        AVI_LOG(2, "%s", kVideoEncodeFailed);
        closeState(s);
        return false;
    }
    if (sequential) AVI_LOG(1, "Write one frame...");
    if (!s.file->writeChunk(s.videoStream, s.compressed.bytes.data(), s.compressed.bytes.size(),
                            s.compressed.keyFrame)) {
        if (sequential) {
            AVI_LOG(2, "%s (%d)", kVideoEncodeFailed, s.file->errorCode());
        } else {
            AVI_LOG(2, "%s", kVideoEncodeFailed);
        }
        closeState(s);
        return false;
    }
    return true;
}

// Stores the frame's MP3 bytes when encoding went well (`encoded`); false after logging and closing.
bool storeAudioChunk(State& s, bool encoded) {
    if (!encoded || !s.file->writeChunk(s.audioStream, s.mp3.data(), s.mp3.size(), true)) {
        AVI_LOG(0, "%s", kAudioEncodeFailed);
        closeState(s);
        return false;
    }
    s.audioPosition += s.mp3.size();
    return true;
}

// Encodes the frame's samples and the silence that keeps audio level with video, and stores the MP3
// bytes; false after logging and closing.
bool writeAudio(State& s, const std::int16_t* samples, int sampleCount) {
    s.mp3.clear();
    const int frames = (samples && sampleCount > 0) ? sampleCount / 2 : 0;
    if (s.aside) {
        // The same samples and silence as below, handed to the encoder's thread in one block; the
        // bytes it has made so far are stored with this frame.
        const std::int64_t target = std::max<std::int64_t>(
            0, audioTarget(s.framesWritten + 1, s.fps) - (s.audioDelayCompensated ? s.audioDelay : 0));
        std::vector<std::int16_t> block(samples, samples + 2 * static_cast<std::size_t>(frames));
        s.audioFramesEncoded += frames;
        if (s.audioFramesEncoded < target) {
            block.resize(block.size() + 2 * static_cast<std::size_t>(target - s.audioFramesEncoded), 0);
            s.audioFramesEncoded = target;
        }
        bool ok = s.file != nullptr && (block.empty() || s.aside->encode(std::move(block)));
        ok = ok && s.aside->take(s.mp3);
        return storeAudioChunk(s, ok);
    }
    bool ok = s.encoder != nullptr && s.file != nullptr;
    if (ok && frames > 0) {
        ok = s.encoder->encodeInterleaved(samples, frames, s.mp3) >= 0;
        s.audioFramesEncoded += frames;
    }
    const std::int64_t target = std::max<std::int64_t>(
        0, audioTarget(s.framesWritten + 1, s.fps) - (s.audioDelayCompensated ? s.audioDelay : 0));
    while (ok && s.audioFramesEncoded < target) {
        const int pad =
            static_cast<int>(std::min<std::int64_t>(target - s.audioFramesEncoded, kSilenceFrames));
        if (s.silence.empty()) s.silence.assign(2 * kSilenceFrames, 0);
        ok = s.encoder->encodeInterleaved(s.silence.data(), pad, s.mp3) >= 0;
        s.audioFramesEncoded += pad;
    }
    return storeAudioChunk(s, ok);
}

// Flushes the audio encoder, finishes the file and releases everything; true when the file was
// finished completely (or nothing was open).
bool closeState(State& s) {
    bool complete = true;
    if (s.aside) {
        // The thread encodes what waits and the encoder's tail; all of it belongs to the stream.
        s.mp3.clear();
        s.aside->finish(&s.mp3);
        if (s.file && s.audioStream >= 0 && !s.file->failed()) {
            if (s.file->writeChunk(s.audioStream, s.mp3.data(), s.mp3.size(), true))
                s.audioPosition += s.mp3.size();
        }
        s.aside.reset();
    }
    if (s.encoder) {
        // The encoder's tail belongs to the stream: flush it before the file is finished.
        if (s.file && s.audioStream >= 0 && !s.file->failed()) {
            s.mp3.clear();
            if (s.encoder->flush(s.mp3) >= 0) {
                if (s.file->writeChunk(s.audioStream, s.mp3.data(), s.mp3.size(), true))
                    s.audioPosition += s.mp3.size();
            }
        }
        s.encoder.reset();
    }
    if (s.shortcut && s.shortcut->framesWithoutEncoder() > 0) {
        AVI_LOG(1, "Frames stored without the encoder: %d of %d.", s.shortcut->framesWithoutEncoder(),
                s.videoFrameIndex);
    }
    s.shortcut.reset();
    if (s.compressor && s.compressing) s.compressor->end();
    s.compressing = false;
    s.videoStream = -1;
    s.audioStream = -1;
    if (s.file) {
        if (!s.file->close()) {
            complete = false;
            AVI_LOG(2, "Failed to write AVI file %s (%d).", s.fileName.c_str(), s.file->errorCode());
        }
        s.file.reset();
    }
    s.compressor.reset();
    AVI_LOG(0, "AVI module closed.");
    return complete;
}

}  // namespace

std::string baseName(const std::string& path) {
    // Cut at the last '.' of the file name; a dot in a folder name is not an extension.
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

std::string fileNameFor(const std::string& path, bool numberedName) {
    return baseName(path) + (numberedName ? "_01.avi" : ".avi");
}

AviWriter::AviWriter() : state_(std::make_unique<State>()) {}

AviWriter::~AviWriter() {
    // A file left open is finished, as far as it was written.
    if (state_->file || state_->encoder || state_->aside || state_->compressor) closeState(*state_);
}

WriterError AviWriter::open(const AviWriterOptions& options) {
    Mp3EncoderLibrary::load();
    if (!Mp3EncoderLibrary::libraryReady()) {
        AVI_LOG(0, "AVI system not initialized.");
        return WriterError::AudioLibraryMissing;
    }
    AVI_LOG(0, "Init avi with extern codec.");
    State& s = *state_;
    // A writer left open is finished before its state goes.
    if (s.file || s.encoder || s.aside || s.compressor) closeState(s);
    s = State{};
    stop_ = false;
    s.frameLimit = options.frameLimit;
    s.width = options.width;
    s.height = options.height;
    s.fps = options.framesPerSecond;
    s.audio = options.audio;
    s.audioBitRateKbps = options.audioBitRateKbps;
    s.audioDelayCompensated = options.audioDelayCompensated;
    s.audioAside = options.audioOnItsOwnThread;
    s.layout = options.layout;
    s.compressorType = options.compressorType;
    s.compressorHandler = options.compressorHandler;
    s.frameObserver = options.frameObserver;

    s.fileName = fileNameFor(options.path, options.numberedName);
    ::unlink(s.fileName.c_str());

    AVI_LOG(0, "Initialize AVI system...");
    AVI_LOG(0, "Open AVI file...");
    s.file = std::make_unique<RiffAviFile>();
    if (options.fileBufferBytes) s.file->setBufferSizeForTesting(*options.fileBufferBytes);
    if (!s.file->open(s.fileName)) {
        AVI_LOG(0, "%s, %s (%x)", "Failed to open AVI file", s.fileName.c_str(),
                static_cast<unsigned>(s.file->errorCode()));
        closeState(s);
        return WriterError::FileNotCreated;
    }

    placeLargeBlocksOnTheHeap();
    if (const WriterError video = setUpVideo(s, options.codecState); video != WriterError::Ok) return video;
    if (s.audio && !setUpAudio(s)) return WriterError::AudioSetupFailed;
    AVI_LOG(0, "Init avi a/v done.");
    return WriterError::Ok;
}

bool AviWriter::writeFrame(const std::uint8_t* pixels, const std::int16_t* samples, int sampleCount) {
    State& s = *state_;
    if (s.framesWritten >= s.frameLimit || stop_ || !s.file) {
        closeState(s);
        return false;
    }
    if (s.frameObserver && pixels) s.frameObserver(pixels, s.width, s.height);
    if (!writeVideo(s, pixels)) return false;
    if (s.audio && !writeAudio(s, samples, sampleCount)) return false;
    s.framesWritten += 1;
    s.videoFrameIndex += 1;
    return true;
}

void AviWriter::announceStill(int frames) {
    State& s = *state_;
    s.stillFramesLeft = frames > 0 ? frames : 0;
    s.stillFirstPending = s.stillFramesLeft > 0;
}

bool AviWriter::close() {
    return closeState(*state_);
}

std::string AviWriter::fileName() const {
    return state_->fileName;
}

int AviWriter::framesWritten() const {
    return state_->framesWritten;
}

std::int64_t AviWriter::audioDelayFrames() const {
    return state_->audioStream >= 0 ? state_->audioDelay : 0;
}

}  // namespace kestrelle
