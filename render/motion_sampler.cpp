#include "render/motion_sampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrelle {
namespace {

// The source pixels one frame pixel reads along one axis, and their weights. Pixels outside the source
// are left out; their share (1 - coverage) is the background's.
struct AxisFilter {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<float> coverage;
    std::vector<float> weights;
    // Whether every frame pixel reads at most two neighbouring source pixels (bilinear).
    bool pairs = true;
    // The source range any frame pixel reads: [low, high).
    int low = 0;
    int high = 0;

    void reset(int outLength) {
        first.assign(static_cast<std::size_t>(outLength), 0);
        count.assign(static_cast<std::size_t>(outLength), 0);
        offset.assign(static_cast<std::size_t>(outLength), 0);
        coverage.assign(static_cast<std::size_t>(outLength), 0.0f);
        weights.clear();
        pairs = true;
        low = 0;
        high = 0;
    }
};

// The weights of one frame pixel; when no source pixel was left out they add up to exactly one.
void appendWeights(AxisFilter& filter, int pixel, int firstSource, const double* exact, int taps,
                   bool complete) {
    filter.first[pixel] = firstSource;
    filter.count[pixel] = taps;
    filter.offset[pixel] = static_cast<int>(filter.weights.size());
    double sum = 0.0;
    for (int t = 0; t < taps; ++t) sum += exact[t];
    for (int t = 0; t < taps; ++t) {
        filter.weights.push_back(static_cast<float>(complete && sum > 0.0 ? exact[t] / sum : exact[t]));
    }
    filter.coverage[pixel] = complete && taps > 0 ? 1.0f : static_cast<float>(std::clamp(sum, 0.0, 1.0));
    if (taps > 0) {
        if (filter.high == 0) filter.low = firstSource;
        filter.low = std::min(filter.low, firstSource);
        filter.high = std::max(filter.high, firstSource + taps);
    }
}

void buildAxis(AxisFilter& filter, double viewStart, double viewLength, int outLength, int sourceLength) {
    filter.reset(outLength);
    const double step = viewLength / outLength;
    filter.pairs = step <= 2.0;
    std::vector<double> exact;
    for (int o = 0; o < outLength; ++o) {
        if (filter.pairs) {
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
            if (i < 0) {
                appendWeights(filter, o, 0, pair + 1, 1, false);
            } else if (i + 1 >= sourceLength) {
                appendWeights(filter, o, i, pair, 1, false);
            } else {
                appendWeights(filter, o, i, pair, 2, true);
            }
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

// The bilinear columns in a fixed shape: two positions in the summed line and two weights per pixel (a
// missing neighbour has weight 0 and repeats the other's position), so the loop has no inner branches.
struct PairColumns {
    std::vector<int> left;
    std::vector<int> right;
    std::vector<float> leftWeight;
    std::vector<float> rightWeight;

    void build(const AxisFilter& columns) {
        const std::size_t n = columns.first.size();
        left.assign(n, 0);
        right.assign(n, 0);
        leftWeight.assign(n, 0.0f);
        rightWeight.assign(n, 0.0f);
        for (std::size_t o = 0; o < n; ++o) {
            if (columns.count[o] == 0) continue;
            const int at = (columns.first[o] - columns.low) * 4;
            const float* weights = columns.weights.data() + columns.offset[o];
            left[o] = at;
            right[o] = columns.count[o] > 1 ? at + 4 : at;
            leftWeight[o] = weights[0];
            rightWeight[o] = columns.count[o] > 1 ? weights[1] : 0.0f;
        }
    }
};

// Reused between frames on each thread, so a frame allocates nothing once the sizes settle.
struct SamplerScratch {
    AxisFilter columns;
    AxisFilter rows;
    PairColumns pairs;
    std::vector<float> line;
};

void fillBackground(QImage& out, std::uint32_t background) {
    out.fill(background | 0xFF000000u);
}

// Four channels rounded to bytes, the unused one set.
inline std::uint32_t packPixel(const float* value) {
    std::uint32_t pixel = 0xFF000000u;
    for (int c = 0; c < 3; ++c) {
        const float v = std::min(std::max(value[c] + 0.5f, 0.0f), 255.0f);
        pixel |= static_cast<std::uint32_t>(v) << (8 * c);
    }
    return pixel;
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
    if (columns.pairs) scratch.pairs.build(columns);

    const int low = columns.low;
    const int span = columns.high - columns.low;
    const std::size_t pixelsInLine = static_cast<std::size_t>(std::max(span, 0));
    scratch.line.resize(pixelsInLine * 4);
    float* line = scratch.line.data();

    const std::uint32_t backgroundPixel = background | 0xFF000000u;
    const float backgroundChannel[4] = {static_cast<float>(background & 0xFFu),
                                        static_cast<float>((background >> 8) & 0xFFu),
                                        static_cast<float>((background >> 16) & 0xFFu), 255.0f};

    for (int oy = 0; oy < outHeight; ++oy) {
        auto* target = reinterpret_cast<std::uint32_t*>(out.scanLine(oy));
        const int rowTaps = rows.count[oy];
        if (rowTaps == 0 || span <= 0) {
            std::fill(target, target + outWidth, backgroundPixel);
            continue;
        }
        // Vertical pass: the weighted sum of the rows this frame row reads, over the columns it needs.
        // Four channels at a time, one vector each.
        const float* rowWeights = rows.weights.data() + rows.offset[oy];
        if (rowTaps == 2) {
            // Bilinear rows in one sweep: the line is written once instead of written and read back.
            const std::uint8_t* upper =
                picture.constScanLine(rows.first[oy]) + static_cast<std::size_t>(low) * 4;
            const std::uint8_t* lower =
                picture.constScanLine(rows.first[oy] + 1) + static_cast<std::size_t>(low) * 4;
            const float wu = rowWeights[0];
            const float wl = rowWeights[1];
            for (std::size_t p = 0; p < pixelsInLine; ++p) {
                for (int c = 0; c < 4; ++c) line[p * 4 + c] = wu * upper[p * 4 + c] + wl * lower[p * 4 + c];
            }
        }
        for (int t = 0; t < rowTaps && rowTaps != 2; ++t) {
            const std::uint8_t* pixels =
                picture.constScanLine(rows.first[oy] + t) + static_cast<std::size_t>(low) * 4;
            const float weight = rowWeights[t];
            if (t == 0) {
                for (std::size_t p = 0; p < pixelsInLine; ++p) {
                    for (int c = 0; c < 4; ++c) line[p * 4 + c] = weight * pixels[p * 4 + c];
                }
            } else {
                for (std::size_t p = 0; p < pixelsInLine; ++p) {
                    for (int c = 0; c < 4; ++c) line[p * 4 + c] += weight * pixels[p * 4 + c];
                }
            }
        }

        // Horizontal pass, with the background's share of each pixel.
        const float rowCoverage = rows.coverage[oy];
        float shade[4];
        if (columns.pairs) {
            const PairColumns& pairs = scratch.pairs;
            for (int ox = 0; ox < outWidth; ++ox) {
                const float* a = line + pairs.left[ox];
                const float* b = line + pairs.right[ox];
                const float wa = pairs.leftWeight[ox];
                const float wb = pairs.rightWeight[ox];
                const float share = 1.0f - columns.coverage[ox] * rowCoverage;
                for (int c = 0; c < 4; ++c) shade[c] = a[c] * wa + b[c] * wb + share * backgroundChannel[c];
                target[ox] = packPixel(shade);
            }
        } else {
            for (int ox = 0; ox < outWidth; ++ox) {
                const float share = 1.0f - columns.coverage[ox] * rowCoverage;
                for (int c = 0; c < 4; ++c) shade[c] = share * backgroundChannel[c];
                const int taps = columns.count[ox];
                const float* weights = columns.weights.data() + columns.offset[ox];
                const float* samples = line + static_cast<std::size_t>(columns.first[ox] - low) * 4;
                for (int t = 0; t < taps; ++t) {
                    for (int c = 0; c < 4; ++c) shade[c] += weights[t] * samples[t * 4 + c];
                }
                target[ox] = packPixel(shade);
            }
        }
    }
    return true;
}

}  // namespace kestrelle
