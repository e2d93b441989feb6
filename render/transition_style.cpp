#include "render/transition_style.h"

#include "base/run_log.h"
#include "render/transition_effects.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "SlideStyle.cpp";

bool is32Bit(const QImage& image) {
    return !image.isNull() && image.depth() == 32;
}

// Narrows a clipped span so that [offsetA, offsetA + length) and [offsetB, offsetB + length) both lie
// within [0, limitA) and [0, limitB). Returns false when nothing is left.
bool clipSpan(std::int64_t& offsetA, std::int64_t limitA, std::int64_t& offsetB, std::int64_t limitB,
              std::int64_t& length) {
    if (length <= 0) return false;
    if (offsetA < 0) {
        offsetB -= offsetA;
        length += offsetA;
        offsetA = 0;
    }
    if (offsetB < 0) {
        offsetA -= offsetB;
        length += offsetB;
        offsetB = 0;
    }
    if (length <= 0) return false;
    length = std::min({length, limitA - offsetA, limitB - offsetB});
    return length > 0;
}

class ThreadSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override {
        if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

std::mutex& randomMutex() {
    static std::mutex mutex;
    return mutex;
}

std::mt19937& randomEngine() {
    static std::mt19937 engine(1u);
    return engine;
}

std::int64_t nowInSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void copyRect(QImage& dest, std::int64_t dx, std::int64_t dy, const QImage& source, std::int64_t sx,
              std::int64_t sy, std::int64_t w, std::int64_t h) {
    if (!is32Bit(dest) || !is32Bit(source)) return;
    if (!clipSpan(dx, dest.width(), sx, source.width(), w)) return;
    if (!clipSpan(dy, dest.height(), sy, source.height(), h)) return;
    // Detach the destination first: when both name the same picture, the source then reads the same
    // (now private) pixels, and the rows are moved with overlap in mind.
    uchar* to = dest.bits();
    const qsizetype toStride = dest.bytesPerLine();
    const uchar* from = source.constBits();
    const qsizetype fromStride = source.bytesPerLine();
    const std::size_t rowBytes = static_cast<std::size_t>(w) * 4u;
    // Within one picture, a copy downwards runs from the last row up so no row is read after it was written.
    const bool upwards = to == from && dy > sy;
    for (std::int64_t k = 0; k < h; ++k) {
        const std::int64_t row = upwards ? h - 1 - k : k;
        std::memmove(to + (dy + row) * toStride + dx * 4, from + (sy + row) * fromStride + sx * 4, rowBytes);
    }
}

Sleeper& systemSleeper() {
    static ThreadSleeper sleeper;
    return sleeper;
}

namespace SharedRandom {

void seed(std::uint32_t value) {
    std::lock_guard<std::mutex> lock(randomMutex());
    randomEngine().seed(value);
}

std::uint32_t seedAndNext(std::uint32_t value) {
    std::lock_guard<std::mutex> lock(randomMutex());
    randomEngine().seed(value);
    return static_cast<std::uint32_t>(randomEngine()());
}

void next(std::uint32_t* out, std::size_t count) {
    std::lock_guard<std::mutex> lock(randomMutex());
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint32_t>(randomEngine()());
}

}  // namespace SharedRandom

std::uint32_t secondsSeed(std::int64_t seconds) {
    return static_cast<std::uint32_t>(seconds);
}

TransitionStyle::TransitionStyle(int number) : number_(number) {}

int TransitionStyle::pauseMs(double steps, double seconds) {
    if (!std::isfinite(steps) || steps <= 0.0) return 0;
    const double ms = std::trunc(seconds * 1000.0 / steps);
    if (!(ms > 0.0)) return 0;  // negative, zero or not a number
    return ms >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

VideoRunResult TransitionStyle::renderToVideo(QImage& canvas, const QImage& source, double need,
                                              FrameWriter& writer, int& frameCounter, int frameLimit,
                                              const ProgressCallback& progress) const {
    VideoRunResult result;
    const int entry = frameCounter;
    if (std::isfinite(need) && need > 0.0 && is32Bit(canvas) && is32Bit(source)) {
        const int width = canvas.width();
        const int height = canvas.height();
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 4u;
        // Packed canvases are handed to the writer as they stand; padded ones are packed into one
        // buffer that lives for the whole run.
        std::vector<std::uint8_t> packed;
        drawSteps(canvas, source, need, [&]() -> bool {
            if (frameCounter < INT_MAX) ++frameCounter;
            ++result.advanced;
            if (progress) progress(frameCounter);
            if (frameCounter >= frameLimit) {
                result.limitReached = true;
                return false;
            }
            const QImage& view = canvas;
            const std::uint8_t* pixels = view.constBits();
            if (static_cast<std::size_t>(view.bytesPerLine()) != rowBytes) {
                packed.resize(rowBytes * static_cast<std::size_t>(height));
                for (int row = 0; row < height; ++row) {
                    std::memcpy(packed.data() + row * rowBytes, view.constScanLine(row), rowBytes);
                }
                pixels = packed.data();
            }
            if (!writer.writeFrame(pixels, width, height, audioBlock(), kAudioSamplesPerFrame)) {
                // The writer is closed or the job cancelled: no later step would be taken either.
                ++result.refused;
                return false;
            }
            ++result.written;
            return true;
        });
    }
    KESTRELLE_LOG_AS(kLogSource, 1, "Need %.2f,Act %d", need,
                     static_cast<int>(static_cast<std::int64_t>(frameCounter) - entry));
    return result;
}

void TransitionStyle::animateOnScreen(FramePresenter& target, int x, int y, QImage& work,
                                      const QImage& source, double steps, double seconds,
                                      Sleeper& sleeper) const {
    if (std::isfinite(steps) && steps > 0.0 && is32Bit(work) && is32Bit(source)) {
        const int pause = pauseMs(steps, seconds);
        drawSteps(work, source, steps, [&]() -> bool {
            target.present(work, x, y);
            sleeper.sleepMs(pause);
            return true;
        });
    }
    if (!source.isNull()) target.present(source, x, y);
}

TransitionRegistry::TransitionRegistry() : owned_(makeTransitionEffects()) {
    order_.reserve(owned_.size());
    for (const auto& style : owned_) order_.push_back(style.get());
}

const TransitionRegistry& TransitionRegistry::instance() {
    static const TransitionRegistry registry;
    return registry;
}

const TransitionStyle* TransitionRegistry::find(int number) const {
    return find(number, nowInSeconds());
}

const TransitionStyle* TransitionRegistry::find(int number, std::int64_t nowSeconds) const {
    if (number == 0) {
        number = static_cast<int>(SharedRandom::seedAndNext(secondsSeed(nowSeconds)) % kEffectCount) + 1;
    }
    KESTRELLE_LOG_AS(kLogSource, 0, "Found Slide Style %d", number);
    for (const TransitionStyle* style : order_) {
        if (style->number() == number) return style;
    }
    return nullptr;
}

}  // namespace kestrelle
