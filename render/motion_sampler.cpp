#include "render/motion_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace kestrelle {
namespace {

// The source pixels each frame pixel reads along one axis and their weights, the same number of taps for
// every frame pixel (padded with zero weights) so the loops have a fixed shape. Pixels outside the source
// are left out; their share (1 - coverage) is the background's.
struct AxisFilter {
    int taps = 0;
    std::vector<int> first;
    std::vector<float> coverage;
    // `taps` weights per frame pixel.
    std::vector<float> weights;
    // The source range any frame pixel reads: [low, high).
    int low = 0;
    int high = 0;
};

// The width of the box each frame pixel averages the source over, in source pixels: one (which is bilinear
// interpolation exactly) down to a shrink of 1.5, the frame pixel's own footprint (an area average) from a
// shrink of 2, and in between a width growing steadily from one to two, so a zoom through any scale never
// jumps where one filter would hand over to another.
double boxWidth(double step) {
    if (step <= 1.5) return 1.0;
    if (step <= 2.0) return 1.0 + 2.0 * (step - 1.5);
    return step;
}

void buildAxis(AxisFilter& filter, double viewStart, double viewLength, int outLength, int sourceLength) {
    const double step = viewLength / outLength;
    const double width = boxWidth(step);
    // The most source pixels a box of that width can touch, capped by the source itself and by
    // kMostTaps: a view thousands of times larger than the frame (only ever a hostile one; motion views
    // stay within the photo's still view) keeps bounded tables and loses the far part of each box.
    constexpr double kMostTaps = 1024.0;
    const double most = std::min({std::ceil(width) + 1.0, static_cast<double>(sourceLength), kMostTaps});
    filter.taps = static_cast<int>(std::max(1.0, most));
    filter.first.assign(static_cast<std::size_t>(outLength), 0);
    filter.coverage.assign(static_cast<std::size_t>(outLength), 0.0f);
    filter.weights.assign(static_cast<std::size_t>(outLength) * filter.taps, 0.0f);
    filter.low = sourceLength;
    filter.high = 0;
    for (int o = 0; o < outLength; ++o) {
        const double centre = viewStart + (o + 0.5) * step;
        const double spanStart = centre - width * 0.5;
        const double spanEnd = centre + width * 0.5;
        if (!(spanEnd > 0.0 && spanStart < sourceLength)) continue;
        const int from = static_cast<int>(std::max(0.0, std::floor(spanStart)));
        const int to =
            std::min(static_cast<int>(std::min(static_cast<double>(sourceLength), std::ceil(spanEnd))),
                     from + filter.taps);
        float* weights = filter.weights.data() + static_cast<std::size_t>(o) * filter.taps;
        double sum = 0.0;
        for (int j = from; j < to; ++j) {
            const double overlap = std::min(spanEnd, j + 1.0) - std::max(spanStart, static_cast<double>(j));
            const double weight = std::max(0.0, overlap) / width;
            weights[j - from] = static_cast<float>(weight);
            sum += weight;
        }
        // Wholly inside the source: the weights add up to exactly one, with no background.
        const bool inside = spanStart >= 0.0 && spanEnd <= sourceLength;
        if (inside && sum > 0.0) {
            for (int t = 0; t < to - from; ++t) weights[t] = static_cast<float>(weights[t] / sum);
        }
        filter.first[o] = from;
        filter.coverage[o] = inside ? 1.0f : static_cast<float>(std::clamp(sum, 0.0, 1.0));
        filter.low = std::min(filter.low, from);
        filter.high = std::max(filter.high, to);
    }
    if (filter.high <= filter.low) {
        filter.low = 0;
        filter.high = 0;
    }
}

// Reused between frames on each thread, so a frame allocates nothing once the sizes settle.
struct SamplerScratch {
    AxisFilter columns;
    AxisFilter rows;
    std::vector<int> columnAt;
    std::vector<float> line;
};

void fillBackground(QImage& out, std::uint32_t background) {
    out.fill(background | 0xFF000000u);
}

// The vertical pass: the weighted sum of `taps` source rows over the line's channels. Blocks of sixteen
// channels with a fixed count, so the compiler vectorises them at any optimisation level; the last few
// channels one at a time.
template <int Taps>
void sumRows(float* __restrict line, const std::uint8_t* const* rows, const float* weights, int taps,
             std::size_t channels) {
    constexpr std::size_t kBlock = 16;
    const int count = Taps > 0 ? Taps : taps;
    const std::size_t blocked = channels / kBlock * kBlock;
    for (std::size_t k = 0; k < blocked; k += kBlock) {
        float* __restrict out = line + k;
        const std::uint8_t* __restrict first = rows[0] + k;
        const float w0 = weights[0];
        for (std::size_t i = 0; i < kBlock; ++i) out[i] = w0 * first[i];
        for (int t = 1; t < count; ++t) {
            const std::uint8_t* __restrict next = rows[t] + k;
            const float w = weights[t];
            for (std::size_t i = 0; i < kBlock; ++i) out[i] += w * next[i];
        }
    }
    for (std::size_t k = blocked; k < channels; ++k) {
        float sum = weights[0] * rows[0][k];
        for (int t = 1; t < count; ++t) sum += weights[t] * rows[t][k];
        line[k] = sum;
    }
}

// Four channels of one pixel as one vector (GCC and Clang vector extensions: SSE on x86, NEON on ARM).
typedef float Lanes __attribute__((vector_size(16)));
typedef std::int32_t IntLanes __attribute__((vector_size(16)));

inline Lanes loadLanes(const float* from) {
    Lanes lanes;
    std::memcpy(&lanes, from, sizeof lanes);
    return lanes;
}

// An RGB32 pixel's channels.
inline Lanes pixelLanes(std::uint32_t pixel) {
    return Lanes{static_cast<float>(pixel & 0xFFu), static_cast<float>((pixel >> 8) & 0xFFu),
                 static_cast<float>((pixel >> 16) & 0xFFu), 255.0f};
}

// The horizontal pass of one frame row, with the background's share of each pixel.
template <int Taps, bool Over>
void sumColumns(std::uint32_t* target, const float* line, const AxisFilter& columns, const int* columnAt,
                int taps, float rowCoverage, const float* background, int outWidth) {
    const int count = Taps > 0 ? Taps : taps;
    const Lanes backdrop = loadLanes(background);
    const Lanes zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Lanes top = {255.0f, 255.0f, 255.0f, 255.0f};
    const Lanes half = {0.5f, 0.5f, 0.5f, 0.5f};
    const float* weights = columns.weights.data();
    for (int ox = 0; ox < outWidth; ++ox, weights += count) {
        const float* samples = line + columnAt[ox];
        const float share = 1.0f - columns.coverage[ox] * rowCoverage;
        Lanes shade = share * (Over ? pixelLanes(target[ox]) : backdrop);
        for (int t = 0; t < count; ++t) shade += weights[t] * loadLanes(samples + t * 4);
        shade += half;
        shade = shade < zero ? zero : shade;
        shade = shade > top ? top : shade;
        const IntLanes bytes = __builtin_convertvector(shade, IntLanes);
        target[ox] = 0xFF000000u | static_cast<std::uint32_t>(bytes[0]) |
                     (static_cast<std::uint32_t>(bytes[1]) << 8) |
                     (static_cast<std::uint32_t>(bytes[2]) << 16);
    }
}

}  // namespace

