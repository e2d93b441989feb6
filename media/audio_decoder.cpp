// Audio files decoded to the mix's 44,100 Hz stereo float stream. Two sources feed one resampling
// stage: our WAV reader for the PCM and float WAV formats, and libavformat/libavcodec for everything
// else. libavformat reads through our own file descriptor (opened non-blocking after stat said it is a
// regular file), never through its protocols, so a file name with a colon is just a name and a playlist
// format cannot make it open other files or the network.

#include "media/audio_decoder.h"

#include "media/wave_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

namespace kestrelle {

namespace {

// ---- FFmpeg objects owned by unique_ptr

struct FormatContextDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct IoContextDeleter {
    void operator()(AVIOContext* io) const {
        if (io) av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwrDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using IoContextPtr = std::unique_ptr<AVIOContext, IoContextDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

struct ChannelLayout {
    AVChannelLayout layout{};
    ChannelLayout() = default;
    ChannelLayout(const ChannelLayout&) = delete;
    ChannelLayout& operator=(const ChannelLayout&) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&layout); }
};

// FFmpeg's log would print every damaged packet of a corrupt file on stderr; a bad file is reported by
// our own results instead.
void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Demuxers for audio files and the sound of video files. Playlists and other formats that name further
// files are left out.
constexpr const char* kAudioDemuxers =
    "wav,w64,mp3,flac,ogg,mov,matroska,aac,aiff,caf,avi,asf,wv,ape,tta,mpc,mpc8,au,amr,ac3,eac3,dts,"
    "truehd,mpeg,mpegts,flv,mp2,s337m,dsf,tak,shorten,wsaud,xwma,voc,loas,latm";

// Consecutive packets that may fail to read or decode before a file counts as failed.
constexpr int kMaxConsecutiveFailures = 64;

// The sample rates we resample from. Beyond them a file states nonsense; below, one input block would
// become a huge output block.
constexpr int kMinSampleRate = 1000;
constexpr int kMaxSampleRate = 1536000;

// Frames of a WAV file read per block.
constexpr std::size_t kWaveBlockFrames = 4096;
// The most channels the resampler takes.
constexpr int kMaxWaveChannels = 64;

// ---- Files

bool isNonEmptyRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

// Opens without ever blocking on a FIFO or a device: non-blocking, then the descriptor itself is checked.
int openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int readPacket(void* opaque, std::uint8_t* buffer, int size) {
    const int fd = *static_cast<int*>(opaque);
    for (;;) {
        const ssize_t got = ::read(fd, buffer, static_cast<std::size_t>(size));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return AVERROR(errno);
        if (got == 0) return AVERROR_EOF;
        return static_cast<int>(got);
    }
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence) {
    const int fd = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return fstat(fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : AVERROR(errno);
    }
    const off_t position = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : static_cast<std::int64_t>(position);
}

// A demuxer may ask to open further files (playlists, segments); none is ever opened.
int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// An opened container and its best audio stream.
struct Container {
    std::unique_ptr<int> fd;  // the descriptor the I/O context reads; stable address for its callbacks
    IoContextPtr io;
    FormatContextPtr format;  // declared after io: closed first
    int streamIndex = -1;
    ~Container() {
        format.reset();
        io.reset();
        if (fd && *fd >= 0) close(*fd);
    }
};

AudioOpenResult openContainer(const std::string& path, Container& container) {
    quietFfmpegLog();
    const int fd = openRegularFile(path);
    if (fd < 0) return AudioOpenResult::CannotOpen;
    container.fd = std::make_unique<int>(fd);

    constexpr int kIoBufferSize = 65536;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    if (!buffer) return AudioOpenResult::CannotOpen;
    container.io.reset(
        avio_alloc_context(buffer, kIoBufferSize, 0, container.fd.get(), readPacket, nullptr, seekFile));
    if (!container.io) {
        av_free(buffer);
        return AudioOpenResult::CannotOpen;
    }

    AVFormatContext* format = avformat_alloc_context();
    if (!format) return AudioOpenResult::CannotOpen;
    format->pb = container.io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    format->io_open = refuseNestedOpen;
    format->format_whitelist = av_strdup(kAudioDemuxers);
    // The name only hints at the format (its extension); the bytes are read through our descriptor.
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return AudioOpenResult::NotAudio;
    container.format.reset(format);
    if (avformat_find_stream_info(format, nullptr) < 0) return AudioOpenResult::NotAudio;

    const int index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return AudioOpenResult::NotAudio;
    const AVCodecParameters* parameters = format->streams[index]->codecpar;
    // A stream nothing could be learnt about (a text file taken for MP3 by its name) is no audio.
    if (parameters->codec_id == AV_CODEC_ID_NONE || parameters->sample_rate < kMinSampleRate ||
        parameters->sample_rate > kMaxSampleRate || parameters->ch_layout.nb_channels <= 0)
        return AudioOpenResult::NotAudio;
    container.streamIndex = index;
    return AudioOpenResult::Ok;
}

// ---- Exact lengths the container does not state

std::uint32_t bigEndian(const std::uint8_t* bytes, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | bytes[i];
    return value;
}

// The samples an MP3 decodes to when its first frame holds a Xing/Info header with a LAME (or FFmpeg)
// encoder tag: its frames minus the encoder delay and padding the tag states, as libavformat counts
// them when decoding. -1 without such a tag. (libavformat's own duration includes delay and padding.)
std::int64_t mp3GaplessSamples(int fd) {
    auto readAt = [fd](std::uint64_t offset, std::uint8_t* buffer, std::size_t length) {
        const ssize_t got = pread(fd, buffer, length, static_cast<off_t>(offset));
        return got < 0 ? std::size_t{0} : static_cast<std::size_t>(got);
    };
    std::array<std::uint8_t, 10> id3{};
    std::uint64_t start = 0;
    // ID3v2 tags before the first frame, each: "ID3", version, flags, a 28-bit size in 7-bit bytes.
    for (int tags = 0; tags < 4 && readAt(start, id3.data(), id3.size()) == id3.size(); ++tags) {
        if (std::memcmp(id3.data(), "ID3", 3) != 0) break;
        start += 10 +
                 (std::uint64_t{id3[6]} << 21 | std::uint64_t{id3[7]} << 14 | std::uint64_t{id3[8]} << 7 |
                  id3[9]) +
                 ((id3[5] & 0x10) ? 10 : 0);
    }
    std::array<std::uint8_t, 4096> block{};
    const std::size_t got = readAt(start, block.data(), block.size());
    if (got < 512) return -1;
    std::size_t frame = 0;
    while (frame + 4 < 1024 && !(block[frame] == 0xFF && (block[frame + 1] & 0xE0) == 0xE0)) ++frame;
    const std::uint8_t* header = block.data() + frame;
    const int version = (header[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (header[1] >> 1) & 3;    // 1: layer III
    if (frame + 4 >= 1024 || version == 1 || layer != 1) return -1;
    const bool mono = ((header[3] >> 6) & 3) == 3;
    const std::size_t sideInfo = version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    std::size_t at = frame + 4 + sideInfo;
    if (at + 8 > got ||
        (std::memcmp(block.data() + at, "Xing", 4) != 0 && std::memcmp(block.data() + at, "Info", 4) != 0))
        return -1;
    const std::uint32_t flags = bigEndian(block.data() + at + 4, 4);
    at += 8;
    if (!(flags & 1) || at + 4 > got) return -1;
    const std::uint32_t frames = bigEndian(block.data() + at, 4);
    at += 4;
    if (flags & 2) at += 4;    // byte count
    if (flags & 4) at += 100;  // seek table
    if (flags & 8) at += 4;    // quality
    // The encoder tag: a 9-byte version, then 12 bytes of settings, then 12 bits of delay and 12 of padding.
    if (at + 24 > got) return -1;
    const std::uint8_t* tag = block.data() + at;
    if (std::memcmp(tag, "LAME", 4) != 0 && std::memcmp(tag, "Lavf", 4) != 0 &&
        std::memcmp(tag, "Lavc", 4) != 0)
        return -1;
    const std::uint32_t pads = bigEndian(tag + 21, 3);
    const std::int64_t samplesPerFrame = version == 3 ? 1152 : 576;
    const std::int64_t samples = frames * samplesPerFrame - (pads >> 12) - (pads & 0xFFF);
    return samples > 0 ? samples : -1;
}

// ---- Resampling to 44,100 Hz stereo float

// The layout to tell the resampler: a layout of unknown channel order gets the usual one for its count.
void usableLayout(const AVChannelLayout& given, int channels, AVChannelLayout* layout) {
    if (given.nb_channels == channels &&
        (given.order == AV_CHANNEL_ORDER_NATIVE || given.order == AV_CHANNEL_ORDER_AMBISONIC)) {
        if (av_channel_layout_copy(layout, &given) == 0) return;
    }
    av_channel_layout_default(layout, channels);
}

class Resampler {
public:
    bool matches(const AVChannelLayout& layout, AVSampleFormat format, int rate) const {
        return swr_ && rate == rate_ && format == format_ &&
               av_channel_layout_compare(&layout, &layout_.layout) == 0;
    }

    bool configure(const AVChannelLayout& givenLayout, int channels, AVSampleFormat format, int rate) {
        swr_.reset();
        if (channels <= 0 || rate < kMinSampleRate || rate > kMaxSampleRate) return false;
        av_channel_layout_uninit(&layout_.layout);
        if (av_channel_layout_copy(&layout_.layout, &givenLayout) != 0) return false;
        ChannelLayout input;
        usableLayout(givenLayout, channels, &input.layout);
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext* swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_FLT, kMixSampleRate, &input.layout, format, rate,
                                0, nullptr) < 0)
            return false;
        SwrPtr owned(swr);
        // A downmix of many channels is scaled so that it cannot exceed full scale.
        av_opt_set_double(swr, "rematrix_maxval", 1.0, 0);
        if (channels == 1) {
            // Mono is heard at its own level on both sides (not 3 dB lower, as a centre channel would be).
            const double both[2] = {1.0, 1.0};
            if (swr_set_matrix(swr, both, 1) < 0) return false;
        } else if (input.layout.order == AV_CHANNEL_ORDER_UNSPEC) {
            // No known speaker positions: every channel goes to both sides equally.
            std::vector<double> matrix(2 * static_cast<std::size_t>(channels), 1.0 / channels);
            if (swr_set_matrix(swr, matrix.data(), channels) < 0) return false;
        }
        if (swr_init(swr) < 0) return false;
        swr_ = std::move(owned);
        format_ = format;
        rate_ = rate;
        return true;
    }

    // Converts `frames` input frames and appends the output to `out`.
    bool convert(const std::uint8_t** input, int frames, std::vector<float>& out) {
        if (!swr_) return false;
        const int capacity = swr_get_out_samples(swr_.get(), frames);
        if (capacity < 0) return false;
        if (capacity == 0) return true;
        const std::size_t start = out.size();
        out.resize(start + 2 * static_cast<std::size_t>(capacity));
        auto* target = reinterpret_cast<std::uint8_t*>(out.data() + start);
        const int made = swr_convert(swr_.get(), &target, capacity, input, frames);
        out.resize(start + 2 * static_cast<std::size_t>(std::max(made, 0)));
        return made >= 0;
    }

    // Drains what the resampler still holds (at the end of a stream or before a format change).
    void flush(std::vector<float>& out) {
        if (!swr_) return;
        for (;;) {
            const std::size_t before = out.size();
            if (!convert(nullptr, 0, out) || out.size() == before) break;
        }
    }

private:
    SwrPtr swr_;
    ChannelLayout layout_;
    AVSampleFormat format_ = AV_SAMPLE_FMT_NONE;
    int rate_ = 0;
};

// ---- The decoder: a source produces resampled frames into a queue that read() empties

class BufferedDecoder : public AudioDecoder {
public:
    std::size_t read(float* out, std::size_t frames) override {
        if (failed_) return 0;
        std::size_t written = 0;
        while (written < frames) {
            const std::size_t available = (pending_.size() - pendingStart_) / 2;
            if (available > 0) {
                const std::size_t take = std::min(available, frames - written);
                std::copy_n(pending_.data() + pendingStart_, 2 * take, out + 2 * written);
                pendingStart_ += 2 * take;
                written += take;
                continue;
            }
            pending_.clear();
            pendingStart_ = 0;
            if (ended_) break;
            if (!produce(pending_)) ended_ = true;
            if (failed_) break;
        }
        return written;
    }
    bool failed() const override { return failed_; }

protected:
    // Appends more output to `out`; false at the end of the stream (after appending what remained).
    virtual bool produce(std::vector<float>& out) = 0;
    void fail() { failed_ = true; }

private:
    std::vector<float> pending_;
    std::size_t pendingStart_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

// ---- WAV through our reader

enum class WaveSampleType { None, Unsigned8, Signed16, Signed24, Signed32, Float32, Float64 };

WaveSampleType waveSampleType(const WaveFile& wave) {
    const WaveFormat& format = wave.format();
    if (format.channels == 0 || format.channels > kMaxWaveChannels || format.sampleRate < kMinSampleRate ||
        format.sampleRate > kMaxSampleRate || format.blockAlign == 0 ||
        format.blockAlign % format.channels != 0 || wave.audioDataSize() == 0)
        return WaveSampleType::None;
    const int width = format.blockAlign / format.channels;
    if (wave.sampleFormatTag() == 1) {
        switch (width) {
            case 1:
                return WaveSampleType::Unsigned8;
            case 2:
                return WaveSampleType::Signed16;
            case 3:
                return WaveSampleType::Signed24;
            case 4:
                return WaveSampleType::Signed32;
            default:
                return WaveSampleType::None;
        }
    }
    if (wave.sampleFormatTag() == 3) {
        if (width == 4) return WaveSampleType::Float32;
        if (width == 8) return WaveSampleType::Float64;
    }
    return WaveSampleType::None;
}

const char* waveCodecName(WaveSampleType type) {
    switch (type) {
        case WaveSampleType::Unsigned8:
            return "pcm_u8";
        case WaveSampleType::Signed16:
            return "pcm_s16le";
        case WaveSampleType::Signed24:
            return "pcm_s24le";
        case WaveSampleType::Signed32:
            return "pcm_s32le";
        case WaveSampleType::Float32:
            return "pcm_f32le";
        case WaveSampleType::Float64:
            return "pcm_f64le";
        case WaveSampleType::None:
            break;
    }
    return "";
}

float waveSample(const std::uint8_t* bytes, WaveSampleType type) {
    switch (type) {
        case WaveSampleType::Unsigned8:
            return (static_cast<float>(bytes[0]) - 128.0f) / 128.0f;
        case WaveSampleType::Signed16:
            return static_cast<float>(static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8))) / 32768.0f;
        case WaveSampleType::Signed24: {
            const std::uint32_t raw = static_cast<std::uint32_t>(bytes[0]) << 8 |
                                      static_cast<std::uint32_t>(bytes[1]) << 16 |
                                      static_cast<std::uint32_t>(bytes[2]) << 24;
            return static_cast<float>(static_cast<std::int32_t>(raw)) / 2147483648.0f;
        }
        case WaveSampleType::Signed32: {
            std::uint32_t raw = 0;
            std::memcpy(&raw, bytes, 4);  // little-endian host
            return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(raw)) / 2147483648.0);
        }
        case WaveSampleType::Float32: {
            float value = 0.0f;
            std::memcpy(&value, bytes, 4);
            return std::isfinite(value) ? value : 0.0f;
        }
        case WaveSampleType::Float64: {
            double value = 0.0;
            std::memcpy(&value, bytes, 8);
            return std::isfinite(value) ? static_cast<float>(value) : 0.0f;
        }
        case WaveSampleType::None:
            break;
    }
    return 0.0f;
}

