#include "preview/ui/preview_player.h"

#include "project/slideshow_project.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>

namespace kestrelle {
namespace {

using testing::processEventsUntil;

// Pauses for a real millisecond at most (never asserted on), counting the pauses. Notes when the thread
// that paused has ended: a thread-local marker goes with its thread.
class ShortSleeper final : public Sleeper {
public:
    void sleepMs(int) override {
        thread_local ThreadEndMarker marker(threadsEnded);
        ++pauses;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::atomic<int> pauses{0};
    std::atomic<int> threadsEnded{0};

private:
    struct ThreadEndMarker {
        explicit ThreadEndMarker(std::atomic<int>& ended) : ended_(ended) {}
        ~ThreadEndMarker() { ++ended_; }
        std::atomic<int>& ended_;
    };
};

class PreviewPlayerTest : public testing::TempHomeTest {
protected:
    void addPhoto(QRgb colour, double still) {
        QImage image(80, 60, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path("photo" + std::to_string(project.photoSlideCount()) + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file)));
        project.appendPlaceholder();
        ASSERT_GE(project.insertPhoto(file, project.photoSlideCount(), 7, still, 0.2), 0);
    }

    SlideShowProject project;
    ShortSleeper sleeper;
};

// The window plays into its inset area, ends on black after the last slide and closes by itself.
TEST_F(PreviewPlayerTest, PlaysToBlackAndClosesByItself) {
    addPhoto(qRgb(200, 0, 0), 0.04);
    PreviewPlayer player(project, 25.0, &sleeper);
    EXPECT_EQ(player.windowTitle(), QStringLiteral("Preview"));
    player.show();
    EXPECT_EQ(player.previewRect(), player.rect().adjusted(10, 10, -10, -10));
    ASSERT_TRUE(processEventsUntil([&] { return player.workerEnded(); }));
    QCoreApplication::processEvents();
    const QImage last = player.shownPicture();
    ASSERT_FALSE(last.isNull());
    EXPECT_EQ(last.pixel(last.width() / 2, last.height() / 2) & 0xFFFFFFu, 0u);
    EXPECT_EQ(qRound(last.width() / last.devicePixelRatio()), player.previewRect().width());
    EXPECT_FALSE(player.isVisible());
    EXPECT_EQ(player.result(), QDialog::Accepted);
}

// Escape during a long still phase stops the worker and waits for it before the window goes.
TEST_F(PreviewPlayerTest, EscapeStopsAndWaitsForTheWorker) {
    addPhoto(qRgb(0, 200, 0), 3600.0);
    PreviewPlayer player(project, 25.0, &sleeper);
    player.show();
    ASSERT_TRUE(processEventsUntil([&] { return sleeper.pauses > 3; }));
    QTest::keyClick(&player, Qt::Key_Escape);
    EXPECT_TRUE(player.workerEnded());
    EXPECT_FALSE(player.isVisible());
    EXPECT_EQ(player.result(), QDialog::Rejected);
}

// A window destroyed while playing stops its worker and joins it: the worker's thread has ended by the
// time the window is gone.
TEST_F(PreviewPlayerTest, DestroyingThePlayingWindowStopsTheWorker) {
    addPhoto(qRgb(0, 0, 200), 3600.0);
    auto player = std::make_unique<PreviewPlayer>(project, 25.0, &sleeper);
    player->show();
    ASSERT_TRUE(processEventsUntil([&] { return sleeper.pauses > 0; }));
    EXPECT_EQ(sleeper.threadsEnded, 0);
    player.reset();
    EXPECT_EQ(sleeper.threadsEnded, 1);
}

}  // namespace
}  // namespace kestrelle
