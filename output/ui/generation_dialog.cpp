#include "output/ui/generation_dialog.h"

#include "base/message_box.h"
#include "output/ui/job_completion.h"
#include "render/face_detector.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace kestrelle {

namespace {

constexpr int kTimesMs = 1000;
constexpr std::size_t kBlackPhotosNamed = 10;  // the message names at most this many photos
const char* const kZeroTime = "00:00:00";

std::int64_t wallClockSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

GenerationDialog::GenerationDialog(const SlideShowProject& project, std::optional<GenerationSetup> setup,
                                   JobCompletion& completion, QWidget* parent)
    : QDialog(parent), completion_(completion), clock_(wallClockSeconds) {
    if (setup) outputPath_ = setup->outputPath;
    GenerationJob::Callbacks callbacks;
    callbacks.progressRange = [this](int upper) {
        QMetaObject::invokeMethod(
            this, [this, upper] { onProgressRange(upper); }, Qt::QueuedConnection);
    };
    callbacks.progressPosition = [this](int) {
        // One pending update at a time: the bar shows the latest position, however fast frames come.
        if (!progressPending_.exchange(true)) {
            QMetaObject::invokeMethod(
                this, [this] { onProgressPosition(); }, Qt::QueuedConnection);
        }
    };
    callbacks.photoNotDecoded = [this](const std::string& path) {
        std::lock_guard<std::mutex> guard(unreadFilesLock_);
        if (std::find(blackPhotos_.begin(), blackPhotos_.end(), path) == blackPhotos_.end())
            blackPhotos_.push_back(path);
    };
    // Moving and filling photos keep every face they show in the frame.
    callbacks.findFaces = findFaces;
    callbacks.clipNotRead = [this](const std::string& path) {
        std::lock_guard<std::mutex> guard(unreadFilesLock_);
        if (std::find(silentClips_.begin(), silentClips_.end(), path) == silentClips_.end())
            silentClips_.push_back(path);
    };
    const bool mp4 = setup && setup->container == ContainerFormat::Mp4;
    job_ = std::make_unique<GenerationJob>(project, std::move(setup), std::move(callbacks));
    job_->setClock([this] { return clock_(); });

    setWindowTitle(mp4 ? QStringLiteral("Generate MP4") : QStringLiteral("Generate AVI"));
    setModal(true);
    buildControls();

    timesTimer_.setInterval(kTimesMs);
    connect(&timesTimer_, &QTimer::timeout, this, &GenerationDialog::refreshTimes);
}

GenerationDialog::~GenerationDialog() {
    if (worker_.active()) stopWorker();
}

void GenerationDialog::setClock(std::function<std::int64_t()> clock) {
    clock_ = clock ? std::move(clock) : std::function<std::int64_t()>(wallClockSeconds);
}

void GenerationDialog::buildControls() {
    auto* blackFrame = new QFrame(this);
    blackFrame->setFrameShape(QFrame::Box);
    blackFrame->setFixedSize(48, 48);
    blackFrame->setStyleSheet(QStringLiteral("QFrame { border: 1px solid black; }"));

    auto* elapsedLabel = new QLabel(QStringLiteral("Elapsed time:"), this);
    elapsedValue_ = new QLabel(QString::fromLatin1(kZeroTime), this);
    elapsedValue_->setAccessibleName(QStringLiteral("Elapsed time"));
    auto* leftLabel = new QLabel(QStringLiteral("Left time :"), this);
    leftValue_ = new QLabel(QString::fromLatin1(kZeroTime), this);
    leftValue_->setAccessibleName(QStringLiteral("Left time"));
    for (QLabel* value : {elapsedValue_, leftValue_})
        value->setTextInteractionFlags(Qt::TextSelectableByKeyboard);

    auto* times = new QGridLayout;
    times->addWidget(elapsedLabel, 0, 0);
    times->addWidget(elapsedValue_, 0, 1);
    times->addWidget(leftLabel, 1, 0);
    times->addWidget(leftValue_, 1, 1);
    times->setColumnStretch(2, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(blackFrame);
    top->addSpacing(12);
    top->addLayout(times, 1);

    progressBar_ = new QProgressBar(this);
    progressBar_->setRange(0, 1);
    progressBar_->setValue(0);
    progressBar_->setAccessibleName(QStringLiteral("Frames written"));

    pauseButton_ = new QPushButton(QStringLiteral("Pause"), this);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    pauseButton_->setDefault(true);
    connect(pauseButton_, &QPushButton::clicked, this, &GenerationDialog::togglePause);
    connect(cancelButton_, &QPushButton::clicked, this, &GenerationDialog::cancel);
    // The captions toggle between "Pause" and "Resume": keep the button as wide as the wider one.
    const int captionWidth =
        std::max(pauseButton_->sizeHint().width(), QPushButton(QStringLiteral("Resume")).sizeHint().width());
    pauseButton_->setMinimumWidth(captionWidth);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(pauseButton_);
    buttons->addWidget(cancelButton_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addWidget(progressBar_);
    layout->addLayout(buttons);
    setMinimumWidth(380);
    setTabOrder(pauseButton_, cancelButton_);
}

void GenerationDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!started_) startWorker();
}

void GenerationDialog::startWorker() {
    started_ = true;
    worker_.start(
        [this](std::stop_token stop) {
            // Cancel stops the worker's token; the job then stops before its next frame.
            std::stop_callback cancelOnStop(stop, [this] { job_->requestCancel(); });
            job_->run();
        },
        this, [this] { onWorkerFinished(); });
    timesTimer_.start();
}

void GenerationDialog::onProgressRange(int upper) {
    progressBar_->setRange(0, std::max(1, upper));
}

void GenerationDialog::onProgressPosition() {
    progressPending_ = false;
    progressBar_->setValue(std::clamp(job_->progressPosition(), 0, progressBar_->maximum()));
}

void GenerationDialog::togglePause() {
    if (stopping_ || closed_ || !job_->togglePause(clock_())) return;
    pauseButton_->setText(job_->running() ? QStringLiteral("Pause") : QStringLiteral("Resume"));
}

void GenerationDialog::refreshTimes() {
    if (!job_->running()) return;
    const std::int64_t now = clock_();
    elapsedValue_->setText(QString::fromStdString(job_->elapsedText(now)));
    leftValue_->setText(QString::fromStdString(job_->leftText(now)));
}

// Asks the worker to stop and waits for it while the dialog keeps painting and the worker's message
// boxes can still be answered.
void GenerationDialog::stopWorker() {
    stopping_ = true;
    timesTimer_.stop();
    pauseButton_->setEnabled(false);
    cancelButton_->setEnabled(false);
    worker_.requestStop();
    worker_.waitForEnd();
    workerEnded_ = true;
}

// One message after the job for every photo that could not be read: the video shows black for them.
void GenerationDialog::reportBlackPhotos() {
    std::vector<std::string> photos;
    {
        std::lock_guard<std::mutex> guard(unreadFilesLock_);
        photos.swap(blackPhotos_);
    }
    if (photos.empty()) return;
    std::string text = photos.size() == 1 ? "This photo could not be read and is black in the video:\n"
                                          : "These photos could not be read and are black in the video:\n";
    for (std::size_t i = 0; i < photos.size() && i < kBlackPhotosNamed; ++i) text += "\n" + photos[i];
    if (photos.size() > kBlackPhotosNamed)
        text += "\n... and " + std::to_string(photos.size() - kBlackPhotosNamed) + " more.";
    showMessage(text, MessageFlags::kWarningOk);
}

// One message after the job for every soundtrack clip that could not be read: its part is silent.
void GenerationDialog::reportSilentClips() {
    std::vector<std::string> clips;
    {
        std::lock_guard<std::mutex> guard(unreadFilesLock_);
        clips.swap(silentClips_);
    }
    if (clips.empty()) return;
    std::string text = clips.size() == 1
                           ? "This music file could not be read, so its part of the video is silent:\n"
                           : "These music files could not be read, so their parts of the video are silent:\n";
    for (std::size_t i = 0; i < clips.size() && i < kBlackPhotosNamed; ++i) text += "\n" + clips[i];
    if (clips.size() > kBlackPhotosNamed)
        text += "\n... and " + std::to_string(clips.size() - kBlackPhotosNamed) + " more.";
    showMessage(text, MessageFlags::kWarningOk);
}

void GenerationDialog::reportUnreadFiles() {
    reportBlackPhotos();
    reportSilentClips();
}

// After Cancel the file under the chosen name ends where the job stopped, yet it plays as if whole:
// it is deleted unless the user keeps it. Nothing is asked when the job never opened its file.
bool GenerationDialog::keepPartialFile() {
    if (job_->completed() || job_->timeMarks().empty() || outputPath_.empty()) return true;
    std::error_code error;
    if (!std::filesystem::exists(outputPath_, error)) return true;
    if (showMessage("The video is incomplete. Keep the partial file?",
                    MessageFlags::kWarningYesNoDefaultNo) == MessageAnswer::kYes)
        return true;
    std::filesystem::remove(outputPath_, error);
    return false;
}

void GenerationDialog::cancel() {
    if (stopping_ || closed_) return;
    if (worker_.active()) stopWorker();
    closed_ = true;
    QDialog::reject();
    if (keepPartialFile()) reportUnreadFiles();
}

void GenerationDialog::reject() {
    cancel();
}

void GenerationDialog::closeEvent(QCloseEvent* event) {
    if (closed_) {
        QDialog::closeEvent(event);
        return;
    }
    // The close box goes through Cancel: the worker may still be writing into the file.
    event->ignore();
    cancel();
}

void GenerationDialog::onWorkerFinished() {
    workerEnded_ = true;
    if (stopping_ || closed_) return;
    timesTimer_.stop();
    worker_.join();  // the body has returned: nothing left to wait for
    closed_ = true;
    if (!job_->completed()) {
        accept();
        reportUnreadFiles();
        return;
    }
    progressBar_->setValue(progressBar_->maximum());
    accept();
    reportUnreadFiles();
    completion_.generationCompleted(outputPath_, parentWidget());
}

}  // namespace kestrelle