class WaveDecoder : public BufferedDecoder {
public:
    WaveDecoder(WaveFile wave, WaveSampleType type) : wave_(std::move(wave)), type_(type) {}

    bool start() {
        const WaveFormat& format = wave_.format();
        channels_ = format.channels;
        blockAlign_ = format.blockAlign;
        width_ = blockAlign_ / channels_;
        ChannelLayout layout;
        const std::uint32_t mask = wave_.channelMask();
        if (mask != 0 && __builtin_popcount(mask) == channels_) {
            av_channel_layout_from_mask(&layout.layout, mask);
        } else {
            av_channel_layout_default(&layout.layout, channels_);
        }
        bytes_.resize(kWaveBlockFrames * blockAlign_);
        samples_.resize(kWaveBlockFrames * static_cast<std::size_t>(channels_));
        return resampler_.configure(layout.layout, channels_, AV_SAMPLE_FMT_FLT,
                                    static_cast<int>(format.sampleRate));
    }

protected:
    bool produce(std::vector<float>& out) override {
        const std::size_t got = wave_.readAudioData(offset_, bytes_.data(), bytes_.size());
        const std::size_t frames = got / blockAlign_;
        if (frames == 0) {
            // The end of the data, or of the file if it has been cut short meanwhile.
            resampler_.flush(out);
            return false;
        }
        offset_ += frames * blockAlign_;
        const std::size_t values = frames * static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < values; ++i) samples_[i] = waveSample(bytes_.data() + i * width_, type_);
        const auto* input = reinterpret_cast<const std::uint8_t*>(samples_.data());  // one plane, interleaved
        if (!resampler_.convert(&input, static_cast<int>(frames), out)) {
            fail();
            return false;
        }
        return true;
    }

