#include "output/generation_job.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "config/settings_store.h"
#include "media/soundtrack_mix.h"
#include "output/soundtrack_prefetch.h"
#include "project/show_frames.h"
#include "project/slide_pictures.h"
#include "project/slideshow_project.h"
#include "project/soundtrack_plan.h"
#include "project/timeline.h"
#include "render/loading_threads.h"
#include "render/moving_frames.h"
#include "render/photo_loader.h"
#include "render/transition_style.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <set>
#include <string_view>
#include <system_error>
#include <vector>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "DlgGenerate.cpp";
constexpr const char* kInitFailedText = "Init Avi codec failed!";
constexpr const char* kEncodeFailedText = "Failed to encode AVI video. Please check AVI codec settings.";
constexpr const char* kMp4InitFailedText =
    "The MP4 file could not be started. Please check the H.264 settings.";
constexpr const char* kMp4EncodeFailedText = "Failed to encode MP4 video. Please check the H.264 settings.";
constexpr int kAudioValuesPerFrame = 8;

// A moving photo's still frames drawn one ahead on a thread of their own, so that drawing a frame
// overlaps encoding the one before it.
class FramesAhead {
public:
    FramesAhead(const MovingPhoto& photo, double framesPerSecond, int firstFrame)
        : photo_(photo), fps_(framesPerSecond), first_(firstFrame) {}

    // Frame `index` of the still (shown at (firstFrame + index) / fps); starts drawing the one after it
    // when `more` says there is one. The picture stays valid until the next call.
    const QImage& frame(int index, bool more) {
        QImage& wanted = buffers_[index % 2];
        if (pending_.valid() && pendingIndex_ == index) {
            pending_.get();
        } else {
            if (pending_.valid()) pending_.get();
            photo_.draw(seconds(index), wanted);
        }
        if (more) {
            QImage& following = buffers_[(index + 1) % 2];
            try {
                pending_ = std::async(std::launch::async, [this, &following, index] {
                    photo_.draw(seconds(index + 1), following);
                });
                pendingIndex_ = index + 1;
            } catch (const std::system_error&) {
                // No thread to be had: the next frame is drawn when it is asked for.
            }
        }
        return wanted;
    }

private:
    double seconds(int index) const { return (first_ + index) / fps_; }

    const MovingPhoto& photo_;
    const double fps_;
    const int first_;
    QImage buffers_[2];
    std::future<void> pending_;  // declared last: waited for before the buffers go
    int pendingIndex_ = -1;
};

// The picture's rows bottom-up in `rows` (reused from frame to frame); returns its bytes.
const std::uint8_t* turnedOver(const QImage& picture, std::vector<std::uint8_t>& rows) {
    const std::size_t rowBytes = static_cast<std::size_t>(picture.width()) * 4u;
    const int height = picture.height();
    rows.resize(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        std::memcpy(rows.data() + static_cast<std::size_t>(height - 1 - y) * rowBytes,
                    picture.constScanLine(y), rowBytes);
    return rows.data();
}

// Silence handed to the writer with every still frame.
const std::int16_t* silentAudio() {
    static const std::array<std::int16_t, 256> block{};
    return block.data();
}

}  // namespace

std::optional<GenerationSetup> generationSetupFor(const SettingsStore& store, const OutputProfile* profile,
                                                  const std::string& outputPath) {
    if (!profile) return std::nullopt;
    const CodecEntry* codec = store.findCodec(profile->CodecName);
    if (!codec) codec = store.firstCodec();
    if (!codec) return std::nullopt;
    GenerationSetup setup;
    setup.width = profile->ResWidth;
    setup.height = profile->ResHeight;
    setup.framesPerSecond = frameRateForIndex(profile->FrameRate);
    setup.compressorType = codec->type;
    setup.compressorHandler = codec->handler;
    setup.codecState = codec->state;
    setup.container = codec->container;
    setup.videoBitRateKbps = profile->VideoBR > 0 ? profile->VideoBR : 0;
    setup.outputPath = outputPath;
    setup.audioFadeSeconds = store.settings().AudioFadeSeconds;
    setup.audioBitRateKbps = audioBitRateKbps(profile->AudioBR);
    return setup;
}

