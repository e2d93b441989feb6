#include "project/project_copy.h"

#include "base/file_replace.h"
#include "project/project_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

namespace kestrelle {

namespace {

constexpr std::size_t kCopyBlock = 1024 * 1024;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool close() {
        if (fd_ < 0) return true;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_;
};

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// "name (n).ext" for the n-th file of the same name.
std::string numberedName(const std::string& name, int n) {
    if (n <= 1) return name;
    const std::size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ending = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    return stem + " (" + std::to_string(n) + ")" + ending;
}

struct PlannedFile {
    std::string source;
    std::string target;
    std::uint64_t bytes = 0;
};

class Copier {
public:
    Copier(const CopyProgress& progress, std::uint64_t total) : progress_(progress), total_(total) {}

    // Copies into a new file (never one that exists); false with `error` set, or on cancel.
    bool copy(const PlannedFile& file, std::string& error) {
        Descriptor source(::open(file.source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        struct stat info {};
        if (source.get() < 0 || ::fstat(source.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            error = "cannot read " + file.source;
            return false;
        }
        Descriptor target(
            ::open(file.target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (target.get() < 0) {
            error = "cannot create " + file.target + ": " + std::strerror(errno);
            return false;
        }
        made_.push_back(file.target);
        std::string buffer(kCopyBlock, '\0');
        for (;;) {
            const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                error = "cannot read " + file.source + ": " + std::strerror(errno);
                return false;
            }
            if (got == 0) break;
            for (ssize_t written = 0; written < got;) {
                const ssize_t put =
                    ::write(target.get(), buffer.data() + written, static_cast<std::size_t>(got - written));
                if (put < 0 && errno == EINTR) continue;
                if (put < 0) {
                    error = "cannot write " + file.target + ": " + std::strerror(errno);
                    return false;
                }
                written += put;
            }
            done_ += static_cast<std::uint64_t>(got);
            if (progress_ && !progress_(std::min(done_, total_), total_)) {
                cancelled_ = true;
                return false;
            }
        }
        if (::fsync(target.get()) != 0 || !target.close()) {
            error = "cannot write " + file.target + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    bool cancelled() const { return cancelled_; }
    void madeFolder(const std::string& folder) { folders_.push_back(folder); }
    // Takes away every file and folder this copy made.
    void removeMade() {
        for (const std::string& file : made_) ::unlink(file.c_str());
        for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) ::rmdir(folder->c_str());
    }

private:
    const CopyProgress& progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    bool cancelled_ = false;
    std::vector<std::string> made_;
    std::vector<std::string> folders_;
};

}  // namespace

ProjectCopyResult saveProjectCopy(const ProjectDocument& document, const std::string& requestedPath,
                                  const CopyProgress& progress) {
    ProjectCopyResult result;
    const std::optional<std::string> projectPath = absolutePath(requestedPath);
    if (!projectPath || fileNameOfPath(*projectPath).empty()) {
        result.message = "The copy cannot be saved: the file name is not valid.";
        return result;
    }
    const std::string folder = folderOfPath(*projectPath);
    const std::string folderPrefix = folder == "/" ? "" : folder;

    // Every file once, in the order the slideshow uses them; names within each sub-folder kept apart,
    // also from files already there.
    std::map<std::string, std::string> targetOf;
    std::set<std::string> takenNames;
    std::vector<PlannedFile> plan;
    std::uint64_t total = 0;
    std::set<std::string> usedSubFolders;
    const auto planFile = [&](const std::string& source, const char* subFolder) -> std::string {
        if (const auto known = targetOf.find(source); known != targetOf.end()) return known->second;
        struct stat info {};
        if (::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            ::access(source.c_str(), R_OK) != 0) {
            result.missing.push_back(source);
            targetOf[source] = source;
            return source;
        }
        const std::string name = fileNameOfPath(source);
        std::string target;
        for (int n = 1;; ++n) {
            target = folderPrefix + "/" + subFolder + "/" + numberedName(name, n);
            if (!takenNames.count(target) && !exists(target)) break;
        }
        takenNames.insert(target);
        targetOf[source] = target;
        usedSubFolders.insert(subFolder);
        plan.push_back(PlannedFile{source, target, static_cast<std::uint64_t>(info.st_size)});
        total += static_cast<std::uint64_t>(info.st_size);
        return target;
    };
    result.copy = document;
    // A photo or clip that cannot be read keeps its old path; such a slide stays missing in the copy.
    for (SlideContent& slide : result.copy.content.slides) {
        const std::string original = slide.photoPath;
        slide.photoPath = planFile(original, "photos");
        slide.photoMissing = slide.photoPath == original;
    }
    for (ClipContent& clip : result.copy.content.clips) clip.path = planFile(clip.path, "music");

    Copier copier(progress, total);
    const auto fail = [&](const std::string& why) {
        copier.removeMade();
        result.ok = false;
        result.cancelled = copier.cancelled();
        result.copy = {};
        result.message = result.cancelled ? "" : "The copy could not be saved: " + why + ".";
        return result;
    };
    std::vector<std::string> folders{folder};
    for (const std::string& subFolder : usedSubFolders) folders.push_back(folderPrefix + "/" + subFolder);
    for (const std::string& made : folders) {
        if (exists(made)) continue;
        if (!makeFolders(made)) return fail("cannot create the folder " + made);
        copier.madeFolder(made);
    }
    for (const PlannedFile& file : plan) {
        std::string error;
        if (!copier.copy(file, error)) return fail(error);
    }
    std::string message;
    if (!writeProjectFile(*projectPath, result.copy, &message)) {
        fail({});
        result.message = message;
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace kestrelle
