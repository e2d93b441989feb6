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

namespace kestrelle {

struct LogArchive::State {
    std::string path;
    Mode mode = Mode::Closed;
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

// Opens a file for reading without blocking on a pipe or device, and only if it is a regular file.
// `extraFlags` adds open flags, such as O_NOFOLLOW.
FilePtr openRegularForReading(const std::string& path, int extraFlags = 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | extraFlags);
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

// The index of an uncompressed container, or null with `error` set.
std::unique_ptr<LogArchive::State> readIndex(const std::string& path, LogArchiveError& error) {
    auto fail = [&error](LogArchiveError why) -> std::unique_ptr<LogArchive::State> {
        error = why;
        return nullptr;
    };
    // The container must be a regular file reached without a link: a pipe would block the read
    // forever, and a link could point the reader at any file of the user.
    FilePtr file = openRegularForReading(path, O_NOFOLLOW);
    if (!file) return fail(LogArchiveError::CannotOpen);

    char magic[6];
    if (std::fread(magic, 1, sizeof magic, file.get()) != sizeof magic) return fail(LogArchiveError::NoMagic);
    if (std::memcmp(magic, "VXPACK", 6) != 0 && std::memcmp(magic, "VXSEGM", 6) != 0)
        return fail(LogArchiveError::BadMagic);
    std::uint8_t versionBytes[2];
    if (std::fread(versionBytes, 1, 2, file.get()) != 2) return fail(LogArchiveError::NoVersion);
    const auto version = static_cast<std::int16_t>(readLe16(versionBytes));
    if (version > 1) return fail(LogArchiveError::VersionTooNew);
    std::uint32_t count = 0;
    if (!readLe32From(file.get(), count)) return fail(LogArchiveError::NoEntryCount);

    auto handle = std::make_unique<LogArchive::State>();
    handle->path = path;
    handle->mode = LogArchive::Mode::Read;
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
            return fail(LogArchiveError::NameReadFailed);
        }
        ArchiveEntry entry;
        entry.path.assign(name, strnlen(name, kNameBytes));
        if (!readLe32From(file.get(), entry.modificationTime))
            return fail(LogArchiveError::NoModificationTime);
        if (!readLe32From(file.get(), entry.creationTime)) return fail(LogArchiveError::NoCreationTime);
        if (!readLe32From(file.get(), entry.size)) return fail(LogArchiveError::NoSize);
        const off_t dataOffset = ftello(file.get());
        entry.dataOffset = static_cast<std::uint32_t>(dataOffset);
        handle->entries.push_back(std::move(entry));
        if (fseeko(file.get(), dataOffset + static_cast<off_t>(handle->entries.back().size), SEEK_SET) != 0)
            break;
    }
    return handle;
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

// Writes the container into `out` (a fresh temporary file) and counts the complete entries into
// `complete`.
LogArchiveError writeContainer(const LogArchive::State& handle, FilePtr out, int& complete) {
    if (std::fwrite("VXPACK", 1, 6, out.get()) != 6) return LogArchiveError::MagicNotWritten;
    const unsigned char version[2] = {1, 0};
    if (std::fwrite(version, 1, 2, out.get()) != 2) return LogArchiveError::VersionNotWritten;
    if (!writeLe32To(out.get(), static_cast<std::uint32_t>(handle.entries.size())))
        return LogArchiveError::CountNotWritten;

    complete = 0;
    for (const ArchiveEntry& entry : handle.entries) {
        FilePtr source = openRegularForReading(entry.path);
        if (!source) continue;  // nothing is written for a source that cannot be opened
        char name[kNameBytes] = {};
        const std::string text = entryName(entry.path);
        std::memcpy(name, text.data(), text.size() < kNameBytes ? text.size() : kNameBytes);
        if (std::fwrite(name, 1, kNameBytes, out.get()) != kNameBytes) return LogArchiveError::NameNotWritten;
        if (!writeLe32To(out.get(), entry.modificationTime) || !writeLe32To(out.get(), entry.creationTime) ||
            !writeLe32To(out.get(), entry.size))
            return LogArchiveError::EntryNotWritten;
        const int copied = copyData(source.get(), out.get(), entry.size);
        if (copied < 0) return LogArchiveError::EntryNotWritten;
        complete += copied;
    }
    // Buffered bytes reach the disk here; a full disk shows up now.
    if (std::fclose(out.release()) != 0) return LogArchiveError::EntryNotWritten;
    return LogArchiveError::None;
}

// Gives a file made by mkstemp (0600) the permissions an ordinary new file would have.
void giveUsualPermissions(int fd) {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
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
    giveUsualPermissions(fd);
    createdPath = pattern.data();
    return fd;
}

// Creates a unique temporary file beside `path` ("<path>.XXXXXX") and opens it for writing.
FilePtr createTemporaryBeside(const std::string& path, std::string& temporaryPath) {
    std::vector<char> pattern(path.begin(), path.end());
    const char suffix[] = ".XXXXXX";
    pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);  // with the terminating zero
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    giveUsualPermissions(fd);
    temporaryPath = pattern.data();
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        ::unlink(temporaryPath.c_str());
        return nullptr;
    }
    return FilePtr(file);
}