std::int64_t elapsedSeconds(const std::vector<std::int64_t>& timeMarks, std::int64_t now) {
    if (timeMarks.size() % 2 == 0 || timeMarks.back() > now) return 0;
    std::int64_t elapsed = now - timeMarks.front();
    for (std::size_t k = 1; k + 1 < timeMarks.size(); k += 2) elapsed -= timeMarks[k + 1] - timeMarks[k];
    return elapsed;
}

std::int64_t leftSeconds(std::int64_t elapsed, std::int64_t upper, std::int64_t position) {
    if (position < 0) position = 0;
    return (upper - position) * elapsed / (position + 1);
}

std::string formatClockTime(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

// The soundtrack's samples for the video's frames, in order. The mix is read ahead by the writer's
// decoding delay, and each frame takes the samples that bring the stream level with it. The mix is
// made on a thread of its own, beside the frames (SoundtrackPrefetch).
class SoundtrackFeed {
public:
    SoundtrackFeed(const SlideShowProject& project, const GenerationSetup& setup, std::int64_t delayFrames,
                   std::function<void(const std::string&)> clipNotRead)
        : project_(project),
          setup_(setup),
          delay_(std::max<std::int64_t>(delayFrames, 0)),
          clipNotRead_(std::move(clipNotRead)),
          clips_(mixClipsFor(project)) {
        showFrames_ = jobVideoFrames(project, setup.framesPerSecond, VideoSize{setup.width, setup.height});
        settings_.crossfadeSeconds = setup.audioFadeSeconds;
        settings_.fadeOutSeconds = setup.audioFadeSeconds;
        settings_.showFrames = audioFramesForVideo(showFrames_, setup.framesPerSecond);
        settings_.startFrame = delay_;
        mix_ = std::make_unique<SoundtrackPrefetch>(clips_, settings_);
        KESTRELLE_LOG_AS(kLogSource, 0, "Soundtrack: %d clips, fade %.2f s, %lld video frames, delay %lld.",
                         static_cast<int>(clips_.size()), setup.audioFadeSeconds,
                         static_cast<long long>(showFrames_), static_cast<long long>(delay_));
    }

    // The interleaved samples of the next frame and their count (left and right counted apart).
    const std::int16_t* nextFrame(int& valueCount) {
        const std::int64_t frames = streamFramesBefore(frame_ + 1) - streamFramesBefore(frame_);
        ++frame_;
        samples_.resize(2 * static_cast<std::size_t>(std::max<std::int64_t>(frames, 0)));
        if (frames > 0) mix_->read(samples_.data(), static_cast<std::size_t>(frames));
        reportUnreadClips();
        valueCount = static_cast<int>(samples_.size());
        return samples_.data();
    }

    // Between slides: a transition picked at random may take another number of frames than foreseen;
    // the mix then ends (and fades out) with the show's new length, from where it stands.
    void followShowLength(const ShowPosition& position) {
        const std::int64_t frames = jobVideoFrames(project_, setup_.framesPerSecond,
                                                   VideoSize{setup_.width, setup_.height}, position);
        if (frames == showFrames_) return;
        KESTRELLE_LOG_AS(kLogSource, 0, "Soundtrack follows the show's length: %lld frames instead of %lld.",
                         static_cast<long long>(frames), static_cast<long long>(showFrames_));
        showFrames_ = frames;
        settings_.showFrames = audioFramesForVideo(frames, setup_.framesPerSecond);
        mix_->restart(settings_);
    }

private:
    // The stream's samples after `videoFrames` frames: the audio of those frames less the delay.
    std::int64_t streamFramesBefore(std::int64_t videoFrames) const {
        return std::max<std::int64_t>(audioFramesForVideo(videoFrames, setup_.framesPerSecond) - delay_, 0);
    }

    void reportUnreadClips() {
        for (const std::string& path : mix_->unreadableClips()) {
            if (!reported_.insert(path).second) continue;
            KESTRELLE_LOG_AS(kLogSource, 0, "Soundtrack clip not read: %s", path.c_str());
            if (clipNotRead_) clipNotRead_(path);
        }
    }

    const SlideShowProject& project_;
    const GenerationSetup& setup_;
    const std::int64_t delay_;
    const std::function<void(const std::string&)> clipNotRead_;
    const std::vector<MixClip> clips_;
    MixSettings settings_;
    std::unique_ptr<SoundtrackPrefetch> mix_;
    std::int64_t showFrames_ = 0;
    std::int64_t frame_ = 0;  // video frames handed their samples so far
    std::vector<std::int16_t> samples_;
    std::set<std::string> reported_;
};

namespace {

// Hands an effect's frames to the container writer, through the job's pause gate and cancel test. The
// effects draw top row first, as on screen; the writer takes rows bottom-up, so each frame's rows are
// turned over on the way.
class JobFrameWriter final : public FrameWriter {
public:
    // With a soundtrack, frames carry its samples instead of the effect's silence.
    JobFrameWriter(ContainerWriter& writer, std::function<bool()> mayWrite, SoundtrackFeed* soundtrack)
        : writer_(writer), mayWrite_(std::move(mayWrite)), soundtrack_(soundtrack) {}

    bool writeFrame(const std::uint8_t* pixels, int width, int height, const std::uint8_t* audio,
                    int sampleCount) override {
        if (!mayWrite_()) return false;
        std::array<std::int16_t, kAudioValuesPerFrame> silence{};
        const std::int16_t* samples = silence.data();
        if (soundtrack_) {
            samples = soundtrack_->nextFrame(sampleCount);
        } else {
            std::memcpy(silence.data(), audio,
                        sizeof(std::int16_t) * std::min(sampleCount, kAudioValuesPerFrame));
        }
        const std::size_t rowBytes = static_cast<std::size_t>(std::max(width, 0)) * 4u;
        const std::size_t rows = static_cast<std::size_t>(std::max(height, 0));
        bottomUp_.resize(rowBytes * rows);
        for (std::size_t row = 0; row < rows; ++row)
            std::memcpy(bottomUp_.data() + (rows - 1 - row) * rowBytes, pixels + row * rowBytes, rowBytes);
        if (writer_.writeFrame(bottomUp_.data(), samples, sampleCount)) return true;
        writeFailed = true;
        return false;
    }

    bool writeFailed = false;

private:
    ContainerWriter& writer_;
    std::function<bool()> mayWrite_;
    SoundtrackFeed* soundtrack_;          // none without clips
    std::vector<std::uint8_t> bottomUp_;  // the frame being written, rows bottom-up
};

// The slides' pictures, loaded in order on a thread of their own at most two slides ahead of the one
// being written. Each load waits for the one before it and decodes on its thread alone, so loads never
// compete with each other or with helper threads for a core the encoder could use.
class PictureQueue {
public:
    using Loader = std::function<SlidePicture(int index)>;
    static constexpr int kAhead = 2;

    // KESTRELLE_LOAD_AHEAD=0 (benchmarks) loads each picture when it is needed instead.
    explicit PictureQueue(Loader load) : load_(std::move(load)) {
        const char* ahead = std::getenv("KESTRELLE_LOAD_AHEAD");
        ahead_ = ahead && std::string_view(ahead) == "0" ? 0 : kAhead;
    }

    // Starts loading the pictures from `first` until kAhead are waiting (the picture after the last
    // slide, the closing black, included: index `slideCount`).
    void prefetch(int first, int slideCount) {
        int next = loads_.empty() ? first : loads_.back().first + 1;
        next = std::max(next, first);
        while (static_cast<int>(loads_.size()) < ahead_ && next <= slideCount) {
            std::shared_future<SlidePicture> before =
                loads_.empty() ? std::shared_future<SlidePicture>() : loads_.back().second;
            loads_.emplace_back(next, std::async(std::launch::async, [this, next, before] {
                                          if (before.valid()) before.wait();
                                          // Beside the encoder, a second decoding thread would
                                          // only take its time.
                                          const PhotoLoadingOnOneThread alone;
                                          return load_(next);
                                      }).share());
            ++next;
        }
    }

    // The picture of slide `index`: loaded ahead, handed back, or loaded now.
    SlidePicture take(int index) {
        while (!loads_.empty() && loads_.front().first < index) loads_.pop_front();
        if (!loads_.empty() && loads_.front().first == index) {
            SlidePicture picture = loads_.front().second.get();
            loads_.pop_front();
            return picture;
        }
        return load_(index);
    }

    // A picture taken early that is needed again (the next slide's, taken for the transition into it).
    void putBack(int index, SlidePicture picture) {
        std::promise<SlidePicture> ready;
        ready.set_value(std::move(picture));
        loads_.emplace_front(index, ready.get_future().share());
    }

private:
    Loader load_;
    int ahead_ = kAhead;
    std::deque<std::pair<int, std::shared_future<SlidePicture>>> loads_;
};

}  // namespace

GenerationJob::GenerationJob(const SlideShowProject& project, std::optional<GenerationSetup> setup,
                             Callbacks callbacks)
    : project_(project),
      setup_(std::move(setup)),
      callbacks_(std::move(callbacks)),
      clock_([] { return static_cast<std::int64_t>(std::time(nullptr)); }),
      writer_(setup_ ? createContainerWriter(setup_->container) : nullptr) {}

const char* GenerationJob::initFailedText() const {
    return setup_ && setup_->container == ContainerFormat::Mp4 ? kMp4InitFailedText : kInitFailedText;
}

const char* GenerationJob::encodeFailedText() const {
    return setup_ && setup_->container == ContainerFormat::Mp4 ? kMp4EncodeFailedText : kEncodeFailedText;
}

bool GenerationJob::running() const {
    std::lock_guard<std::mutex> guard(lock_);
    return running_;
}

bool GenerationJob::completed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return completed_;
}

