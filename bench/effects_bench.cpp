// Time per frame of every transition effect rendered into a video at 1920 x 1080 with 30 frames asked
// for, into a writer that discards the frames: the cost of the copies and the frame read-back alone.
//
//   effects_bench [repetitions]

#include "render/transition_style.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using kestrelle::FrameWriter;
using kestrelle::TransitionRegistry;
using kestrelle::TransitionStyle;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr double kNeed = 30.0;

// Discards every frame, touching one byte per row so the frame's pixels are really handed over.
class DiscardingWriter final : public FrameWriter {
public:
    bool writeFrame(const std::uint8_t* pixels, int width, int height, const std::uint8_t*, int) override {
        const std::size_t row = static_cast<std::size_t>(width) * 4;
        for (int y = 0; y < height; ++y) checksum += pixels[y * row + (y % width) * 4];
        return true;
    }
    unsigned checksum = 0;
};

void fillPattern(QImage& image, unsigned seed) {
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) row[x] = 0xFF000000u | ((x * 7 + y * 13 + seed) & 0xFFFFFFu);
    }
}

// A canvas whose rows carry padding, so every frame must be packed before it is written.
struct PaddedCanvas {
    explicit PaddedCanvas(const QImage& from)
        : stride(from.width() * 4 + 64),
          buffer(static_cast<std::size_t>(stride) * from.height()),
          image(buffer.data(), from.width(), from.height(), stride, QImage::Format_RGB32) {}
    int stride;
    std::vector<uchar> buffer;
    QImage image;
};

void restore(QImage& canvas, const QImage& original) {
    for (int y = 0; y < canvas.height(); ++y) {
        std::memcpy(canvas.scanLine(y), original.constScanLine(y),
                    static_cast<std::size_t>(canvas.width()) * 4);
    }
}

struct Timing {
    double msPerFrame = 0;
    int frames = 0;
};

// Median over the repetitions of the time per written frame.
Timing measure(const TransitionStyle& style, QImage& canvas, const QImage& original, const QImage& source,
               int repetitions, DiscardingWriter& writer) {
    std::vector<double> perFrame;
    Timing timing;
    for (int r = 0; r < repetitions; ++r) {
        restore(canvas, original);
        int counter = 0;
        const auto start = std::chrono::steady_clock::now();
        const kestrelle::VideoRunResult result =
            style.renderToVideo(canvas, source, kNeed, writer, counter, INT_MAX);
        const auto end = std::chrono::steady_clock::now();
        timing.frames = result.written;
        const double ms = std::chrono::duration<double, std::milli>(end - start).count();
        perFrame.push_back(result.written > 0 ? ms / result.written : 0.0);
    }
    std::sort(perFrame.begin(), perFrame.end());
    timing.msPerFrame = perFrame[perFrame.size() / 2];
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    QImage original(kWidth, kHeight, QImage::Format_RGB32);
    QImage source(kWidth, kHeight, QImage::Format_RGB32);
    fillPattern(original, 1);
    fillPattern(source, 99);
    QImage canvas = original.copy();
    PaddedCanvas padded(original);
    DiscardingWriter writer;

    std::printf("%dx%d, need %.0f, median of %d runs\n", kWidth, kHeight, kNeed, repetitions);
    std::printf("%-3s %-24s %7s %14s %14s\n", "no", "effect", "frames", "ms/frame", "ms/frame");
    std::printf("%-3s %-24s %7s %14s %14s\n", "", "", "", "(packed)", "(padded rows)");
    for (const TransitionStyle* style : TransitionRegistry::instance().styles()) {
        const Timing packedTiming = measure(*style, canvas, original, source, repetitions, writer);
        const Timing paddedTiming = measure(*style, padded.image, original, source, repetitions, writer);
        std::printf("%-3d %-24s %7d %14.3f %14.3f\n", style->number(), style->name(), packedTiming.frames,
                    packedTiming.msPerFrame, paddedTiming.msPerFrame);
    }
    // The floor for comparison: one plain copy of a whole frame.
    std::vector<double> copies;
    std::vector<uchar> frame(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (int r = 0; r < repetitions * 30; ++r) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(frame.data(), source.constBits(), frame.size());
        const auto end = std::chrono::steady_clock::now();
        writer.checksum += frame[static_cast<std::size_t>(r) % frame.size()];
        copies.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(copies.begin(), copies.end());
    std::printf("one whole-frame memcpy (%zu bytes): %.3f ms\n", frame.size(), copies[copies.size() / 2]);
    std::printf("(checksum %u)\n", writer.checksum);
    return 0;
}
