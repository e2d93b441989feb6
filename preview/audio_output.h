#pragma once
// Where the preview's sound goes: a sound device that pulls 44,100 Hz stereo 16-bit samples from a source
// while it plays. The Qt Multimedia device is one implementation (preview/qt_audio_output.h); tests use a
// fake that pulls when told to.

#include <cstddef>
#include <cstdint>

namespace kestrelle {

// Interleaved stereo 16-bit frames for a device. Called on the device's own thread while it plays: must
// return at once (no decoding, no waiting), always with `frames` frames.
class AudioSampleSource {
public:
    virtual ~AudioSampleSource() = default;
    virtual void readFrames(std::int16_t* out, std::size_t frames) = 0;
    // Called after each read with the frames the device has played so far (its processed position), so
    // that whoever paces pictures by the sound hears of it without asking the device.
    virtual void devicePlayed(std::int64_t frames) = 0;
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Opens the device for 44,100 Hz stereo Int16 at `linearGain` (0 to 1) and starts pulling from
    // `source`, which must outlive stop(). False, with nothing opened, when there is no device that can
    // play (no sound card, no sound server): the caller then goes on without sound.
    virtual bool start(AudioSampleSource& source, double linearGain) = 0;
    // Stops at once: what the device still holds is dropped, nothing is pulled any more. Safe to call
    // when not started, and more than once.
    virtual void stop() = 0;
};

// The Preview Volume setting is in hundredths of a decibel: 0 is full volume, -5000 (the default) is
// -50 dB, -10000 is silence for any practical purpose. Values outside -10000..0 are held at the ends.
// The linear gain is 10^(setting / 2000), i.e. 10^(dB / 20).
double previewVolumeGain(int volumeSetting);

}  // namespace kestrelle
