#include "output/soundtrack_prefetch.h"

#include <algorithm>
#include <utility>

namespace kestrelle {

namespace {

// Frames made per step, and how far the thread runs ahead of the reader (about a second).
constexpr std::size_t kStepFrames = 4096;
constexpr std::size_t kAheadFrames = 11 * kStepFrames;

}  // namespace

SoundtrackPrefetch::SoundtrackPrefetch(std::vector<MixClip> clips, MixSettings settings,
                                       AudioDecoderFactory open)
    : clips_(std::move(clips)), open_(std::move(open)) {
    start(settings);
}

SoundtrackPrefetch::~SoundtrackPrefetch() {
    stop();
}

void SoundtrackPrefetch::start(MixSettings settings) {
    settings.startFrame = std::max<std::int64_t>(settings.startFrame, 0);
    mix_ = std::make_unique<SoundtrackMix>(clips_, settings, open_);
    {
        std::lock_guard<std::mutex> guard(lock_);
        position_ = settings.startFrame;
        buffer_.clear();
        readAt_ = 0;
        stopping_ = false;
    }
    thread_ = std::thread([this] { produce(); });
}

void SoundtrackPrefetch::stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void SoundtrackPrefetch::produce() {
    std::vector<std::int16_t> step(2 * kStepFrames);
    while (true) {
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] {
                return stopping_ || (buffer_.size() - readAt_) / 2 < kAheadFrames + wanted_;
            });
            if (stopping_) return;
        }
        mix_->read(step.data(), kStepFrames);
        std::vector<std::string> unreadable = mix_->unreadableClips();
        {
            std::lock_guard<std::mutex> guard(lock_);
            // What has been read is dropped once it is the larger part of the buffer.
            if (readAt_ > buffer_.size() / 2) {
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(readAt_));
                readAt_ = 0;
            }
            buffer_.insert(buffer_.end(), step.begin(), step.end());
            unreadable_ = std::move(unreadable);
        }
        changed_.notify_all();
    }
}

void SoundtrackPrefetch::read(std::int16_t* out, std::size_t frames) {
    std::unique_lock<std::mutex> guard(lock_);
    wanted_ = frames;
    changed_.notify_all();
    changed_.wait(guard, [this, frames] { return (buffer_.size() - readAt_) / 2 >= frames; });
    std::copy_n(buffer_.begin() + static_cast<std::ptrdiff_t>(readAt_), 2 * frames, out);
    readAt_ += 2 * frames;
    position_ += static_cast<std::int64_t>(frames);
    wanted_ = 0;
    guard.unlock();
    changed_.notify_all();
}

std::int64_t SoundtrackPrefetch::position() const {
    std::lock_guard<std::mutex> guard(lock_);
    return position_;
}

void SoundtrackPrefetch::restart(MixSettings settings) {
    stop();
    settings.startFrame = position();
    start(settings);
}

std::vector<std::string> SoundtrackPrefetch::unreadableClips() const {
    std::lock_guard<std::mutex> guard(lock_);
    return unreadable_;
}

}  // namespace kestrelle
