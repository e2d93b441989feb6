#include "media/riff_avi_file.h"

#include "base/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace kestrelle {

namespace {

constexpr std::size_t kBufferSize = 8u << 20;
constexpr std::size_t kSuperIndexEntries = 256;  // parts per stream: 256 GiB at the default limit
constexpr std::size_t kIndxBodySize = 24 + 16 * kSuperIndexEntries;
constexpr std::size_t kDmlhBodySize = 248;
constexpr std::size_t kMaxStreams = 10;
// A standard index entry keeps the size in 31 bits; the top bit marks a delta (non-key) frame.
constexpr std::uint32_t kDeltaFrameBit = 0x80000000u;
constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kAviifKeyFrame = 0x10;

std::uint32_t clamp32(std::uint64_t v) {
    return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v);
}

// Chunk id of a stream: two decimal digits and a two-letter type ("00dc", "01wb", "ix00").
std::uint32_t streamChunkId(int stream, const char type[2]) {
    const char id[5] = {static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10), type[0],
                        type[1], 0};
    return makeFourCC(id);
}
std::uint32_t indexChunkId(int stream) {
    const char id[5] = {'i', 'x', static_cast<char>('0' + stream / 10), static_cast<char>('0' + stream % 10),
                        0};
    return makeFourCC(id);
}

struct StdEntry {
    std::uint64_t dataOffset;  // absolute offset of the chunk's data
    std::uint32_t size;        // payload size, top bit set for a delta frame
};

struct SuperEntry {
    std::uint64_t offset;  // absolute offset of the ix## chunk
    std::uint32_t size;    // its size including the header
    std::uint32_t duration;
};

struct Idx1Entry {
    std::uint32_t chunkId;
    std::uint32_t flags;
    std::uint32_t offset;  // from the 'movi' four-character code to the chunk header
    std::uint32_t size;
};

struct Stream {
    bool video = false;
    AviVideoStreamInfo videoInfo;
    AviAudioStreamInfo audioInfo;
    std::uint32_t chunkId = 0;
    std::uint32_t sampleSize = 0;
    std::uint64_t chunks = 0;
    std::uint64_t bytes = 0;
    std::uint64_t firstPartChunks = 0;
    std::uint32_t largestChunk = 0;
    std::vector<StdEntry> partEntries;  // entries of the current part
    std::uint64_t partDuration = 0;
    std::vector<SuperEntry> superIndex;
    // Header positions to patch at close.
    std::uint64_t strhOffset = 0;
    std::uint64_t indxOffset = 0;
};

// A chunk not yet known to be whole on disk.
struct PendingChunk {
    int stream;
    std::size_t part;
    std::uint64_t end;   // offset after the chunk, its pad byte included
    std::uint32_t size;  // payload bytes
};

struct Part {
    std::uint64_t riffOffset = 0;  // offset of "RIFF"
    std::uint64_t moviOffset = 0;  // offset of "LIST" holding "movi"
    std::uint64_t moviEnd = 0;     // offset after the movi list (0 while open)
    std::uint64_t end = 0;         // offset after the part (0 while open)
};

}  // namespace

struct RiffAviFile::Impl {
    int fd = -1;
    int error = 0;
    bool failed = false;
    bool opened = false;
    bool headerWritten = false;
    std::uint64_t partLimit = kDefaultPartLimit;
    std::size_t bufferSize = kBufferSize;

    std::vector<std::uint8_t> buffer;
    std::uint64_t position = 0;      // logical end of the file (written + buffered)
    std::uint64_t diskPosition = 0;  // bytes that reached the file

    std::vector<Stream> streams;
    std::vector<Part> parts;
    std::vector<Idx1Entry> idx1;
    std::deque<PendingChunk> pending;  // in file order
    std::uint64_t wholeChunksEnd = 0;  // end of the last chunk known to be whole on disk
    std::uint64_t avihOffset = 0;
    std::uint64_t dmlhOffset = 0;

    ~Impl() {
        if (fd >= 0) ::close(fd);
    }

    void fail(int code) {
        if (!failed) {
            failed = true;
            error = code ? code : EIO;
        }
    }