bool GenerationJob::cancelRequested() const {
    std::lock_guard<std::mutex> guard(lock_);
    return cancelRequested_;
}

std::vector<std::int64_t> GenerationJob::timeMarks() const {
    std::lock_guard<std::mutex> guard(lock_);
    return timeMarks_;
}

int GenerationJob::progressUpper() const {
    std::lock_guard<std::mutex> guard(lock_);
    return progressUpper_;
}

int GenerationJob::progressPosition() const {
    std::lock_guard<std::mutex> guard(lock_);
    return progressPosition_;
}

std::string GenerationJob::elapsedText(std::int64_t nowSeconds) const {
    return formatClockTime(elapsedSeconds(timeMarks(), nowSeconds));
}

std::string GenerationJob::leftText(std::int64_t nowSeconds) const {
    const std::int64_t elapsed = elapsedSeconds(timeMarks(), nowSeconds);
    std::lock_guard<std::mutex> guard(lock_);
    return formatClockTime(leftSeconds(elapsed, progressUpper_, progressPosition_));
}

bool GenerationJob::writing() const {
    std::lock_guard<std::mutex> guard(lock_);
    return writing_;
}

bool GenerationJob::togglePause(std::int64_t nowSeconds) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!writing_) return false;
        timeMarks_.push_back(nowSeconds);
        running_ = !running_;
    }
    resumed_.notify_all();
    return true;
}

