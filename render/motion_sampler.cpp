#include "render/motion_sampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrelle {
namespace {

constexpr int kWeightBits = 14;
constexpr int kOne = 1 << kWeightBits;
// The column sums keep 8 fractional bits: (sum of weight x byte) >> (14 - 8).
constexpr int kColumnShift = kWeightBits - 8;
// A frame pixel: weights (14 bits) x column sums (8 fractional bits) back to a byte.
constexpr int kPixelShift = kWeightBits + 8;

// The source pixels one frame pixel reads along one axis, and their weights. Pixels outside the source
// are left out; their share (kOne - coverage) is the background's.
struct AxisFilter {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<int> coverage;
    std::vector<std::int32_t> weights;
    // The source range any frame pixel reads: [low, high).
    int low = 0;
    int high = 0;

    void reset(int outLength) {
        first.assign(static_cast<std::size_t>(outLength), 0);
        count.assign(static_cast<std::size_t>(outLength), 0);
        offset.assign(static_cast<std::size_t>(outLength), 0);
        coverage.assign(static_cast<std::size_t>(outLength), 0);
        weights.clear();
        low = 0;
        high = 0;
    }
};

// Quantises the weights of one frame pixel; when none was left out they add up to exactly kOne.
void appendWeights(AxisFilter& filter, int pixel, int firstSource, const double* exact, int taps,
                   bool complete) {
    filter.first[pixel] = firstSource;
    filter.count[pixel] = taps;
    filter.offset[pixel] = static_cast<int>(filter.weights.size());
    int sum = 0;
    int largest = 0;
    for (int t = 0; t < taps; ++t) {
        const int weight = static_cast<int>(std::lround(exact[t] * kOne));
        filter.weights.push_back(weight);
        sum += weight;
        if (weight > filter.weights[filter.offset[pixel] + largest]) largest = t;
    }
    if (complete && taps > 0) {
        filter.weights[filter.offset[pixel] + largest] += kOne - sum;
        sum = kOne;
    }
    filter.coverage[pixel] = std::clamp(sum, 0, kOne);
    if (taps > 0) {
        if (filter.high == 0) filter.low = firstSource;
        filter.low = std::min(filter.low, firstSource);
        filter.high = std::max(filter.high, firstSource + taps);
    }
}

void buildAxis(AxisFilter& filter, double viewStart, double viewLength, int outLength, int sourceLength) {
    filter.reset(outLength);
    const double step = viewLength / outLength;
    std::vector<double> exact;
    for (int o = 0; o < outLength; ++o) {
        if (step <= 2.0) {
            // Bilinear: the two source pixel centres around the frame pixel's centre.
            const double centre = viewStart + (o + 0.5) * step - 0.5;
            if (!(centre > -1.0 && centre < sourceLength)) {
                appendWeights(filter, o, 0, nullptr, 0, false);
                continue;
            }
            const double base = std::floor(centre);
            const double fraction = centre - base;
            const int i = static_cast<int>(base);
            double pair[2] = {1.0 - fraction, fraction};
            int from = i;
            int taps = 2;
            bool complete = true;
            if (i < 0) {
                from = 0;
                pair[0] = pair[1];
                taps = 1;
                complete = false;
            } else if (i + 1 >= sourceLength) {
                taps = 1;
                complete = false;
            }
            appendWeights(filter, o, from, pair, taps, complete);
        } else {
            // Area: each source pixel weighted by its overlap with the frame pixel's span.
            const double spanStart = viewStart + o * step;
            const double spanEnd = spanStart + step;
            if (!(spanEnd > 0.0 && spanStart < sourceLength)) {
                appendWeights(filter, o, 0, nullptr, 0, false);
                continue;
            }
            const int from = static_cast<int>(std::max(0.0, std::floor(spanStart)));
            const int to = static_cast<int>(std::min(static_cast<double>(sourceLength), std::ceil(spanEnd)));
            exact.clear();
            for (int j = from; j < to; ++j) {
                const double overlap =
                    std::min(spanEnd, j + 1.0) - std::max(spanStart, static_cast<double>(j));
                exact.push_back(std::max(0.0, overlap) / step);
            }
            const bool complete = spanStart >= 0.0 && spanEnd <= sourceLength;
            appendWeights(filter, o, from, exact.data(), to - from, complete);
        }
    }
}

// Reused between frames on each thread, so a frame allocates nothing once the sizes settle.
struct SamplerScratch {
    AxisFilter columns;
    AxisFilter rows;
    std::vector<std::int32_t> sums;
    std::vector<std::uint16_t> line;
};

void fillBackground(QImage& out, std::uint32_t background) {
    out.fill(background | 0xFF000000u);
}

}  // namespace