    // Writes all of `size` bytes at the current disk position.
    bool writeAll(const std::uint8_t* data, std::size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(errno);
                return false;
            }
            if (n == 0) {
                fail(ENOSPC);
                return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
            diskPosition += static_cast<std::uint64_t>(n);
        }
        while (!pending.empty() && pending.front().end <= diskPosition) {
            wholeChunksEnd = pending.front().end;
            pending.pop_front();
        }
        return true;
    }

    bool flush() {
        if (failed) return false;
        if (!buffer.empty()) {
            const bool ok = writeAll(buffer.data(), buffer.size());
            buffer.clear();
            if (!ok) return false;
        }
        // A file removed while being written takes the data nowhere: treat it as a failed write.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_nlink == 0) {
            fail(ENOENT);
            return false;
        }
        return true;
    }

    bool put(const std::uint8_t* data, std::size_t size) {
        if (failed) return false;
        if (buffer.size() + size > bufferSize) {
            if (!flush()) return false;
        }
        if (size >= bufferSize) {
            if (!writeAll(data, size)) return false;
        } else {
            buffer.insert(buffer.end(), data, data + size);
        }
        position += size;
        return true;
    }
    bool put(const std::vector<std::uint8_t>& bytes) { return put(bytes.data(), bytes.size()); }

    bool putChunkHeader(std::uint32_t id, std::uint32_t size) {
        std::uint8_t header[8];
        writeLe32(header, id);
        writeLe32(header + 4, size);
        return put(header, sizeof header);
    }

    // Patches bytes already in the file or still in the buffer.
    void patch(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
        while (size > 0 && offset < diskPosition) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, diskPosition - offset));
            const ssize_t written = ::pwrite(fd, data, n, static_cast<off_t>(offset));
            if (written <= 0) {
                if (written < 0 && errno == EINTR) continue;
                fail(written < 0 ? errno : EIO);
                return;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
            offset += static_cast<std::uint64_t>(written);
        }
        if (size > 0 && offset >= diskPosition) {
            const std::uint64_t at = offset - diskPosition;
            if (at + size <= buffer.size()) std::memcpy(buffer.data() + at, data, size);
        }
    }
    void patch32(std::uint64_t offset, std::uint32_t value) {
        std::uint8_t bytes[4];
        writeLe32(bytes, value);
        patch(offset, bytes, sizeof bytes);
    }

    std::uint64_t videoChunks() const {
        for (const auto& s : streams)
            if (s.video) return s.chunks;
        return 0;
    }
    std::uint64_t videoFirstPartChunks() const {
        for (const auto& s : streams)
            if (s.video) return s.firstPartChunks;
        return 0;
    }

    std::uint64_t streamLength(const Stream& s) const {
        if (s.sampleSize > 0) return s.bytes / s.sampleSize;
        return s.chunks;
    }

    std::vector<std::uint8_t> strhBody(const Stream& s) const {
        std::vector<std::uint8_t> b;
        if (s.video) {
            const auto& v = s.videoInfo;
            appendLe32(b, makeFourCC("vids"));
            appendLe32(b, v.handler);
            appendLe32(b, 0);  // flags
            appendLe16(b, 0);  // priority
            appendLe16(b, 0);  // language
            appendLe32(b, 0);  // initial frames
            appendLe32(b, v.scale);
            appendLe32(b, v.rate);
            appendLe32(b, 0);  // start
            appendLe32(b, 0);  // length, patched at close
            appendLe32(b, v.suggestedBufferSize);
            appendLe32(b, static_cast<std::uint32_t>(v.quality));
            appendLe32(b, 0);  // sample size
        } else {
            const auto& a = s.audioInfo;
            appendLe32(b, makeFourCC("auds"));
            appendLe32(b, a.handler);
            appendLe32(b, 0);
            appendLe16(b, 0);
            appendLe16(b, 0);
            appendLe32(b, 0);
            appendLe32(b, a.scale);
            appendLe32(b, a.rate);
            appendLe32(b, 0);
            appendLe32(b, 0);
            appendLe32(b, a.suggestedBufferSize);
            appendLe32(b, static_cast<std::uint32_t>(a.quality));
            appendLe32(b, a.sampleSize);
        }
        appendLe32(b, 0);  // frame rectangle
        appendLe32(b, 0);
        return b;
    }

    // The whole header up to and including the movi list's header.
    bool writeHeader() {
        std::vector<std::uint8_t> h;
        h.reserve(16384);
        auto chunkHeader = [&h](std::uint32_t id, std::size_t size) {
            appendLe32(h, id);
            appendLe32(h, static_cast<std::uint32_t>(size));
        };
        auto listSizeAt = [&h](std::size_t listStart) {
            writeLe32(h.data() + listStart + 4, static_cast<std::uint32_t>(h.size() - listStart - 8));
        };

        appendLe32(h, makeFourCC("RIFF"));
        appendLe32(h, 0);  // patched
        appendLe32(h, makeFourCC("AVI "));
        const std::size_t hdrl = h.size();
        chunkHeader(makeFourCC("LIST"), 0);
        appendLe32(h, makeFourCC("hdrl"));

        avihOffset = position + h.size() + 8;
        chunkHeader(makeFourCC("avih"), 56);
        const Stream* video = nullptr;
        for (const auto& s : streams)
            if (s.video) video = &s;
        std::uint32_t usPerFrame = 0;
        if (video && video->videoInfo.rate > 0)
            usPerFrame = static_cast<std::uint32_t>(
                (1000000ull * video->videoInfo.scale + video->videoInfo.rate / 2) / video->videoInfo.rate);
        appendLe32(h, usPerFrame);
        appendLe32(h, 0);  // max bytes per second, patched
        appendLe32(h, 0);  // padding granularity
        appendLe32(h, kAvifHasIndex | kAvifIsInterleaved);
        appendLe32(h, 0);  // total frames (first part), patched
        appendLe32(h, 0);  // initial frames
        appendLe32(h, static_cast<std::uint32_t>(streams.size()));
        appendLe32(h, 0);  // suggested buffer size, patched
        appendLe32(h, video ? static_cast<std::uint32_t>(video->videoInfo.width) : 0);
        appendLe32(h, video ? static_cast<std::uint32_t>(video->videoInfo.height) : 0);
        for (int i = 0; i < 4; ++i) appendLe32(h, 0);

        for (std::size_t i = 0; i < streams.size(); ++i) {
            Stream& s = streams[i];
            const std::size_t strl = h.size();
            chunkHeader(makeFourCC("LIST"), 0);
            appendLe32(h, makeFourCC("strl"));

            const auto strh = strhBody(s);
            s.strhOffset = position + h.size() + 8;
            chunkHeader(makeFourCC("strh"), strh.size());
            h.insert(h.end(), strh.begin(), strh.end());

            const auto& format = s.video ? s.videoInfo.format : s.audioInfo.format;
            chunkHeader(makeFourCC("strf"), format.size());
            h.insert(h.end(), format.begin(), format.end());
            if (format.size() % 2) h.push_back(0);

            // Super index, filled at close; its space is reserved now.
            s.indxOffset = position + h.size() + 8;
            chunkHeader(makeFourCC("indx"), kIndxBodySize);
            h.resize(h.size() + kIndxBodySize, 0);

            if (!s.video && !s.audioInfo.name.empty()) {
                const auto& name = s.audioInfo.name;
                chunkHeader(makeFourCC("strn"), name.size() + 1);
                h.insert(h.end(), name.begin(), name.end());
                h.push_back(0);
                if ((name.size() + 1) % 2) h.push_back(0);
            }
            listSizeAt(strl);
        }

        const std::size_t odml = h.size();
        chunkHeader(makeFourCC("LIST"), 0);
        appendLe32(h, makeFourCC("odml"));
        dmlhOffset = position + h.size() + 8;
        chunkHeader(makeFourCC("dmlh"), kDmlhBodySize);
        h.resize(h.size() + kDmlhBodySize, 0);
        listSizeAt(odml);
        listSizeAt(hdrl);

        Part part;
        part.riffOffset = position;
        part.moviOffset = position + h.size();
        chunkHeader(makeFourCC("LIST"), 0);  // patched
        appendLe32(h, makeFourCC("movi"));
        parts.push_back(part);
        headerWritten = true;
        return put(h);
    }

    // Bytes the indexes of the current part will need if one more chunk of `stream` is added.
    std::uint64_t pendingIndexBytes(int extraStream) const {
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < streams.size(); ++i) {
            const std::size_t n =
                streams[i].partEntries.size() + (static_cast<int>(i) == extraStream ? 1 : 0);
            total += 32 + 8 * n;
        }
        if (parts.size() == 1) total += 8 + 16 * (idx1.size() + 1);
        return total;
    }

    // Closes the current part: standard indexes inside its movi list, idx1 after the first one.
    bool finishPart() {
        Part& part = parts.back();
        for (std::size_t i = 0; i < streams.size(); ++i) {
            Stream& s = streams[i];
            if (s.superIndex.size() >= kSuperIndexEntries) {
                fail(EFBIG);
                return false;
            }
            const std::uint64_t base = part.moviOffset;
            std::vector<std::uint8_t> ix;
            ix.reserve(32 + 8 * s.partEntries.size());
            appendLe32(ix, indexChunkId(static_cast<int>(i)));
            appendLe32(ix, static_cast<std::uint32_t>(24 + 8 * s.partEntries.size()));
            appendLe16(ix, 2);  // longs per entry
            ix.push_back(0);    // sub type
            ix.push_back(1);    // index of chunks
            appendLe32(ix, static_cast<std::uint32_t>(s.partEntries.size()));
            appendLe32(ix, s.chunkId);
            appendLe64(ix, base);
            appendLe32(ix, 0);
            for (const auto& e : s.partEntries) {
                appendLe32(ix, static_cast<std::uint32_t>(e.dataOffset - base));
                appendLe32(ix, e.size);
            }
            const std::uint64_t at = position;
            if (!put(ix)) return false;
            s.superIndex.push_back({at, static_cast<std::uint32_t>(ix.size()), clamp32(s.partDuration)});
            s.partEntries.clear();
            s.partDuration = 0;
        }
        const std::uint64_t moviEnd = position;
        if (parts.size() == 1) {
            std::vector<std::uint8_t> body;
            body.reserve(8 + 16 * idx1.size());
            appendLe32(body, makeFourCC("idx1"));
            appendLe32(body, static_cast<std::uint32_t>(16 * idx1.size()));
            for (const auto& e : idx1) {
                appendLe32(body, e.chunkId);
                appendLe32(body, e.flags);
                appendLe32(body, e.offset);
                appendLe32(body, e.size);
            }
            idx1.clear();
            idx1.shrink_to_fit();
            if (!put(body)) return false;
            for (auto& s : streams) s.firstPartChunks = s.chunks;
        }
        part.moviEnd = moviEnd;
        part.end = position;
        patch32(part.moviOffset + 4, clamp32(moviEnd - part.moviOffset - 8));
        patch32(part.riffOffset + 4, clamp32(part.end - part.riffOffset - 8));
        return !failed;
    }

    bool startPart() {
        Part part;
        part.riffOffset = position;
        part.moviOffset = position + 12;
        std::vector<std::uint8_t> h;
        appendLe32(h, makeFourCC("RIFF"));
        appendLe32(h, 0);
        appendLe32(h, makeFourCC("AVIX"));
        appendLe32(h, makeFourCC("LIST"));
        appendLe32(h, 0);
        appendLe32(h, makeFourCC("movi"));
        parts.push_back(part);
        return put(h);
    }

    void patchHeaders() {
        std::uint32_t largest = 0;
        std::uint64_t payload = 0;
        for (const auto& s : streams) {
            largest = std::max(largest, s.largestChunk);
            payload += s.bytes;
        }
        const Stream* video = nullptr;
        for (const auto& s : streams)
            if (s.video) video = &s;
        std::uint64_t maxBytesPerSecond = 0;
        if (video && video->chunks > 0 && video->videoInfo.rate > 0 && video->videoInfo.scale > 0) {
            const double seconds =
                static_cast<double>(video->chunks) * video->videoInfo.scale / video->videoInfo.rate;
            maxBytesPerSecond = static_cast<std::uint64_t>(static_cast<double>(payload) / seconds);
        }
        patch32(avihOffset + 4, clamp32(maxBytesPerSecond));
        patch32(avihOffset + 16, clamp32(videoFirstPartChunks()));
        patch32(avihOffset + 28, largest + 8);
        patch32(dmlhOffset, clamp32(videoChunks()));
        for (std::size_t i = 0; i < streams.size(); ++i) {
            const Stream& s = streams[i];
            patch32(s.strhOffset + 32, clamp32(streamLength(s)));
            std::vector<std::uint8_t> indx;
            indx.reserve(kIndxBodySize);
            appendLe16(indx, 4);  // longs per entry
            indx.push_back(0);
            indx.push_back(0);  // index of indexes
            appendLe32(indx, static_cast<std::uint32_t>(s.superIndex.size()));
            appendLe32(indx, s.chunkId);
            appendLe32(indx, 0);
            appendLe32(indx, 0);
            appendLe32(indx, 0);
            for (const auto& e : s.superIndex) {
                appendLe64(indx, e.offset);
                appendLe32(indx, e.size);
                appendLe32(indx, e.duration);
            }
            patch(s.indxOffset, indx.data(), indx.size());
        }
    }

    // Where a file cut by a failed write is to end: after its last whole chunk, or after its last
    // finished part when that comes later; 0 when not even the first part's header is whole.
    std::uint64_t cutPoint() const {
        const std::uint64_t end = diskPosition;
        std::uint64_t cut = wholeChunksEnd;
        for (const auto& chunk : pending)
            if (chunk.end <= end) cut = std::max(cut, chunk.end);
        for (const auto& part : parts)
            if (part.end && part.end <= end) cut = std::max(cut, part.end);
        if (cut == 0 && !parts.empty() && parts.front().moviOffset + 12 <= end)
            cut = parts.front().moviOffset + 12;
        return cut;
    }

    // After a failed write: the file is cut after its last whole chunk (dropping a partial one, which
    // readers would take for a damaged frame), its sizes and counts are made to match, and the indexes
    // are dropped so readers scan the chunks that are there. Only header bytes already on disk are
    // rewritten; nothing is written beyond what the file held.
    void patchAfterFailure() {
        const std::uint64_t cut = cutPoint();
        if (cut == 0) return;  // the header itself is incomplete: nothing a reader could use
        if (cut < diskPosition && ::ftruncate(fd, static_cast<off_t>(cut)) == 0) diskPosition = cut;
        const std::uint64_t end = std::min(cut, diskPosition);
        for (const auto& part : parts) {
            if (part.riffOffset + 8 > end) break;
            const std::uint64_t partEnd = part.end && part.end <= end ? part.end : end;
            patch32(part.riffOffset + 4, clamp32(partEnd - part.riffOffset - 8));
            if (part.moviOffset + 8 > end) break;
            const std::uint64_t moviEnd = part.moviEnd && part.moviEnd <= end ? part.moviEnd : end;
            patch32(part.moviOffset + 4, clamp32(moviEnd - part.moviOffset - 8));
        }
        // Only chunks wholly in the file count.
        for (const auto& chunk : pending) {
            if (chunk.end <= end) continue;
            Stream& s = streams[static_cast<std::size_t>(chunk.stream)];
            s.chunks -= std::min<std::uint64_t>(s.chunks, 1);
            s.bytes -= std::min<std::uint64_t>(s.bytes, chunk.size);
            if (chunk.part == 0 && parts.size() > 1)
                s.firstPartChunks -= std::min<std::uint64_t>(s.firstPartChunks, 1);
        }
        pending.clear();
        for (auto& s : streams) {
            s.superIndex.clear();
            if (parts.size() == 1) s.firstPartChunks = s.chunks;
        }
        patchHeaders();
    }
};

