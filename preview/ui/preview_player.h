#pragma once
// "Preview": the modal window that plays the slideshow once in real time, transitions included, on a
// worker thread. It closes itself shortly after the last transition; the user may close it at any time
// (Escape, the close box), which stops the worker and waits for it.
//
// Use from the main window, after checking that the project holds at least one photo slide:
//
//     PreviewPlayer preview(project, store.currentProfile(), this);
//     preview.exec();
//
// Playback starts when the window is first shown and runs once per window. When the project has
// soundtrack clips, their mix plays with the pictures (at the Preview Volume setting) and the pictures keep
// to the sound; closing the window silences it at once. Without clips no sound device is opened. A machine
// without a sound device shows the pictures alone.

#include "base/worker_thread.h"
#include "preview/audio_output.h"
#include "preview/preview_playback.h"
#include "preview/preview_sound.h"

#include <QDialog>
#include <QImage>

#include <memory>
#include <mutex>
#include <utility>

namespace kestrelle {

class SlideShowProject;
struct OutputProfile;

// How the preview sounds.
struct PreviewSoundOptions {
    double fadeSeconds = 2.0;   // crossfade between clips and the music's fade-out at the end
    int volumeSetting = -5000;  // Preview Volume: hundredths of a decibel (previewVolumeGain)
    // The device; nullptr: the system's default output. A given one must outlive the window.
    AudioOutput* output = nullptr;
    VideoSize videoSize;  // the profile's picture size: the music fades out where the video ends
};

class PreviewPlayer : public QDialog {
    Q_OBJECT

public:
    // Transitions run at the frame rate of `profile` (the opener's current output profile; none: the
    // first rate of the list). The sound's fade and volume come from the settings store.
    PreviewPlayer(const SlideShowProject& project, const OutputProfile* profile, QWidget* parent = nullptr);
    // The same with the transitions' frame rate given, and (for tests and tools) the pacing: nullptr
    // for the real clock; a given sleeper must outlive the dialog.
    PreviewPlayer(const SlideShowProject& project, double framesPerSecond, Sleeper* sleeper,
                  QWidget* parent = nullptr, PreviewSoundOptions sound = {});
    // Stops the worker if it still runs.
    ~PreviewPlayer() override;

    // Finds faces for the slides that move (the generation job's finder, so that both pick the same
    // motions). Before the window is shown.
    void setFaceFinder(FaceFinder findFaces) { findFaces_ = std::move(findFaces); }

    // Where the pictures are drawn: the client area inset by 10 pixels, fixed when the window opens.
    QRect previewRect() const { return previewRect_; }
    // The picture shown last (a copy), null before the first one.
    QImage shownPicture() const;
    // The worker's end has reached the window (it has closed by then, or is closing).
    bool workerEnded() const { return workerEnded_; }
    // The soundtrack is playing (started on a device and not stopped yet).
    bool soundPlaying() const { return sound_ && sound_->playing(); }

public Q_SLOTS:
    // Escape and the close box: stop the worker, wait for it while events are handled, then close.
    void reject() override;

Q_SIGNALS:
    // The worker has ended and the window has closed (or is closing through reject()).
    void workerFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Presenter;

    void startWorker();
    void startSound();
    void stopSound();
    void stopWorker();
    // The worker's end, on the window's thread: closes the window after the last picture.
    void onWorkerFinished();
    void takePicture();

    const SlideShowProject& project_;
    const double framesPerSecond_;
    Sleeper* givenSleeper_;
    PacedSleeper pacedSleeper_;
    std::unique_ptr<Presenter> presenter_;
    std::unique_ptr<PreviewPlayback> playback_;
    const PreviewSoundOptions soundOptions_;
    FaceFinder findFaces_;
    std::unique_ptr<AudioOutput> ownOutput_;  // the default device, opened only for a soundtrack
    std::unique_ptr<PreviewSound> sound_;     // outlives the worker, which may wait on its clock
    WorkerThread worker_;
    bool workerEnded_ = false;
    QRect previewRect_;
    qreal pixelRatio_ = 1.0;
    QImage shown_;
    bool started_ = false;
    bool closing_ = false;

    // The worker's latest picture, waiting for the user-interface thread.
    mutable std::mutex pictureLock_;
    QImage pending_;
    bool updatePending_ = false;
};

}  // namespace kestrelle
