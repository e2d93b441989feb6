#pragma once
// Sound files for the audio tests, made at test time: WAV files written here, every other format made
// from them with the ffmpeg command-line tool.

#include "media/audio_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle::testing {

struct WaveSpec {
    int channels = 2;
    int sampleRate = 44100;
    int bitsPerSample = 16;     // 8, 16, 24, 32 (integer) or 32, 64 (float)
    bool floatSamples = false;  // format tag 3
    bool extensible = false;    // WAVE_FORMAT_EXTENSIBLE with the matching sub-format
};

// Writes `samples` (interleaved, full scale +-1.0) as a WAV file; false on failure.
bool writeWave(const std::string& path, const WaveSpec& spec, const std::vector<double>& samples);

// Whether the ffmpeg tool runs here.
bool haveFfmpeg();
// Runs `ffmpeg -y <arguments>` quietly; true on success.
bool runFfmpeg(const std::string& arguments);

struct Decoded {
    std::vector<float> samples;  // interleaved stereo
    AudioOpenResult result = AudioOpenResult::CannotOpen;
    bool failed = false;
    std::size_t frames() const { return samples.size() / 2; }
};
// Decodes a whole file with openAudioDecoder, reading in blocks of `block` frames.
Decoded decodeAll(const std::string& path, std::size_t block = 1000);

// The frame whose left sample is largest in magnitude (-1 when there are none).
long loudestFrame(const std::vector<float>& interleaved);

// A silent signal of `frames` frames with a click (one sample at 0.9 in every channel) at `clickFrame`.
std::vector<double> clickTrack(std::size_t frames, std::size_t clickFrame, int channels = 2);

}  // namespace kestrelle::testing