template <bool Over>
bool drawView(const QImage& source, const QRectF& view, QImage& out, std::uint32_t background) {
    if (out.isNull() || out.width() <= 0 || out.height() <= 0) return false;
    if (out.format() != QImage::Format_RGB32) {
        out = QImage(out.size(), QImage::Format_RGB32);
        if (out.isNull()) return false;
    }
    const bool finite = std::isfinite(view.x()) && std::isfinite(view.y()) && std::isfinite(view.width()) &&
                        std::isfinite(view.height());
    if (!finite || !(view.width() > 0.0) || !(view.height() > 0.0)) {
        if (!Over) fillBackground(out, background);
        return false;
    }
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
        if (!Over) fillBackground(out, background);
        return true;
    }
    // Four bytes a pixel (blue, green, red, unused); any other layout is converted first.
    const bool fourBytes = source.format() == QImage::Format_RGB32 ||
                           source.format() == QImage::Format_ARGB32 ||
                           source.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage converted = fourBytes ? QImage() : source.convertToFormat(QImage::Format_RGB32);
    const QImage& picture = fourBytes ? source : converted;
    if (picture.isNull()) {
        if (!Over) fillBackground(out, background);
        return true;
    }

    thread_local SamplerScratch scratch;
    AxisFilter& columns = scratch.columns;
    AxisFilter& rows = scratch.rows;
    const int outWidth = out.width();
    const int outHeight = out.height();
    buildAxis(columns, view.x(), view.width(), outWidth, picture.width());
    buildAxis(rows, view.y(), view.height(), outHeight, picture.height());

    // The line holds the summed columns [low, high) and, past them, zero pixels that padded taps may read.
    const int low = columns.low;
    const std::size_t pixelsInLine = static_cast<std::size_t>(columns.high - columns.low);
    scratch.line.assign((pixelsInLine + static_cast<std::size_t>(columns.taps)) * 4, 0.0f);
    float* line = scratch.line.data();
    scratch.columnAt.resize(static_cast<std::size_t>(outWidth));
    for (int ox = 0; ox < outWidth; ++ox) {
        scratch.columnAt[ox] = std::max(0, columns.first[ox] - low) * 4;
    }

    const std::uint32_t backgroundPixel = background | 0xFF000000u;
    const float backgroundChannel[4] = {static_cast<float>(background & 0xFFu),
                                        static_cast<float>((background >> 8) & 0xFFu),
                                        static_cast<float>((background >> 16) & 0xFFu), 255.0f};
    std::vector<const std::uint8_t*> sourceRows(static_cast<std::size_t>(rows.taps));

    for (int oy = 0; oy < outHeight; ++oy) {
        auto* target = reinterpret_cast<std::uint32_t*>(out.scanLine(oy));
        if (rows.coverage[oy] <= 0.0f || pixelsInLine == 0) {
            if (!Over) std::fill(target, target + outWidth, backgroundPixel);
            continue;
        }
        // Rows past the source's end carry zero weight; they read the last row instead.
        const float* rowWeights = rows.weights.data() + static_cast<std::size_t>(oy) * rows.taps;
        for (int t = 0; t < rows.taps; ++t) {
            const int row = std::min(rows.first[oy] + t, picture.height() - 1);
            sourceRows[t] = picture.constScanLine(row) + static_cast<std::size_t>(low) * 4;
        }
        const std::size_t channels = pixelsInLine * 4;
        switch (rows.taps) {
            case 1:
                sumRows<1>(line, sourceRows.data(), rowWeights, 1, channels);
                break;
            case 2:
                sumRows<2>(line, sourceRows.data(), rowWeights, 2, channels);
                break;
            case 3:
                sumRows<3>(line, sourceRows.data(), rowWeights, 3, channels);
                break;
            default:
                sumRows<0>(line, sourceRows.data(), rowWeights, rows.taps, channels);
                break;
        }

        const int* columnAt = scratch.columnAt.data();
        const float rowCoverage = rows.coverage[oy];
        switch (columns.taps) {
            case 1:
                sumColumns<1, Over>(target, line, columns, columnAt, 1, rowCoverage, backgroundChannel,
                                    outWidth);
                break;
            case 2:
                sumColumns<2, Over>(target, line, columns, columnAt, 2, rowCoverage, backgroundChannel,
                                    outWidth);
                break;
            case 3:
                sumColumns<3, Over>(target, line, columns, columnAt, 3, rowCoverage, backgroundChannel,
                                    outWidth);
                break;
            case 4:
                sumColumns<4, Over>(target, line, columns, columnAt, 4, rowCoverage, backgroundChannel,
                                    outWidth);
                break;
            default:
                sumColumns<0, Over>(target, line, columns, columnAt, columns.taps, rowCoverage,
                                    backgroundChannel, outWidth);
                break;
        }
    }
    return true;
}

