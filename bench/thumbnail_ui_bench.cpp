// The photo browser opening a folder of large photos: how long until the last thumbnail is shown, and
// the longest time the UI thread went without handling its events meanwhile.
//   thumbnail_ui_bench make <folder> <count> [width height [thumbnail]]
//                                                             writes count photo-like JPEGs (quality 90);
//                                                             "thumbnail" embeds a 160 x 120 EXIF
//                                                             thumbnail in each, as cameras do
//   thumbnail_ui_bench time <folder> <runs>                   opens the folder runs times in a shown
//                                                             browser; prints the medians of the time to
//                                                             the last thumbnail (wall, then CPU of both
//                                                             threads), openFolder's own time and the
//                                                             longest stall, the thumbnails shown, the
//                                                             worst stall of all runs and the time until
//                                                             the items in view have theirs, in ms
#include "app/ui/photo_browser.h"

#include <QApplication>
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Gradients, hard-edged shapes and sensor-like noise, different for each seed: compresses and decodes
// roughly like a camera photo.
QImage makePhoto(int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t noiseState = 12345u + static_cast<std::uint32_t>(seed) * 7919u;
    std::vector<int> columnShade(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) {
        columnShade[static_cast<std::size_t>(x)] = static_cast<int>(60 * std::sin(6.0 * x / width + seed));
    }
    const int discX = width * (2 + seed % 5) / 8;
    const int discY = height / 3;
    const int radius = height / 6;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int rowShade = static_cast<int>(50 * std::cos(4.0 * y / height + seed * 0.7));
        for (int x = 0; x < width; ++x) {
            noiseState = noiseState * 1664525u + 1013904223u;
            const int noise = static_cast<int>((noiseState >> 24) % 13) - 6;
            const int shade = columnShade[static_cast<std::size_t>(x)] + rowShade;
            int r = 120 + shade + noise;
            int g = 110 - shade / 2 + noise;
            int b = 100 + rowShade + noise;
            const int dx = x - discX;
            const int dy = y - discY;
            if (dx * dx + dy * dy < radius * radius) {
                r = 240 + noise;
                g = 210 + noise;
                b = 80;
            } else if (y > height * 2 / 3 + (x * (seed % 3 + 1)) % (height / 5)) {
                r /= 3;
                g = g * 3 / 4;
                b /= 3;
            }
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

QByteArray jpegBytes(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

void appendLittle(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An IFD entry of one LONG or SHORT value.
void appendEntry(QByteArray& out, std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
    appendLittle(out, tag, 2);
    appendLittle(out, type, 2);
    appendLittle(out, 1, 4);
    appendLittle(out, value, 4);
}

// The JPEG with an APP1 EXIF block after its SOI: IFD0 (orientation 1), then IFD1 pointing at `thumbnail`.
QByteArray withExifThumbnail(const QByteArray& jpeg, const QByteArray& thumbnail) {
    QByteArray tiff("II*\0", 4);
    appendLittle(tiff, 8, 4);  // IFD0 right after the header
    appendLittle(tiff, 1, 2);
    appendEntry(tiff, 0x0112, 3, 1);
    const std::uint32_t ifd1 = 8 + 2 + 12 + 4;
    appendLittle(tiff, ifd1, 4);
    appendLittle(tiff, 3, 2);
    const std::uint32_t data = ifd1 + 2 + 3 * 12 + 4;
    appendEntry(tiff, 0x0103, 3, 6);  // compression: JPEG
    appendEntry(tiff, 0x0201, 4, data);
    appendEntry(tiff, 0x0202, 4, static_cast<std::uint32_t>(thumbnail.size()));
    appendLittle(tiff, 0, 4);
    tiff.append(thumbnail);
    QByteArray app1("\xFF\xE1", 2);
    const int length = 2 + 6 + tiff.size();
    app1.append(static_cast<char>(length >> 8));
    app1.append(static_cast<char>(length & 0xFF));
    app1.append(QByteArray("Exif\0\0", 6));
    app1.append(tiff);
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

int make(const QString& folder, int count, int width, int height, bool thumbnail) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        const QString file = folder + QStringLiteral("/IMG_%1.JPG").arg(i + 1, 4, 10, QLatin1Char('0'));
        const QImage photo = makePhoto(width, height, i);
        QByteArray bytes = jpegBytes(photo, 90);
        if (thumbnail) {
            const QImage small = photo.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            bytes = withExifThumbnail(bytes, jpegBytes(small, 80));
        }
        QFile out(file);
        if (bytes.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Run {
    double lastThumbnailMs = 0;
    double cpuMs = 0;  // both threads, from openFolder to the last thumbnail
    double openFolderMs = 0;
    double longestStallMs = 0;
    double firstScreenMs = 0;  // until every item in view at the start has its thumbnail
    int shown = 0;
};

// The items the browser shows without scrolling.
int itemsInView(const kestrelle::PhotoBrowser& browser) {
    int inView = 0;
    for (int row = 0; row < browser.count(); ++row) {
        if (browser.visualItemRect(browser.item(row)).intersects(browser.viewport()->rect())) ++inView;
    }
    return inView;
}

// One opening of the folder, from a fresh browser. A 1 ms heartbeat timer measures the stalls: the
// longest gap between two of its ticks, less its own interval.
Run timeOneRun(const std::string& folder) {
    kestrelle::PhotoBrowser browser;
    browser.resize(600, 300);
    browser.show();
    QApplication::processEvents();

    Run run;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    int firstScreen = 0;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        run.longestStallMs = std::max(run.longestStallMs, (now - lastTick) / 1e6 - 1.0);
        lastTick = now;
        if (run.firstScreenMs == 0 && firstScreen > 0 && browser.thumbnailsShown() >= firstScreen) {
            run.firstScreenMs = now / 1e6;
        }
    });
    bool done = false;
    QObject::connect(&browser, &kestrelle::PhotoBrowser::thumbnailsDone, [&] {
        run.lastThumbnailMs = clock.nsecsElapsed() / 1e6;
        run.cpuMs = processCpuMs() - run.cpuMs;
        done = true;
    });

    run.cpuMs = processCpuMs();
    clock.start();
    heartbeat.start();
    browser.openFolder(folder);
    run.openFolderMs = clock.nsecsElapsed() / 1e6;
    firstScreen = itemsInView(browser);
    while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The gap that ends with the last thumbnail's paint counts too.
    QApplication::processEvents();
    heartbeat.stop();
    run.shown = browser.thumbnailsShown();
    return run;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int time(const std::string& folder, int runs) {
    std::vector<double> last, cpu, open, stall, firstScreen;
    int shown = 0;
    timeOneRun(folder);  // warms the page cache and the decoder like the untimed first djpeg run
    for (int i = 0; i < runs; ++i) {
        const Run run = timeOneRun(folder);
        last.push_back(run.lastThumbnailMs);
        cpu.push_back(run.cpuMs);
        open.push_back(run.openFolderMs);
        stall.push_back(run.longestStallMs);
        firstScreen.push_back(run.firstScreenMs > 0 ? run.firstScreenMs : run.lastThumbnailMs);
        shown = run.shown;
    }
    std::printf("%.2f %.2f %.2f %.2f %d %.2f %.2f\n", median(last), median(cpu), median(open), median(stall),
                shown, *std::max_element(stall.begin(), stall.end()), median(firstScreen));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc >= 4 && std::string(argv[1]) == "make") {
        QCoreApplication app(argc, argv);
        const int width = argc >= 6 ? std::atoi(argv[4]) : 4000;
        const int height = argc >= 6 ? std::atoi(argv[5]) : 3000;
        const bool thumbnail = argc >= 7 && std::string(argv[6]) == "thumbnail";
        return make(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), width, height, thumbnail);
    }
    if (argc >= 4 && std::string(argv[1]) == "time") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return time(argv[2], std::max(1, std::atoi(argv[3])));
    }
    std::fprintf(stderr,
                 "usage: thumbnail_ui_bench make <folder> <count> [width height]\n"
                 "       thumbnail_ui_bench time <folder> <runs>\n");
    return 2;
}
