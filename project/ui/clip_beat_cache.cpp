#include "project/ui/clip_beat_cache.h"

#include <unordered_set>

#include <sys/stat.h>

namespace kestrelle {

ClipBeatCache::ClipBeatCache(Detector detector) : detector_(std::move(detector)) {}

ClipBeatCache::~ClipBeatCache() {
    // The detector checks its stop token as it decodes, so the join that follows is short.
    worker_.requestStop();
}

ClipBeatCache::FileStamp ClipBeatCache::stampOf(const std::string& path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        stamp.size = static_cast<std::int64_t>(info.st_size);
        stamp.modifiedNanoseconds =
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamp;
}

const std::vector<double>* ClipBeatCache::beatsFor(const std::string& path) const {
    const auto found = entries_.find(path);
    if (found == entries_.end() || !(found->second.stamp == stampOf(path))) {
        return nullptr;
    }
    return &found->second.beats;
}

std::vector<std::string> ClipBeatCache::missing(const std::vector<std::string>& paths) const {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const std::string& path : paths) {
        if (seen.insert(path).second && !beatsFor(path)) {
            out.push_back(path);
        }
    }
    return out;
}

bool ClipBeatCache::detect(std::vector<std::string> paths, QObject* context, std::function<void()> done) {
    if (running_) {
        return false;
    }
    running_ = true;
    auto results = std::make_shared<std::vector<Detected>>();
    results_ = results;
    Detector detector = detector_;
    worker_.start(
        [paths = std::move(paths), results, detector](std::stop_token stop) {
            for (const std::string& path : paths) {
                if (stop.stop_requested()) {
                    return;
                }
                // The stamp is taken before reading, so a file replaced while it is read is read again.
                const FileStamp stamp = stampOf(path);
                BeatTrack track = detector(path, stop);
                if (stop.stop_requested()) {
                    return;  // a track cut short by the stop is no answer for the file
                }
                results->push_back({path, stamp, std::move(track)});
            }
        },
        context,
        [this, done = std::move(done)] {
            const bool stopped = worker_.stopRequested();
            takeResults();
            if (!stopped && done) {
                done();
            }
        });
    return true;
}

void ClipBeatCache::takeResults() {
    running_ = false;
    if (!results_) {
        return;
    }
    for (Detected& detected : *results_) {
        // A file that could not be read counts as one without beats until it changes.
        std::vector<double> beats =
            detected.track.complete ? std::move(detected.track.beatSeconds) : std::vector<double>{};
        entries_[detected.path] = Entry{detected.stamp, std::move(beats)};
    }
    results_.reset();
}

void ClipBeatCache::stop() {
    if (!worker_.active()) {
        running_ = false;
        return;
    }
    worker_.requestStop();
    worker_.waitForEnd(QEventLoop::ExcludeUserInputEvents);
    // The finished call may have run during the wait; if not, it is dropped with the thread's state.
    if (running_) {
        takeResults();
    }
}

}  // namespace kestrelle
