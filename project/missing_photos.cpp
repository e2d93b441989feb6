#include "project/missing_photos.h"

#include "project/photo_fingerprint.h"
#include "project/project_paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

namespace kestrelle {

namespace {

// How many trailing folders of an old path are tried below the project's folder.
constexpr std::size_t kMaxTrailingNames = 8;
// How many moves (old folder to new folder) are remembered from photos already found.
constexpr std::size_t kMaxMoves = 16;

struct Move {
    std::string from;
    std::string to;
    bool operator==(const Move&) const = default;
};

std::vector<std::string> namesOf(const std::string& path) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end > at) names.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::string joinNames(const std::vector<std::string>& names, std::size_t first, std::size_t last) {
    std::string path;
    for (std::size_t i = first; i < last; ++i) path += "/" + names[i];
    return path.empty() ? "/" : path;
}

// The move that took `oldPath` to `newPath`: the folders before the names both paths end with.
Move moveBetween(const std::string& oldPath, const std::string& newPath) {
    const std::vector<std::string> oldNames = namesOf(oldPath);
    const std::vector<std::string> newNames = namesOf(newPath);
    std::size_t common = 0;
    while (common < oldNames.size() && common < newNames.size() &&
           oldNames[oldNames.size() - 1 - common] == newNames[newNames.size() - 1 - common]) {
        ++common;
    }
    if (common == 0) return Move{folderOfPath(oldPath), folderOfPath(newPath)};
    return Move{joinNames(oldNames, 0, oldNames.size() - common),
                joinNames(newNames, 0, newNames.size() - common)};
}

class Matcher {
public:
    // Whether `candidate` is a readable regular file and, when the fingerprint is known, the same photo.
    bool matches(const std::string& candidate, const PhotoFingerprint& wanted) {
        if (!isReadableFile(candidate)) return false;
        if (wanted.hash.empty()) return true;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 ||
            static_cast<std::uint64_t>(info.st_size) != wanted.bytes) {
            return false;
        }
        return cache_.fingerprint(candidate).hash == wanted.hash;
    }
    static bool isReadableFile(const std::string& path) {
        struct stat info {};
        return !path.empty() && path.front() == '/' && ::stat(path.c_str(), &info) == 0 &&
               S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0;
    }

private:
    PhotoFingerprintCache cache_;
};

// The regular files below a folder, by name, listed once and within limits.
class FolderIndex {
public:
    FolderIndex(const std::string& root, const MissingPhotoLimits& limits,
                const std::function<bool()>& keepGoing) {
        struct Pending {
            std::string path;
            int depth;
        };
        std::vector<Pending> pending{{root, 0}};
        std::set<std::pair<dev_t, ino_t>> visited;
        std::size_t entries = 0;
        while (!pending.empty() && entries < limits.maxEntries) {
            if (keepGoing && !keepGoing()) break;
            const Pending folder = std::move(pending.back());
            pending.pop_back();
            struct stat info {};
            if (::lstat(folder.path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) continue;
            if (!visited.insert({info.st_dev, info.st_ino}).second) continue;
            const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.path.c_str()), ::closedir);
            if (!listing) continue;
            std::vector<std::string> names;
            while (const dirent* entry = ::readdir(listing.get())) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                if (++entries > limits.maxEntries) break;
                names.push_back(name);
            }
            // Byte order, so the same folder always gives the same answer.
            std::sort(names.begin(), names.end());
            for (const std::string& name : names) {
                const std::string path = (folder.path == "/" ? "" : folder.path) + "/" + name;
                struct stat entryInfo {};
                if (::lstat(path.c_str(), &entryInfo) != 0) continue;
                if (S_ISDIR(entryInfo.st_mode)) {
                    if (folder.depth < limits.maxDepth) pending.push_back({path, folder.depth + 1});
                } else if (S_ISREG(entryInfo.st_mode) || S_ISLNK(entryInfo.st_mode)) {
                    // A link to a file is a file to us; a link to a folder is not followed.
                    byName_[name].push_back(path);
                    files_.push_back(path);
                }
            }
        }
    }
    const std::vector<std::string>* named(const std::string& name) const {
        const auto found = byName_.find(name);
        return found == byName_.end() ? nullptr : &found->second;
    }
    const std::vector<std::string>& files() const { return files_; }

private:
    std::map<std::string, std::vector<std::string>> byName_;
    std::vector<std::string> files_;
};

}  // namespace

bool isSlidePhotoMissing(const ProjectDocument& document, std::size_t i) {
    if (i >= document.content.slides.size()) return false;
    const SlideContent& slide = document.content.slides[i];
    return slide.photoMissing || !Matcher::isReadableFile(slide.photoPath);
}

