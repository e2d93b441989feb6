#include "preview/ui/preview_player.h"

#include "config/output_profile.h"
#include "config/settings_store.h"
#include "config/ui/dialog_units.h"
#include "preview/qt_audio_output.h"
#include "project/slideshow_project.h"
#include "project/soundtrack_plan.h"
#include "project/timeline.h"

#include <QCloseEvent>
#include <QPainter>

#include <cmath>

namespace kestrelle {

namespace {

constexpr int kInset = 10;
constexpr int kWidthUnits = 358;
constexpr int kHeightUnits = 209;

double profileFrameRate(const OutputProfile* profile) {
    return frameRateForIndex(profile ? profile->FrameRate : 0);
}

PreviewSoundOptions storedSoundOptions(const OutputProfile* profile) {
    const AppSettings& settings = SettingsStore::instance().settings();
    PreviewSoundOptions options;
    if (profile) options.videoSize = VideoSize{profile->ResWidth, profile->ResHeight};
    options.fadeSeconds = settings.AudioFadeSeconds;
    options.volumeSetting = settings.PreviewVolume;
    return options;
}

}  // namespace

// Hands copies of the worker's pictures to the window; only the user-interface thread paints.
class PreviewPlayer::Presenter final : public FramePresenter {
public:
    explicit Presenter(PreviewPlayer& player) : player_(player) {}

    void present(const QImage& picture, int, int) override {
        QImage copy = picture.copy();
        bool post = false;
        {
            std::lock_guard<std::mutex> guard(player_.pictureLock_);
            player_.pending_ = std::move(copy);
            post = !player_.updatePending_;
            player_.updatePending_ = true;
        }
        if (post)
            QMetaObject::invokeMethod(
                &player_, [this] { player_.takePicture(); }, Qt::QueuedConnection);
    }

private:
    PreviewPlayer& player_;
};

PreviewPlayer::PreviewPlayer(const SlideShowProject& project, const OutputProfile* profile, QWidget* parent)
    : PreviewPlayer(project, profileFrameRate(profile), nullptr, parent, storedSoundOptions(profile)) {}

PreviewPlayer::PreviewPlayer(const SlideShowProject& project, double framesPerSecond, Sleeper* sleeper,
                             QWidget* parent, PreviewSoundOptions sound)
    : QDialog(parent),
      project_(project),
      framesPerSecond_(framesPerSecond),
      givenSleeper_(sleeper),
      presenter_(std::make_unique<Presenter>(*this)),
      soundOptions_(sound) {
    setWindowTitle(QStringLiteral("Preview"));
    setModal(true);
    const DialogUnitScale units(font());
    setFixedSize(units.x(kWidthUnits), units.y(kHeightUnits));
    setAccessibleName(QStringLiteral("Preview"));
}

PreviewPlayer::~PreviewPlayer() {
    stopSound();
    if (worker_.active()) stopWorker();
}

QImage PreviewPlayer::shownPicture() const {
    return shown_;
}

void PreviewPlayer::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!started_) startWorker();
}

void PreviewPlayer::startWorker() {
    started_ = true;
    previewRect_ = rect().adjusted(kInset, kInset, -kInset, -kInset);
    // Pictures are made in device pixels, so they stay sharp on a high-density screen.
    pixelRatio_ = devicePixelRatioF();
    const int width = static_cast<int>(std::lround(previewRect_.width() * pixelRatio_));
    const int height = static_cast<int>(std::lround(previewRect_.height() * pixelRatio_));
    Sleeper& sleeper = givenSleeper_ ? *givenSleeper_ : static_cast<Sleeper&>(pacedSleeper_);
    playback_ =
        std::make_unique<PreviewPlayback>(project_, width, height, framesPerSecond_, *presenter_, sleeper);
    playback_->setVideoSize(soundOptions_.videoSize);
    playback_->setFaceFinder(findFaces_);
    if (!project_.clips().empty()) startSound();
    worker_.start(
        [this](std::stop_token stop) {
            // A stop ends the playback at its next tick and cuts the pause in progress short.
            std::stop_callback stopPlayback(stop, [this] {
                playback_->requestStop();
                pacedSleeper_.interrupt();
                if (sound_) sound_->interruptClock();
            });
            playback_->run();
        },
        this, [this] { onWorkerFinished(); });
}

// The soundtrack's mix on the device, the pictures on its clock. Without a device the pictures keep the
// sleeper's pace, as without clips.
void PreviewPlayer::startSound() {
    AudioOutput* output = soundOptions_.output;
    if (!output) {
        ownOutput_ = std::make_unique<QtAudioOutput>();
        output = ownOutput_.get();
    }
    sound_ = std::make_unique<PreviewSound>(
        mixClipsFor(project_),
        previewMixSettings(project_, framesPerSecond_, soundOptions_.fadeSeconds, soundOptions_.videoSize),
        previewVolumeGain(soundOptions_.volumeSetting), *output);
    if (sound_->start()) {
        playback_->setShowClock(sound_.get(), soundOptions_.videoSize);
    } else {
        sound_.reset();
        ownOutput_.reset();
    }
}

// Silences the device at once; the worker, should it wait on the sound's clock, goes on without waiting.
void PreviewPlayer::stopSound() {
    if (sound_) sound_->stop();
}

void PreviewPlayer::takePicture() {
    {
        std::lock_guard<std::mutex> guard(pictureLock_);
        shown_ = std::move(pending_);
        pending_ = QImage();
        updatePending_ = false;
    }
    if (!shown_.isNull()) shown_.setDevicePixelRatio(pixelRatio_);
    update(previewRect_);
}

void PreviewPlayer::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (shown_.isNull()) return;
    QPainter painter(this);
    painter.setClipRect(previewRect_);
    painter.drawImage(previewRect_.topLeft(), shown_);
}

// Asks the worker to stop and waits for it, with events still processed so that the window repaints.
void PreviewPlayer::stopWorker() {
    worker_.requestStop();
    worker_.waitForEnd();
    workerEnded_ = true;
}

void PreviewPlayer::onWorkerFinished() {
    workerEnded_ = true;
    if (closing_) return;  // reject() is closing the window
    closing_ = true;
    worker_.join();  // the body has returned: nothing left to wait for
    stopSound();
    accept();
    Q_EMIT workerFinished();
}

void PreviewPlayer::reject() {
    if (closing_) return;
    closing_ = true;
    const bool playing = worker_.active();
    stopSound();
    if (playing) stopWorker();
    QDialog::reject();
    if (playing) Q_EMIT workerFinished();
}

void PreviewPlayer::closeEvent(QCloseEvent* event) {
    if (closing_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    reject();
}

}  // namespace kestrelle
