// Writing a slideshow-like 1920 x 1080 video through the MP4 writer (H.264 + AAC).
//   mp4_write_bench raw <file.bgra> <frames>               the frames as raw top-down BGRA (for ffmpeg)
//   mp4_write_bench still <file.bgra> <variant>            one picture (0 or 1) as raw BGRA
//   mp4_write_bench write <file.mp4> <frames> [plain]      writes them through Mp4Writer (libx264
//                                                          veryfast, 8000 kbit/s, 29.97 fps, AAC
//                                                          silence) and prints the seconds taken:
//                                                          wall clock, then processor time. "plain"
//                                                          announces no stills, so every repeated
//                                                          frame is converted again.
// The content: two generated photo-like pictures, 120 still frames of one, then a 30-frame wipe to the
// other, and so on. As in the generation job, a still stretch hands the same frame to the writer again
// and again (announced with announceStill); each wipe frame is composed anew.
#include "media/h264_settings.h"
#include "media/mp4_writer.h"
#include "media/video_compressor.h"

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

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kStill = 120;
constexpr int kWipe = 30;
constexpr double kFps = 29.97;

using Picture = std::vector<std::uint8_t>;  // top-down BGRA

// Smooth colour fields with a little noise: encodes roughly like a photo, unlike a flat card.
Picture makePicture(int variant) {
    Picture p(static_cast<std::size_t>(kWidth) * kHeight * 4);
    std::uint32_t seed = 1234u + static_cast<std::uint32_t>(variant);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>((seed >> 24) % 9) - 4;
            const double u = static_cast<double>(x) / kWidth;
            const double v = static_cast<double>(y) / kHeight;
            const double a = variant ? 3.0 : 6.0;
            const int r = static_cast<int>(120 + 90 * std::sin(a * u + 2.0 * v)) + noise;
            const int g = static_cast<int>(110 + 80 * std::sin(4.0 * v - a * u + 1.0)) + noise;
            const int b = static_cast<int>(100 + 70 * std::cos(5.0 * u * v + variant)) + noise;
            std::uint8_t* px = &p[(static_cast<std::size_t>(y) * kWidth + x) * 4];
            px[0] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
            px[1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
            px[2] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
            px[3] = 0;
        }
    }
    return p;
}

// Composes frame i into `out`; bottomUp puts the picture's last row first.
void composeFrame(int i, const Picture& a, const Picture& b, std::uint8_t* out, bool bottomUp) {
    const int period = kStill + kWipe;
    const bool evenSlide = (i / period) % 2 == 0;
    const Picture& from = evenSlide ? a : b;
    const Picture& to = evenSlide ? b : a;
    const int pos = i % period;
    const int edge = pos < kStill ? 0 : (pos - kStill + 1) * kWidth / kWipe;  // columns already wiped
    const std::size_t rowBytes = static_cast<std::size_t>(kWidth) * 4;
    const std::size_t edgeBytes = static_cast<std::size_t>(edge) * 4;
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = out + rowBytes * static_cast<std::size_t>(bottomUp ? kHeight - 1 - y : y);
        const std::size_t at = rowBytes * static_cast<std::size_t>(y);
        if (edgeBytes) std::memcpy(row, to.data() + at, edgeBytes);
        std::memcpy(row + edgeBytes, from.data() + at + edgeBytes, rowBytes - edgeBytes);
    }
}

double processorSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int writeRaw(const char* file, int frames) {
    const Picture a = makePicture(0), b = makePicture(1);
    std::FILE* out = std::fopen(file, "wb");
    if (!out) return 1;
    std::vector<std::uint8_t> frame(a.size());
    for (int i = 0; i < frames; ++i) {
        composeFrame(i, a, b, frame.data(), false);
        if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) {
            std::fclose(out);
            return 1;
        }
    }
    return std::fclose(out) == 0 ? 0 : 1;
}

int writeStill(const char* file, int variant) {
    const Picture p = makePicture(variant);
    std::FILE* out = std::fopen(file, "wb");
    if (!out) return 1;
    const bool ok = std::fwrite(p.data(), 1, p.size(), out) == p.size();
    return std::fclose(out) == 0 && ok ? 0 : 1;
}

int writeMp4(const char* file, int frames, bool announce) {
    const Picture a = makePicture(0), b = makePicture(1);
    std::vector<std::uint8_t> frame(a.size());
    const std::vector<std::int16_t> samples(8, 0);  // as the generation job passes them
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = processorSeconds();
    kestrelle::ContainerWriterOptions options;
    options.path = file;
    options.frameLimit = frames + 1;
    options.width = kWidth;
    options.height = kHeight;
    options.framesPerSecond = kFps;
    options.compressorType = kestrelle::kCompressorType;
    options.compressorHandler = kestrelle::kH264Handler;
    options.videoBitRateKbps = 8000;
    kestrelle::Mp4Writer writer;
    if (writer.open(options) != kestrelle::WriterError::Ok) {
        std::fprintf(stderr, "Mp4Writer::open failed\n");
        return 1;
    }
    for (int i = 0; i < frames; ++i) {
        const int pos = i % (kStill + kWipe);
        if (pos == 0 || pos >= kStill) composeFrame(i, a, b, frame.data(), true);
        if (announce && pos == 0) writer.announceStill(std::min(kStill, frames - i));
        if (!writer.writeFrame(frame.data(), samples.data(), 8)) {
            std::fprintf(stderr, "frame %d refused\n", i);
            return 1;
        }
    }
    if (!writer.close()) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %.3f\n", seconds, processorSeconds() - cpuStart);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s raw|still|write <file> <frames|variant> [plain]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int count = std::atoi(argv[3]);
    if (mode == "still") return writeStill(argv[2], count);
    if (count <= 0) return 2;
    if (mode == "raw") return writeRaw(argv[2], count);
    if (mode == "write") return writeMp4(argv[2], count, !(argc > 4 && std::string(argv[4]) == "plain"));
    return 2;
}
