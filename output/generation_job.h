#pragma once
// The generation job: renders a slideshow project frame by frame into one video file, through a
// container writer of its own (media/container_writer.h; the setup's format picks it, AVI today). The
// worker body runs on a thread of the caller's; the window (or the headless renderer) pauses, resumes and
// cancels it and reads its progress and times.
//
// Sound: a project with soundtrack clips gets their mix (media/soundtrack_mix.h) as the video's audio.
// Frame n carries the mix's samples from audioFramesForVideo(n) to audioFramesForVideo(n + 1), read
// ahead by the stream's decoding delay, so that a sound at time t of the music is heard at time t of
// the video and the audio ends with the last frame. The mix is made on a read-ahead thread
// (output/soundtrack_prefetch.h) and the writer encodes the MP3 on a thread of its own, both beside
// the frames. Without clips every frame carries the silence it always did, and the file is the same to
// the byte.

#include "media/container_writer.h"
#include "render/moving_photo.h"

#include <QImage>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kestrelle {

class SlideShowProject;
class SettingsStore;
class SoundtrackFeed;
struct OutputProfile;
struct SlidePicture;

// What the job takes from the output profile, the codec list and the settings.
struct GenerationSetup {
    int width = 0;
    int height = 0;
    double framesPerSecond = 29.97;
    std::uint32_t compressorType = 0;
    std::uint32_t compressorHandler = 0;
    std::optional<std::vector<std::uint8_t>> codecState;
    std::string outputPath;  // the file to write
    // The codec entry's container; MP4 files take the profile's video bit rate as their average rate
    // (when the H.264 settings ask for one) and always carry the profile's audio bit rate.
    ContainerFormat container = ContainerFormat::Avi;
    int videoBitRateKbps = 0;
    // With soundtrack clips: the crossfade between clips and the fade-out at the show's end, in seconds,
    // and the MP3 stream's bit rate (the profile's). Without clips the audio stays the silent stream it
    // always was, at the encoder's own rate.
    double audioFadeSeconds = 2.0;
    int audioBitRateKbps = 192;
    // Tests: the writer's file buffer size (ContainerWriterOptions::fileBufferBytes).
    std::optional<std::size_t> writerFileBufferBytes;
};

// The setup for `profile` and its codec (the first codec when the profile names none that is listed),
// writing to `outputPath`, with the store's music fade. None without a profile or without any codec. The
// application passes the store's current profile.
std::optional<GenerationSetup> generationSetupFor(const SettingsStore& store, const OutputProfile* profile,
                                                  const std::string& outputPath);

// Whole seconds of writing: from the first time mark to `now`, paused spans left out. 0 unless the
// marks are an odd count (writing, not paused) and the last is not later than `now`.
std::int64_t elapsedSeconds(const std::vector<std::int64_t>& timeMarks, std::int64_t now);
// Whole seconds still to go at progress `position` of `upper`: (upper - position) x elapsed / (position + 1).
std::int64_t leftSeconds(std::int64_t elapsed, std::int64_t upper, std::int64_t position);
// "HH:MM:SS" (hours may exceed 23).
std::string formatClockTime(std::int64_t seconds);

class GenerationJob {
public:
    struct Callbacks {
        std::function<void(int upper)> progressRange;                  // called once, before the first frame
        std::function<void(int position)> progressPosition;            // after each counted frame
        std::function<void(const std::string& path)> photoNotDecoded;  // a photo rendered as black
        std::function<void(int slide, int effect)> unknownEffect;      // a transition left out
        FrameObserver frameTaken;  // benchmarks: every frame the writer takes, before compression
        std::function<void(int position)> heldByPause;  // the worker starts waiting at the pause gate
        // A soundtrack clip that could not be read (or stopped early): its part of the video is silent.
        // Called once per file, from the worker, while the job goes on.
        std::function<void(const std::string& path)> clipNotRead;
        // Finds faces for moving and filling photos (render/moving_photo.h); none keeps no faces.
        FaceFinder findFaces;
    };

    // `setup` none: the job ends at once without a file (no current profile). The project must stay
    // unchanged while the job runs.
    GenerationJob(const SlideShowProject& project, std::optional<GenerationSetup> setup,
                  Callbacks callbacks = {});
    GenerationJob(const GenerationJob&) = delete;
    GenerationJob& operator=(const GenerationJob&) = delete;

    // The worker body: opens the writer, writes every frame, closes the writer.
    void run();

    // Pause / Resume: toggles `running`, records a time mark; the worker waits between frames while
    // paused. `nowSeconds` is the wall clock in whole seconds. Does nothing (and returns false) until
    // the writer is open and once the job has ended, so the marks stay in step with the writing.
    bool togglePause(std::int64_t nowSeconds);
    // Whether the writer is open and the worker has not ended yet.
    bool writing() const;
    // Asks the worker to stop before its next frame (a paused worker is let go first).
    void requestCancel();

    bool running() const;
    bool completed() const;
    bool cancelRequested() const;
    std::vector<std::int64_t> timeMarks() const;
    int progressUpper() const;
    int progressPosition() const;

    // The times the dialog shows, at `nowSeconds`.
    std::string elapsedText(std::int64_t nowSeconds) const;
    std::string leftText(std::int64_t nowSeconds) const;

    // The wall clock the job stamps its first mark with (whole seconds); replaceable for tests.
    void setClock(std::function<std::int64_t()> clock) { clock_ = std::move(clock); }

private:
    enum class Step { Continue, Stop };

    void writeSlides(ContainerWriter& writer, int budget, SoundtrackFeed* soundtrack);
    Step waitWhilePausedOrCancelled();
    // The failure texts of the setup's container.
    const char* initFailedText() const;
    const char* encodeFailedText() const;
    void setCompleted(bool value);
    void advanceProgress(int position);
    SlidePicture loadPicture(int slideIndex) const;

    const SlideShowProject& project_;
    const std::optional<GenerationSetup> setup_;
    const Callbacks callbacks_;
    std::function<std::int64_t()> clock_;
    const std::unique_ptr<ContainerWriter> writer_;  // none without a setup; used by the worker only

    mutable std::mutex lock_;
    std::condition_variable resumed_;
    bool cancelRequested_ = false;
    bool writing_ = false;
    bool running_ = false;
    bool completed_ = false;
    std::vector<std::int64_t> timeMarks_;
    int progressUpper_ = 0;
    int progressPosition_ = 0;
};

}  // namespace kestrelle
