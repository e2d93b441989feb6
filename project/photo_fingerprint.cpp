#include "project/photo_fingerprint.h"

#include <QCryptographicHash>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace kestrelle {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Reads exactly `size` bytes at `offset`; false on an error or a short file.
bool readAt(int fd, std::uint64_t offset, std::size_t size, std::string& out) {
    out.resize(size);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got =
            ::pread(fd, out.data() + filled, size - filled, static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        filled += static_cast<std::size_t>(got);
    }
    return true;
}

struct FileState {
    std::uint64_t bytes = 0;
    std::int64_t modifiedNs = 0;
    std::uint64_t inode = 0;
};

bool regularFileState(const std::string& path, FileState& state) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    state.bytes = static_cast<std::uint64_t>(info.st_size);
    state.modifiedNs = std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
    state.inode = static_cast<std::uint64_t>(info.st_ino);
    return true;
}

}  // namespace

PhotoFingerprint computePhotoFingerprint(const std::string& path) {
    FileState state;
    if (!regularFileState(path, state)) return {};
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    const auto size = static_cast<std::uint64_t>(info.st_size);

    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::array<char, 8> sizeBytes{};
    for (int i = 0; i < 8; ++i)
        sizeBytes[static_cast<std::size_t>(i)] = static_cast<char>((size >> (8 * i)) & 0xFF);
    hash.addData(QByteArrayView(sizeBytes.data(), 8));
    std::string part;
    if (size <= 2 * kFingerprintEdgeBytes) {
        if (!readAt(file.get(), 0, static_cast<std::size_t>(size), part)) return {};
        hash.addData(QByteArrayView(part.data(), static_cast<qsizetype>(part.size())));
    } else {
        if (!readAt(file.get(), 0, kFingerprintEdgeBytes, part)) return {};
        hash.addData(QByteArrayView(part.data(), static_cast<qsizetype>(part.size())));
        if (!readAt(file.get(), size - kFingerprintEdgeBytes, kFingerprintEdgeBytes, part)) return {};
        hash.addData(QByteArrayView(part.data(), static_cast<qsizetype>(part.size())));
    }
    const QByteArray hex = hash.result().toHex();
    return PhotoFingerprint{size, std::string(hex.constData(), static_cast<std::size_t>(hex.size()))};
}

PhotoFingerprint PhotoFingerprintCache::fingerprint(const std::string& path) {
    FileState state;
    if (!regularFileState(path, state)) {
        const std::lock_guard lock(mutex_);
        const auto found = remembered_.find(path);
        return found == remembered_.end() ? PhotoFingerprint{} : found->second;
    }
    {
        const std::lock_guard lock(mutex_);
        const auto found = computed_.find(path);
        if (found != computed_.end() && found->second.bytes == state.bytes &&
            found->second.modifiedNs == state.modifiedNs && found->second.inode == state.inode) {
            return found->second.fingerprint;
        }
    }
    // Computed outside the lock: another thread may ask for other photos meanwhile.
    const PhotoFingerprint computed = computePhotoFingerprint(path);
    const std::lock_guard lock(mutex_);
    ++computedCount_;
    if (computed.hash.empty()) {
        const auto found = remembered_.find(path);
        return found == remembered_.end() ? PhotoFingerprint{} : found->second;
    }
    computed_[path] = Entry{state.bytes, state.modifiedNs, state.inode, computed};
    return computed;
}

void PhotoFingerprintCache::remember(const std::string& path, const PhotoFingerprint& fingerprint) {
    if (fingerprint.hash.empty()) return;
    const std::lock_guard lock(mutex_);
    remembered_[path] = fingerprint;
}

void PhotoFingerprintCache::rememberDocument(const ProjectDocument& document) {
    const std::size_t count = std::min(document.fingerprints.size(), document.content.slides.size());
    for (std::size_t i = 0; i < count; ++i) {
        remember(document.content.slides[i].photoPath, document.fingerprints[i]);
    }
}

void PhotoFingerprintCache::fillFingerprints(ProjectDocument& document, bool computeMissing) {
    document.fingerprints.clear();
    document.fingerprints.reserve(document.content.slides.size());
    for (const SlideContent& slide : document.content.slides) {
        document.fingerprints.push_back(computeMissing ? fingerprint(slide.photoPath)
                                                       : cachedFingerprint(slide.photoPath));
    }
}

PhotoFingerprint PhotoFingerprintCache::cachedFingerprint(const std::string& path) const {
    FileState state;
    const bool readable = regularFileState(path, state);
    const std::lock_guard lock(mutex_);
    if (readable) {
        const auto found = computed_.find(path);
        if (found != computed_.end() && found->second.bytes == state.bytes &&
            found->second.modifiedNs == state.modifiedNs && found->second.inode == state.inode) {
            return found->second.fingerprint;
        }
    }
    // A photo gone (or changed and not computed again) keeps what the project file said, if anything.
    const auto remembered = remembered_.find(path);
    return readable || remembered == remembered_.end() ? PhotoFingerprint{} : remembered->second;
}

void PhotoFingerprintCache::warm(const std::vector<std::string>& paths,
                                 const std::function<bool()>& keepGoing) {
    for (const std::string& path : paths) {
        if (keepGoing && !keepGoing()) return;
        fingerprint(path);
    }
}

void PhotoFingerprintCache::clear() {
    const std::lock_guard lock(mutex_);
    computed_.clear();
    remembered_.clear();
}

std::uint64_t PhotoFingerprintCache::computedCount() const {
    const std::lock_guard lock(mutex_);
    return computedCount_;
}

}  // namespace kestrelle