private:
    WaveFile wave_;
    WaveSampleType type_;
    int channels_ = 0;
    std::size_t blockAlign_ = 0;
    std::size_t width_ = 0;
    std::uint64_t offset_ = 0;
    std::vector<std::uint8_t> bytes_;
    std::vector<float> samples_;
    Resampler resampler_;
};

// ---- Everything else through libavcodec

class CodecDecoder : public BufferedDecoder {
public:
    AudioOpenResult start(const std::string& path) {
        const AudioOpenResult opened = openContainer(path, container_);
        if (opened != AudioOpenResult::Ok) return opened;
        AVStream* stream = container_.format->streams[container_.streamIndex];
        // Only the audio stream is demuxed: the packets of a video's pictures are dropped unread.
        for (unsigned i = 0; i < container_.format->nb_streams; ++i) {
            if (static_cast<int>(i) != container_.streamIndex)
                container_.format->streams[i]->discard = AVDISCARD_ALL;
        }
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        if (!codec) return AudioOpenResult::DecoderMissing;
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_ || avcodec_parameters_to_context(codec_.get(), stream->codecpar) < 0)
            return AudioOpenResult::DecoderMissing;
        codec_->pkt_timebase = stream->time_base;
        codec_->thread_count = 1;
        if (avcodec_open2(codec_.get(), codec, nullptr) < 0) return AudioOpenResult::DecoderMissing;
        // MP4 and M4A state the stream's exact length (the edit list's); libavformat removes the
        // priming at the start but leaves the padding of the last packet, which is cut here.
        if (std::strstr(container_.format->iformat->name, "mov") && stream->duration > 0 &&
            stream->codecpar->sample_rate > 0)
            sampleLimit_ = av_rescale_q(stream->duration, stream->time_base,
                                        AVRational{1, stream->codecpar->sample_rate});
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!packet_ || !frame_) return AudioOpenResult::CannotOpen;
        return AudioOpenResult::Ok;
    }