RiffAviFile::RiffAviFile() : impl_(std::make_unique<Impl>()) {}

RiffAviFile::~RiffAviFile() {
    close();
}

bool RiffAviFile::open(const std::string& path) {
    close();
    const std::uint64_t partLimit = impl_->partLimit;
    const std::size_t bufferSize = impl_->bufferSize;
    impl_ = std::make_unique<Impl>();
    impl_->partLimit = partLimit;
    impl_->bufferSize = bufferSize;
    impl_->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (impl_->fd < 0) {
        impl_->error = errno;
        impl_->failed = true;
        return false;
    }
    impl_->opened = true;
    impl_->buffer.reserve(impl_->bufferSize);
    return true;
}

bool RiffAviFile::isOpen() const {
    return impl_->fd >= 0;
}

int RiffAviFile::addVideoStream(const AviVideoStreamInfo& info) {
    Impl& d = *impl_;
    if (d.fd < 0 || d.headerWritten || d.streams.size() >= kMaxStreams) return -1;
    Stream s;
    s.video = true;
    s.videoInfo = info;
    s.chunkId = streamChunkId(static_cast<int>(d.streams.size()), "dc");
    d.streams.push_back(std::move(s));
    return static_cast<int>(d.streams.size()) - 1;
}

int RiffAviFile::addAudioStream(const AviAudioStreamInfo& info) {
    Impl& d = *impl_;
    if (d.fd < 0 || d.headerWritten || d.streams.size() >= kMaxStreams) return -1;
    Stream s;
    s.audioInfo = info;
    s.sampleSize = info.sampleSize;
    s.chunkId = streamChunkId(static_cast<int>(d.streams.size()), "wb");
    d.streams.push_back(std::move(s));
    return static_cast<int>(d.streams.size()) - 1;
}

