// The log archive container and its gzip compression.

#include "diag/log_archive.h"

#include "base/byte_order.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace kestrelle::LogArchive {

struct Handle {
    std::string path;
    int mode = 0;
    std::vector<ArchiveEntry> entries;
};

namespace {

constexpr std::size_t kNameBytes = 128;
constexpr std::size_t kEntryGrowth = 128;
constexpr std::size_t kCopyBlock = 1024;
constexpr std::size_t kCompressBlock = 2048;
// The smallest entry a container can hold: its name and three 32-bit fields.
constexpr std::size_t kMinEntryBytes = kNameBytes + 12;

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct GzCloser {
    void operator()(gzFile_s* file) const {
        if (file) gzclose(file);
    }
};
using GzPtr = std::unique_ptr<gzFile_s, GzCloser>;

std::mutex& errorMutex() {
    static std::mutex mutex;
    return mutex;
}
std::string& errorText() {
    static std::string text;
    return text;
}

void setErrorText(long position, int count) {
    char text[96];
    std::snprintf(text, sizeof text, "Read Error at %ld, ret=%d.", position, count);
    std::lock_guard<std::mutex> guard(errorMutex());
    errorText() = text;
}

bool writeLe32To(std::FILE* file, std::uint32_t value) {
    std::uint8_t bytes[4];
    writeLe32(bytes, value);
    return std::fwrite(bytes, 1, 4, file) == 4;
}

bool readLe32From(std::FILE* file, std::uint32_t& value) {
    std::uint8_t bytes[4];
    if (std::fread(bytes, 1, 4, file) != 4) return false;
    value = readLe32(bytes);
    return true;
}

// The entry name: the text after the last '/' of the path (the whole path when it has none).
std::string entryName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a source file for reading without blocking on a pipe or device, and only if it is a regular file.
FilePtr openRegularForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (!file) ::close(fd);
    return FilePtr(file);
}

// True when `a` names the same file as `b` (both exist).
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

Handle* openForReading(const std::string& path, int* error) {
    auto fail = [error](int code) -> Handle* {
        if (error) *error = code;
        return nullptr;
    };
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return fail(-4);

    char magic[6];
    if (std::fread(magic, 1, sizeof magic, file.get()) != sizeof magic) return fail(-51);
    if (std::memcmp(magic, "VXPACK", 6) != 0 && std::memcmp(magic, "VXSEGM", 6) != 0) return fail(-52);
    std::uint8_t versionBytes[2];
    if (std::fread(versionBytes, 1, 2, file.get()) != 2) return fail(-53);
    const auto version = static_cast<std::int16_t>(readLe16(versionBytes));
    if (version > 1) return fail(-54);
    std::uint32_t count = 0;
    if (!readLe32From(file.get(), count)) return fail(-5);

    auto handle = std::make_unique<Handle>();
    handle->path = path;
    handle->mode = kModeRead;
    // A count is only a claim: reserve no more entries than the file could hold.
    struct stat info {};
    std::uint64_t fileBytes =
        fstat(fileno(file.get()), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    handle->entries.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(count, fileBytes / kMinEntryBytes + 1)));

    for (std::uint32_t i = 0; i < count; ++i) {
        char name[kNameBytes];
        const std::size_t got = std::fread(name, 1, kNameBytes, file.get());
        if (got < kNameBytes) {
            if (std::feof(file.get())) break;  // the container ends here: keep the entries read so far
            setErrorText(std::ftell(file.get()), static_cast<int>(got));
            return fail(-6);
        }
        ArchiveEntry entry;
        entry.path.assign(name, strnlen(name, kNameBytes));
        if (!readLe32From(file.get(), entry.modificationTime)) return fail(-7);
        if (!readLe32From(file.get(), entry.creationTime)) return fail(-8);
        if (!readLe32From(file.get(), entry.size)) return fail(-9);
        const off_t dataOffset = ftello(file.get());
        entry.dataOffset = static_cast<std::uint32_t>(dataOffset);
        handle->entries.push_back(std::move(entry));
        if (fseeko(file.get(), dataOffset + static_cast<off_t>(handle->entries.back().size), SEEK_SET) != 0)
            break;
    }
    return handle.release();
}

