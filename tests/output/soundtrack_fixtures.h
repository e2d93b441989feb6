#pragma once
// Sound for the soundtrack tests, made at test time: WAV files written here, other formats made from
// them by the ffmpeg tool, and the video's audio read back by ffmpeg as 44,100 Hz stereo float.
// A reference mix laid out from the sources with the crossfade and fade-out formulas, written here
// apart from the program's own mixer, for comparisons.

#include "tests/support/temp_home.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace kestrelle::testing {

constexpr int kRate = 44100;

// Interleaved stereo float samples.
using Stereo = std::vector<float>;

inline bool haveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

inline bool ffmpeg(const std::string& arguments) {
    return std::system(("ffmpeg -nostdin -v error -y " + arguments + " </dev/null").c_str()) == 0;
}

// Writes interleaved samples (full scale +-1.0) as a 16-bit PCM WAV file.
inline bool writeWave16(const std::string& path, int rate, int channels, const std::vector<double>& samples) {
    std::string bytes;
    auto put16 = [&bytes](std::uint16_t v) { bytes += le16(v); };
    auto put32 = [&bytes](std::uint32_t v) { bytes += le32(v); };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    bytes += "RIFF";
    put32(36 + dataBytes);
    bytes += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(static_cast<std::uint16_t>(channels));
    put32(static_cast<std::uint32_t>(rate));
    put32(static_cast<std::uint32_t>(rate * channels * 2));
    put16(static_cast<std::uint16_t>(channels * 2));
    put16(16);
    bytes += "data";
    put32(dataBytes);
    bytes.reserve(bytes.size() + dataBytes);
    for (const double s : samples) {
        const auto v = static_cast<std::int16_t>(std::lround(std::clamp(s, -1.0, 1.0) * 32767.0));
        put16(static_cast<std::uint16_t>(v));
    }
    return writeFile(path, bytes);
}

// A "song" of `seconds` at `rate`: a tone whose loudness steps every half second through the levels
// given (dB below full scale), with a burst of noise in every other step, so that per-second loudness
// varies and a misplaced sample shows.
inline std::vector<double> steppedSong(double seconds, int rate, double frequency,
                                       const std::vector<double>& levelsDb, std::uint32_t seed) {
    const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
    std::vector<double> out(2 * frames);
    std::uint32_t noise = seed;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const auto step = static_cast<std::size_t>(t * 2.0);
        const double gain = std::pow(10.0, levelsDb[step % levelsDb.size()] / 20.0);
        noise = noise * 1664525u + 1013904223u;
        const double white = (static_cast<double>(noise >> 8) / 8388608.0) - 1.0;
        const double tone = std::sin(2.0 * std::numbers::pi * frequency * t);
        const double value = gain * (step % 2 ? 0.7 * tone + 0.3 * white : tone);
        out[2 * i] = value;
        out[2 * i + 1] = 0.8 * value;
    }
    return out;
}

// The audio of a file as ffmpeg decodes it: 44,100 Hz stereo float.
inline Stereo decodeWithFfmpeg(const std::string& file, const std::string& extra = {}) {
    FILE* pipe = ::popen(
        ("ffmpeg -nostdin -v error -i '" + file + "' " + extra + " -f f32le -ac 2 -ar 44100 -").c_str(), "r");
    Stereo samples;
    if (!pipe) return samples;
    std::vector<char> block(1 << 16);
    std::string raw;
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), pipe)) > 0;)
        raw.append(block.data(), got);
    ::pclose(pipe);
    samples.resize(raw.size() / sizeof(float));
    std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
    return samples;
}

inline std::size_t loudestFrame(const Stereo& samples, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    std::size_t best = from;
    to = std::min(to, samples.size() / 2);
    for (std::size_t i = from; i < to; ++i)
        if (std::fabs(samples[2 * i]) > std::fabs(samples[2 * best])) best = i;
    return best;
}

// The soundtrack as it should sound: each source (decoded) placed where the line puts it, clip k + 1
// starting where clip k's crossfade begins, the crossfade min(fade, half of either clip) with equal
// power (sin/cos), and a cosine fade-out over the last `fade` seconds of the show when the music
// lasts that long. Nothing after the show.
inline Stereo referenceMix(const std::vector<Stereo>& sources, const std::vector<double>& durations,
                           double fade, double showSeconds) {
    const auto showFrames = static_cast<std::size_t>(std::llround(showSeconds * kRate));
    std::vector<double> mix(2 * showFrames, 0.0);
    double start = 0.0;
    double musicEnd = 0.0;
    for (std::size_t k = 0; k < sources.size(); ++k) {
        const double join =
            k + 1 < sources.size() ? std::min({fade, durations[k] / 2, durations[k + 1] / 2}) : 0.0;
        const double joinBefore = k > 0 ? std::min({fade, durations[k - 1] / 2, durations[k] / 2}) : 0.0;
        const double end = start + durations[k];
        for (std::size_t i = 0; 2 * i + 1 < sources[k].size(); ++i) {
            const double local = static_cast<double>(i) / kRate;
            if (local >= durations[k]) break;
            const auto at = static_cast<std::size_t>(std::llround(start * kRate)) + i;
            if (at >= showFrames) break;
            double gain = 1.0;
            if (joinBefore > 0 && local < joinBefore)
                gain *= std::sin(std::numbers::pi / 2 * local / joinBefore);
            if (join > 0 && local > durations[k] - join)
                gain *= std::cos(std::numbers::pi / 2 * (local - (durations[k] - join)) / join);
            mix[2 * at] += gain * sources[k][2 * i];
            mix[2 * at + 1] += gain * sources[k][2 * i + 1];
        }
        musicEnd = std::max(musicEnd, end);
        start = end - join;
    }
    const double fadeSeconds = std::min(fade, showSeconds);
    if (musicEnd >= showSeconds && fadeSeconds > 0) {
        const double fadeStart = showSeconds - fadeSeconds;
        for (std::size_t i = 0; i < showFrames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            if (t < fadeStart) continue;
            const double gain = std::cos(std::numbers::pi / 2 * std::min(1.0, (t - fadeStart) / fadeSeconds));
            mix[2 * i] *= gain;
            mix[2 * i + 1] *= gain;
        }
    }
    return Stereo(mix.begin(), mix.end());
}

// RMS in dB (full scale 0 dB) of frames [from, to) of both channels; -200 for silence.
inline double rmsDb(const Stereo& s, std::size_t from, std::size_t to) {
    to = std::min(to, s.size() / 2);
    double sum = 0.0;
    for (std::size_t i = 2 * from; i < 2 * to; ++i) sum += static_cast<double>(s[i]) * s[i];
    const double count = to > from ? 2.0 * static_cast<double>(to - from) : 1.0;
    return sum > 0 ? 10.0 * std::log10(sum / count) : -200.0;
}

// Pearson correlation of two signals over frames [from, to).
inline double correlation(const Stereo& a, const Stereo& b, std::size_t from, std::size_t to) {
    to = std::min({to, a.size() / 2, b.size() / 2});
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    double n = 0;
    for (std::size_t i = 2 * from; i < 2 * to; ++i) {
        sa += a[i];
        sb += b[i];
        saa += static_cast<double>(a[i]) * a[i];
        sbb += static_cast<double>(b[i]) * b[i];
        sab += static_cast<double>(a[i]) * b[i];
        n += 1;
    }
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n;
    const double vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0.0;
}

}  // namespace kestrelle::testing
