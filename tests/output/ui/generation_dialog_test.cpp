#include "output/ui/generation_dialog.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "media/video_compressor.h"
#include "output/ui/job_completion.h"
#include "project/slideshow_project.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <functional>
#include <mutex>

namespace kestrelle {
namespace {

using testing::processEventsUntil;

// Records messages and answers questions with `yesNoAnswer`; the worker shows its messages from its
// own thread.
class RecordingPresenter final : public MessagePresenter {
public:
    int show(const std::string& text, unsigned flags) override {
        std::lock_guard<std::mutex> guard(lock);
        texts.push_back(text);
        flagsShown.push_back(flags);
        return (flags & 0x0F) == 0x04 ? yesNoAnswer.load() : MessageAnswer::kOk;
    }
    std::vector<std::string> recorded() {
        std::lock_guard<std::mutex> guard(lock);
        return texts;
    }
    std::mutex lock;
    std::vector<std::string> texts;
    std::vector<unsigned> flagsShown;
    std::atomic<int> yesNoAnswer{MessageAnswer::kNo};
};

class RecordingCompletion final : public JobCompletion {
public:
    void generationCompleted(const std::string& aviPath, QWidget*) override { paths.push_back(aviPath); }
    std::vector<std::string> paths;
};

// ffprobe's frame count of the video stream, with its error output.
int probeFrames(const std::string& file, QString& errors) {
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
                 QStringLiteral("v:0"), QStringLiteral("-count_frames"), QStringLiteral("-show_entries"),
                 QStringLiteral("stream=nb_read_frames"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
                 QString::fromStdString(file)});
    probe.waitForFinished(60000);
    errors = QString::fromUtf8(probe.readAllStandardError());
    bool ok = false;
    const int frames = QString::fromUtf8(probe.readAllStandardOutput()).trimmed().toInt(&ok);
    return ok ? frames : -1;
}

class GenerationDialogTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&presenter);
    }
    void TearDown() override {
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    // Two photos of `seconds` each, with one-second transitions.
    void makeProject(SlideShowProject& project, double seconds) {
        const QRgb colours[] = {qRgb(200, 40, 40), qRgb(40, 40, 200)};
        for (int i = 0; i < 2; ++i) {
            QImage image(80, 60, QImage::Format_RGB32);
            image.fill(colours[i]);
            const std::string file = path("photo" + std::to_string(i) + ".png");
            ASSERT_TRUE(image.save(QString::fromStdString(file)));
            project.appendPlaceholder();
            ASSERT_GE(project.insertPhoto(file, i, 1, seconds, 1.0), 0);
        }
    }

    GenerationSetup setup(const std::string& output = "out.avi") const {
        GenerationSetup result;
        result.width = 64;
        result.height = 48;
        result.framesPerSecond = 25.0;
        result.compressorType = kCompressorType;
        result.compressorHandler = makeFourCC('X', 'V', 'I', 'D');
        result.outputPath = path(output);
        return result;
    }

    static QString pauseCaption(GenerationDialog& dialog) {
        return dialog.findChildren<QPushButton*>().front()->text();
    }
    static QString label(GenerationDialog& dialog, const char* accessibleName) {
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->accessibleName() == QLatin1String(accessibleName)) return label->text();
        }
        return {};
    }

    RecordingPresenter presenter;
    RecordingCompletion completion;
    std::atomic<std::int64_t> now{1000};
};

TEST_F(GenerationDialogTest, FinishedJobFillsTheBarAndRunsTheCompletionActions) {
    SlideShowProject project;
    makeProject(project, 1.0);
    GenerationDialog dialog(project, setup(), completion);
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
    auto* bar = dialog.findChild<QProgressBar*>();
    EXPECT_EQ(bar->maximum(), 100);  // 4 s at 25 frames a second
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(completion.paths, std::vector<std::string>{path("out.avi")});
    EXPECT_TRUE(presenter.recorded().empty());
}

// A photo that cannot be read leaves a black slide in the video; once the job has ended one message
// names it (each photo once, however often it was loaded), and the readable photo is not named.
TEST_F(GenerationDialogTest, PhotosRenderedBlackAreNamedOnceAfterTheJob) {
    SlideShowProject project;
    makeProject(project, 1.0);
    QFile broken(QString::fromStdString(path("photo1.png")));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a picture");
    broken.close();
    GenerationDialog dialog(project, setup(), completion);
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
    EXPECT_TRUE(dialog.job().completed());
    const std::vector<std::string> messages = presenter.recorded();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(path("photo1.png")), std::string::npos) << messages[0];
    EXPECT_EQ(messages[0].find(path("photo0.png")), std::string::npos) << messages[0];
    EXPECT_EQ(completion.paths, std::vector<std::string>{path("out.avi")});
}

