#include "base/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrelle {

// Paths are handed to the system as the bytes they are: names in any encoding work.

namespace {

std::string errorText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now; false (errno set) when the close reported an error.
    bool reset() {
        if (fd_ < 0) return true;
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Creates a new temporary file beside `path` (so the rename stays on one file system); -1 on failure
// with errno set. The mode follows the umask like any new file's.
int createTemporaryBeside(const std::string& path, std::string& temporaryPath) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporaryPath = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        const int fd =
            ::open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool makeOneFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    struct stat info {};
    return errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The file a link points at, so that replacing a linked settings file keeps the link; `path` itself
// for anything else.
std::string replacedFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target = resolved;
    std::free(resolved);
    return target;
}

// Flushes the entries of the folder holding `path` to the disk.
void syncFolderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of('/');
    const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    FileDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.valid()) ::fsync(handle.get());
}

}  // namespace

bool replaceFileContents(const std::string& requestedPath, const std::string& bytes, std::string& error) {
    if (requestedPath.empty() || requestedPath.find('\0') != std::string::npos) {
        error = "invalid file name";
        return false;
    }
    const std::string path = replacedFile(requestedPath);
    std::string temporaryPath;
    FileDescriptor file(createTemporaryBeside(path, temporaryPath));
    if (!file.valid()) {
        error = errorText("cannot create a temporary file", errno);
        return false;
    }
    // A replaced file keeps its permissions.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(file.get(), old.st_mode & 07777);
    bool written = writeAll(file.get(), bytes.data(), bytes.size()) && ::fsync(file.get()) == 0;
    int failure = written ? 0 : errno;
    if (!file.reset() && written) {
        written = false;
        failure = errno;
    }
    if (written && ::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        written = false;
        failure = errno;
    }
    if (!written) {
        ::unlink(temporaryPath.c_str());
        error = errorText("cannot write the file", failure);
        return false;
    }
    // The rename lives in the folder's entries: until they reach the disk, a power cut can bring the
    // old file back. Some file systems cannot sync a folder; the file itself is safe then anyway.
    syncFolderOf(path);
    return true;
}

bool readSmallFile(const std::string& path, std::uint64_t maxBytes, std::string& bytes) {
    bytes.clear();
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    // Non-blocking, so that a FIFO in the file's place cannot hang the open; it is refused below.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid()) return false;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes) return false;
    // Read at most one byte more than allowed, so a file that grew meanwhile is still refused.
    std::string data(static_cast<std::size_t>(maxBytes) + 1, '\0');
    std::size_t filled = 0;
    while (filled < data.size()) {
        const ssize_t got = ::read(file.get(), data.data() + filled, data.size() - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    if (filled > maxBytes) return false;
    data.resize(filled);
    bytes = std::move(data);
    return true;
}

bool makeFolders(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    for (std::size_t pos = folder.find('/', 1); pos != std::string::npos; pos = folder.find('/', pos + 1)) {
        if (folder[pos - 1] == '/') continue;  // "//" in a path names no new folder
        if (!makeOneFolder(folder.substr(0, pos))) return false;
    }
    return makeOneFolder(folder);
}

}  // namespace kestrelle