std::vector<FoundPhoto> findMissingPhotos(const ProjectDocument& document, const std::string& projectFolder,
                                          const std::string& searchFolder, const MissingPhotoLimits& limits,
                                          const std::function<bool()>& keepGoing) {
    std::vector<FoundPhoto> found;
    const std::vector<SlideContent>& slides = document.content.slides;
    const auto fingerprintOf = [&document](std::size_t i) {
        return i < document.fingerprints.size() ? document.fingerprints[i] : PhotoFingerprint{};
    };
    Matcher matcher;
    std::vector<Move> moves;
    std::unique_ptr<FolderIndex> index;
    std::vector<std::size_t> unmatched;  // left for the search by fingerprint alone
    // The same old path is looked for once; its other slides take the same answer.
    std::map<std::string, std::optional<std::string>> answered;

    const auto remember = [&](std::size_t slide, const std::string& path) {
        found.push_back(FoundPhoto{slide, path});
        answered[slides[slide].photoPath] = path;
        const Move move = moveBetween(slides[slide].photoPath, path);
        if (moves.size() < kMaxMoves && std::find(moves.begin(), moves.end(), move) == moves.end()) {
            moves.push_back(move);
        }
    };

    for (std::size_t i = 0; i < slides.size(); ++i) {
        if (!isSlidePhotoMissing(document, i)) continue;
        if (keepGoing && !keepGoing()) return found;
        const std::string& oldPath = slides[i].photoPath;
        if (const auto known = answered.find(oldPath); known != answered.end()) {
            if (known->second)
                found.push_back(FoundPhoto{i, *known->second});
            else
                unmatched.push_back(i);
            continue;
        }
        const PhotoFingerprint wanted = fingerprintOf(i);
        std::optional<std::string> hit;

        // The project's folder: the photo's name, then with the folders it lay in.
        if (!projectFolder.empty()) {
            const std::vector<std::string> names = namesOf(oldPath);
            const std::size_t most = std::min(names.size(), kMaxTrailingNames);
            for (std::size_t count = most; count >= 1 && !hit; --count) {
                const std::string candidate = (projectFolder == "/" ? "" : projectFolder) +
                                              joinNames(names, names.size() - count, names.size());
                if (candidate != oldPath && matcher.matches(candidate, wanted)) hit = candidate;
            }
        }
        // The moves photos found so far made.
        for (const Move& move : moves) {
            if (hit) break;
            if (const auto rest = pathBeneath(oldPath, move.from)) {
                const std::string candidate = (move.to == "/" ? "" : move.to) + "/" + *rest;
                if (matcher.matches(candidate, wanted)) hit = candidate;
            }
            const std::string beside = (move.to == "/" ? "" : move.to) + "/" + fileNameOfPath(oldPath);
            if (!hit && matcher.matches(beside, wanted)) hit = beside;
        }
        // The chosen folder, by name (and fingerprint).
        if (!hit && !searchFolder.empty()) {
            if (!index) index = std::make_unique<FolderIndex>(searchFolder, limits, keepGoing);
            if (const std::vector<std::string>* named = index->named(fileNameOfPath(oldPath))) {
                for (const std::string& candidate : *named) {
                    if (matcher.matches(candidate, wanted)) {
                        hit = candidate;
                        break;
                    }
                }
            }
        }
        if (hit) {
            remember(i, *hit);
        } else {
            answered[oldPath] = std::nullopt;
            unmatched.push_back(i);
        }
    }

    // Renamed photos: a file of another name with the same size and fingerprint.
    if (index) {
        std::map<std::uint64_t, std::vector<std::string>> bySize;
        bool sized = false;
        for (const std::size_t i : unmatched) {
            const PhotoFingerprint wanted = fingerprintOf(i);
            if (wanted.hash.empty()) continue;
            if (!sized) {
                for (const std::string& file : index->files()) {
                    struct stat info {};
                    if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                        bySize[static_cast<std::uint64_t>(info.st_size)].push_back(file);
                    }
                }
                sized = true;
            }
            if (keepGoing && !keepGoing()) break;
            const auto same = bySize.find(wanted.bytes);
            if (same == bySize.end()) continue;
            for (const std::string& candidate : same->second) {
                if (matcher.matches(candidate, wanted)) {
                    found.push_back(FoundPhoto{i, candidate});
                    break;
                }
            }
        }
        std::sort(found.begin(), found.end(),
                  [](const FoundPhoto& a, const FoundPhoto& b) { return a.slide < b.slide; });
    }
    return found;
}

}  // namespace kestrelle