// A music file that is gone by the time the job reaches it: the job goes on and completes, and once
// it has ended one message names the file (once, though it stands on the line twice) and says its part
// of the video is silent.
TEST_F(GenerationDialogTest, AMusicFileThatCannotBeReadIsNamedOnceAfterTheJob) {
    SlideShowProject project;
    makeProject(project, 1.0);
    std::string wave = "RIFF" + testing::le32(36 + 4 * 22050) + "WAVEfmt " + testing::le32(16) +
                       testing::le16(1) + testing::le16(2) + testing::le32(44100) + testing::le32(176400) +
                       testing::le16(4) + testing::le16(16) + "data" + testing::le32(4 * 22050) +
                       std::string(4 * 22050, '\x10');
    ASSERT_TRUE(testing::writeFile(path("song.wav"), wave));
    ASSERT_TRUE(testing::writeFile(path("gone.wav"), wave));
    for (const char* clip : {"song.wav", "gone.wav", "song.wav", "gone.wav"})
        ASSERT_EQ(project.addClip(path(clip)), AudioOpenResult::Ok);
    ASSERT_TRUE(QFile::remove(QString::fromStdString(path("gone.wav"))));
    GenerationDialog dialog(project, setup(), completion);
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
    EXPECT_TRUE(dialog.job().completed());
    const std::vector<std::string> messages = presenter.recorded();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "This music file could not be read, so its part of the video is silent:\n\n" +
                               path("gone.wav"));
    EXPECT_EQ(completion.paths, std::vector<std::string>{path("out.avi")});
}

// Pause freezes both times and shows "Resume"; Resume goes on; Cancel while paused ends the job with
// a file ffprobe reads, and no completion actions.
TEST_F(GenerationDialogTest, PauseResumeAndCancelWhilePaused) {
    SlideShowProject project;
    makeProject(project, 600.0);
    GenerationDialog dialog(project, setup(), completion);
    dialog.setClock([this] { return now.load(); });
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.job().progressPosition() > 0; }));

    now = 1003;
    dialog.refreshTimes();
    EXPECT_EQ(label(dialog, "Elapsed time"), QStringLiteral("00:00:03"));
    const QString leftWhileWriting = label(dialog, "Left time");
    EXPECT_NE(leftWhileWriting, QStringLiteral("00:00:00"));

    dialog.togglePause();
    EXPECT_EQ(pauseCaption(dialog), QStringLiteral("Resume"));
    EXPECT_FALSE(dialog.job().running());
    const int pausedAt = dialog.job().progressPosition();
    now = 1020;
    QCoreApplication::processEvents();
    dialog.refreshTimes();
    EXPECT_EQ(label(dialog, "Elapsed time"), QStringLiteral("00:00:03"));
    EXPECT_EQ(label(dialog, "Left time"), leftWhileWriting);
    EXPECT_LE(dialog.job().progressPosition(), pausedAt + 1);  // the worker waits at its gate

    dialog.togglePause();
    EXPECT_EQ(pauseCaption(dialog), QStringLiteral("Pause"));
    ASSERT_TRUE(processEventsUntil([&] { return dialog.job().progressPosition() > pausedAt + 5; }));
    now = 1021;
    dialog.refreshTimes();
    EXPECT_EQ(label(dialog, "Elapsed time"), QStringLiteral("00:00:04"));  // the 17 s pause left out

    dialog.togglePause();
    presenter.yesNoAnswer = MessageAnswer::kYes;  // keep the partial file
    dialog.cancel();
    EXPECT_TRUE(dialog.workerEnded());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.job().completed());
    EXPECT_TRUE(completion.paths.empty());
    QString errors;
    EXPECT_GT(probeFrames(path("out.avi"), errors), 0);
    EXPECT_EQ(errors.toStdString(), "");
}

// Cancel and the close box leave a file that plays although it is cut short: the user is asked, No
// being the default; No deletes the file, Yes keeps it. A finished job asks nothing (see above).
TEST_F(GenerationDialogTest, CancelAsksWhetherToKeepThePartialFile) {
    SlideShowProject project;
    makeProject(project, 600.0);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "Yes, by the close box" : "No, by Cancel");
        presenter.yesNoAnswer = keep ? MessageAnswer::kYes : MessageAnswer::kNo;
        const std::size_t before = presenter.recorded().size();
        GenerationDialog dialog(project, setup(), completion);
        dialog.show();
        ASSERT_TRUE(processEventsUntil([&] { return dialog.job().progressPosition() > 0; }));
        if (keep)
            dialog.close();
        else
            dialog.findChildren<QPushButton*>().back()->click();
        EXPECT_TRUE(dialog.workerEnded());
        EXPECT_FALSE(dialog.isVisible());
        const std::vector<std::string> messages = presenter.recorded();
        ASSERT_EQ(messages.size(), before + 1);
        EXPECT_EQ(messages.back(), "The video is incomplete. Keep the partial file?");
        EXPECT_EQ(presenter.flagsShown.back(), MessageFlags::kWarningYesNoDefaultNo);
        EXPECT_EQ(QFile::exists(QString::fromStdString(path("out.avi"))), keep);
    }
    QString errors;
    EXPECT_GT(probeFrames(path("out.avi"), errors), 0);
    EXPECT_TRUE(completion.paths.empty());
}

