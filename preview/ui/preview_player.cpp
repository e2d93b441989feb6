#include "preview/ui/preview_player.h"

#include "config/settings_store.h"
#include "config/ui/dialog_units.h"
#include "project/timeline.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QPainter>

#include <cmath>

namespace kestrelle {

namespace {

constexpr int kWatchMs = 200;
constexpr int kInset = 10;
constexpr int kWidthUnits = 358;
constexpr int kHeightUnits = 209;

double currentProfileFrameRate() {
    const OutputProfile* profile = SettingsStore::instance().currentProfile();
    return frameRateForIndex(profile ? profile->FrameRate : 0);
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

PreviewPlayer::PreviewPlayer(const SlideShowProject& project, QWidget* parent)
    : PreviewPlayer(project, currentProfileFrameRate(), nullptr, parent) {}

PreviewPlayer::PreviewPlayer(const SlideShowProject& project, double framesPerSecond, Sleeper* sleeper,
                             QWidget* parent)
    : QDialog(parent),
      project_(project),
      framesPerSecond_(framesPerSecond),
      givenSleeper_(sleeper),
      presenter_(std::make_unique<Presenter>(*this)) {
    setWindowTitle(QStringLiteral("Preview"));
    setModal(true);
    const DialogUnitScale units(font());
    setFixedSize(units.x(kWidthUnits), units.y(kHeightUnits));
    setAccessibleName(QStringLiteral("Preview"));
    watchTimer_.setInterval(kWatchMs);
    connect(&watchTimer_, &QTimer::timeout, this, &PreviewPlayer::watchWorker);
}

PreviewPlayer::~PreviewPlayer() {
    if (worker_.joinable()) stopWorker();
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
    worker_ = std::thread([this] {
        playback_->run();
        workerEnded_ = true;
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT workerFinished(); }, Qt::QueuedConnection);
    });
    watchTimer_.start();
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
    watchTimer_.stop();
    if (playback_) playback_->requestStop();
    pacedSleeper_.interrupt();
    if (!workerEnded_) {
        QEventLoop loop;
        connect(this, &PreviewPlayer::workerFinished, &loop, &QEventLoop::quit);
        if (!workerEnded_) loop.exec();
    }
    if (worker_.joinable()) worker_.join();
}

void PreviewPlayer::watchWorker() {
    if (closing_ || !workerEnded_) return;
    closing_ = true;
    watchTimer_.stop();
    if (worker_.joinable()) worker_.join();
    accept();
}

void PreviewPlayer::reject() {
    if (closing_) return;
    closing_ = true;
    if (worker_.joinable()) stopWorker();
    QDialog::reject();
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
