#pragma once
// The beats of the soundtrack's files for "Fit to Music on the Beats": detected once per file on a
// worker (a whole song is decoded, which takes seconds) and kept while the storyboard lives. A file is
// known by its path, size and modification time, so a file replaced meanwhile is detected anew.

#include "base/worker_thread.h"
#include "media/beat_detector.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrelle {

class ClipBeatCache {
public:
    using Detector = std::function<BeatTrack(const std::string& path, std::stop_token stop)>;

    explicit ClipBeatCache(Detector detector = [](const std::string& path, std::stop_token stop) {
        return detectBeats(path, std::move(stop));
    });
    // Stops a run in progress and joins it; its `done` is never called.
    ~ClipBeatCache();
    ClipBeatCache(const ClipBeatCache&) = delete;
    ClipBeatCache& operator=(const ClipBeatCache&) = delete;

    // The beats of the file as it is now (seconds from its start), null when not detected yet. A file
    // that could not be read has an empty list.
    const std::vector<double>* beatsFor(const std::string& path) const;
    // The paths among `paths` whose beats are not known yet, each once, in their order.
    std::vector<std::string> missing(const std::vector<std::string>& paths) const;

    // Detects the beats of `paths` on a worker, one file after another, and calls `done` on the
    // thread of `context` once all are in. A stopped run keeps the files it finished and calls nothing.
    // Ignored (false) while a run is in progress.
    bool detect(std::vector<std::string> paths, QObject* context, std::function<void()> done);
    bool running() const { return running_; }
    // The detector of the next run (tests).
    void setDetector(Detector detector) { detector_ = std::move(detector); }
    // Stops a run in progress and waits for it, handling events but no user input.
    void stop();

private:
    struct FileStamp {
        std::int64_t size = -1;
        std::int64_t modifiedNanoseconds = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct Entry {
        FileStamp stamp;
        std::vector<double> beats;
    };
    struct Detected {
        std::string path;
        FileStamp stamp;
        BeatTrack track;
    };
    static FileStamp stampOf(const std::string& path);
    void takeResults();

    Detector detector_;
    std::map<std::string, Entry> entries_;
    // Written by the worker, read on the user-interface thread once the body has returned.
    std::shared_ptr<std::vector<Detected>> results_;
    bool running_ = false;
    WorkerThread worker_;
};

}  // namespace kestrelle
