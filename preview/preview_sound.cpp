#include "preview/preview_sound.h"

#include "project/fit_to_music.h"
#include "project/slideshow_project.h"
#include "project/soundtrack_plan.h"
#include "project/timeline.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrelle {

namespace {

constexpr int kVolumeFloor = -10000;

}  // namespace

double previewVolumeGain(int volumeSetting) {
    const int hundredthsOfDecibel = std::clamp(volumeSetting, kVolumeFloor, 0);
    return std::pow(10.0, hundredthsOfDecibel / 2000.0);
}

std::int64_t previewShowFrames(const SlideShowProject& project, double fps, VideoSize size) {
    if (!std::isfinite(fps) || fps <= 0.0) return 0;
    return audioFramesForVideo(jobVideoFrames(project, fps, size), fps);
}

MixSettings previewMixSettings(const SlideShowProject& project, double fps, double fadeSeconds,
                               VideoSize size) {
    MixSettings settings;
    const double fade = std::isfinite(fadeSeconds) ? std::max(fadeSeconds, 0.0) : 0.0;
    settings.crossfadeSeconds = fade;
    settings.fadeOutSeconds = fade;
    settings.showFrames = previewShowFrames(project, fps, size);
    return settings;
}

PreviewSound::PreviewSound(std::vector<MixClip> clips, MixSettings settings, double linearGain,
                           AudioOutput& output, AudioDecoderFactory open)
    : clips_(std::move(clips)),
      settings_(settings),
      gain_(std::isfinite(linearGain) ? std::clamp(linearGain, 0.0, 1.0) : 0.0),
      output_(output),
      open_(std::move(open)),
      ring_(kBufferFrames * kMixChannels) {}

PreviewSound::~PreviewSound() {
    stop();
}

bool PreviewSound::start() {
    if (started_ || clips_.empty()) return false;
    started_ = true;
    {
        std::lock_guard<std::mutex> guard(lock_);
        reportedAt_ = Clock::now();
    }
    feeder_.start([this](std::stop_token stop) { feed(stop); });
    if (!output_.start(*this, gain_)) {
        stop();
        return false;
    }
    return true;
}

void PreviewSound::stop() {
    output_.stop();
    interruptClock();
    if (feeder_.active()) {
        feeder_.requestStop();
        changed_.notify_all();
        // The feeder ends within one chunk's decoding; a window keeps painting meanwhile.
        if (QCoreApplication::instance()) {
            feeder_.waitForEnd(QEventLoop::ExcludeUserInputEvents);
        } else {
            feeder_.join();
        }
    }
}

void PreviewSound::interruptClock() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        clockStopped_ = true;
    }
    changed_.notify_all();
}

bool PreviewSound::playing() const {
    std::lock_guard<std::mutex> guard(lock_);
    return started_ && !clockStopped_;
}

// Decodes chunk after chunk while the ring has room for one; the mix gives silence after the music, so
// the device never runs dry while the pictures still play.
void PreviewSound::feed(std::stop_token stop) {
    std::optional<SoundtrackMix> mix;
    if (open_) {
        mix.emplace(clips_, settings_, open_);
    } else {
        mix.emplace(clips_, settings_);
    }
    std::vector<std::int16_t> chunk(kChunkFrames * kMixChannels);
    const auto ringFrames = static_cast<std::int64_t>(kBufferFrames);
    const auto chunkFrames = static_cast<std::int64_t>(kChunkFrames);
    while (!stop.stop_requested()) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] {
                return stop.stop_requested() || ringFrames - (written_ - read_) >= chunkFrames;
            });
            if (stop.stop_requested()) break;
        }
        mix->read(chunk.data(), kChunkFrames);
        std::lock_guard<std::mutex> guard(lock_);
        for (std::int64_t k = 0; k < chunkFrames;) {
            const std::int64_t at = (written_ + k) % ringFrames;
            const std::int64_t run = std::min(chunkFrames - k, ringFrames - at);
            std::memcpy(ring_.data() + at * kMixChannels, chunk.data() + k * kMixChannels,
                        static_cast<std::size_t>(run) * kMixChannels * sizeof(std::int16_t));
            k += run;
        }
        written_ += chunkFrames;
        changed_.notify_all();
    }
    std::lock_guard<std::mutex> guard(lock_);
    unreadable_ = mix->unreadableClips();
    feederEnded_ = true;
}

void PreviewSound::readFrames(std::int16_t* out, std::size_t frames) {
    const auto ringFrames = static_cast<std::int64_t>(kBufferFrames);
    std::int64_t wanted = static_cast<std::int64_t>(frames);
    {
        std::lock_guard<std::mutex> guard(lock_);
        const std::int64_t take = std::min(wanted, written_ - read_);
        for (std::int64_t k = 0; k < take;) {
            const std::int64_t at = (read_ + k) % ringFrames;
            const std::int64_t run = std::min(take - k, ringFrames - at);
            std::memcpy(out + k * kMixChannels, ring_.data() + at * kMixChannels,
                        static_cast<std::size_t>(run) * kMixChannels * sizeof(std::int16_t));
            k += run;
        }
        read_ += take;
        out += take * kMixChannels;
        wanted -= take;
        // The feeder has fallen behind: silence now, and the clock leaves it out, so the pictures wait
        // for the music to go on instead of running ahead of it.
        padded_ += wanted;
    }
    std::memset(out, 0, static_cast<std::size_t>(wanted) * kMixChannels * sizeof(std::int16_t));
    changed_.notify_all();
}

void PreviewSound::devicePlayed(std::int64_t frames) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        played_ = std::max<std::int64_t>(frames, 0);
        reportedAt_ = Clock::now();
    }
    changed_.notify_all();
}

bool PreviewSound::waitUntil(double seconds) {
    const double target = seconds * kMixSampleRate;
    std::unique_lock<std::mutex> guard(lock_);
    while (!clockStopped_) {
        const double heard = static_cast<double>(std::max<std::int64_t>(played_ - padded_, 0));
        if (heard >= target) return true;
        // Due when the device, going on at its rate from its last report, reaches the target.
        const auto due = reportedAt_ + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>((target - heard) / kMixSampleRate));
        if (Clock::now() >= due) return true;
        changed_.wait_until(guard, due);
    }
    return false;
}

std::size_t PreviewSound::bufferedFrames() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<std::size_t>(written_ - read_);
}

bool PreviewSound::waitForBuffered(std::size_t frames, std::chrono::steady_clock::time_point deadline) const {
    const auto wanted = static_cast<std::int64_t>(std::min(frames, kBufferFrames));
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_until(guard, deadline, [&] { return written_ - read_ >= wanted || feederEnded_; }) &&
           written_ - read_ >= wanted;
}

std::int64_t PreviewSound::paddedFrames() const {
    std::lock_guard<std::mutex> guard(lock_);
    return padded_;
}

std::vector<std::string> PreviewSound::unreadableClips() const {
    std::lock_guard<std::mutex> guard(lock_);
    return unreadable_;
}

}  // namespace kestrelle