protected:
    bool produce(std::vector<float>& out) override {
        for (;;) {
            const int received = avcodec_receive_frame(codec_.get(), frame_.get());
            if (received == 0) {
                failures_ = 0;
                const bool converted = convertFrame(out);
                av_frame_unref(frame_.get());
                if (!converted) {
                    fail();
                    return false;
                }
                if (!out.empty()) return true;
                continue;
            }
            if (received == AVERROR_EOF) {
                resampler_.flush(out);
                return false;
            }
            if (received != AVERROR(EAGAIN) && !countFailure()) return false;
            if (draining_) {
                // A decoder that neither gives a frame nor ends while draining is done.
                resampler_.flush(out);
                return false;
            }
            sendNextPacket();
            if (failed()) return false;
        }
    }

private:
    // False once too many packets in a row have failed (the file then counts as failed).
    bool countFailure() {
        if (++failures_ < kMaxConsecutiveFailures) return true;
        fail();
        return false;
    }

    void sendNextPacket() {
        for (;;) {
            const int read = av_read_frame(container_.format.get(), packet_.get());
            if (read < 0) {
                // A read error short of the end is retried a few times; it may be a damaged stretch.
                if (read != AVERROR_EOF && !avio_feof(container_.format->pb)) {
                    if (!countFailure()) return;
                    continue;
                }
                // The end of the file (or of what is left of it): drain the decoder.
                avcodec_send_packet(codec_.get(), nullptr);
                draining_ = true;
                return;
            }
            if (packet_->stream_index != container_.streamIndex) {
                av_packet_unref(packet_.get());
                continue;
            }
            const int sent = avcodec_send_packet(codec_.get(), packet_.get());
            av_packet_unref(packet_.get());
            // A damaged packet is skipped; the decoder goes on with the next one.
            if (sent < 0 && sent != AVERROR(EAGAIN) && countFailure()) continue;
            return;
        }
    }

    bool convertFrame(std::vector<float>& out) {
        const AVFrame& frame = *frame_;
        int frames = frame.nb_samples;
        if (sampleLimit_ >= 0) {
            frames = static_cast<int>(std::clamp<std::int64_t>(sampleLimit_ - samplesDecoded_, 0, frames));
            samplesDecoded_ += frames;
        }
        if (frames <= 0) return true;
        const auto format = static_cast<AVSampleFormat>(frame.format);
        if (!resampler_.matches(frame.ch_layout, format, frame.sample_rate)) {
            resampler_.flush(out);
            if (!resampler_.configure(frame.ch_layout, frame.ch_layout.nb_channels, format,
                                      frame.sample_rate))
                return false;
        }
        return resampler_.convert(const_cast<const std::uint8_t**>(frame.extended_data), frames, out);
    }

    Container container_;
    CodecContextPtr codec_;
    PacketPtr packet_;
    FramePtr frame_;
    Resampler resampler_;
    std::int64_t sampleLimit_ = -1;  // the stream's length in its own samples; -1: as decoded
    std::int64_t samplesDecoded_ = 0;
    int failures_ = 0;
    bool draining_ = false;
};

