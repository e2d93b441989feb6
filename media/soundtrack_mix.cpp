// The soundtrack mix. Every clip gets a slot of whole 44,100 Hz frames computed from seconds (never
// accumulated frame by frame, so a thousand clips at mixed rates do not drift): it starts at
// round(start x 44,100) and lasts round(duration x 44,100) frames, whatever its decoder gives (less is
// silence, more is cut). The mix is made in chunks within which the set of sounding clips does not
// change; each clip's decoder is opened when its slot begins and closed when it ends.

#include "media/soundtrack_mix.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace kestrelle {

namespace {

// Frames mixed per chunk: bounds the memory a read needs however many frames it asks for.
constexpr std::size_t kChunkFrames = 4096;

double usableSeconds(double seconds) {
    return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0;
}

std::int64_t framesFor(double seconds) {
    return std::llround(seconds * kMixSampleRate);
}

// The crossfade between two consecutive clips: the setting, but at most half of either clip.
double joinSeconds(double crossfade, double before, double after) {
    return std::min({usableSeconds(crossfade), usableSeconds(before) / 2.0, usableSeconds(after) / 2.0});
}

// A counter-based generator (splitmix64): the dither of a sample depends only on the seed and the
// sample's place in the mix, so a mix started at any frame gives the same bytes there.
std::uint64_t mixBits(std::uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// TPDF dither of +-1 LSB for both channels of a frame: each the sum of two uniform values of +-0.5 LSB,
// from the four 16-bit parts of one 64-bit draw.
std::array<double, 2> ditherFor(std::uint32_t seed, std::int64_t frame) {
    const std::uint64_t bits =
        mixBits((static_cast<std::uint64_t>(seed) << 40) ^ static_cast<std::uint64_t>(frame));
    constexpr double kUnit = 1.0 / 65536.0;
    auto part = [&](int index) { return static_cast<double>((bits >> (16 * index)) & 0xFFFFu) * kUnit; };
    return {part(0) + part(1) - 1.0, part(2) + part(3) - 1.0};
}

std::int16_t toSample(double value) {
    const double scaled = std::floor(value + 0.5);
    return static_cast<std::int16_t>(std::clamp(scaled, -32768.0, 32767.0));
}

// A fade's gain at `frame` within [start, end): rising sin(pi/2 x) or falling cos(pi/2 x), x from 0 to 1.
double fadeGain(std::int64_t frame, std::int64_t start, std::int64_t end, bool rising) {
    const double x = static_cast<double>(frame - start) / static_cast<double>(end - start);
    const double angle = std::numbers::pi / 2.0 * std::clamp(x, 0.0, 1.0);
    return rising ? std::sin(angle) : std::cos(angle);
}

}  // namespace

std::vector<double> clipStartSeconds(const std::vector<double>& durations, double crossfadeSeconds) {
    std::vector<double> starts;
    starts.reserve(durations.size());
    double start = 0.0;
    for (std::size_t i = 0; i < durations.size(); ++i) {
        if (i > 0) {
            start += usableSeconds(durations[i - 1]) -
                     joinSeconds(crossfadeSeconds, durations[i - 1], durations[i]);
        }
        starts.push_back(start);
    }
    return starts;
}

double soundtrackSeconds(const std::vector<double>& durations, double crossfadeSeconds) {
    if (durations.empty()) return 0.0;
    return clipStartSeconds(durations, crossfadeSeconds).back() + usableSeconds(durations.back());
}

// One clip's slot in the mix and, while it sounds, its decoder.
struct SlotClip {
    std::string path;
    std::int64_t start = 0;  // mix frames: [start, end)
    std::int64_t end = 0;
    std::int64_t fadeInEnd = 0;     // [start, fadeInEnd): the crossfade with the clip before
    std::int64_t fadeOutStart = 0;  // [fadeOutStart, end): the crossfade with the clip after
    std::unique_ptr<AudioDecoder> decoder;
    bool finished = false;  // its decoder has ended, failed or could not be opened: the rest is silence

