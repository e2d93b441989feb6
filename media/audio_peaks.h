#pragma once
// Waveform peaks of a soundtrack file and its exact decoded length, computed by decoding the whole file
// once (on a worker: a two-hour file takes seconds) and kept per file, so the storyboard draws waveforms
// of any format without blocking the window.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrelle {

struct AudioPeaks {
    double bucketsPerSecond = 0.0;
    // Per bucket, the lowest and highest sample of either channel, scaled so that full scale is 127.
    std::vector<std::int8_t> low;
    std::vector<std::int8_t> high;
    // 44,100 Hz stereo frames decoded: the clip's exact length (decodedFrames / 44,100 seconds).
    std::uint64_t decodedFrames = 0;
    bool complete = false;  // the whole file was decoded (false: stopped, unreadable, or failed midway)

    double durationSeconds() const;
};

// The resolution the cache computes: 50 buckets a second (one per 882 frames), a column or more per
// pixel wherever a storyboard cell holds a second or more; a two-hour file keeps 720 KB of peaks.
constexpr double kPeakBucketsPerSecond = 50.0;

// Decodes `path` and gathers its peaks; stops early (complete false) when `stop` is requested.
AudioPeaks computeAudioPeaks(const std::string& path, double bucketsPerSecond, std::stop_token stop = {});

// Peaks per file (at kPeakBucketsPerSecond), computed one file at a time on a worker thread and kept for
// the life of the cache.
// A file is known by its path, size and modification time, so a replaced file is computed anew. Asked
// and answered on the thread of `context`.
class AudioPeakCache {
public:
    // `ready(path)` runs on the context's thread when a file's peaks are in.
    AudioPeakCache(QObject* context, std::function<void(const std::string& path)> ready);
    ~AudioPeakCache();  // stops the worker and waits for it
    AudioPeakCache(const AudioPeakCache&) = delete;
    AudioPeakCache& operator=(const AudioPeakCache&) = delete;

    // The peaks when computed; otherwise null, and the file is queued (once).
    const AudioPeaks* peaksFor(const std::string& path);
    // Forgets files no longer wanted (queued ones are dropped, computed ones kept).
    void retainOnly(const std::vector<std::string>& paths);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrelle
