#include "render/moving_frames.h"

#include <cstring>

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

MovingTransitionWriter::MovingTransitionWriter(FrameWriter& target, const SlidePicture& current,
                                               const SlidePicture& next, double currentStartSeconds,
                                               double framesPerSecond)
    : target_(target),
      current_(current),
      next_(next),
      currentStart_(currentStartSeconds),
      fps_(framesPerSecond > 0.0 ? framesPerSecond : 1.0) {}

bool MovingTransitionWriter::writeFrame(const std::uint8_t* labels, int width, int height,
                                        const std::uint8_t* audio, int sampleCount) {
    const double offset = frame_ / fps_;
    ++frame_;
    const QImage& current = current_.frameAt(currentStart_ + offset, currentScratch_);
    const QImage& next = next_.frameAt(offset, nextScratch_);
    const bool sized = current.width() == width && current.height() == height && next.width() == width &&
                       next.height() == height && current.depth() == 32 && next.depth() == 32;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    frame_pixels_.resize(count * 4u);
    auto* out = reinterpret_cast<std::uint32_t*>(frame_pixels_.data());
    const auto* label = reinterpret_cast<const std::uint32_t*>(labels);
    if (!sized) {
        std::memset(out, 0, count * 4u);
    } else {
        const std::uint8_t* currentBits = current.constBits();
        const std::uint8_t* nextBits = next.constBits();
        const qsizetype currentStride = current.bytesPerLine();
        const qsizetype nextStride = next.bytesPerLine();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t value = label[i];
            const std::uint32_t x = value & kXMask;
            const std::uint32_t y = (value & ~kNextFlag) >> kXBits;
            const std::uint8_t* row =
                (value & kNextFlag) ? nextBits + y * nextStride : currentBits + y * currentStride;
            out[i] = reinterpret_cast<const std::uint32_t*>(row)[x];
        }
    }
    return target_.writeFrame(frame_pixels_.data(), width, height, audio, sampleCount);
}

}  // namespace kestrelle