void GenerationJob::requestCancel() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        cancelRequested_ = true;
    }
    resumed_.notify_all();
}

void GenerationJob::setCompleted(bool value) {
    std::lock_guard<std::mutex> guard(lock_);
    completed_ = value;
}

void GenerationJob::advanceProgress(int position) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        progressPosition_ = position;
    }
    if (callbacks_.progressPosition) callbacks_.progressPosition(position);
}

// The gate between frames: waits while paused; Stop once a cancel was asked for.
GenerationJob::Step GenerationJob::waitWhilePausedOrCancelled() {
    std::unique_lock<std::mutex> guard(lock_);
    if (!cancelRequested_ && !running_ && callbacks_.heldByPause) {
        const int position = progressPosition_;
        guard.unlock();
        callbacks_.heldByPause(position);
        guard.lock();
    }
    resumed_.wait(guard, [this] { return cancelRequested_ || running_; });
    return cancelRequested_ ? Step::Stop : Step::Continue;
}

// The slide's picture, or black after the last slide, top row first as on screen: the effects place
// their rectangles in screen coordinates. Frames are turned bottom-up when written.
SlidePicture GenerationJob::loadPicture(int slideIndex) const {
    bool decoded = false;
    SlidePicture result = slidePicture(project_, slideIndex, QSize(setup_->width, setup_->height),
                                       callbacks_.findFaces, &decoded);
    const Slide* slide = project_.slide(slideIndex);
    const bool isPhoto = slide && slide->hasPhoto && slideIndex < project_.photoSlideCount();
    if (isPhoto && !decoded && callbacks_.photoNotDecoded) callbacks_.photoNotDecoded(slide->photoPath);
    if (result.moves()) return result;
    QImage& picture = result.still;
    if (picture.isNull() || picture.width() != setup_->width || picture.height() != setup_->height) {
        picture = QImage(setup_->width, setup_->height, QImage::Format_RGB32);
        picture.fill(0xFF000000u);
    }
    return result;
}

