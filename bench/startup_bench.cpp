// Start-up time of the desktop program: from the moment the process was started (a wall-clock stamp in
// nanoseconds taken just before, passed as an argument) to the main window's first paint.
//
//   startup_bench app START_NS        the program's own start, with its single-instance check, profile
//                                     set-up, settings store and main window
//   startup_bench baseline START_NS   a bare Qt dialog of the same size (the floor: Qt's own start)
//
// Prints the milliseconds and ends right after the first paint.

#include "app/ui/application.h"
#include "app/ui/main_window.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>

namespace {

long long nowNs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Reports the first paint of the watched window, then closes it.
class FirstPaint final : public QObject {
public:
    FirstPaint(long long startNs, std::function<void()> close)
        : startNs_(startNs), close_(std::move(close)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            std::printf("%.2f\n", static_cast<double>(nowNs() - startNs_) / 1e6);
            std::fflush(stdout);
            QTimer::singleShot(0, watched, close_);
        }
        return false;
    }

private:
    long long startNs_;
    std::function<void()> close_;
    bool reported_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench app|baseline START_NS\n");
        return 2;
    }
    const long long startNs = std::atoll(argv[2]);
    int qtArgc = 1;
    if (std::strcmp(argv[1], "baseline") == 0) {
        QApplication app(qtArgc, argv);
        QDialog dialog;
        dialog.setWindowTitle(QStringLiteral("Kestrelle"));
        dialog.resize(1116, 688);
        FirstPaint watcher(startNs, [&dialog] { dialog.close(); });
        dialog.installEventFilter(&watcher);
        dialog.exec();
        return 0;
    }
    std::unique_ptr<FirstPaint> watcher;
    return kestrelle::runApplication(qtArgc, argv, [&](kestrelle::LumoDlg& window) {
        watcher = std::make_unique<FirstPaint>(startNs, [&window] { window.exitWindow(); });
        window.installEventFilter(watcher.get());
    });
}
