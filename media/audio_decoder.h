#pragma once
// Audio files of the soundtrack, decoded. WAV files are read by our own reader (media/wave_file.h);
// every other format (MP3, FLAC, Ogg Vorbis, Opus, M4A/AAC, the sound of a video file) through
// libavformat and libavcodec. Whatever the file's own rate and channels, a decoder gives 44,100 Hz stereo
// float samples (libswresample converts), with the encoder delay and padding the file declares (LAME/Xing
// header, AAC priming, edit lists) removed, so consecutive songs join without a gap. Decoding is a stream:
// memory stays bounded whatever the file's length.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrelle {

// The rate and channel count of everything the soundtrack mix and the output's audio use.
constexpr int kMixSampleRate = 44100;
constexpr int kMixChannels = 2;

enum class AudioOpenResult {
    Ok,
    CannotOpen,      // missing, unreadable, empty, or not a regular file (a FIFO or a folder is never opened)
    NotAudio,        // no format we read, or a file without an audio stream (a video without sound)
    DecoderMissing,  // the audio stream's codec has no decoder on this system
};

// A user text for a result other than Ok ("The file cannot be opened.", ...).
const char* audioOpenResultText(AudioOpenResult result);

// What a file holds, from its headers (quick: nothing is decoded beyond what the headers need).
struct AudioFileFacts {
    double durationSeconds = 0.0;  // the decoded length: WAV by its sample frames, others as stated
    int sampleRate = 0;            // the file's own rate and channel count
    int channels = 0;
    std::string codecName;  // "pcm_s16le", "mp3", "flac", ...
    bool isWave = false;    // a RIFF/WAVE file, read by our reader
    // WAV only: the data chunk's size and the format's average byte rate (the clip width's measure).
    std::uint64_t dataBytes = 0;
    std::uint32_t averageBytesPerSecond = 0;
    // WAV only: integer PCM (format tag 1), whose data-chunk measure is its length. Other WAV formats
    // are measured by their "fmt " chunk, which says nothing of their length.
    bool wavePcm = false;
};

// Opens `path` and reads its headers into `facts`. Decided with stat before any open, so a FIFO or a
// device never blocks.
AudioOpenResult probeAudioFile(const std::string& path, AudioFileFacts* facts);

// Whether a file name has an extension the soundtrack lists (case-insensitive): .wav .mp3 .flac .ogg
// .oga .opus .m4a .aac .mp4 .m4v .mov .mkv .webm. The contents decide in the end (probeAudioFile).
bool hasAudioFileName(const std::string& path);

// One file decoded as a stream of interleaved 44,100 Hz stereo float samples (left, right; full scale
// is +-1.0). Used by one thread at a time.
class AudioDecoder {
public:
    virtual ~AudioDecoder() = default;
    // Fills `out` with up to `frames` stereo frames (2 x frames floats) and returns how many it wrote:
    // fewer only at the end of the stream, or where reading or decoding failed (then failed() is true
    // and every later read returns 0). A file that shrinks or vanishes meanwhile ends the stream.
    virtual std::size_t read(float* out, std::size_t frames) = 0;
    virtual bool failed() const = 0;
};

// A decoder at the start of `path`; null on failure, with the reason in `result` when given.
std::unique_ptr<AudioDecoder> openAudioDecoder(const std::string& path, AudioOpenResult* result = nullptr);

}  // namespace kestrelle
