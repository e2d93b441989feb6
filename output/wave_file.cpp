// WAV files for the soundtrack line. Every size field is checked against the mapping before use: a
// file that lies about its sizes is either read within its bytes or rejected, never read past its end.

#include "output/wave_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kestrelle {

struct WaveFile::Mapping {
    void* address = nullptr;
    std::size_t size = 0;
    ~Mapping() {
        if (address) munmap(address, size);
    }
    const std::uint8_t* bytes() const { return static_cast<const std::uint8_t*>(address); }
};

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kFormatBlock = 16;

struct Chunk {
    std::size_t header = 0;  // offset of the chunk's tag
    std::size_t body = 0;    // offset of its body
    std::uint32_t size = 0;  // declared body size
    std::size_t next() const { return body + size; }
};

// Walks from `position` to the first chunk tagged `tag`. False when a chunk header does not fit in the
// file or the walk reaches the end without finding the tag. Sizes are not padded to even.
bool findChunk(const std::uint8_t* bytes, std::size_t fileSize, std::size_t position, const char* tag,
               Chunk& found) {
    while (position <= fileSize && fileSize - position >= kChunkHeader) {
        Chunk chunk;
        chunk.header = position;
        chunk.body = position + kChunkHeader;
        chunk.size = le32(bytes + position + 4);
        if (std::memcmp(bytes + position, tag, 4) == 0) {
            found = chunk;
            return true;
        }
        position = chunk.next();  // size_t holds body + a 32-bit size without wrapping
    }
    return false;
}

}  // namespace

WaveFile::WaveFile() = default;
WaveFile::~WaveFile() = default;
WaveFile::WaveFile(WaveFile&& other) noexcept { *this = std::move(other); }

WaveFile& WaveFile::operator=(WaveFile&& other) noexcept {
    if (this != &other) {
        mapping_ = std::move(other.mapping_);
        path_ = std::move(other.path_);
        format_ = other.format_;
        std::memcpy(dataTag_, other.dataTag_, sizeof dataTag_);
        dataSize_ = other.dataSize_;
        samples_ = other.samples_;
        // The moved-from file no longer owns the mapping, so it must not point into it.
        other.path_.clear();
        other.format_ = WaveFormat{};
        std::memset(other.dataTag_, 0, sizeof other.dataTag_);
        other.dataSize_ = 0;
        other.samples_ = nullptr;
    }
    return *this;
}

bool WaveFile::isOpen() const { return mapping_ != nullptr; }

WaveOpenResult WaveFile::open(const std::string& path) {
    // Non-blocking so that a named pipe given as a WAV file cannot stall the open.
    FdCloser file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) return WaveOpenResult::CannotOpen;
    struct stat info {};
    if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
        return WaveOpenResult::CannotOpen;

    auto mapping = std::make_unique<Mapping>();
    mapping->size = static_cast<std::size_t>(info.st_size);
    void* address = mmap(nullptr, mapping->size, PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (address == MAP_FAILED) return WaveOpenResult::CannotOpen;
    mapping->address = address;
    // The descriptor closes here; the mapping stays.

    const std::uint8_t* bytes = mapping->bytes();
    const std::size_t size = mapping->size;
    if (size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return WaveOpenResult::NotWaveFile;

    Chunk fmt;
    if (!findChunk(bytes, size, 12, "fmt ", fmt)) return WaveOpenResult::NotWaveFile;
    // The format block must lie whole inside the chunk's body and the body inside the file.
    if (fmt.size < kFormatBlock || fmt.next() > size) return WaveOpenResult::NotWaveFile;

    WaveFormat format;
    const std::uint8_t* block = bytes + fmt.body;
    format.formatTag = le16(block);
    format.channels = le16(block + 2);
    format.sampleRate = le32(block + 4);
    format.averageBytesPerSecond = le32(block + 8);
    format.blockAlign = le16(block + 12);
    format.bitsPerSample = le16(block + 14);

    const std::uint8_t* samples = nullptr;
    std::uint32_t dataSize = fmt.size;
    const char* tag = "fmt ";
    if (format.formatTag == 1) {
        Chunk data;
        if (!findChunk(bytes, size, fmt.next(), "data", data)) return WaveOpenResult::NotWaveFile;
        // A data size beyond the end of the file counts only the bytes present.
        dataSize = static_cast<std::uint32_t>(std::min<std::size_t>(data.size, size - data.body));
        samples = bytes + data.body;
        tag = "data";
    }

    mapping_ = std::move(mapping);
    path_ = path;
    format_ = format;
    std::memcpy(dataTag_, tag, 4);
    dataSize_ = dataSize;
    samples_ = samples;
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

std::size_t WaveFile::sampleValueCount() const {
    if (!samples_) return 0;
    if (format_.bitsPerSample == 8) return dataSize_;
    if (format_.bitsPerSample == 16) return dataSize_ / 2;
    return 0;
}

int WaveFile::sampleValue(std::size_t index) const {
    if (index >= sampleValueCount()) return 0;
    if (format_.bitsPerSample == 8) return static_cast<int>(samples_[index]) - 128;
    return static_cast<std::int16_t>(le16(samples_ + 2 * index));
}

int WaveFile::sampleFullScale() const { return format_.bitsPerSample == 8 ? 128 : 32767; }

}  // namespace kestrelle
