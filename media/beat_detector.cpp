// Beats through libaubio's tempo tracker: the decoded stream mixed down to mono and fed in hops of 512
// frames (a 1024-frame window), as the tracker's "default" method expects at 44,100 Hz. The tracker
// places beats on its tempo grid, which it measures in whole hops (11.6 ms), so a predicted beat drifts
// from the music by up to a few hops before it corrects itself. An onset detector runs on the same hops;
// its onsets, also on the hop grid, are placed on the steepest rise of the sound's energy near them
// (1.5 ms steps), and each beat is moved onto the attack next to it, where a picture change should land.

#include "media/beat_detector.h"

#include "media/audio_decoder.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

namespace kestrelle {

namespace {

constexpr unsigned kWindow = 1024;
constexpr unsigned kHop = 512;
// How far a beat may be moved onto an onset: a few hops, and never more than a quarter of a beat.
constexpr double kSnapSeconds = 0.06;

// libaubio's detectors make and free FFTW plans, which FFTW does not allow on two threads at once; beat
// detections on different workers take turns for that.
std::mutex& planMutex() {
    static std::mutex mutex;
    return mutex;
}

struct TempoDeleter {
    void operator()(aubio_tempo_t* tempo) const {
        const std::lock_guard<std::mutex> guard(planMutex());
        del_aubio_tempo(tempo);
    }
};
struct OnsetDeleter {
    void operator()(aubio_onset_t* onset) const {
        const std::lock_guard<std::mutex> guard(planMutex());
        del_aubio_onset(onset);
    }
};
struct VectorDeleter {
    void operator()(fvec_t* vector) const { del_fvec(vector); }
};
using TempoPtr = std::unique_ptr<aubio_tempo_t, TempoDeleter>;
using OnsetPtr = std::unique_ptr<aubio_onset_t, OnsetDeleter>;
using VectorPtr = std::unique_ptr<fvec_t, VectorDeleter>;

// Frames of the onset search: from 20 ms before the detector's time to 40 ms after it (the detector
// reports about 50 ms after that time, so these samples have been read), in steps of 64 frames.
constexpr std::int64_t kSearchBefore = 882;
constexpr std::int64_t kSearchAfter = 1764;
constexpr std::int64_t kEnergyStep = 64;

// The last few thousand mono samples, to look at the sound around an onset once it is reported.
class RecentSamples {
public:
    void push(const smpl_t* samples, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            ring_[static_cast<std::size_t>(total_++) % ring_.size()] = samples[i];
    }
    std::int64_t oldest() const {
        return std::max<std::int64_t>(0, total_ - static_cast<std::int64_t>(ring_.size()));
    }
    std::int64_t total() const { return total_; }
    smpl_t at(std::int64_t frame) const { return ring_[static_cast<std::size_t>(frame) % ring_.size()]; }

private:
    std::array<smpl_t, 8192> ring_{};
    std::int64_t total_ = 0;
};

// The start of the 64-frame step where the energy rises most near `seconds`; `seconds` itself when
// the sound does not rise there.
double refineOnset(const RecentSamples& recent, double seconds) {
    const std::int64_t centre = std::llround(seconds * kMixSampleRate);
    const std::int64_t from = std::max(recent.oldest(), centre - kSearchBefore);
    const std::int64_t to = std::min(recent.total(), centre + kSearchAfter);
    double previous = -1.0;
    double bestRise = 0.0;
    std::int64_t best = -1;
    for (std::int64_t step = from; step + kEnergyStep <= to; step += kEnergyStep) {
        double energy = 0.0;
        for (std::int64_t i = step; i < step + kEnergyStep; ++i)
            energy += double(recent.at(i)) * recent.at(i);
        if (previous >= 0.0 && energy - previous > bestRise) {
            bestRise = energy - previous;
            best = step;
        }
        previous = energy;
    }
    return best < 0 ? seconds : static_cast<double>(best) / kMixSampleRate;
}

void appendAscending(std::vector<double>& times, double seconds) {
    if (seconds >= 0 && std::isfinite(seconds) && (times.empty() || seconds > times.back()))
        times.push_back(seconds);
}

// Each beat moved onto the nearest onset within `window`; beats without one stay where they are.
std::vector<double> snapToOnsets(const std::vector<double>& beats, const std::vector<double>& onsets,
                                 double window) {
    std::vector<double> snapped;
    snapped.reserve(beats.size());
    for (double beat : beats) {
        double best = beat;
        const auto next = std::lower_bound(onsets.begin(), onsets.end(), beat);
        double distance = window;
        if (next != onsets.end() && *next - beat <= distance) {
            distance = *next - beat;
            best = *next;
        }
        if (next != onsets.begin() && beat - *(next - 1) < distance) best = *(next - 1);
        appendAscending(snapped, best);
    }
    return snapped;
}

}  // namespace

BeatTrack detectBeats(const std::string& path, std::stop_token stop) {
    BeatTrack track;
    auto decoder = openAudioDecoder(path);
    if (!decoder) return track;
    char method[] = "default";
    TempoPtr tempo;
    OnsetPtr onset;
    {
        const std::lock_guard<std::mutex> guard(planMutex());
        tempo.reset(new_aubio_tempo(method, kWindow, kHop, kMixSampleRate));
        onset.reset(new_aubio_onset(method, kWindow, kHop, kMixSampleRate));
    }
    VectorPtr input(new_fvec(kHop));
    VectorPtr beat(new_fvec(1));
    VectorPtr attack(new_fvec(1));
    if (!tempo || !onset || !input || !beat || !attack) return track;
    // The tracker reports no beat in a hop it finds silent; a beat it predicts just before a sound
    // that follows digital silence (a click track, a song with a silent break) would be lost.
    // The same for an onset, which is reported a few hops after its attack: by then a short sound
    // may be over.
    aubio_tempo_set_silence(tempo.get(), -std::numeric_limits<smpl_t>::infinity());
    aubio_onset_set_silence(onset.get(), -std::numeric_limits<smpl_t>::infinity());

    std::vector<double> beats;
    std::vector<double> onsets;
    RecentSamples recent;
    std::vector<float> block(2 * kHop);
    for (;;) {
        if (stop.stop_requested()) return track;
        const std::size_t got = decoder->read(block.data(), kHop);
        if (got == 0) break;
        // A last hop shorter than the others is completed with silence.
        for (std::size_t i = 0; i < kHop; ++i)
            input->data[i] =
                i < got ? static_cast<smpl_t>(0.5f * (block[2 * i] + block[2 * i + 1])) : smpl_t{0};
        aubio_tempo_do(tempo.get(), input.get(), beat.get());
        aubio_onset_do(onset.get(), input.get(), attack.get());
        recent.push(input->data, kHop);
        if (beat->data[0] != 0) appendAscending(beats, aubio_tempo_get_last_s(tempo.get()));
        if (attack->data[0] != 0)
            appendAscending(onsets, refineOnset(recent, aubio_onset_get_last_s(onset.get())));
        if (got < kHop) break;
    }
    track.beatsPerMinute = aubio_tempo_get_bpm(tempo.get());
    if (!std::isfinite(track.beatsPerMinute) || track.beatsPerMinute < 0) track.beatsPerMinute = 0.0;
    const double window =
        track.beatsPerMinute > 0 ? std::min(kSnapSeconds, 60.0 / track.beatsPerMinute / 4) : kSnapSeconds;
    track.beatSeconds = snapToOnsets(beats, onsets, window);
    track.complete = !decoder->failed();
    return track;
}

}  // namespace kestrelle