// Copies `size` bytes of `source` into `out` in blocks of at most 1024 bytes. Returns 1 when all were
// copied, 0 when the source ran short, -1 when a write failed.
int copyData(std::FILE* source, std::FILE* out, std::uint32_t size) {
    char block[kCopyBlock];
    std::uint32_t left = size;
    while (left > 0) {
        const std::size_t want = left < kCopyBlock ? left : kCopyBlock;
        const std::size_t got = std::fread(block, 1, want, source);
        if (got > 0 && std::fwrite(block, 1, got, out) != got) return -1;
        if (got < want) return 0;
        left -= static_cast<std::uint32_t>(got);
    }
    return 1;
}

// Writes the container; the number of complete entries or a negative code. The caller removes the
// container when the result is negative.
int writeContainer(const Handle& handle, bool& created) {
    // Only a regular file (or a new one) may become the container: opening a pipe or a device would
    // wait or write where no archive belongs.
    struct stat existing {};
    if (::stat(handle.path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return -3;
    for (const ArchiveEntry& entry : handle.entries) {
        // Creating the container would truncate a file it is about to read.
        if (sameFile(handle.path, entry.path)) return -3;
    }
    FilePtr out(std::fopen(handle.path.c_str(), "wb"));
    if (!out) return -3;
    created = true;

    if (std::fwrite("VXPACK", 1, 6, out.get()) != 6) return -31;
    const unsigned char version[2] = {1, 0};
    if (std::fwrite(version, 1, 2, out.get()) != 2) return -32;
    if (!writeLe32To(out.get(), static_cast<std::uint32_t>(handle.entries.size()))) return -4;

    int complete = 0;
    for (const ArchiveEntry& entry : handle.entries) {
        FilePtr source = openRegularForReading(entry.path);
        if (!source) continue;  // nothing is written for a source that cannot be opened
        char name[kNameBytes] = {};
        const std::string text = entryName(entry.path);
        std::memcpy(name, text.data(), text.size() < kNameBytes ? text.size() : kNameBytes);
        if (std::fwrite(name, 1, kNameBytes, out.get()) != kNameBytes) return -5;
        if (!writeLe32To(out.get(), entry.modificationTime) || !writeLe32To(out.get(), entry.creationTime) ||
            !writeLe32To(out.get(), entry.size))
            return -6;
        const int copied = copyData(source.get(), out.get(), entry.size);
        if (copied < 0) return -6;
        complete += copied;
    }
    // Buffered bytes reach the disk here; a full disk shows up now.
    if (std::fclose(out.release()) != 0) return -6;
    return complete;
}

// Creates a fresh file for the compressed copy beside `path`: "<path>.gz", or a unique variant of it
// when a file of that name exists already (it is not ours to overwrite).
int createCompressedFile(const std::string& path, std::string& createdPath) {
    createdPath = path + ".gz";
    int fd = ::open(createdPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
    std::vector<char> pattern(createdPath.begin(), createdPath.end());
    const char suffix[] = ".XXXXXX";
    pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
    fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // mkstemp makes the file 0600; give it the permissions an ordinary new file would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    createdPath = pattern.data();
    return fd;
}

}  // namespace

Handle* open(const char* path, int mode, int* error) {
    if (!path || !*path) {
        if (error) *error = -1;
        return nullptr;
    }
    if (mode == kModeRead) return openForReading(path, error);
    if (mode != kModeWrite) {
        if (error) *error = -2;
        return nullptr;
    }
    try {
        auto handle = std::make_unique<Handle>();
        handle->path = path;
        handle->mode = kModeWrite;
        handle->entries.reserve(kEntryGrowth);
        return handle.release();
    } catch (const std::bad_alloc&) {
        if (error) *error = -3;
        return nullptr;
    }
}

int addFile(Handle* handle, const char* path) {
    if (!handle) return -1;
    if (!path || !*path) return -2;
    struct stat info {};
    if (::stat(path, &info) != 0) return -2;
    if (!S_ISREG(info.st_mode)) return -3;
    // The size field holds 32 bits; a bigger file cannot be stored whole.
    if (static_cast<std::uint64_t>(info.st_size) > 0xFFFFFFFFu) return -2;

    ArchiveEntry entry;
    entry.path = path;
    entry.size = static_cast<std::uint32_t>(info.st_size);
    entry.modificationTime = static_cast<std::uint32_t>(info.st_mtime);
    // The birth time where the file system records it; otherwise the status change time stands in.
    entry.creationTime = static_cast<std::uint32_t>(info.st_ctime);
    struct statx extended {};
    if (statx(AT_FDCWD, path, 0, STATX_BTIME, &extended) == 0 && (extended.stx_mask & STATX_BTIME))
        entry.creationTime = static_cast<std::uint32_t>(extended.stx_btime.tv_sec);

    try {
        if (handle->entries.size() == handle->entries.capacity())
            handle->entries.reserve(handle->entries.size() + kEntryGrowth);
        handle->entries.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return -2;
    }
    return static_cast<int>(handle->entries.size());
}

int pack(Handle* handle) {
    if (!handle || handle->mode != kModeWrite) return -1;
    if (handle->entries.empty()) return -2;
    bool created = false;
    const int complete = writeContainer(*handle, created);
    int result = complete;
    if (complete >= 0) {
        const int compressed = gzipInPlace(handle->path);
        if (compressed < 0) result = compressed;
    }
    // A failed pack leaves nothing of its own under the container's name.
    if (result < 0 && created) ::unlink(handle->path.c_str());
    return result;
}

int release(Handle* handle) {
    if (!handle) return -1;
    delete handle;
    return 0;
}

int gzipInPlace(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -10;

    std::string compressedPath;
    const int fd = createCompressedFile(path, compressedPath);
    if (fd < 0) return -11;
    GzPtr gz(gzdopen(fd, "wb"));
    if (!gz) {
        ::close(fd);
        ::unlink(compressedPath.c_str());
        return -11;
    }
    auto discard = [&](int code) {
        gz.reset();
        ::unlink(compressedPath.c_str());
        return code;
    };

    FilePtr in(std::fopen(path.c_str(), "rb"));
    if (!in) return discard(-12);

    // Read the size the status reported, in blocks of at most 2048 bytes.
    char block[kCompressBlock];
    std::uint64_t left = static_cast<std::uint64_t>(info.st_size);
    while (left > 0) {
        const std::size_t want = left < kCompressBlock ? static_cast<std::size_t>(left) : kCompressBlock;
        const std::size_t got = std::fread(block, 1, want, in.get());
        if (got != want) return discard(-13);
        if (gzwrite(gz.get(), block, static_cast<unsigned>(got)) != static_cast<int>(got))
            return discard(-14);
        left -= got;
    }
    in.reset();
    if (gzclose(gz.release()) != Z_OK) {
        ::unlink(compressedPath.c_str());
        return -14;
    }
    // rename replaces the uncompressed file in one step.
    if (::rename(compressedPath.c_str(), path.c_str()) != 0) {
        ::unlink(compressedPath.c_str());
        return -14;
    }
    return 0;
}

int mode(const Handle* handle) {
    return handle ? handle->mode : 0;
}

int entryCount(const Handle* handle) {
    return handle ? static_cast<int>(handle->entries.size()) : 0;
}

ArchiveEntry entry(const Handle* handle, int index) {
    if (!handle || index < 0 || static_cast<std::size_t>(index) >= handle->entries.size()) return {};
    return handle->entries[static_cast<std::size_t>(index)];
}

std::string lastErrorText() {
    std::lock_guard<std::mutex> guard(errorMutex());
    return errorText();
}

}  // namespace kestrelle::LogArchive