void GenerationJob::run() {
    if (!setup_ || !writer_) {
        setCompleted(false);
        return;
    }
    const double fps = setup_->framesPerSecond;
    const double totalSeconds = project_.totalDuration();
    const int budget = frameBudget(totalSeconds, fps);
    KESTRELLE_LOG_AS(kLogSource, 0, "Total duration %.2f,Frame rate %.2f", totalSeconds, fps);
    {
        std::lock_guard<std::mutex> guard(lock_);
        progressUpper_ = budget;
    }
    if (callbacks_.progressRange) callbacks_.progressRange(budget);

    ContainerWriterOptions options;
    options.path = setup_->outputPath;
    // Room for every counted frame and the closing one; a saturated budget keeps the limit at INT_MAX.
    options.frameLimit = budget < std::numeric_limits<int>::max() ? budget + 1 : budget;
    options.width = setup_->width;
    options.height = setup_->height;
    options.framesPerSecond = fps;
    options.layout = FrameLayout::Rgb32BottomUp;
    options.compressorType = setup_->compressorType;
    options.compressorHandler = setup_->compressorHandler;
    if (setup_->codecState) options.codecState = *setup_->codecState;
    options.videoBitRateKbps = setup_->videoBitRateKbps;
    options.audio = true;
    const bool withSoundtrack = !project_.clips().empty();
    if (setup_->container == ContainerFormat::Mp4) options.audioBitRateKbps = setup_->audioBitRateKbps;
    if (withSoundtrack) {
        options.audioBitRateKbps = setup_->audioBitRateKbps;
        options.audioDelayCompensated = true;
        options.audioOnItsOwnThread = true;
    }
    options.frameObserver = callbacks_.frameTaken;
    options.fileBufferBytes = setup_->writerFileBufferBytes;
    ContainerWriter& writer = *writer_;
    const WriterError opened = writer.open(options);
    KESTRELLE_LOG_AS(kLogSource, 0, "Total Frames %d", budget);
    if (opened != WriterError::Ok) {
        showMessage(initFailedText(), MessageFlags::kWarningOk);
        setCompleted(false);
    } else {
        {
            std::lock_guard<std::mutex> guard(lock_);
            writing_ = true;
            running_ = true;
            timeMarks_.push_back(clock_());
        }
        std::unique_ptr<SoundtrackFeed> soundtrack;
        if (withSoundtrack)
            soundtrack = std::make_unique<SoundtrackFeed>(project_, *setup_, writer.audioDelayFrames(),
                                                          callbacks_.clipNotRead);
        writeSlides(writer, budget, soundtrack.get());
        std::lock_guard<std::mutex> guard(lock_);
        writing_ = false;
    }
    if (!writer.close() && completed()) {
        // The file could not be finished: never report it as done.
        showMessage(encodeFailedText(), MessageFlags::kWarningOk);
        setCompleted(false);
    }
}