bool renderView(const QImage& source, const QRectF& view, QImage& out, std::uint32_t background) {
    return drawView<false>(source, view, out, background);
}

bool renderViewOver(const QImage& source, const QRectF& view, QImage& out) {
    if (!out.isNull() && out.format() != QImage::Format_RGB32)
        out = out.convertToFormat(QImage::Format_RGB32);
    return drawView<true>(source, view, out, 0u);
}

namespace {

// Three passes of a running box average along rows, then along columns: close to a Gaussian blur.
void boxBlur(QImage& picture, int radius) {
    const int width = picture.width();
    const int height = picture.height();
    std::vector<std::uint32_t> copy(static_cast<std::size_t>(std::max(width, height)));
    const auto blurLine = [&](auto pixelAt, int length) {
        for (int i = 0; i < length; ++i) copy[i] = pixelAt(i);
        for (int i = 0; i < length; ++i) {
            std::uint32_t sum[3] = {0, 0, 0};
            int count = 0;
            for (int j = std::max(0, i - radius); j <= std::min(length - 1, i + radius); ++j, ++count) {
                for (int c = 0; c < 3; ++c) sum[c] += (copy[j] >> (8 * c)) & 0xFFu;
            }
            std::uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) pixel |= ((sum[c] + count / 2) / count) << (8 * c);
            pixelAt(i) = pixel;
        }
    };
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(picture.scanLine(y));
            blurLine([row](int i) -> std::uint32_t& { return row[i]; }, width);
        }
        for (int x = 0; x < width; ++x) {
            blurLine(
                [&picture, x](int i) -> std::uint32_t& {
                    return reinterpret_cast<std::uint32_t*>(picture.scanLine(i))[x];
                },
                height);
        }
    }
}

}  // namespace

bool renderBlurredBackdrop(const QImage& source, const QRectF& fillView, QImage& out) {
    if (out.isNull() || out.width() <= 0 || out.height() <= 0) return false;
    // Blurred small and enlarged: the blur costs little and the enlargement smooths it further.
    constexpr int kReduction = 16;
    constexpr int kBlurRadius = 2;
    QImage small(std::max(1, out.width() / kReduction), std::max(1, out.height() / kReduction),
                 QImage::Format_RGB32);
    if (small.isNull() || !renderView(source, fillView, small, 0xFF000000u)) {
        out.fill(0xFF000000u);
        return false;
    }
    boxBlur(small, kBlurRadius);
    // Enlarged from the centre of its first pixel to the centre of its last, so the edges are not blended
    // with any background.
    const double insetX = small.width() > 1 ? 0.5 : 0.0;
    const double insetY = small.height() > 1 ? 0.5 : 0.0;
    return renderView(small, QRectF(insetX, insetY, small.width() - 2 * insetX, small.height() - 2 * insetY),
                      out, 0xFF000000u);
}

}  // namespace kestrelle