// Before the file is open Pause does nothing, so the time marks stay in step with the writing.
TEST_F(GenerationDialogTest, PauseBeforeTheFileIsOpenDoesNothing) {
    SlideShowProject project;
    makeProject(project, 1.0);
    GenerationDialog dialog(project, setup(), completion);
    dialog.togglePause();
    EXPECT_EQ(pauseCaption(dialog), QStringLiteral("Pause"));
    EXPECT_TRUE(dialog.job().timeMarks().empty());
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
    EXPECT_TRUE(dialog.job().completed());
    EXPECT_EQ(dialog.job().timeMarks().size(), 1u);
}

// Escape ends the dialog only through Cancel: the worker is stopped and waited for first. Afterwards
// nothing holds the file: a second job writes the same path to the end.
TEST_F(GenerationDialogTest, EscapeCancelsAndReleasesTheFile) {
    SlideShowProject longProject;
    makeProject(longProject, 600.0);
    {
        GenerationDialog dialog(longProject, setup(), completion);
        dialog.show();
        ASSERT_TRUE(processEventsUntil([&] { return dialog.job().progressPosition() > 0; }));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_TRUE(dialog.workerEnded());
        EXPECT_TRUE(dialog.job().cancelRequested());
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_TRUE(completion.paths.empty());

    SlideShowProject shortProject;
    makeProject(shortProject, 1.0);
    GenerationDialog again(shortProject, setup(), completion);
    again.show();
    ASSERT_TRUE(processEventsUntil([&] { return again.workerEnded(); }));
    EXPECT_TRUE(again.job().completed());
    QString errors;
    EXPECT_EQ(probeFrames(path("out.avi"), errors), 100);
    EXPECT_TRUE(QFile::remove(QString::fromStdString(path("out.avi"))));
}

// A writer that cannot open (missing folder, impossible frame size) ends with the job's message and
// closes without completion actions; so does a job without a profile, silently.
TEST_F(GenerationDialogTest, FailedOrImpossibleJobsCloseWithoutCompletionActions) {
    SlideShowProject project;
    makeProject(project, 1.0);
    {
        GenerationDialog dialog(project, setup("missing folder/out.avi"), completion);
        dialog.show();
        ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(presenter.recorded(), std::vector<std::string>{"Init Avi codec failed!"});
    }
    // A 0 x 0 or absurd frame size from a damaged profile fails the same way.
    for (QSize size : {QSize(0, 0), QSize(100000, 100000)}) {
        GenerationSetup absurd = setup();
        absurd.width = size.width();
        absurd.height = size.height();
        GenerationDialog dialog(project, absurd, completion);
        dialog.show();
        ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
        EXPECT_FALSE(dialog.job().completed());
    }
    EXPECT_EQ(presenter.recorded(), std::vector<std::string>(3, "Init Avi codec failed!"));
    {
        GenerationDialog dialog(project, std::nullopt, completion);
        dialog.show();
        ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_EQ(presenter.recorded().size(), 3u);
    EXPECT_TRUE(completion.paths.empty());
}

// The target folder removed mid-job: the file cannot be finished, the user is told so, and no
// completion actions offer a folder that is gone.
TEST_F(GenerationDialogTest, TargetFolderRemovedMidJobIsReportedNotCompleted) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path("target"))));
    SlideShowProject project;
    makeProject(project, 10.0);
    GenerationDialog dialog(project, setup("target/out.avi"), completion);
    dialog.show();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.job().progressPosition() > 0; }));
    dialog.togglePause();
    ASSERT_TRUE(QDir(QString::fromStdString(path("target"))).removeRecursively());
    dialog.togglePause();
    ASSERT_TRUE(processEventsUntil([&] { return dialog.workerEnded(); }));
    EXPECT_TRUE(completion.paths.empty());
    EXPECT_FALSE(dialog.job().completed());
    EXPECT_EQ(presenter.recorded(),
              std::vector<std::string>{"Failed to encode AVI video. Please check AVI codec settings."});
}

}  // namespace
}  // namespace kestrelle