    double gainAt(std::int64_t frame) const {
        double gain = 1.0;
        if (frame < fadeInEnd) gain *= fadeGain(frame, start, fadeInEnd, true);
        if (frame >= fadeOutStart) gain *= fadeGain(frame, fadeOutStart, end, false);
        return gain;
    }
};

struct SoundtrackMix::State {
    MixSettings settings;
    AudioDecoderFactory open;
    std::vector<SlotClip> clips;
    std::int64_t position = 0;
    std::int64_t musicEnd = 0;
    std::int64_t fadeOutStart = 0;  // the show's fade-out: [fadeOutStart, showFrames), when the music lasts
    bool fadeOut = false;
    std::size_t nextClip = 0;           // the first clip whose slot has not been reached
    std::vector<std::size_t> sounding;  // clips whose slot holds the position (at most two, in order)
    std::vector<bool> unreadable;
    std::vector<float> decoded;
    std::vector<double> mixed;
    std::vector<unsigned char> audible;

    void layOut(const std::vector<MixClip>& given) {
        std::vector<double> durations;
        durations.reserve(given.size());
        for (const MixClip& clip : given) durations.push_back(usableSeconds(clip.durationSeconds));
        const std::vector<double> starts = clipStartSeconds(durations, settings.crossfadeSeconds);
        clips.resize(given.size());
        for (std::size_t i = 0; i < given.size(); ++i) {
            clips[i].path = given[i].path;
            clips[i].start = framesFor(starts[i]);
            clips[i].end = clips[i].start + framesFor(durations[i]);
        }
        for (std::size_t i = 0; i < clips.size(); ++i) {
            SlotClip& clip = clips[i];
            // Rounding may let a slot reach one frame into the slot after next; it ends there instead,
            // so no more than two clips ever sound together.
            if (i + 2 < clips.size()) clip.end = std::max(clip.start, std::min(clip.end, clips[i + 2].start));
            clip.fadeInEnd = clip.start;
            clip.fadeOutStart = clip.end;
        }
        for (std::size_t i = 0; i + 1 < clips.size(); ++i) {
            SlotClip& before = clips[i];
            SlotClip& after = clips[i + 1];
            const std::int64_t joinEnd = std::min(before.end, after.end);
            if (joinEnd > after.start) {
                after.fadeInEnd = joinEnd;
                before.fadeOutStart = after.start;
                before.end = joinEnd;
            }
        }
        for (const SlotClip& clip : clips) musicEnd = std::max(musicEnd, clip.end);
        unreadable.assign(clips.size(), false);

        const std::int64_t show = std::max<std::int64_t>(settings.showFrames, 0);
        const std::int64_t fadeFrames =
            std::clamp<std::int64_t>(framesFor(usableSeconds(settings.fadeOutSeconds)), 0, show);
        fadeOutStart = show - fadeFrames;
        fadeOut = fadeFrames > 0 && musicEnd >= show;
    }

    void markUnreadable(std::size_t index) { unreadable[index] = true; }

    void finish(std::size_t index) {
        SlotClip& clip = clips[index];
        if (clip.decoder && clip.decoder->failed()) markUnreadable(index);
        clip.decoder.reset();
        clip.finished = true;
    }

    // Reads `frames` frames of the clip into `decoded`; the count it got.
    std::size_t readClip(std::size_t index, std::size_t frames) {
        SlotClip& clip = clips[index];
        if (clip.finished || !clip.decoder) return 0;
        const std::size_t got = clip.decoder->read(decoded.data(), frames);
        if (got < frames) finish(index);
        return got;
    }

    // Opens a clip whose slot holds `frame`, decoding (and dropping) what lies before `frame`.
    void startClip(std::size_t index, std::int64_t frame) {
        SlotClip& clip = clips[index];
        AudioOpenResult result = AudioOpenResult::CannotOpen;
        clip.decoder = open ? open(clip.path, &result) : nullptr;
        if (!clip.decoder) {
            markUnreadable(index);
            clip.finished = true;
            return;
        }
        std::int64_t skip = frame - clip.start;
        while (skip > 0 && !clip.finished) {
            const auto step = static_cast<std::size_t>(std::min<std::int64_t>(skip, kChunkFrames));
            readClip(index, step);
            skip -= static_cast<std::int64_t>(step);
        }
    }

    // Brings the sounding clips up to `frame`: slots that ended are closed, slots that began are opened.
    // Slots wholly before `frame` (a start deep in the mix, clips of length 0) are never opened.
    void reach(std::int64_t frame) {
        std::erase_if(sounding, [&](std::size_t index) {
            if (clips[index].end > frame) return false;
            clips[index].decoder.reset();
            return true;
        });
        while (nextClip < clips.size() && clips[nextClip].start <= frame) {
            if (clips[nextClip].end > frame) {
                sounding.push_back(nextClip);
                startClip(nextClip, frame);
            }
            ++nextClip;
        }
    }

