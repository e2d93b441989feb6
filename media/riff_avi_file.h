#pragma once
// A RIFF AVI file writer with the OpenDML (AVI 2.0) extension.
//
// Layout written:
//   RIFF 'AVI ' { LIST 'hdrl' { avih, LIST 'strl' { strh, strf, indx, [strn] } per stream,
//                               LIST 'odml' { dmlh } },
//                 LIST 'movi' { ##dc / ##wb chunks ..., ix## per stream }, idx1 }
//   RIFF 'AVIX' { LIST 'movi' { chunks ..., ix## per stream } } ...
// Each RIFF part stays below the part limit (1 GiB by default); every part carries a standard index
// per stream and each stream's super index ("indx") points at them, so players read files of any size.
// The first part also carries the classic idx1 for readers without OpenDML.
//
// Writes go through one large buffer and the file position only moves forward while chunks are added;
// the header fields that depend on the totals (lengths, frame counts, sizes) are patched at close. After a
// failed write (disk full, size limit) close patches the header bytes already on disk, so the file
// declares only the chunks it holds whole.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

struct AviVideoStreamInfo {
    std::uint32_t handler = 0;  // strh fccHandler
    std::uint32_t scale = 1000;
    std::uint32_t rate = 30000;
    std::int32_t quality = -1;
    std::uint32_t suggestedBufferSize = 0;
    int width = 0;  // for the main header
    int height = 0;
    std::vector<std::uint8_t> format;  // strf body (BITMAPINFOHEADER and extra data)
};

struct AviAudioStreamInfo {
    std::uint32_t handler = 0;
    std::uint32_t scale = 1;
    std::uint32_t rate = 0;
    std::int32_t quality = -1;
    std::uint32_t sampleSize = 0;  // 0: one chunk is one sample; otherwise bytes per sample
    std::uint32_t suggestedBufferSize = 0;
    std::vector<std::uint8_t> format;  // strf body (WAVEFORMATEX and extra data)
    std::string name;                  // strn, omitted when empty
};

class RiffAviFile {
public:
    static constexpr std::uint64_t kDefaultPartLimit = 1ull << 30;

    RiffAviFile();
    ~RiffAviFile();  // finishes the file if still open
    RiffAviFile(const RiffAviFile&) = delete;
    RiffAviFile& operator=(const RiffAviFile&) = delete;

    // Creates (or truncates) the file. False with errorCode() set on failure.
    bool open(const std::string& path);
    bool isOpen() const;

    // Streams are declared before the first chunk; each returns the stream number (-1 when refused:
    // not open, chunks already written, or too many streams).
    int addVideoStream(const AviVideoStreamInfo& info);
    int addAudioStream(const AviAudioStreamInfo& info);

    // Appends one chunk to a stream. For audio, zero-size chunks are skipped (they carry no time).
    // False once any write failed; the file then only takes close().
    bool writeChunk(int stream, const std::uint8_t* data, std::size_t size, bool keyFrame);

    // Writes the indexes, patches the headers and closes. True when everything reached the file.
    // After a failed write it still patches what it can, so the part written stays readable, and
    // returns false. Safe to call more than once.
    bool close();

    // errno of the first failure (0 when none).
    int errorCode() const;
    bool failed() const;

    // Counts so far, per stream: chunks and their payload bytes.
    std::uint64_t chunkCount(int stream) const;
    std::uint64_t byteCount(int stream) const;
    // Bytes the file holds so far (including what is still buffered).
    std::uint64_t fileSize() const;

    // Tests: the largest size of one RIFF part (normally 1 GiB), and the write buffer's size (normally
    // 8 MiB; 0 writes every chunk through at once). Both kept across open().
    void setPartLimitForTesting(std::uint64_t bytes);
    void setBufferSizeForTesting(std::size_t bytes);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrelle
