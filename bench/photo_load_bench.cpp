// Loading a large JPEG fitted into a video frame.
//   photo_load_bench make <file.jpg> [width height]    writes a photo-like JPEG (default 4000 x 3000, quality
//   90) photo_load_bench time <file.jpg> <runs> <width> <height>
//                                                      loads it <runs> times fitted into width x height and
//                                                      prints the median wall and CPU times in milliseconds
#include "render/photo_loader.h"

#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

// Smooth gradients, a few hard-edged shapes and a little sensor-like noise: compresses and decodes
// roughly like a camera photo, unlike a flat test card.
bool makePhoto(const std::string& path, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t seed = 12345u;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) % 13) - 6;
            const double u = static_cast<double>(x) / width;
            const double v = static_cast<double>(y) / height;
            const int r = static_cast<int>(120 + 90 * std::sin(6.0 * u + 2.0 * v)) + noise;
            const int g = static_cast<int>(110 + 80 * std::sin(4.0 * v - 3.0 * u + 1.0)) + noise;
            const int b = static_cast<int>(100 + 70 * std::cos(5.0 * u * v + 0.5)) + noise;
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int x = static_cast<int>(seed % static_cast<std::uint32_t>(width));
        seed = seed * 1664525u + 1013904223u;
        const int y = static_cast<int>(seed % static_cast<std::uint32_t>(height));
        painter.setBrush(QColor::fromHsv(static_cast<int>(seed % 360), 160, 200, 160));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(x, y, width / 12, height / 10);
    }
    painter.end();
    return image.save(QString::fromStdString(path), "JPEG", 90);
}

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int timeLoads(const std::string& path, int runs, int width, int height) {
    QImage picture;
    // One untimed load brings in the image plugins.
    if (!kestrelle::PhotoLoader::load(picture, width, height, path, kestrelle::kBlackBackground)) {
        std::fprintf(stderr, "cannot load %s\n", path.c_str());
        return 1;
    }
    const int cx = width / 2;
    const int cy = height / 2;
    if (picture.pixel(cx, cy) == 0xFF000000u) {
        std::fprintf(stderr, "%s was not decoded (background only)\n", path.c_str());
        return 1;
    }
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = processCpuMs();
        QImage fresh;  // as the callers do: a new picture each time
        kestrelle::PhotoLoader::load(fresh, width, height, path, kestrelle::kBlackBackground);
        cpu.push_back(processCpuMs() - cpuStart);
        const auto end = std::chrono::steady_clock::now();
        wall.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::printf("%.2f %.2f\n", median(wall), median(cpu));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
        const int width = argc >= 5 ? std::atoi(argv[3]) : 4000;
        const int height = argc >= 5 ? std::atoi(argv[4]) : 3000;
        return makePhoto(argv[2], width, height) ? 0 : 1;
    }
    if (argc == 6 && std::strcmp(argv[1], "time") == 0) {
        const int runs = std::atoi(argv[3]);
        if (runs <= 0) {
            return 2;
        }
        return timeLoads(argv[2], runs, std::atoi(argv[4]), std::atoi(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: %s make <file.jpg> [width height] | time <file.jpg> <runs> <width> <height>\n",
                 argv[0]);
    return 2;
}
