// Feeds arbitrary bytes to WaveFile through an in-memory file. Besides the sanitizers it checks the
// result against a plain walk of the chunks and reads every sample the file offers, one by one and in
// a batch, so a size that points past the file's bytes is seen.

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "media/wave_file.h"

using kestrelle::readLe16;
using kestrelle::readLe32;
using kestrelle::WaveFile;
using kestrelle::WaveOpenResult;

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "wave_file_fuzz: %s\n", what);
        std::abort();
    }
}

// Offset of the body of the first chunk tagged `tag` from `position` on, or -1.
long long findBody(const std::uint8_t* data, std::size_t size, std::size_t position, const char* tag,
                   std::uint32_t& bodySize) {
    while (position + 8 <= size) {
        bodySize = readLe32(data + position + 4);
        if (std::memcmp(data + position, tag, 4) == 0) return static_cast<long long>(position + 8);
        position += 8 + static_cast<std::size_t>(bodySize);
    }
    return -1;
}

// One file descriptor for the whole run, rewritten for every input.
int memoryFile() {
    static const int fd = memfd_create("wave_fuzz", 0);
    require(fd >= 0, "memfd_create failed");
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = memoryFile();
    require(ftruncate(fd, 0) == 0, "ftruncate failed");
    require(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "pwrite failed");
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    WaveFile wave;
    const WaveOpenResult result = wave.open(path);
    if (result != WaveOpenResult::Ok) {
        require(!wave.isOpen() && !wave.hasSamples() && wave.dataSize() == 0,
                "failed open left state behind");
        return 0;
    }
    require(size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WAVE", 4) == 0,
            "accepted a file that is not RIFF/WAVE");

    std::uint32_t fmtSize = 0;
    const long long fmtBody = findBody(data, size, 12, "fmt ", fmtSize);
    require(fmtBody >= 0 && fmtSize >= 16 && fmtBody + fmtSize <= static_cast<long long>(size),
            "accepted a missing or cut format chunk");
    require(wave.format().formatTag == readLe16(data + fmtBody), "format tag misread");
    require(wave.format().averageBytesPerSecond == readLe32(data + fmtBody + 8), "byte rate misread");

    if (wave.format().formatTag == 1) {
        std::uint32_t declared = 0;
        const long long dataBody =
            findBody(data, size, static_cast<std::size_t>(fmtBody) + fmtSize, "data", declared);
        require(dataBody >= 0, "accepted PCM without a data chunk");
        require(std::strcmp(wave.dataChunkTag(), "data") == 0, "PCM data tag");
        require(wave.dataSize() <= declared && dataBody + wave.dataSize() <= static_cast<long long>(size),
                "data size beyond the file");
        std::string samples(wave.dataSize(), '\0');
        require(wave.hasSamples() &&
                    wave.readSampleBytes(0, samples.data(), samples.size()) == samples.size() &&
                    std::memcmp(samples.data(), data + dataBody, samples.size()) == 0,
                "samples are not the data chunk's bytes");
    } else {
        require(!wave.hasSamples() && wave.dataSize() == fmtSize, "non-PCM file must count the format chunk");
    }

    const std::vector<int> values = wave.sampleValues(0, 1, wave.sampleValueCount() + 1);
    for (std::size_t i = 0; i < wave.sampleValueCount(); ++i)
        require(values[i] == wave.sampleValue(i), "batched value differs");
    require(values.back() == 0 && wave.sampleValue(wave.sampleValueCount()) == 0, "value past the end");
    (void)wave.durationSeconds();
    (void)wave.durationMilliseconds();
    (void)wave.wholeSeconds();

    WaveFile moved(std::move(wave));
    require(!wave.hasSamples() && moved.isOpen(), "move left the source claiming samples");
    return 0;
}