bool renderView(const QImage& source, const QRectF& view, QImage& out, std::uint32_t background) {
    if (out.isNull() || out.width() <= 0 || out.height() <= 0) return false;
    if (out.format() != QImage::Format_RGB32) {
        out = QImage(out.size(), QImage::Format_RGB32);
        if (out.isNull()) return false;
    }
    const bool finite = std::isfinite(view.x()) && std::isfinite(view.y()) && std::isfinite(view.width()) &&
                        std::isfinite(view.height());
    if (!finite || !(view.width() > 0.0) || !(view.height() > 0.0)) {
        fillBackground(out, background);
        return false;
    }
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
        fillBackground(out, background);
        return true;
    }
    // Four bytes a pixel (blue, green, red, unused); any other layout is converted first.
    const bool fourBytes = source.format() == QImage::Format_RGB32 ||
                           source.format() == QImage::Format_ARGB32 ||
                           source.format() == QImage::Format_ARGB32_Premultiplied;
    const QImage converted = fourBytes ? QImage() : source.convertToFormat(QImage::Format_RGB32);
    const QImage& picture = fourBytes ? source : converted;
    if (picture.isNull()) {
        fillBackground(out, background);
        return true;
    }

    thread_local SamplerScratch scratch;
    AxisFilter& columns = scratch.columns;
    AxisFilter& rows = scratch.rows;
    const int outWidth = out.width();
    const int outHeight = out.height();
    buildAxis(columns, view.x(), view.width(), outWidth, picture.width());
    buildAxis(rows, view.y(), view.height(), outHeight, picture.height());

    const int low = columns.low;
    const int span = columns.high - columns.low;
    const std::size_t lineLength = static_cast<std::size_t>(std::max(span, 0)) * 4;
    scratch.sums.resize(lineLength);
    scratch.line.resize(lineLength);
    std::int32_t* sums = scratch.sums.data();
    std::uint16_t* line = scratch.line.data();

    const std::uint32_t backgroundPixel = background | 0xFF000000u;
    const std::uint32_t backgroundChannel[3] = {(background & 0xFFu) << 8, ((background >> 8) & 0xFFu) << 8,
                                                ((background >> 16) & 0xFFu) << 8};
    const std::int32_t* columnWeights = columns.weights.data();

    for (int oy = 0; oy < outHeight; ++oy) {
        auto* target = reinterpret_cast<std::uint32_t*>(out.scanLine(oy));
        const int rowTaps = rows.count[oy];
        if (rowTaps == 0 || span <= 0) {
            std::fill(target, target + outWidth, backgroundPixel);
            continue;
        }
        // Vertical pass: the weighted sum of the rows this frame row reads, over the columns it needs.
        const std::int32_t* rowWeights = rows.weights.data() + rows.offset[oy];
        for (int t = 0; t < rowTaps; ++t) {
            const std::uint8_t* pixels =
                picture.constScanLine(rows.first[oy] + t) + static_cast<std::size_t>(low) * 4;
            const std::int32_t weight = rowWeights[t];
            if (t == 0) {
                for (std::size_t k = 0; k < lineLength; ++k) sums[k] = weight * pixels[k];
            } else {
                for (std::size_t k = 0; k < lineLength; ++k) sums[k] += weight * pixels[k];
            }
        }
        for (std::size_t k = 0; k < lineLength; ++k) {
            line[k] = static_cast<std::uint16_t>((sums[k] + (1 << (kColumnShift - 1))) >> kColumnShift);
        }

        // Horizontal pass, with the background's share of each pixel.
        const std::uint32_t rowCoverage = static_cast<std::uint32_t>(rows.coverage[oy]);
        for (int ox = 0; ox < outWidth; ++ox) {
            const std::uint32_t covered = (static_cast<std::uint32_t>(columns.coverage[ox]) * rowCoverage +
                                           (1u << (kWeightBits - 1))) >>
                                          kWeightBits;
            const std::uint32_t backgroundShare =
                static_cast<std::uint32_t>(kOne) - std::min<std::uint32_t>(covered, kOne);
            std::uint32_t channel[4] = {0, 0, 0, 0};
            const int taps = columns.count[ox];
            const std::int32_t* weights = columnWeights + columns.offset[ox];
            const std::uint16_t* samples = line + static_cast<std::size_t>(columns.first[ox] - low) * 4;
            for (int t = 0; t < taps; ++t) {
                const std::uint32_t weight = static_cast<std::uint32_t>(weights[t]);
                for (int c = 0; c < 4; ++c) channel[c] += weight * samples[t * 4 + c];
            }
            std::uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                const std::uint32_t value =
                    (channel[c] + backgroundShare * backgroundChannel[c] + (1u << (kPixelShift - 1))) >>
                    kPixelShift;
                pixel |= std::min<std::uint32_t>(value, 255u) << (8 * c);
            }
            target[ox] = pixel;
        }
    }
    return true;
}

}  // namespace kestrelle
