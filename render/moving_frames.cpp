#include "render/moving_frames.h"

#include <cmath>
#include <cstring>
#include <future>
#include <system_error>

namespace kestrelle {

namespace {

constexpr std::uint32_t kNextFlag = 0x80000000u;
constexpr int kXBits = 15;
constexpr std::uint32_t kXMask = (1u << kXBits) - 1u;

}  // namespace

const QImage& SlidePicture::frameAt(double seconds, QImage& scratch) const {
    if (!moving) return still;
    moving->draw(seconds, scratch);
    return scratch;
}

bool labelsFit(int width, int height) {
    return width > 0 && height > 0 && width <= static_cast<int>(kXMask) + 1 && height <= 65536;
}

QImage labelPicture(int width, int height, bool next) {
    if (!labelsFit(width, height)) return {};
    QImage labels(width, height, QImage::Format_RGB32);
    if (labels.isNull()) return labels;
    const std::uint32_t flag = next ? kNextFlag : 0u;
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(labels.scanLine(y));
        const std::uint32_t rowLabel = flag | (static_cast<std::uint32_t>(y) << kXBits);
        for (int x = 0; x < width; ++x) row[x] = rowLabel | static_cast<std::uint32_t>(x);
    }
    return labels;
}

const QImage& MovingPair::frameAt(const QImage& labels, double offsetSeconds) {
    std::future<void> currentDrawn;
    if (current_.moves() && next_.moves()) {
        try {
            currentDrawn = std::async(std::launch::async, [this, offsetSeconds] {
                current_.moving->draw(currentStart_ + offsetSeconds, currentScratch_);
            });
        } catch (const std::system_error&) {
            // No thread to be had: drawn below, one after the other.
        }
    }
    const bool drawnAside = currentDrawn.valid();
    const QImage& next = next_.frameAt(offsetSeconds, nextScratch_);
    if (drawnAside) currentDrawn.get();
    const QImage& current =
        drawnAside ? currentScratch_ : current_.frameAt(currentStart_ + offsetSeconds, currentScratch_);
    frameFromLabels(labels, current, next, frame_);
    return frame_;
}

MovingTransitionWriter::MovingTransitionWriter(FrameWriter& target, const SlidePicture& current,
                                               const SlidePicture& next, double currentStartSeconds,
                                               double framesPerSecond)
    : target_(target),
      pair_(current, next, currentStartSeconds),
      fps_(framesPerSecond > 0.0 ? framesPerSecond : 1.0) {}

bool MovingTransitionWriter::writeFrame(const std::uint8_t* labels, int width, int height,
                                        const std::uint8_t* audio, int sampleCount) {
    const double offset = framesWritten_ / fps_;
    ++framesWritten_;
    // The labels are read where they lie; the frame is packed (RGB32 rows need no padding).
    const QImage labelGrid(labels, width, height, static_cast<qsizetype>(width) * 4, QImage::Format_RGB32);
    const QImage& frame = pair_.frameAt(labelGrid, offset);
    return target_.writeFrame(frame.constBits(), width, height, audio, sampleCount);
}

bool frameFromLabels(const QImage& labels, const QImage& current, const QImage& next, QImage& out) {
    const int width = labels.width();
    const int height = labels.height();
    if (out.size() != labels.size() || out.format() != QImage::Format_RGB32)
        out = QImage(labels.size(), QImage::Format_RGB32);
    if (out.isNull()) return false;
    const bool sized = labels.depth() == 32 && current.size() == labels.size() &&
                       next.size() == labels.size() && current.depth() == 32 && next.depth() == 32;
    if (!sized) {
        out.fill(0xFF000000u);
        return false;
    }
    const std::uint8_t* currentBits = current.constBits();
    const std::uint8_t* nextBits = next.constBits();
    const qsizetype currentStride = current.bytesPerLine();
    const qsizetype nextStride = next.bytesPerLine();
    for (int row = 0; row < height; ++row) {
        const auto* label = reinterpret_cast<const std::uint32_t*>(labels.constScanLine(row));
        auto* target = reinterpret_cast<std::uint32_t*>(out.scanLine(row));
        for (int x = 0; x < width; ++x) {
            const std::uint32_t value = label[x];
            // A label is only trusted inside the pictures: anything else is a foreign picture.
            const std::uint32_t sx = value & kXMask;
            const std::uint32_t sy = (value & ~kNextFlag) >> kXBits;
            if (sx >= static_cast<std::uint32_t>(width) || sy >= static_cast<std::uint32_t>(height)) {
                target[x] = 0xFF000000u;
                continue;
            }
            const std::uint8_t* source =
                (value & kNextFlag) ? nextBits + sy * nextStride : currentBits + sy * currentStride;
            target[x] = reinterpret_cast<const std::uint32_t*>(source)[sx];
        }
    }
    return true;
}

MovingTransitionPresenter::MovingTransitionPresenter(FramePresenter& target, const SlidePicture& current,
                                                     const SlidePicture& next, double currentStartSeconds,
                                                     double secondsPerStep)
    : target_(target),
      pair_(current, next, std::isfinite(currentStartSeconds) ? currentStartSeconds : 0.0),
      secondsPerStep_(std::isfinite(secondsPerStep) && secondsPerStep > 0.0 ? secondsPerStep : 0.0) {}

void MovingTransitionPresenter::present(const QImage& labels, int x, int y) {
    const double offset = frame_ * secondsPerStep_;
    ++frame_;
    if (labels.isNull()) return;
    target_.present(pair_.frameAt(labels, offset), x, y);
}

}  // namespace kestrelle