// Opens `path` with our WAV reader: Ok (with the sample type, None when we do not decode its format),
// CannotOpen, or NotAudio when the file is no RIFF/WAVE file.
AudioOpenResult openWave(const std::string& path, WaveFile& wave, WaveSampleType& type) {
    switch (wave.open(path)) {
        case WaveOpenResult::Ok:
            type = waveSampleType(wave);
            return AudioOpenResult::Ok;
        case WaveOpenResult::CannotOpen:
            return AudioOpenResult::CannotOpen;
        case WaveOpenResult::NotWaveFile:
            break;
    }
    return AudioOpenResult::NotAudio;
}

void report(AudioOpenResult* result, AudioOpenResult value) {
    if (result) *result = value;
}

}  // namespace

const char* audioOpenResultText(AudioOpenResult result) {
    switch (result) {
        case AudioOpenResult::Ok:
            return "";
        case AudioOpenResult::CannotOpen:
            return "The file cannot be opened.";
        case AudioOpenResult::NotAudio:
            return "The file holds no sound in a format Kestrelle reads.";
        case AudioOpenResult::DecoderMissing:
            return "The file's sound is in a format this system cannot decode.";
    }
    return "";
}

bool hasAudioFileName(const std::string& path) {
    static constexpr std::array<const char*, 13> kExtensions = {".wav",  ".mp3", ".flac", ".ogg", ".oga",
                                                                ".opus", ".m4a", ".aac",  ".mp4", ".m4v",
                                                                ".mov",  ".mkv", ".webm"};
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return std::find_if(kExtensions.begin(), kExtensions.end(),
                        [&](const char* known) { return extension == known; }) != kExtensions.end();
}