void GenerationJob::writeSlides(ContainerWriter& writer, int budget, SoundtrackFeed* soundtrack) {
    const double fps = setup_->framesPerSecond;
    const int slideCount = project_.cellCount() - project_.placeholderCount();
    KESTRELLE_LOG_AS(kLogSource, 0, "Generate slide count %d", slideCount);

    JobFrameWriter effectWriter(
        writer, [this] { return waitWhilePausedOrCancelled() == Step::Continue; }, soundtrack);
    // Each frame's audio: the soundtrack's samples, or the silence every frame always carried.
    int audioValues = kAudioValuesPerFrame;
    auto frameAudio = [soundtrack, &audioValues]() -> const std::int16_t* {
        audioValues = kAudioValuesPerFrame;
        return soundtrack ? soundtrack->nextFrame(audioValues) : silentAudio();
    };
    const ProgressCallback effectProgress = [this](int counter) { advanceProgress(counter); };
    int frameCounter = 0;

    // Each photo is loaded once, up to two slides ahead on a thread of their own while this slide's
    // frames are encoded (one load after the other, so they never compete with each other), and the
    // picture an effect led to becomes the next slide's picture.
    PictureQueue pictures([this](int index) { return loadPicture(index); });
    pictures.prefetch(0, slideCount);
    // Frames of the slide's span shown so far: its incoming transition's, then its own.
    int spanFrames = 0;
    std::vector<std::uint8_t> movingRows;  // a moving frame's rows bottom-up, as the writer takes them
    for (int i = 0; i < slideCount; ++i) {
        if (cancelRequested()) return;
        const Slide* slide = project_.slide(i);
        KESTRELLE_LOG_AS(kLogSource, 0, "Generate slide index %d,Transition %d", i, slide->transitionEffect);
        const SlidePicture current = pictures.take(i);
        pictures.prefetch(i + 1, slideCount);

        const int stillFrames = slideFrameCount(slide->slideDuration, fps);
        // One bottom-up copy serves every still frame of a slide that does not move.
        const QImage still =
            stillFrames > 0 && !current.moves() ? current.still.mirrored(false, true) : QImage();
        writer.announceStill(current.moves() ? 0 : stillFrames);
        std::optional<FramesAhead> ahead;
        if (current.moves()) ahead.emplace(*current.moving, fps, spanFrames);
        for (int frame = 0; frame < stillFrames; ++frame) {
            if (waitWhilePausedOrCancelled() == Step::Stop) return;
            advanceProgress(++frameCounter);
            if (frameCounter >= budget) {
                setCompleted(true);
                return;
            }
            const std::int16_t* audio = frameAudio();
            const std::uint8_t* pixels = still.constBits();
            if (ahead) pixels = turnedOver(ahead->frame(frame, frame + 1 < stillFrames), movingRows);
            if (!writer.writeFrame(pixels, audio, audioValues)) {
                showMessage(encodeFailedText(), MessageFlags::kWarningOk);
                return;
            }
        }
        spanFrames += stillFrames;

        const SlidePicture next = pictures.take(i + 1);
        int transitionFrames = 0;
        if (const TransitionStyle* style = TransitionRegistry::instance().find(slide->transitionEffect)) {
            const double need = fps * slide->transitionDuration;
            if (current.moves() || next.moves()) {
                QImage canvas = labelPicture(setup_->width, setup_->height, false);
                const QImage source = labelPicture(setup_->width, setup_->height, true);
                MovingTransitionWriter moving(effectWriter, current, next, spanFrames / fps, fps);
                style->renderToVideo(canvas, source, need, moving, frameCounter, budget, effectProgress);
                transitionFrames = moving.framesWritten();
            } else {
                QImage canvas = current.still;
                transitionFrames = style
                                       ->renderToVideo(canvas, next.still, need, effectWriter, frameCounter,
                                                       budget, effectProgress)
                                       .written;
            }
        } else {
            // The project never stores such a number; should one arrive all the same, say so instead of
            // silently making the video shorter.
            KESTRELLE_LOG_AS(kLogSource, 0,
                             "Slide %d has no transition effect %d; its transition is left out.", i,
                             slide->transitionEffect);
            if (callbacks_.unknownEffect) callbacks_.unknownEffect(i, slide->transitionEffect);
        }
        if (effectWriter.writeFailed) {
            showMessage(encodeFailedText(), MessageFlags::kWarningOk);
            return;
        }
        if (soundtrack && slide->transitionEffect == 0)
            soundtrack->followShowLength({i + 1, frameCounter, writer.framesWritten()});
        // The picture the effect led to is the next slide's photo: hand it on instead of loading it again.
        pictures.putBack(i + 1, next);
        spanFrames = transitionFrames;
    }
    if (cancelRequested()) return;

    // The closing black frame.
    QImage black(setup_->width, setup_->height, QImage::Format_RGB32);
    black.fill(0u);
    const std::int16_t* audio = frameAudio();
    if (!writer.writeFrame(black.constBits(), audio, audioValues)) {
        showMessage(encodeFailedText(), MessageFlags::kWarningOk);
        return;
    }
    setCompleted(true);
}

}  // namespace kestrelle
