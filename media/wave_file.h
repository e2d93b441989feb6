#pragma once
// A WAV file on the soundtrack line: kept open read-only for as long as its clip exists, with the format
// block, the data chunk's size and the samples located by walking the RIFF chunks. Samples are read from
// the file when asked for, so a file that another program cuts short or rewrites meanwhile gives silence
// or its new bytes, never a fault.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

// The body of the "fmt " chunk.
struct WaveFormat {
    std::uint16_t formatTag = 0;  // 1: PCM
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t averageBytesPerSecond = 0;
    std::uint16_t blockAlign = 0;
    std::uint16_t bitsPerSample = 0;
};

enum class WaveOpenResult {
    Ok,
    CannotOpen,   // missing, unreadable, not a regular file, or empty
    NotWaveFile,  // not RIFF/WAVE, or a chunk looked for is missing or does not fit in the file
};

class WaveFile {
public:
    WaveFile();
    ~WaveFile();
    WaveFile(WaveFile&&) noexcept;
    WaveFile& operator=(WaveFile&&) noexcept;
    WaveFile(const WaveFile&) = delete;
    WaveFile& operator=(const WaveFile&) = delete;

    // Opens the file and locates its chunks. On failure the object is left as it was.
    WaveOpenResult open(const std::string& path);
    bool isOpen() const;

    const std::string& path() const { return path_; }
    const WaveFormat& format() const { return format_; }

    // The chunk standing for the data: "data" for PCM; for any other format the "fmt " chunk, whose body
    // size then counts as the data size.
    const char* dataChunkTag() const { return dataTag_; }
    // The data size counted: the declared size, but never more than the bytes the file held when opened.
    std::uint32_t dataSize() const { return dataSize_; }

    // PCM only: the samples are the dataSize() bytes of the data chunk's body. None for other formats.
    bool hasSamples() const { return hasSamples_; }
    std::size_t sampleBytes() const { return hasSamples_ ? dataSize_ : 0; }
    // Copies up to `length` sample bytes from `offset` into `buffer`; returns how many it copied: fewer
    // at the end of the data, or where the file has since become shorter.
    std::size_t readSampleBytes(std::size_t offset, void* buffer, std::size_t length) const;

    // The clip's length from the data size and the average byte rate (0 when the rate is 0).
    double durationSeconds() const;
    std::int64_t durationMilliseconds() const;  // truncated
    std::uint32_t wholeSeconds() const;         // data bytes / average bytes per second, integer

    // Sample values for the waveform, in file order (channels interleaved): 8-bit and 16-bit PCM only.
    // sampleValue is centred on 0 (8-bit: byte - 128; 16-bit: the signed sample) with full scale
    // sampleFullScale() (128 or 32767); out of range, or no longer in the file, gives 0.
    std::size_t sampleValueCount() const;
    int sampleValue(std::size_t index) const;
    int sampleFullScale() const;
    // The `count` values at first, first + step, first + 2 x step, ... (a step of 0 counts as 1), read
    // in few system calls; the same values sampleValue gives one by one.
    std::vector<int> sampleValues(std::size_t first, std::size_t step, std::size_t count) const;

    // For decoding. The sample encoding: the format tag, or for WAVE_FORMAT_EXTENSIBLE (0xFFFE) the tag
    // its sub-format names (1: integer PCM, 3: IEEE float); 0 when an extensible block is too short.
    std::uint16_t sampleFormatTag() const { return sampleFormatTag_; }
    // The extensible block's speaker mask (0 when absent).
    std::uint32_t channelMask() const { return channelMask_; }
    // The "data" chunk's body, located for every format (dataSize() measures formats other than PCM by
    // their "fmt " chunk, but a decoder needs the samples): its size, never more than the file held
    // when opened (0 without a data chunk), and reads from it as readSampleBytes does.
    std::uint64_t audioDataSize() const { return audioDataSize_; }
    std::size_t readAudioData(std::uint64_t offset, void* buffer, std::size_t length) const;

private:
    struct Source;
    std::unique_ptr<Source> source_;
    std::string path_;
    WaveFormat format_;
    char dataTag_[5] = {0, 0, 0, 0, 0};
    std::uint32_t dataSize_ = 0;
    bool hasSamples_ = false;
    std::uint64_t samplesOffset_ = 0;  // where the data chunk's body starts in the file
    std::uint16_t sampleFormatTag_ = 0;
    std::uint32_t channelMask_ = 0;
    std::uint64_t audioDataOffset_ = 0;
    std::uint64_t audioDataSize_ = 0;
    int bytesPerValue() const;  // 1 or 2; 0 for sample sizes without waveform values
};

}  // namespace kestrelle
