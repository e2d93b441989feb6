#pragma once
// The soundtrack mix: the clips of the soundtrack line decoded and laid end to end from time 0 as one
// 44,100 Hz stereo 16-bit stream. Consecutive clips overlap by the crossfade (an equal-power one), the
// music fades out at the show's end, and samples are dithered (TPDF) to 16 bits. Sample n of the mix
// belongs to time n / 44,100 s exactly. Decoded as a stream: at most two files are open at a time and
// memory stays bounded whatever the clips' lengths.

#include "media/audio_decoder.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrelle {

struct MixClip {
    std::string path;
    double durationSeconds = 0.0;  // the clip's place on the line: its decoded length
};

struct MixSettings {
    double crossfadeSeconds = 2.0;  // between consecutive clips; limited to half the shorter clip
    double fadeOutSeconds = 2.0;    // music still playing at the show's end fades out over its last seconds
    std::int64_t showFrames = 0;    // the output's length in 44,100 Hz frames; nothing is heard after it
    std::int64_t startFrame = 0;    // the mix frame the first read begins at (an encoder's delay, a seek)
    std::uint32_t ditherSeed = 1;   // the dither is reproducible: same seed, same bytes
};

// Where each clip starts in the mix, in seconds: clip k + 1 starts where clip k's crossfade begins.
std::vector<double> clipStartSeconds(const std::vector<double>& durations, double crossfadeSeconds);
// How long the music lasts: the last clip's start plus its length (0 without clips).
double soundtrackSeconds(const std::vector<double>& durations, double crossfadeSeconds);

using AudioDecoderFactory =
    std::function<std::unique_ptr<AudioDecoder>(const std::string& path, AudioOpenResult* result)>;

class SoundtrackMix {
public:
    SoundtrackMix(
        std::vector<MixClip> clips, MixSettings settings,
        AudioDecoderFactory open = [](const std::string& path, AudioOpenResult* result) {
            return openAudioDecoder(path, result);
        });
    ~SoundtrackMix();
    SoundtrackMix(const SoundtrackMix&) = delete;
    SoundtrackMix& operator=(const SoundtrackMix&) = delete;

    // The next `frames` stereo frames, interleaved 16-bit. Where no clip plays (before, between failed
    // clips, after the music, after showFrames) the samples are exact zeros.
    void read(std::int16_t* out, std::size_t frames);
    // The mix frame the next read begins at.
    std::int64_t position() const;
    // Clips that could not be opened or stopped decoding early (their part is silence), in clip order,
    // each path once.
    std::vector<std::string> unreadableClips() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace kestrelle
