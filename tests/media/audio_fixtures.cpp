#include "tests/media/audio_fixtures.h"

#include "tests/support/temp_home.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kestrelle::testing {

namespace {

void put(std::string& bytes, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

bool writeWave(const std::string& path, const WaveSpec& spec, const std::vector<double>& samples) {
    const int width = spec.bitsPerSample / 8;
    std::string data;
    data.reserve(samples.size() * static_cast<std::size_t>(width));
    for (double value : samples) {
        value = std::clamp(value, -1.0, 1.0);
        if (spec.floatSamples && width == 4) {
            const float f = static_cast<float>(value);
            std::uint32_t raw = 0;
            std::memcpy(&raw, &f, 4);
            put(data, raw, 4);
        } else if (spec.floatSamples) {
            std::uint64_t raw = 0;
            std::memcpy(&raw, &value, 8);
            put(data, raw, 8);
        } else if (width == 1) {
            put(data, static_cast<std::uint64_t>(std::lround(value * 127.0) + 128), 1);
        } else {
            const double scale = std::ldexp(1.0, 8 * width - 1) - 1.0;
            put(data, static_cast<std::uint64_t>(std::llround(value * scale)), width);
        }
    }
    const std::uint16_t tag = spec.extensible ? 0xFFFE : (spec.floatSamples ? 3 : 1);
    const int align = spec.channels * width;
    std::string format;
    put(format, tag, 2);
    put(format, static_cast<std::uint64_t>(spec.channels), 2);
    put(format, static_cast<std::uint64_t>(spec.sampleRate), 4);
    put(format, static_cast<std::uint64_t>(spec.sampleRate) * static_cast<std::uint64_t>(align), 4);
    put(format, static_cast<std::uint64_t>(align), 2);
    put(format, static_cast<std::uint64_t>(spec.bitsPerSample), 2);
    if (spec.extensible) {
        put(format, 22, 2);
        put(format, static_cast<std::uint64_t>(spec.bitsPerSample), 2);
        put(format, spec.channels == 2 ? 3 : 0, 4);  // front left and right; otherwise unstated
        put(format, spec.floatSamples ? 3 : 1, 2);
        format += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string chunks = "WAVE";
    chunks += "fmt ";
    put(chunks, format.size(), 4);
    chunks += format;
    chunks += "data";
    put(chunks, data.size(), 4);
    chunks += data;
    std::string file = "RIFF";
    put(file, chunks.size(), 4);
    file += chunks;
    return writeFile(path, file);
}

bool haveFfmpeg() {
    static const bool present = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
    return present;
}

bool runFfmpeg(const std::string& arguments) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

Decoded decodeAll(const std::string& path, std::size_t block) {
    Decoded decoded;
    auto decoder = openAudioDecoder(path, &decoded.result);
    if (!decoder) return decoded;
    std::vector<float> buffer(2 * block);
    for (;;) {
        const std::size_t got = decoder->read(buffer.data(), block);
        decoded.samples.insert(decoded.samples.end(), buffer.begin(),
                               buffer.begin() + static_cast<long>(2 * got));
        if (got < block) break;
    }
    decoded.failed = decoder->failed();
    return decoded;
}

long loudestFrame(const std::vector<float>& interleaved) {
    long best = -1;
    float level = 0.0f;
    for (std::size_t i = 0; i < interleaved.size() / 2; ++i) {
        const float value = std::fabs(interleaved[2 * i]);
        if (value > level) {
            level = value;
            best = static_cast<long>(i);
        }
    }
    return best;
}

std::vector<double> clickTrack(std::size_t frames, std::size_t clickFrame, int channels) {
    std::vector<double> samples(frames * static_cast<std::size_t>(channels), 0.0);
    for (int c = 0; c < channels; ++c)
        samples[clickFrame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] = 0.9;
    return samples;
}

}  // namespace kestrelle::testing
