// The preview played for real: a 10-slide project at the Normal Quality profile, in a PreviewPlayer
// window. Reports, per run, the time from the worker's start to its end against the nominal time its
// ticks and pauses add up to (a dry run with a counting sleeper), and the longest stall of the
// user-interface thread while it plays (longest, 99th percentile, count over 50 ms), against the same
// measure on an idle event loop.
//
//   preview_bench RUNS [SLIDE_SECONDS TRANSITION_SECONDS]
// Needs a display (run it under xvfb-run) and a private HOME (bench/run_preview.sh makes one).

#include "app/profile_setup.h"
#include "config/settings_store.h"
#include "preview/preview_playback.h"
#include "preview/ui/preview_player.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

using namespace kestrelle;

constexpr int kSlides = 10;
constexpr int kProbeMs = 5;

// Adds up the pauses instead of waiting.
class CountingSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override { totalMs += milliseconds; }
    long long totalMs = 0;
};

class NullPresenter final : public FramePresenter {
public:
    void present(const QImage&, int, int) override {}
};

// A 3000 x 2000 photo: sky, sun and hills, different for each seed.
void writePhoto(const QString& file, int seed) {
    QImage image(3000, 2000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, image.height());
    sky.setColorAt(0, QColor::fromHsv((200 + seed * 37) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((170 + seed * 37) % 360, 60, 250));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 220, 90));
    painter.drawEllipse(QPoint(600 + seed * 180, 500), 200, 200);
    painter.setBrush(QColor::fromHsv((90 + seed * 23) % 360, 150, 140));
    painter.drawEllipse(QPoint(1000, 2000), 1500, 1000);
    painter.end();
    image.save(file, "JPEG", 90);
}

// The stalls of the user-interface thread: how much later than its 5 ms interval each tick of a timer
// came, while running. A busy machine shows here as well as our own work, hence the idle baseline.
struct Stalls {
    double longest = 0;
    double p99 = 0;
    int over50 = 0;
    double busiest = 0;  // the most CPU time the UI thread itself spent between two ticks
};

// CPU time of the calling thread, in milliseconds: tells our own work from time the thread waited for
// a core on a busy machine.
double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

class StallProbe {
public:
    StallProbe() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kProbeMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const double cpu = threadCpuMs();
            if (last_ >= 0) {
                lates_.push_back(std::max(0.0, (now - last_) / 1e6 - kProbeMs));
                busiest_ = std::max(busiest_, cpu - lastCpu_);
            }
            last_ = now;
            lastCpu_ = cpu;
        });
    }
    void start() {
        last_ = -1;
        busiest_ = 0;
        lates_.clear();
        clock_.start();
        timer_.start();
    }
    Stalls stop() {
        timer_.stop();
        Stalls result;
        if (lates_.empty()) return result;
        std::sort(lates_.begin(), lates_.end());
        result.longest = lates_.back();
        result.busiest = busiest_;
        result.p99 = lates_[lates_.size() * 99 / 100];
        result.over50 = static_cast<int>(lates_.end() - std::upper_bound(lates_.begin(), lates_.end(), 50.0));
        return result;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    double lastCpu_ = 0;
    double busiest_ = 0;
    std::vector<double> lates_;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const double still = argc > 2 ? std::atof(argv[2]) : 3.0;
    const double transition = argc > 3 ? std::atof(argv[3]) : 3.0;

    setUpUserProfileFolder();
    SettingsStore& store = SettingsStore::instance();
    const int normal = [&] {
        for (int i = 0; i < store.profileCount(); ++i) {
            if (store.profileAt(i)->name == "Normal Quality(.avi)") return i;
        }
        return 0;
    }();
    store.selectProfile(normal);
    const double fps = frameRateForIndex(store.currentProfile() ? store.currentProfile()->FrameRate : 0);

    QTemporaryDir photos;
    SlideShowProject project;
    for (int i = 0; i < kSlides; ++i) {
        const QString file = photos.path() + QStringLiteral("/photo_%1.jpg").arg(i);
        writePhoto(file, i);
        project.appendPlaceholder();
        // Effects 1..10 in turn: a fixed mix, no random pick.
        project.insertPhoto(file.toStdString(), i, i + 1, still, transition);
    }

    std::vector<double> ratios;
    std::vector<double> actuals;
    std::vector<double> stalls;
    std::vector<double> idleStalls;
    std::vector<double> stallP99;
    std::vector<double> busiest;
    std::vector<double> idleP99;
    double nominalMs = 0;
    StallProbe probe;
    for (int run = 0; run < runs; ++run) {
        // The idle baseline: the same probe on an event loop with nothing to do.
        {
            QEventLoop idle;
            probe.start();
            QTimer::singleShot(2000, &idle, &QEventLoop::quit);
            idle.exec();
            const Stalls measured = probe.stop();
            idleStalls.push_back(measured.longest);
            idleP99.push_back(measured.p99);
        }

        PreviewPlayer player(project, SettingsStore::instance().currentProfile());
        QElapsedTimer clock;
        double actualMs = 0;
        QEventLoop playing;
        QObject::connect(&player, &PreviewPlayer::workerFinished, [&] {
            actualMs = clock.nsecsElapsed() / 1e6;
            playing.quit();
        });
        probe.start();
        clock.start();
        player.show();  // the worker starts here
        playing.exec();
        const Stalls measured = probe.stop();
        stalls.push_back(measured.longest);
        stallP99.push_back(measured.p99);
        busiest.push_back(measured.busiest);

        // Nominal: the same playback at the same size, pauses added up instead of waited for.
        const QRect area = player.previewRect();
        const qreal ratio = player.devicePixelRatioF();
        CountingSleeper counting;
        NullPresenter nowhere;
        PreviewPlayback dry(project, qRound(area.width() * ratio), qRound(area.height() * ratio), fps,
                            nowhere, counting);
        dry.run();
        nominalMs = static_cast<double>(counting.totalMs);
        actuals.push_back(actualMs);
        ratios.push_back(actualMs / nominalMs);
        std::printf(
            "run %d: actual %9.1f ms  nominal %9.1f ms  ratio %.4f  stall: longest %6.2f ms, p99 %5.2f ms, "
            "%d over 50 ms, most UI CPU between ticks %5.2f ms (idle: longest %6.2f ms, p99 %5.2f ms)\n",
            run + 1, actualMs, nominalMs, actualMs / nominalMs, stalls.back(), stallP99.back(),
            measured.over50, measured.busiest, idleStalls.back(), idleP99.back());
        std::fflush(stdout);
    }
    std::printf("%d slides, %.1f s still + %.1f s transition each, %.2f frames/s, %d runs\n", kSlides, still,
                transition, fps, runs);
    std::printf("median actual %.1f ms, nominal %.1f ms, ratio %.4f (target within 5 %%)\n", median(actuals),
                nominalMs, median(ratios));
    std::printf(
        "median longest UI stall %.2f ms, p99 %.2f ms, most UI CPU between ticks %.2f ms (idle loop: %.2f "
        "ms, "
        "p99 %.2f ms; target under 50 ms)\n",
        median(stalls), median(stallP99), median(busiest), median(idleStalls), median(idleP99));
    return 0;
}
