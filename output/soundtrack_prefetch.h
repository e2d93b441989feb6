#pragma once
// The soundtrack mix read ahead on a thread of its own: decoding, resampling, mixing and dithering run
// beside the generation job's frames instead of between them. What comes out is exactly what the mix
// itself gives (its samples depend only on their place), up to a second ahead of the reader.

#include "media/soundtrack_mix.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrelle {

class SoundtrackPrefetch {
public:
    // Starts reading the mix of `clips` from settings.startFrame.
    SoundtrackPrefetch(
        std::vector<MixClip> clips, MixSettings settings,
        AudioDecoderFactory open = [](const std::string& path, AudioOpenResult* result) {
            return openAudioDecoder(path, result);
        });
    // Stops the thread (it never waits for the reader).
    ~SoundtrackPrefetch();
    SoundtrackPrefetch(const SoundtrackPrefetch&) = delete;
    SoundtrackPrefetch& operator=(const SoundtrackPrefetch&) = delete;

    // The next `frames` stereo frames, as SoundtrackMix::read gives them; waits while they are made.
    void read(std::int16_t* out, std::size_t frames);
    // The mix frame the next read begins at.
    std::int64_t position() const;
    // Goes on from position() with other settings (their startFrame is not used): what was read ahead
    // is dropped and the mix made anew.
    void restart(MixSettings settings);
    // The mix's unreadable clips as far as it has been read ahead.
    std::vector<std::string> unreadableClips() const;

private:
    void start(MixSettings settings);
    void stop();
    void produce();

    const std::vector<MixClip> clips_;
    const AudioDecoderFactory open_;
    std::unique_ptr<SoundtrackMix> mix_;  // used by the thread only while it runs

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::int16_t> buffer_;  // interleaved samples made and not yet read, from readAt_ on
    std::size_t readAt_ = 0;
    std::size_t wanted_ = 0;  // frames the reader waits for
    bool stopping_ = false;
    std::int64_t position_ = 0;
    std::vector<std::string> unreadable_;
    std::thread thread_;
};

}  // namespace kestrelle