bool RiffAviFile::writeChunk(int stream, const std::uint8_t* data, std::size_t size, bool keyFrame) {
    Impl& d = *impl_;
    if (d.fd < 0 || d.failed) return false;
    if (stream < 0 || static_cast<std::size_t>(stream) >= d.streams.size() || (size > 0 && data == nullptr)) {
        return false;
    }
    Stream& s = d.streams[static_cast<std::size_t>(stream)];
    if (!s.video && size == 0) return true;
    // One chunk must fit a part with room to spare for its indexes.
    if (size >= (kDeltaFrameBit >> 1) || size + (1u << 20) > d.partLimit) {
        d.fail(EFBIG);
        return false;
    }
    if (!d.headerWritten && !d.writeHeader()) return false;

    const std::uint64_t padded = size + (size & 1);
    const Part& current = d.parts.back();
    const bool partHasData = d.position > current.moviOffset + 12;
    if (partHasData &&
        d.position + 8 + padded + d.pendingIndexBytes(stream) - current.riffOffset > d.partLimit) {
        if (!d.finishPart() || !d.startPart()) return false;
    }

    const std::uint64_t headerAt = d.position;
    if (!d.putChunkHeader(s.chunkId, static_cast<std::uint32_t>(size))) return false;
    if (size > 0 && !d.put(data, size)) return false;
    if (size & 1) {
        const std::uint8_t zero = 0;
        if (!d.put(&zero, 1)) return false;
    }
    const bool key = keyFrame || !s.video;
    s.partEntries.push_back({headerAt + 8, static_cast<std::uint32_t>(size) | (key ? 0 : kDeltaFrameBit)});
    if (d.parts.size() == 1) {
        d.idx1.push_back({s.chunkId, key ? kAviifKeyFrame : 0u,
                          static_cast<std::uint32_t>(headerAt - (d.parts.back().moviOffset + 8)),
                          static_cast<std::uint32_t>(size)});
    }
    d.pending.push_back(
        {stream, d.parts.size() - 1, headerAt + 8 + padded, static_cast<std::uint32_t>(size)});
    s.chunks += 1;
    s.bytes += size;
    s.partDuration += s.sampleSize > 0 ? size / s.sampleSize : 1;
    s.largestChunk = std::max(s.largestChunk, static_cast<std::uint32_t>(size));
    return true;
}