    void closeAll() {
        for (std::size_t index : sounding) clips[index].decoder.reset();
        sounding.clear();
        nextClip = clips.size();
    }

    // The frames from `frame` on (at most `limit`, never past the show's end) within which the sounding
    // clips stay the same.
    std::int64_t chunkLength(std::int64_t frame, std::int64_t limit) const {
        std::int64_t until = std::min(frame + limit, settings.showFrames);
        for (std::size_t index : sounding) until = std::min(until, clips[index].end);
        if (nextClip < clips.size()) until = std::min(until, clips[nextClip].start);
        return until - frame;
    }

    void mixChunk(std::int16_t* out, std::int64_t frame, std::size_t frames) {
        std::fill_n(mixed.begin(), 2 * frames, 0.0);
        std::fill_n(audible.begin(), frames, 0);
        for (std::size_t index : sounding) {
            const std::size_t got = readClip(index, frames);
            const SlotClip& clip = clips[index];
            const bool fading =
                frame < clip.fadeInEnd || frame + static_cast<std::int64_t>(got) > clip.fadeOutStart;
            for (std::size_t i = 0; i < got; ++i) {
                const double gain = fading ? clip.gainAt(frame + static_cast<std::int64_t>(i)) : 1.0;
                mixed[2 * i] += gain * decoded[2 * i];
                mixed[2 * i + 1] += gain * decoded[2 * i + 1];
                audible[i] = 1;
            }
        }
        const std::int64_t show = settings.showFrames;
        for (std::size_t i = 0; i < frames; ++i) {
            const std::int64_t at = frame + static_cast<std::int64_t>(i);
            if (!audible[i] || at >= show) {
                out[2 * i] = 0;
                out[2 * i + 1] = 0;
                continue;
            }
            const double gain =
                (fadeOut && at >= fadeOutStart ? fadeGain(at, fadeOutStart, show, false) : 1.0) * 32767.0;
            const std::array<double, 2> dither = ditherFor(settings.ditherSeed, at);
            out[2 * i] = toSample(mixed[2 * i] * gain + dither[0]);
            out[2 * i + 1] = toSample(mixed[2 * i + 1] * gain + dither[1]);
        }
    }
};

SoundtrackMix::SoundtrackMix(std::vector<MixClip> clips, MixSettings settings, AudioDecoderFactory open)
    : state_(std::make_unique<State>()) {
    state_->settings = settings;
    state_->open = std::move(open);
    state_->position = std::max<std::int64_t>(settings.startFrame, 0);
    state_->decoded.resize(2 * kChunkFrames);
    state_->mixed.resize(2 * kChunkFrames);
    state_->audible.resize(kChunkFrames);
    state_->layOut(clips);
}

SoundtrackMix::~SoundtrackMix() = default;

void SoundtrackMix::read(std::int16_t* out, std::size_t frames) {
    State& state = *state_;
    std::size_t done = 0;
    while (done < frames) {
        const std::int64_t frame = state.position;
        const auto left = static_cast<std::int64_t>(frames - done);
        const std::int64_t musicOver = std::min(state.musicEnd, state.settings.showFrames);
        if (frame >= musicOver) {
            // After the music or the show: silence for the rest, with every decoder closed.
            state.closeAll();
            std::fill_n(out + 2 * done, 2 * (frames - done), std::int16_t{0});
            state.position += left;
            return;
        }
        state.reach(frame);
        const std::int64_t length =
            std::max<std::int64_t>(1, state.chunkLength(frame, std::min<std::int64_t>(left, kChunkFrames)));
        state.mixChunk(out + 2 * done, frame, static_cast<std::size_t>(length));
        state.position += length;
        done += static_cast<std::size_t>(length);
    }
}

std::int64_t SoundtrackMix::position() const {
    return state_->position;
}

std::vector<std::string> SoundtrackMix::unreadableClips() const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < state_->clips.size(); ++i) {
        const std::string& path = state_->clips[i].path;
        if (state_->unreadable[i] && std::find(paths.begin(), paths.end(), path) == paths.end())
            paths.push_back(path);
    }
    return paths;
}

}  // namespace kestrelle
