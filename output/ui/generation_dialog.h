#pragma once
// "Generate AVI": the modal dialog that runs a generation job on a worker thread, shows its progress and
// times, pauses, resumes and cancels it, and hands a finished file to the completion actions.
//
// Use from the main window, after its own checks (slides, target folder, free space, file name,
// overwrite question):
//
//     const std::string avi = store.targetPath() + "/" + store.outputName() + ".avi";
//     GenerationDialog dialog(project, generationSetupFor(store, store.currentProfile(), avi),
//                             completionActions, this);
//     dialog.exec();
//
// The job starts when the dialog is first shown; a dialog runs one job (make a new one for the next). exec()
// returns when the worker has ended (finished, failed or cancelled); its result carries no meaning. When the
// file was finished, the completion actions run after the dialog has closed and before exec() returns.
// Photos that could not be read (black in the video) are named in one message once the job has ended,
// and so are soundtrack clips that could not be read (silent in the video); the job goes on meanwhile.

#include "base/worker_thread.h"
#include "output/generation_job.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrelle {

class JobCompletion;
class SlideShowProject;

class GenerationDialog : public QDialog {
    Q_OBJECT

public:
    // `project` must stay unchanged while the dialog is open. `setup` none (no current profile or no
    // codec): the dialog closes by itself without writing anything.
    GenerationDialog(const SlideShowProject& project, std::optional<GenerationSetup> setup,
                     JobCompletion& completion, QWidget* parent = nullptr);
    // Stops the worker (as Cancel does) if it is still running.
    ~GenerationDialog() override;

    // The wall clock, in whole seconds, for the time marks and the times shown. Set before showing.
    void setClock(std::function<std::int64_t()> clock);

    const GenerationJob& job() const { return *job_; }
    // The worker's end has reached the dialog (it has closed by then, or is closing after Cancel).
    bool workerEnded() const { return workerEnded_; }

public Q_SLOTS:
    // The Pause / Resume button. Does nothing until the file is open.
    void togglePause();
    // Cancel, Escape and the close box: lets a paused worker go, asks it to stop, waits for it while
    // events keep being processed, then closes the dialog and asks whether to keep the unfinished file
    // (deleted unless the user answers Yes).
    void cancel();
    void reject() override;
    // Timer (1000 ms): the elapsed and left times, while the job is writing and not paused.
    void refreshTimes();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void startWorker();
    void stopWorker();
    // The worker's end, on the dialog's thread: closes the dialog and, for a finished file, runs the
    // completion actions (unless Cancel is already closing it).
    void onWorkerFinished();
    void onProgressRange(int upper);
    void reportBlackPhotos();
    void reportSilentClips();
    // Both reports, once the job has ended.
    void reportUnreadFiles();
    // After Cancel: asks whether to keep the unfinished file and deletes it unless kept. False when
    // it was deleted.
    bool keepPartialFile();
    void onProgressPosition();

    JobCompletion& completion_;
    std::string outputPath_;
    std::unique_ptr<GenerationJob> job_;
    std::function<std::int64_t()> clock_;
    WorkerThread worker_;
    bool workerEnded_ = false;
    std::atomic<bool> progressPending_{false};
    bool started_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    std::mutex unreadFilesLock_;
    std::vector<std::string> blackPhotos_;  // photos the worker drew black, each once, in slide order
    std::vector<std::string> silentClips_;  // clips the worker could not read, each once, in play order

    QTimer timesTimer_;
    QPushButton* pauseButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* elapsedValue_ = nullptr;
    QLabel* leftValue_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
};

}  // namespace kestrelle