// Checks that the archive may go to `path`: a regular file (or none yet) that is not one of the
// files to pack.
bool mayBecomeContainer(const LogArchive::State& handle) {
    // Replacing a pipe or a device would put the archive where no archive belongs.
    struct stat existing {};
    if (::stat(handle.path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return false;
    for (const ArchiveEntry& entry : handle.entries) {
        if (sameFile(handle.path, entry.path)) return false;
    }
    return true;
}

}  // namespace

int logArchiveErrorCode(LogArchiveError error) {
    switch (error) {
        case LogArchiveError::None:
            return 0;
        case LogArchiveError::NoPath:
        case LogArchiveError::NotOpen:
        case LogArchiveError::NotWritable:
            return -1;
        case LogArchiveError::BadMode:
        case LogArchiveError::FileStatusUnknown:
        case LogArchiveError::NoEntries:
            return -2;
        case LogArchiveError::NoMemory:
        case LogArchiveError::NotRegularFile:
        case LogArchiveError::CannotCreate:
            return -3;
        case LogArchiveError::CannotOpen:
        case LogArchiveError::CountNotWritten:
            return -4;
        case LogArchiveError::NoMagic:
            return -51;
        case LogArchiveError::BadMagic:
            return -52;
        case LogArchiveError::NoVersion:
            return -53;
        case LogArchiveError::VersionTooNew:
            return -54;
        case LogArchiveError::NoEntryCount:
        case LogArchiveError::NameNotWritten:
            return -5;
        case LogArchiveError::NameReadFailed:
        case LogArchiveError::EntryNotWritten:
            return -6;
        case LogArchiveError::NoModificationTime:
            return -7;
        case LogArchiveError::NoCreationTime:
            return -8;
        case LogArchiveError::NoSize:
            return -9;
        case LogArchiveError::MagicNotWritten:
            return -31;
        case LogArchiveError::VersionNotWritten:
            return -32;
        case LogArchiveError::NothingToCompress:
            return -10;
        case LogArchiveError::CompressedFileNotCreated:
            return -11;
        case LogArchiveError::SourceNotOpened:
            return -12;
        case LogArchiveError::ShortRead:
            return -13;
        case LogArchiveError::CompressedFileNotWritten:
            return -14;
    }
    return -1;
}

LogArchive::LogArchive() = default;
LogArchive::LogArchive(std::unique_ptr<State> state) : state_(std::move(state)) {}
LogArchive::~LogArchive() = default;
LogArchive::LogArchive(LogArchive&& other) noexcept = default;
LogArchive& LogArchive::operator=(LogArchive&& other) noexcept = default;

LogArchive LogArchive::open(const char* path, Mode mode, LogArchiveError* error) {
    LogArchiveError why = LogArchiveError::None;
    std::unique_ptr<State> state;
    if (!path || !*path) {
        why = LogArchiveError::NoPath;
    } else if (mode == Mode::Read) {
        state = readIndex(path, why);
    } else if (mode != Mode::Write) {
        why = LogArchiveError::BadMode;
    } else {
        try {
            state = std::make_unique<State>();
            state->path = path;
            state->mode = Mode::Write;
            state->entries.reserve(kEntryGrowth);
        } catch (const std::bad_alloc&) {
            state.reset();
            why = LogArchiveError::NoMemory;
        }
    }
    if (error) *error = why;
    return LogArchive(std::move(state));
}

LogArchiveError LogArchive::addFile(const char* path) {
    if (!state_) return LogArchiveError::NotOpen;
    if (!path || !*path) return LogArchiveError::FileStatusUnknown;
    struct stat info {};
    if (::stat(path, &info) != 0) return LogArchiveError::FileStatusUnknown;
    if (!S_ISREG(info.st_mode)) return LogArchiveError::NotRegularFile;
    // The size field holds 32 bits; a bigger file cannot be stored whole.
    if (static_cast<std::uint64_t>(info.st_size) > 0xFFFFFFFFu) return LogArchiveError::FileStatusUnknown;

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
        std::vector<ArchiveEntry>& entries = state_->entries;
        if (entries.size() == entries.capacity()) entries.reserve(entries.size() + kEntryGrowth);
        entries.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
        return LogArchiveError::FileStatusUnknown;
    }
    return LogArchiveError::None;
}