bool RiffAviFile::close() {
    Impl& d = *impl_;
    if (d.fd < 0) return !(d.opened && d.failed);  // a file never opened has nothing to finish
    if (!d.failed) {
        if (!d.headerWritten) d.writeHeader();
        if (!d.failed) d.finishPart();
        if (!d.failed) {
            d.patchHeaders();
            d.flush();
        }
    }
    if (d.failed) {
        // Whatever is still buffered cannot be trusted to land; keep what is on disk consistent.
        d.buffer.clear();
        d.patchAfterFailure();
    }
    if (::close(d.fd) != 0 && !d.failed) d.fail(errno);
    d.fd = -1;
    return !d.failed;
}

int RiffAviFile::errorCode() const {
    return impl_->error;
}
bool RiffAviFile::failed() const {
    return impl_->failed;
}

std::uint64_t RiffAviFile::chunkCount(int stream) const {
    if (stream < 0 || static_cast<std::size_t>(stream) >= impl_->streams.size()) return 0;
    return impl_->streams[static_cast<std::size_t>(stream)].chunks;
}

std::uint64_t RiffAviFile::byteCount(int stream) const {
    if (stream < 0 || static_cast<std::size_t>(stream) >= impl_->streams.size()) return 0;
    return impl_->streams[static_cast<std::size_t>(stream)].bytes;
}

std::uint64_t RiffAviFile::fileSize() const {
    return impl_->position;
}

void RiffAviFile::setBufferSizeForTesting(std::size_t bytes) {
    impl_->bufferSize = std::min(bytes, kBufferSize);
}

void RiffAviFile::setPartLimitForTesting(std::uint64_t bytes) {
    impl_->partLimit = std::clamp<std::uint64_t>(bytes, 2u << 20, 0x7FFFFFFFull);
}

}  // namespace kestrelle
