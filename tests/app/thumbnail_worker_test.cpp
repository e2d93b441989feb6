// The thumbnail worker: every row once (from two decoding threads, so not always in order),
// undecodable files handed over blank, a stop request honoured at the next item boundary.

#include "app/thumbnail_worker.h"
#include "tests/support/temp_home.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

class ThumbnailWorkerTest : public testing::TempHomeTest {
protected:
    struct Received {
        std::mutex mutex;
        std::vector<int> rows;
        std::vector<QImage> images;
        int ends = 0;
    };

    ThumbnailWorker::Delivery collectInto(Received& received) {
        return [&received](int row, const QImage& image) {
            std::lock_guard lock(received.mutex);
            if (row < 0) {
                ++received.ends;
            } else {
                received.rows.push_back(row);
                received.images.push_back(image);
            }
        };
    }

    std::string folderOfPhotos(int count) {
        const std::string folder = path("photos");
        ::mkdir(folder.c_str(), 0755);
        for (int i = 0; i < count; ++i) {
            QImage photo(400, 300, QImage::Format_RGB32);
            photo.fill(QColor(200, 30, 30));
            photo.save(QString::fromStdString(folder + "/p" + std::to_string(i) + ".jpg"), "JPEG", 90);
        }
        return folder;
    }
};

// The rows' pictures by row number (rows may arrive in any order).
std::vector<QImage> byRow(const std::vector<int>& rows, const std::vector<QImage>& images) {
    std::vector<QImage> ordered(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] >= 0 && static_cast<std::size_t>(rows[i]) < ordered.size()) ordered[rows[i]] = images[i];
    }
    return ordered;
}

TEST_F(ThumbnailWorkerTest, DeliversEveryRowOnceThenEnds) {
    ThumbnailWorker::Job job;
    job.folder = folderOfPhotos(3);
    job.names = {"p0.jpg", "damaged.jpg", "p2.jpg"};
    testing::writeFile(job.folder + "/damaged.jpg", "not a jpeg");
    Received received;
    {
        ThumbnailWorker worker(job, collectInto(received));
        worker.join();
        EXPECT_TRUE(worker.finished());
    }
    std::vector<int> rows = received.rows;
    std::sort(rows.begin(), rows.end());
    ASSERT_EQ(rows, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(received.ends, 1);
    const std::vector<QImage> images = byRow(received.rows, received.images);
    for (const QImage& image : images) EXPECT_EQ(image.size(), QSize(100, 90));
    // 400 x 300 fits as 100 x 75 centred: white above and below, the photo in the middle.
    EXPECT_EQ(QColor(images[0].pixel(50, 2)), QColor(Qt::white));
    EXPECT_GT(qRed(images[0].pixel(50, 45)), 150);
    EXPECT_LT(qGreen(images[0].pixel(50, 45)), 80);
    // The damaged file gives a blank (white) thumbnail.
    EXPECT_EQ(QColor(images[1].pixel(50, 45)), QColor(Qt::white));
}

TEST_F(ThumbnailWorkerTest, AStopRequestEndsTheWorkAtTheNextRow) {
    ThumbnailWorker::Job job;
    job.folder = folderOfPhotos(1);
    job.names.assign(50, "p0.jpg");
    Received received;
    std::atomic<ThumbnailWorker*> self{nullptr};
    std::atomic<bool> stopAsked{false};
    // Every row but the first waits until the stop was asked for, so the other decoding thread cannot
    // run ahead whatever the machine's load.
    job.beforeRow = [&](int row) {
        while (row > 0 && !stopAsked.load()) std::this_thread::yield();
    };
    ThumbnailWorker::Delivery collect = collectInto(received);
    // The first thumbnail asks for the stop from inside the worker: the rows being made (one a
    // decoding thread) are delivered, no other follows.
    ThumbnailWorker worker(job, [&](int row, const QImage& image) {
        collect(row, image);
        if (row == 0) {
            while (!self.load()) {}
            self.load()->requestStop();
            stopAsked.store(true);
        }
    });
    self.store(&worker);
    worker.join();
    EXPECT_TRUE(worker.finished());
    ASSERT_FALSE(received.rows.empty());
    EXPECT_LE(received.rows.size(), 3u);
    EXPECT_NE(std::find(received.rows.begin(), received.rows.end(), 0), received.rows.end());
    EXPECT_EQ(received.ends, 1);
}

// A scroll while the worker is busy: the rows from the first visible one on are made next, then the
// worker wraps round to the rows it skipped; every row is still made once.
TEST_F(ThumbnailWorkerTest, RowsInViewAfterAScrollComeNext) {
    ThumbnailWorker::Job job;
    job.folder = folderOfPhotos(1);
    job.names.assign(40, "p0.jpg");
    std::mutex lock;
    std::vector<int> started;
    std::atomic<ThumbnailWorker*> self{nullptr};
    std::atomic<bool> scrolled{false};
    // Row 0 scrolls the view to row 30; every other row waits for that, so neither decoding thread can
    // run ahead whatever the machine's load.
    job.beforeRow = [&](int row) {
        if (row == 0) {
            while (!self.load()) std::this_thread::yield();
            self.load()->showRowsFrom(30);
            scrolled.store(true);
        }
        while (!scrolled.load()) std::this_thread::yield();
        std::lock_guard guard(lock);
        started.push_back(row);
    };
    Received received;
    ThumbnailWorker worker(job, collectInto(received));
    self.store(&worker);
    worker.join();
    std::vector<int> rows = received.rows;
    std::sort(rows.begin(), rows.end());
    std::vector<int> every(40);
    for (int i = 0; i < 40; ++i) every[static_cast<std::size_t>(i)] = i;
    EXPECT_EQ(rows, every);
    const auto at = [&started](int row) {
        return std::find(started.begin(), started.end(), row) - started.begin();
    };
    for (int row = 30; row < 40; ++row) EXPECT_LT(at(row), at(12)) << row;
}

TEST_F(ThumbnailWorkerTest, AudioModeHandsEveryRowTheFixedPicture) {
    ThumbnailWorker::Job job;
    job.folder = path("nowhere");
    job.names = {"a.wav", "b.WAV"};
    job.mode = BrowserMode::Audio;
    job.audioPicture = QImage(100, 90, QImage::Format_RGB32);
    job.audioPicture.fill(Qt::blue);
    Received received;
    {
        ThumbnailWorker worker(job, collectInto(received));
        worker.join();
    }
    EXPECT_EQ(received.rows.size(), 2u);
    for (const QImage& image : received.images) EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::blue));
    EXPECT_EQ(received.ends, 1);
}

}  // namespace
}  // namespace kestrelle
