#pragma once
// The preview's sound: the soundtrack mix, decoded on a feeder thread into a buffer of half a second, handed
// to a sound device as it pulls, and the clock the preview's pictures keep to while it plays.
//
// Threads: the feeder decodes (files are opened and read only there); the device pulls from the buffer on
// its own thread with a copy under a short lock; the picture worker waits in waitUntil(); start() and
// stop() belong to the thread that owns the device (the preview window's).

#include "base/worker_thread.h"
#include "media/soundtrack_mix.h"
#include "preview/audio_output.h"
#include "preview/preview_playback.h"
#include "project/fit_to_music.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

class SlideShowProject;

// The 44,100 Hz frames of the video the generation job writes for `project` at `fps` in `size`
// (jobVideoFrames).
std::int64_t previewShowFrames(const SlideShowProject& project, double fps, VideoSize size = {});

// The mix the preview plays for `project` at `fps`: its clips, crossfade and fade-out `fadeSeconds`, heard
// for the video's length.
MixSettings previewMixSettings(const SlideShowProject& project, double fps, double fadeSeconds,
                               VideoSize size = {});

class PreviewSound final : public AudioSampleSource, public ShowClock {
public:
    static constexpr std::size_t kBufferFrames = kMixSampleRate / 2;
    static constexpr std::size_t kChunkFrames = 2048;

    // `open` opens the clips' decoders (none given: the real decoders). `output` must outlive this.
    PreviewSound(std::vector<MixClip> clips, MixSettings settings, double linearGain, AudioOutput& output,
                 AudioDecoderFactory open = {});
    // Stops the sound.
    ~PreviewSound() override;
    PreviewSound(const PreviewSound&) = delete;
    PreviewSound& operator=(const PreviewSound&) = delete;

    // Starts the feeder, then the device. False when there are no clips or no device can play: nothing
    // runs then and the pictures keep their own clock.
    bool start();
    // Silences the device at once (nothing buffered is heard), then ends the feeder, handling events while
    // it finishes the chunk it decodes. Every waitUntil() returns false from now on.
    void stop();
    // Makes every waitUntil() return false (any thread). The sound itself stops with stop().
    void interruptClock();
    bool playing() const;

    // AudioSampleSource, on the device's thread.
    void readFrames(std::int16_t* out, std::size_t frames) override;
    void devicePlayed(std::int64_t frames) override;

    // ShowClock, on the picture worker: the mix time the device has played, counted on between the
    // device's reports by the steady clock (so the pictures go on in real time should the device stall).
    bool waitUntil(double seconds) override;

    // Frames ready in the buffer; and waiting for at least `frames` of them (the buffer's size at most),
    // for a consumer that must not hear silence, until `deadline`. Any thread.
    std::size_t bufferedFrames() const;
    bool waitForBuffered(std::size_t frames, std::chrono::steady_clock::time_point deadline) const;
    // Silent frames the device got because the feeder had fallen behind.
    std::int64_t paddedFrames() const;
    // Clips the mix could not read (their part is silence).
    std::vector<std::string> unreadableClips() const;

private:
    using Clock = std::chrono::steady_clock;

    void feed(std::stop_token stop);

    const std::vector<MixClip> clips_;
    const MixSettings settings_;
    const double gain_;
    AudioOutput& output_;
    AudioDecoderFactory open_;
    WorkerThread feeder_;
    bool started_ = false;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;  // buffer filled or drained, position reported, stop
    std::vector<std::int16_t> ring_;           // kBufferFrames stereo frames
    std::int64_t written_ = 0;                 // frames the feeder has put into the ring
    std::int64_t read_ = 0;                    // frames the device has taken from it
    std::int64_t padded_ = 0;                  // silence handed out while the ring was empty
    std::int64_t played_ = 0;                  // the device's last reported position
    Clock::time_point reportedAt_;             // when it was reported
    bool clockStopped_ = false;
    bool feederEnded_ = false;
    std::vector<std::string> unreadable_;
};

}  // namespace kestrelle
