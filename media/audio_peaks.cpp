// Waveform peaks. The whole file is decoded once; each bucket keeps the lowest and highest sample of
// either channel. The cache runs one WorkerThread per file, one file after the other: the finished call
// (on the context's thread) stores the result, tells the owner and starts the next queued file.

#include "media/audio_peaks.h"

#include "base/worker_thread.h"
#include "media/audio_decoder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>

namespace kestrelle {

namespace {

constexpr std::size_t kReadFrames = 4096;

std::int8_t peakValue(float sample) {
    const float scaled = std::isfinite(sample) ? std::round(sample * 127.0f) : 0.0f;
    return static_cast<std::int8_t>(std::clamp(scaled, -127.0f, 127.0f));
}

// A file's identity for the cache: path, size and modification time. Empty when it cannot be stat'ed.
std::string fileKey(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return {};
    return path + '\n' + std::to_string(info.st_size) + '\n' + std::to_string(info.st_mtim.tv_sec) + '.' +
           std::to_string(info.st_mtim.tv_nsec);
}

}  // namespace

double AudioPeaks::durationSeconds() const {
    return static_cast<double>(decodedFrames) / kMixSampleRate;
}

AudioPeaks computeAudioPeaks(const std::string& path, double bucketsPerSecond, std::stop_token stop) {
    AudioPeaks peaks;
    peaks.bucketsPerSecond = std::isfinite(bucketsPerSecond) && bucketsPerSecond > 0 ? bucketsPerSecond : 0.0;
    if (peaks.bucketsPerSecond == 0.0) return peaks;
    auto decoder = openAudioDecoder(path);
    if (!decoder) return peaks;

    const double framesPerBucket = kMixSampleRate / peaks.bucketsPerSecond;
    std::vector<float> block(2 * kReadFrames);
    std::uint64_t frame = 0;
    // The first frame of the next bucket, from the bucket's number (no drift over long files).
    std::uint64_t bucketEnd = 0;
    float low = 0.0f;
    float high = 0.0f;
    auto closeBucket = [&] {
        peaks.low.push_back(peakValue(low));
        peaks.high.push_back(peakValue(high));
    };
    for (;;) {
        if (stop.stop_requested()) return peaks;
        const std::size_t got = decoder->read(block.data(), kReadFrames);
        for (std::size_t i = 0; i < got; ++i, ++frame) {
            if (frame == bucketEnd) {
                if (frame > 0) closeBucket();
                low = high = block[2 * i];
                const auto next = static_cast<double>(peaks.low.size() + 1) * framesPerBucket;
                bucketEnd = std::max<std::uint64_t>(frame + 1, static_cast<std::uint64_t>(std::ceil(next)));
            }
            low = std::min({low, block[2 * i], block[2 * i + 1]});
            high = std::max({high, block[2 * i], block[2 * i + 1]});
        }
        if (got < kReadFrames) break;
    }
    if (frame > 0) closeBucket();
    peaks.decodedFrames = frame;
    peaks.complete = !decoder->failed();
    return peaks;
}

struct AudioPeakCache::State {
    QObject* context = nullptr;
    std::function<void(const std::string&)> ready;
    std::map<std::string, AudioPeaks> computed;             // by file key; node-based, so pointers stay valid
    std::deque<std::pair<std::string, std::string>> queue;  // (key, path) waiting
    std::string runningKey;
    std::string runningPath;
    std::shared_ptr<AudioPeaks> running;
    WorkerThread worker;  // last: stopped and joined before the rest is destroyed

    bool known(const std::string& key) const {
        return computed.count(key) > 0 || key == runningKey ||
               std::any_of(queue.begin(), queue.end(), [&](const auto& entry) { return entry.first == key; });
    }

    void startNext() {
        if (!runningKey.empty() || queue.empty()) return;
        auto [key, path] = queue.front();
        queue.pop_front();
        runningKey = key;
        runningPath = path;
        running = std::make_shared<AudioPeaks>();
        worker.start(
            [result = running, path = path](std::stop_token stop) {
                *result = computeAudioPeaks(path, kPeakBucketsPerSecond, stop);
            },
            context, [this] { finished(); });
    }

    void finished() {
        const std::string path = runningPath;
        computed[runningKey] = std::move(*running);
        runningKey.clear();
        runningPath.clear();
        running.reset();
        startNext();
        if (ready) ready(path);
    }
};

AudioPeakCache::AudioPeakCache(QObject* context, std::function<void(const std::string& path)> ready)
    : state_(std::make_unique<State>()) {
    state_->context = context;
    state_->ready = std::move(ready);
}

AudioPeakCache::~AudioPeakCache() = default;

const AudioPeaks* AudioPeakCache::peaksFor(const std::string& path) {
    const std::string key = fileKey(path);
    if (key.empty()) return nullptr;
    const auto found = state_->computed.find(key);
    if (found != state_->computed.end()) return &found->second;
    if (!state_->known(key)) {
        state_->queue.emplace_back(key, path);
        state_->startNext();
    }
    return nullptr;
}

void AudioPeakCache::retainOnly(const std::vector<std::string>& paths) {
    std::erase_if(state_->queue, [&](const auto& entry) {
        return std::find(paths.begin(), paths.end(), entry.second) == paths.end();
    });
}

}  // namespace kestrelle