LogArchiveError LogArchive::pack(int* completeEntries) {
    if (completeEntries) *completeEntries = 0;
    if (!state_ || state_->mode != Mode::Write) return LogArchiveError::NotWritable;
    if (state_->entries.empty()) return LogArchiveError::NoEntries;
    if (!mayBecomeContainer(*state_)) return LogArchiveError::CannotCreate;
    // The archive is made in a temporary file beside the target and renamed over it only when it is
    // complete: a failed pack leaves an existing file as it was and nothing of its own behind.
    std::string temporaryPath;
    FilePtr out = createTemporaryBeside(state_->path, temporaryPath);
    if (!out) return LogArchiveError::CannotCreate;
    int complete = 0;
    LogArchiveError result = writeContainer(*state_, std::move(out), complete);
    if (result == LogArchiveError::None) result = gzipInPlace(temporaryPath);
    if (result == LogArchiveError::None && ::rename(temporaryPath.c_str(), state_->path.c_str()) != 0)
        result = LogArchiveError::CompressedFileNotWritten;
    if (result != LogArchiveError::None) {
        ::unlink(temporaryPath.c_str());
        return result;
    }
    if (completeEntries) *completeEntries = complete;
    return LogArchiveError::None;
}

LogArchiveError LogArchive::close() {
    if (!state_) return LogArchiveError::NotOpen;
    state_.reset();
    return LogArchiveError::None;
}

LogArchive::Mode LogArchive::mode() const {
    return state_ ? state_->mode : Mode::Closed;
}

int LogArchive::entryCount() const {
    return state_ ? static_cast<int>(state_->entries.size()) : 0;
}

ArchiveEntry LogArchive::entry(int index) const {
    if (!state_ || index < 0 || static_cast<std::size_t>(index) >= state_->entries.size()) return {};
    return state_->entries[static_cast<std::size_t>(index)];
}

std::string LogArchive::lastErrorText() {
    std::lock_guard<std::mutex> guard(errorMutex());
    return errorText();
}

LogArchiveError gzipInPlace(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return LogArchiveError::NothingToCompress;

    std::string compressedPath;
    const int fd = createCompressedFile(path, compressedPath);
    if (fd < 0) return LogArchiveError::CompressedFileNotCreated;
    GzPtr gz(gzdopen(fd, "wb"));
    if (!gz) {
        ::close(fd);
        ::unlink(compressedPath.c_str());
        return LogArchiveError::CompressedFileNotCreated;
    }
    auto discard = [&](LogArchiveError code) {
        gz.reset();
        ::unlink(compressedPath.c_str());
        return code;
    };

    FilePtr in(std::fopen(path.c_str(), "rb"));
    if (!in) return discard(LogArchiveError::SourceNotOpened);

    // Read the size the status reported, in blocks of at most 2048 bytes.
    char block[kCompressBlock];
    std::uint64_t left = static_cast<std::uint64_t>(info.st_size);
    while (left > 0) {
        const std::size_t want = left < kCompressBlock ? static_cast<std::size_t>(left) : kCompressBlock;
        const std::size_t got = std::fread(block, 1, want, in.get());
        if (got != want) return discard(LogArchiveError::ShortRead);
        if (gzwrite(gz.get(), block, static_cast<unsigned>(got)) != static_cast<int>(got))
            return discard(LogArchiveError::CompressedFileNotWritten);
        left -= got;
    }
    in.reset();
    if (gzclose(gz.release()) != Z_OK) {
        ::unlink(compressedPath.c_str());
        return LogArchiveError::CompressedFileNotWritten;
    }
    // rename replaces the uncompressed file in one step.
    if (::rename(compressedPath.c_str(), path.c_str()) != 0) {
        ::unlink(compressedPath.c_str());
        return LogArchiveError::CompressedFileNotWritten;
    }
    return LogArchiveError::None;
}

}  // namespace kestrelle
