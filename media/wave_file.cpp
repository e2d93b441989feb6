// WAV files for the soundtrack line. Every size field is checked against the file's size before use: a
// file that lies about its sizes is either read within its bytes or rejected, never read past its end.
// Nothing is mapped: another program may cut the file short at any time, and a read through a mapping
// past the new end would kill the process. Reads with pread instead come back short, which counts as
// silence.

#include "media/wave_file.h"

#include "base/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kestrelle {

struct WaveFile::Source {
    int fd = -1;
    explicit Source(int descriptor) : fd(descriptor) {}
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        if (fd >= 0) close(fd);
    }
};

namespace {

constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kFormatBlock = 16;
constexpr std::size_t kExtensibleBlock = 40;  // the format block with the WAVE_FORMAT_EXTENSIBLE fields
constexpr std::uint16_t kExtensibleFormatTag = 0xFFFE;
// Bytes fetched per read while walking the chunks or collecting waveform values.
constexpr std::size_t kReadBlock = 16384;

// Reads up to `length` bytes at `offset`; returns how many it got (fewer at the end of the file or on an
// error).
std::size_t readAt(int fd, std::uint64_t offset, void* buffer, std::size_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// The file's bytes through one window, so that a walk over many small chunks costs few system calls.
class WindowedReader {
public:
    WindowedReader(int fd, std::uint64_t fileSize) : fd_(fd), fileSize_(fileSize) {}

    // The `length` bytes at `offset` (at most kReadBlock), or null when the file does not hold them.
    const std::uint8_t* bytesAt(std::uint64_t offset, std::size_t length) {
        if (offset > fileSize_ || fileSize_ - offset < length) return nullptr;
        if (offset < start_ || offset + length > start_ + filled_) {
            start_ = offset;
            filled_ = readAt(fd_, offset, window_.data(), window_.size());
            if (filled_ < length) return nullptr;
        }
        return window_.data() + (offset - start_);
    }

private:
    int fd_;
    std::uint64_t fileSize_;
    std::array<std::uint8_t, kReadBlock> window_{};
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

struct Chunk {
    std::uint64_t header = 0;  // offset of the chunk's tag
    std::uint64_t body = 0;    // offset of its body
    std::uint32_t size = 0;    // declared body size
    std::uint64_t next() const { return body + size; }
};

// Walks from `position` to the first chunk tagged `tag`. False when a chunk header does not fit in the
// file or the walk reaches the end without finding the tag. Sizes are not padded to even.
bool findChunk(WindowedReader& reader, std::uint64_t position, const char* tag, Chunk& found) {
    while (const std::uint8_t* header = reader.bytesAt(position, kChunkHeader)) {
        Chunk chunk;
        chunk.header = position;
        chunk.body = position + kChunkHeader;
        chunk.size = readLe32(header + 4);
        if (std::memcmp(header, tag, 4) == 0) {
            found = chunk;
            return true;
        }
        position = chunk.next();  // 64 bits hold body + a 32-bit size without wrapping
    }
    return false;
}

}  // namespace

WaveFile::WaveFile() = default;
WaveFile::~WaveFile() = default;
WaveFile::WaveFile(WaveFile&& other) noexcept {
    *this = std::move(other);
}

WaveFile& WaveFile::operator=(WaveFile&& other) noexcept {
    if (this != &other) {
        source_ = std::move(other.source_);
        path_ = std::move(other.path_);
        format_ = other.format_;
        std::memcpy(dataTag_, other.dataTag_, sizeof dataTag_);
        dataSize_ = other.dataSize_;
        hasSamples_ = other.hasSamples_;
        samplesOffset_ = other.samplesOffset_;
        sampleFormatTag_ = other.sampleFormatTag_;
        channelMask_ = other.channelMask_;
        audioDataOffset_ = other.audioDataOffset_;
        audioDataSize_ = other.audioDataSize_;
        // The moved-from file no longer owns the descriptor, so it must not claim samples.
        other.path_.clear();
        other.format_ = WaveFormat{};
        std::memset(other.dataTag_, 0, sizeof other.dataTag_);
        other.dataSize_ = 0;
        other.hasSamples_ = false;
        other.samplesOffset_ = 0;
        other.sampleFormatTag_ = 0;
        other.channelMask_ = 0;
        other.audioDataOffset_ = 0;
        other.audioDataSize_ = 0;
    }
    return *this;
}

bool WaveFile::isOpen() const {
    return source_ != nullptr;
}

WaveOpenResult WaveFile::open(const std::string& path) {
    // Non-blocking so that a named pipe given as a WAV file cannot stall the open.
    auto source = std::make_unique<Source>(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (source->fd < 0) return WaveOpenResult::CannotOpen;
    struct stat info {};
    if (fstat(source->fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return WaveOpenResult::CannotOpen;
    const auto size = static_cast<std::uint64_t>(info.st_size);

    WindowedReader reader(source->fd, size);
    const std::uint8_t* riffHeader = reader.bytesAt(0, 12);
    if (!riffHeader || std::memcmp(riffHeader, "RIFF", 4) != 0 || std::memcmp(riffHeader + 8, "WAVE", 4) != 0)
        return WaveOpenResult::NotWaveFile;

    Chunk fmt;
    if (!findChunk(reader, 12, "fmt ", fmt)) return WaveOpenResult::NotWaveFile;
    // The format block must lie whole inside the chunk's body and the body inside the file.
    if (fmt.size < kFormatBlock || fmt.next() > size) return WaveOpenResult::NotWaveFile;
    const std::uint8_t* block = reader.bytesAt(fmt.body, kFormatBlock);
    if (!block) return WaveOpenResult::NotWaveFile;  // the file became shorter while being read

    WaveFormat format;
    format.formatTag = readLe16(block);
    format.channels = readLe16(block + 2);
    format.sampleRate = readLe32(block + 4);
    format.averageBytesPerSecond = readLe32(block + 8);
    format.blockAlign = readLe16(block + 12);
    format.bitsPerSample = readLe16(block + 14);

    // WAVE_FORMAT_EXTENSIBLE: cbSize (22), valid bits, the speaker mask, then the sub-format GUID,
    // whose first two bytes are the format tag it stands for.
    std::uint16_t sampleFormatTag = format.formatTag;
    std::uint32_t channelMask = 0;
    if (format.formatTag == kExtensibleFormatTag) {
        sampleFormatTag = 0;
        const std::uint8_t* extension =
            fmt.size >= kExtensibleBlock
                ? reader.bytesAt(fmt.body + kFormatBlock, kExtensibleBlock - kFormatBlock)
                : nullptr;
        if (extension && readLe16(extension) >= kExtensibleBlock - kFormatBlock - 2) {
            channelMask = readLe32(extension + 4);
            sampleFormatTag = readLe16(extension + 8);
        }
    }

    bool hasSamples = false;
    std::uint64_t samplesOffset = 0;
    std::uint32_t dataSize = fmt.size;
    const char* tag = "fmt ";
    Chunk data;
    const bool hasData = findChunk(reader, fmt.next(), "data", data);
    if (format.formatTag == 1) {
        if (!hasData) return WaveOpenResult::NotWaveFile;
        // A data size beyond the end of the file counts only the bytes present.
        dataSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(data.size, size - data.body));
        hasSamples = true;
        samplesOffset = data.body;
        tag = "data";
    }

    source_ = std::move(source);
    path_ = path;
    format_ = format;
    std::memcpy(dataTag_, tag, 4);
    dataSize_ = dataSize;
    hasSamples_ = hasSamples;
    samplesOffset_ = samplesOffset;
    sampleFormatTag_ = sampleFormatTag;
    channelMask_ = channelMask;
    audioDataOffset_ = hasData ? data.body : 0;
    audioDataSize_ = hasData ? std::min<std::uint64_t>(data.size, size - std::min(size, data.body)) : 0;
    return WaveOpenResult::Ok;
}

double WaveFile::durationSeconds() const {
    if (format_.averageBytesPerSecond == 0) return 0.0;
    return static_cast<double>(dataSize_) / format_.averageBytesPerSecond;
}

std::int64_t WaveFile::durationMilliseconds() const {
    if (format_.averageBytesPerSecond == 0) return 0;
    return static_cast<std::int64_t>(dataSize_) * 1000 / format_.averageBytesPerSecond;
}

std::uint32_t WaveFile::wholeSeconds() const {
    if (format_.averageBytesPerSecond == 0) return 0;
    return dataSize_ / format_.averageBytesPerSecond;
}

std::size_t WaveFile::readSampleBytes(std::size_t offset, void* buffer, std::size_t length) const {
    if (!hasSamples_ || !source_ || offset >= dataSize_) return 0;
    length = std::min<std::size_t>(length, dataSize_ - offset);
    return readAt(source_->fd, samplesOffset_ + offset, buffer, length);
}

std::size_t WaveFile::readAudioData(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (!source_ || offset >= audioDataSize_) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, audioDataSize_ - offset));
    return readAt(source_->fd, audioDataOffset_ + offset, buffer, length);
}

int WaveFile::bytesPerValue() const {
    if (!hasSamples_) return 0;
    if (format_.bitsPerSample == 8) return 1;
    if (format_.bitsPerSample == 16) return 2;
    return 0;
}

std::size_t WaveFile::sampleValueCount() const {
    const int width = bytesPerValue();
    return width == 0 ? 0 : dataSize_ / static_cast<std::size_t>(width);
}

namespace {

int decodeValue(const std::uint8_t* bytes, int width) {
    if (width == 1) return static_cast<int>(bytes[0]) - 128;
    return static_cast<std::int16_t>(readLe16(bytes));
}

}  // namespace

int WaveFile::sampleValue(std::size_t index) const {
    if (index >= sampleValueCount()) return 0;
    const int width = bytesPerValue();
    std::uint8_t bytes[2] = {0, 0};
    const auto size = static_cast<std::size_t>(width);
    if (readSampleBytes(index * size, bytes, size) < size) return 0;
    return decodeValue(bytes, width);
}

int WaveFile::sampleFullScale() const {
    return format_.bitsPerSample == 8 ? 128 : 32767;
}

std::vector<int> WaveFile::sampleValues(std::size_t first, std::size_t step, std::size_t count) const {
    std::vector<int> values(count, 0);
    const std::size_t total = sampleValueCount();
    if (total == 0 || first >= total) return values;
    step = std::max<std::size_t>(step, 1);
    const int width = bytesPerValue();
    const auto size = static_cast<std::size_t>(width);
    // Values close together share one block read; far apart ones are read alone.
    const bool shareBlocks = step < kReadBlock / size;

    std::array<std::uint8_t, kReadBlock> block{};
    std::size_t blockStart = 0;
    std::size_t blockFilled = 0;
    std::size_t index = first;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t offset = index * size;
        if (offset < blockStart || offset + size > blockStart + blockFilled) {
            blockStart = offset;
            blockFilled = readSampleBytes(offset, block.data(), shareBlocks ? block.size() : size);
            // Short of the value: the file ends here now, and everything after it is silence.
            if (blockFilled < size) break;
        }
        values[i] = decodeValue(block.data() + (offset - blockStart), width);
        if (total - index <= step) break;
        index += step;
    }
    return values;
}

}  // namespace kestrelle