namespace {

// The audio stream's length as the container states it, else the container's own; 0 when neither says.
double containerDurationSeconds(const Container& container) {
    const AVStream* stream = container.format->streams[container.streamIndex];
    double seconds = 0.0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0) {
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    } else if (container.format->duration != AV_NOPTS_VALUE && container.format->duration > 0) {
        seconds = static_cast<double>(container.format->duration) / AV_TIME_BASE;
    }
    return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

}  // namespace

AudioOpenResult probeAudioFile(const std::string& path, AudioFileFacts* facts) {
    AudioFileFacts found;
    if (!isNonEmptyRegularFile(path)) return AudioOpenResult::CannotOpen;

    WaveFile wave;
    WaveSampleType type = WaveSampleType::None;
    const AudioOpenResult waveResult = openWave(path, wave, type);
    if (waveResult == AudioOpenResult::CannotOpen) return waveResult;
    if (waveResult == AudioOpenResult::Ok) {
        // A WAV is measured by its data chunk and byte rate, whoever decodes it.
        const WaveFormat& format = wave.format();
        found.isWave = true;
        found.wavePcm = wave.hasSamples();
        found.dataBytes = wave.dataSize();
        found.averageBytesPerSecond = format.averageBytesPerSecond;
        // The length is what decoding gives: the data chunk's whole sample frames. (The measure above
        // counts other formats than PCM by their "fmt " chunk, which says nothing of their length.)
        found.durationSeconds =
            format.blockAlign > 0 && format.sampleRate > 0
                ? static_cast<double>(wave.audioDataSize() / format.blockAlign) / format.sampleRate
                : 0.0;
        found.sampleRate = static_cast<int>(format.sampleRate);
        found.channels = format.channels;
        found.codecName = waveCodecName(type);
        if (type == WaveSampleType::None) {
            // A format our reader does not decode (ADPCM, ...): libavcodec may.
            Container container;
            const AudioOpenResult opened = openContainer(path, container);
            if (opened != AudioOpenResult::Ok) return opened;
            const AVCodecParameters* parameters = container.format->streams[container.streamIndex]->codecpar;
            if (!avcodec_find_decoder(parameters->codec_id)) return AudioOpenResult::DecoderMissing;
            found.codecName = avcodec_get_name(parameters->codec_id);
            const double containerSeconds = containerDurationSeconds(container);
            if (containerSeconds > 0.0) found.durationSeconds = containerSeconds;
        }
        if (facts) *facts = found;
        return AudioOpenResult::Ok;
    }

    Container container;
    const AudioOpenResult opened = openContainer(path, container);
    if (opened != AudioOpenResult::Ok) return opened;
    const AVStream* stream = container.format->streams[container.streamIndex];
    const AVCodecParameters* parameters = stream->codecpar;
    if (!avcodec_find_decoder(parameters->codec_id)) return AudioOpenResult::DecoderMissing;
    double seconds = containerDurationSeconds(container);
    if (parameters->codec_id == AV_CODEC_ID_MP3) {
        const std::int64_t samples = mp3GaplessSamples(*container.fd);
        if (samples > 0) seconds = static_cast<double>(samples) / parameters->sample_rate;
    } else if (parameters->codec_id == AV_CODEC_ID_OPUS && parameters->initial_padding > 0 && seconds > 0.0) {
        // Ogg Opus counts the pre-skip (always at 48 kHz) in the length; the decoder drops it.
        seconds = std::max(0.0, seconds - parameters->initial_padding / 48000.0);
    }
    found.durationSeconds = std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
    found.sampleRate = parameters->sample_rate;
    found.channels = parameters->ch_layout.nb_channels;
    found.codecName = avcodec_get_name(parameters->codec_id);
    if (facts) *facts = found;
    return AudioOpenResult::Ok;
}

std::unique_ptr<AudioDecoder> openAudioDecoder(const std::string& path, AudioOpenResult* result) {
    if (!isNonEmptyRegularFile(path)) {
        report(result, AudioOpenResult::CannotOpen);
        return nullptr;
    }
    WaveFile wave;
    WaveSampleType type = WaveSampleType::None;
    const AudioOpenResult waveResult = openWave(path, wave, type);
    if (waveResult == AudioOpenResult::CannotOpen) {
        report(result, waveResult);
        return nullptr;
    }
    if (waveResult == AudioOpenResult::Ok && type != WaveSampleType::None) {
        auto decoder = std::make_unique<WaveDecoder>(std::move(wave), type);
        if (!decoder->start()) {
            report(result, AudioOpenResult::NotAudio);
            return nullptr;
        }
        report(result, AudioOpenResult::Ok);
        return decoder;
    }
    auto decoder = std::make_unique<CodecDecoder>();
    const AudioOpenResult opened = decoder->start(path);
    report(result, opened);
    if (opened != AudioOpenResult::Ok) return nullptr;
    return decoder;
}

}  // namespace kestrelle
