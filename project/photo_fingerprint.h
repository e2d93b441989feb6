#pragma once
// A photo's fingerprint for the project file: its size and a SHA-256 over the size (8 bytes, little
// endian), the first 64 KiB and the last 64 KiB of its bytes (the whole file when it is 128 KiB or
// less). Two reads of at most 64 KiB each, so a 20 MB photo costs no more than a small one; enough to
// tell a moved photo from another of the same name.

#include "project/project_file.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kestrelle {

constexpr std::uint64_t kFingerprintEdgeBytes = 64 * 1024;

// The fingerprint of the regular file at `path` ({} when it is not one or cannot be read). Never opens
// a FIFO or a device: the file is checked with stat first and opened without blocking.
PhotoFingerprint computePhotoFingerprint(const std::string& path);

// Fingerprints computed once per file and kept while the file's size and modification time stay the
// same, so saving a project again costs a stat per photo. Safe to use from several threads.
class PhotoFingerprintCache {
public:
    // The fingerprint of `path`, computed when the cache has none for the file as it is now. For a
    // photo that cannot be read, the fingerprint last remembered for it (remember()), else {}.
    PhotoFingerprint fingerprint(const std::string& path);
    // Keeps a fingerprint read from a project file, handed out while the photo cannot be read (a photo
    // missing now keeps its fingerprint through the next save).
    void remember(const std::string& path, const PhotoFingerprint& fingerprint);
    // remember() for every slide of a document just read.
    void rememberDocument(const ProjectDocument& document);
    // Sets `document.fingerprints` to one fingerprint per slide. With `computeMissing` false nothing is
    // read but the cache (a stat per photo): a photo the cache does not know yet is written without a
    // fingerprint, so a save on the user-interface thread never waits on reading many photos.
    void fillFingerprints(ProjectDocument& document, bool computeMissing = true);
    // The fingerprint the cache holds for the file as it is now, without reading it; {} when none.
    PhotoFingerprint cachedFingerprint(const std::string& path) const;
    // Computes what the cache lacks for `paths` (on a worker: the slideshow's photos after it was
    // opened or photos were added). `keepGoing`, asked before each photo, stops it early.
    void warm(const std::vector<std::string>& paths, const std::function<bool()>& keepGoing = {});
    void clear();
    // How many fingerprints were computed from file contents so far (tests, benchmarks).
    std::uint64_t computedCount() const;

private:
    struct Entry {
        std::uint64_t bytes = 0;
        std::int64_t modifiedNs = 0;
        std::uint64_t inode = 0;
        PhotoFingerprint fingerprint;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry> computed_;
    std::map<std::string, PhotoFingerprint> remembered_;
    std::uint64_t computedCount_ = 0;
};

}  // namespace kestrelle
