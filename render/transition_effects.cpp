#include "render/transition_effects.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace kestrelle {

namespace {

constexpr double kInt64Bound = 9.0e18;  // well inside the 64-bit range

// Truncates towards zero into a 64-bit integer; values beyond the range saturate, NaN gives 0.
std::int64_t truncate(double x) {
    if (std::isnan(x)) return 0;
    if (x >= kInt64Bound) return static_cast<std::int64_t>(kInt64Bound);
    if (x <= -kInt64Bound) return -static_cast<std::int64_t>(kInt64Bound);
    return static_cast<std::int64_t>(x);
}

// Nearest integer with exact halves going down; negative values are truncated.
std::int64_t roundHalfDown(double x) {
    if (std::isnan(x)) return 0;
    if (x < 0.0) return truncate(x);
    const double whole = std::floor(x);
    return truncate(x - whole > 0.5 ? whole + 1.0 : whole);
}

// n: the number of steps for the effects that take one step per frame (target is positive and finite).
std::int64_t stepCount(double target) {
    return std::clamp<std::int64_t>(roundHalfDown(target), 0, INT_MAX);
}

// s = max(1, trunc(W / N)), the strip width of the horizontal effects.
std::int64_t stepWidth(int width, double target) {
    return std::clamp<std::int64_t>(truncate(width / target), 1, INT_MAX);
}

using StepEnd = std::function<bool()>;

// Horizontal strips and slides: step i (0-based) copies the rectangle the plan gives for i.
template <typename Plan>
void runStrips(int width, double target, const StepEnd& endStep, Plan plan) {
    const std::int64_t n = stepCount(target);
    const std::int64_t s = stepWidth(width, target);
    for (std::int64_t i = 0; i < n; ++i) {
        plan(i, s);
        if (!endStep()) return;
    }
}

// Line blinds: step i copies one line at offset (i / N) * 20 in every 20-pixel band of `extent`.
template <typename CopyLines>
void runBlinds(int extent, double target, const StepEnd& endStep, CopyLines copyLines) {
    const std::int64_t n = stepCount(target);
    const std::int64_t bands = roundHalfDown(extent * 0.05);
    std::vector<std::int64_t> lines;
    for (std::int64_t i = 0; i < n; ++i) {
        const double offset = (static_cast<double>(i) / target) * 20.0;
        lines.clear();
        for (std::int64_t band = 0; band < bands; ++band) {
            lines.push_back(truncate(20.0 * static_cast<double>(band) + offset));
        }
        copyLines(lines);
        if (!endStep()) return;
    }
}

// Copies whole columns in place, clipped to both pictures, in one pass over the rows (a column at a time
// would touch every row once per column).
void copyColumns(QImage& canvas, const QImage& source, const std::vector<std::int64_t>& columns) {
    const std::int64_t limit = std::min(canvas.width(), source.width());
    const int rows = std::min(canvas.height(), source.height());
    std::vector<int> inside;
    for (const std::int64_t x : columns) {
        if (x >= 0 && x < limit) inside.push_back(static_cast<int>(x));
    }
    if (inside.empty() || rows <= 0 || canvas.depth() != 32 || source.depth() != 32) return;
    uchar* to = canvas.bits();
    const uchar* from = source.constBits();
    const qsizetype toStride = canvas.bytesPerLine();
    const qsizetype fromStride = source.bytesPerLine();
    for (int y = 0; y < rows; ++y) {
        auto* target = reinterpret_cast<std::uint32_t*>(to + y * toStride);
        const auto* next = reinterpret_cast<const std::uint32_t*>(from + y * fromStride);
        for (const int x : inside) target[x] = next[x];
    }
}

// Vertical slides: steps i = 1..n with a band of trunc(i * (H / N)) rows.
template <typename CopyBand>
void runBands(int height, double target, const StepEnd& endStep, CopyBand copyBand) {
    const std::int64_t n = stepCount(target);
    const double rowsPerStep = height / target;
    for (std::int64_t i = 1; i <= n; ++i) {
        copyBand(static_cast<double>(i) * rowsPerStep);
        if (!endStep()) return;
    }
}

}  // namespace

std::vector<std::unique_ptr<const TransitionStyle>> makeTransitionEffects() {
    std::vector<std::unique_ptr<const TransitionStyle>> effects;
    effects.push_back(std::make_unique<SlideInFromLeft>());
    effects.push_back(std::make_unique<VerticalLineBlinds>());
    effects.push_back(std::make_unique<HorizontalLineBlinds>());
    effects.push_back(std::make_unique<WipeFromRight>());
    effects.push_back(std::make_unique<RandomBlocks>());
    effects.push_back(std::make_unique<SpiralBlocks>());
    effects.push_back(std::make_unique<WipeFromLeft>());
    effects.push_back(std::make_unique<SlideInFromRight>());
    effects.push_back(std::make_unique<SlideInFromTop>());
    effects.push_back(std::make_unique<SlideInFromBottom>());
    effects.push_back(std::make_unique<DiagonalFromTopLeft>());
    effects.push_back(std::make_unique<DiagonalFromBottomLeft>());
    return effects;
}

SpiralPlan spiralPlan(int width, int height, double target) {
    SpiralPlan plan;
    if (!std::isfinite(target) || target <= 0.0 || width <= 0 || height <= 0) return plan;
    plan.blockSide = static_cast<int>(std::clamp<std::int64_t>(truncate(width / target), 4, INT_MAX));
    plan.columns = width / plan.blockSide;
    plan.rows = height / plan.blockSide;
    plan.rings = (plan.rows + 1) / 2;
    for (int ring = 0; ring < plan.rings; ++ring) {
        const std::int64_t k = static_cast<std::int64_t>(plan.columns) + 1 - ring;
        const std::int64_t m = static_cast<std::int64_t>(plan.rows) + 1 - ring;
        if (k >= 1) plan.blocks += k;
        if (m >= 1) plan.blocks += m;
        if (k >= 0) plan.blocks += k + 1;
        if (m >= 0) plan.blocks += m + 1;
    }
    const std::int64_t n = stepCount(target);
    if (n == 0) return plan;  // too few steps asked for: the spiral takes none
    plan.perStep = plan.blocks / n;
    plan.steps = plan.perStep == 0 ? plan.blocks : plan.blocks / plan.perStep;
    return plan;
}

std::vector<double> diagonalPositions(int width, int height, double target) {
    std::vector<double> positions;
    if (!std::isfinite(target) || target <= 0.0) return positions;
    const double longer = std::max(width, height);
    double delta = longer / target;
    if (delta < 2.0) delta = 2.0;
    for (double t = 0.0; t < longer; t += delta) positions.push_back(t);
    return positions;
}

void SlideInFromLeft::drawSteps(QImage& canvas, const QImage& source, double target,
                                const StepEnd& endStep) const {
    const std::int64_t w = canvas.width();
    const std::int64_t h = canvas.height();
    runStrips(canvas.width(), target, endStep, [&](std::int64_t i, std::int64_t s) {
        copyRect(canvas, 0, 0, source, w - i * s, 0, (i + 1) * s, h);
    });
}

void VerticalLineBlinds::drawSteps(QImage& canvas, const QImage& source, double target,
                                   const StepEnd& endStep) const {
    runBlinds(canvas.width(), target, endStep,
              [&](const std::vector<std::int64_t>& columns) { copyColumns(canvas, source, columns); });
}

void HorizontalLineBlinds::drawSteps(QImage& canvas, const QImage& source, double target,
                                     const StepEnd& endStep) const {
    const int w = canvas.width();
    runBlinds(canvas.height(), target, endStep, [&](const std::vector<std::int64_t>& rows) {
        for (const std::int64_t y : rows) copyRect(canvas, 0, y, source, 0, y, w, 1);
    });
}

void WipeFromRight::drawSteps(QImage& canvas, const QImage& source, double target,
                              const StepEnd& endStep) const {
    const std::int64_t w = canvas.width();
    const std::int64_t h = canvas.height();
    runStrips(canvas.width(), target, endStep, [&](std::int64_t i, std::int64_t s) {
        copyRect(canvas, w - i * s, 0, source, w - i * s, 0, s, h);
    });
}

void RandomBlocks::drawSteps(QImage& canvas, const QImage& source, double target,
                             const StepEnd& endStep) const {
    constexpr int kBlocksPerStep = 50;
    const std::int64_t n = stepCount(target);
    const double block = (2.0 * static_cast<double>(canvas.height())) / target;
    const std::int64_t side = truncate(block);
    const auto cells = [block](int extent) {
        return static_cast<std::uint64_t>(
            std::clamp<std::int64_t>(truncate(extent / block + 1.0), 1, INT_MAX));
    };
    const std::uint64_t cols = cells(canvas.width());
    const std::uint64_t rows = cells(canvas.height());
    SharedRandom::seed(secondsSeed(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count()));
    std::uint32_t draws[2 * kBlocksPerStep];
    for (std::int64_t i = 0; i < n; ++i) {
        SharedRandom::next(draws, 2 * kBlocksPerStep);
        for (int b = 0; b < kBlocksPerStep; ++b) {
            const std::uint64_t col = draws[2 * b] % cols;
            const std::uint64_t row = draws[2 * b + 1] % rows;
            const std::int64_t x = roundHalfDown(block * static_cast<double>(col));
            const std::int64_t y = roundHalfDown(block * static_cast<double>(row));
            copyRect(canvas, x, y, source, x, y, side, side);
        }
        if (!endStep()) return;
    }
}

void SpiralBlocks::drawSteps(QImage& canvas, const QImage& source, double target,
                             const StepEnd& endStep) const {
    const SpiralPlan plan = spiralPlan(canvas.width(), canvas.height(), target);
    if (plan.steps == 0) return;
    const std::int64_t w = canvas.width();
    const std::int64_t h = canvas.height();
    const std::int64_t q = plan.blockSide;
    const std::int64_t u = plan.columns;
    const std::int64_t v = plan.rows;
    std::int64_t counted = 0;
    // Copies one block; false when the run must stop.
    const auto block = [&](std::int64_t x, std::int64_t y) -> bool {
        copyRect(canvas, x, y, source, x, y, q, q);
        ++counted;
        if (plan.perStep != 0 && counted < plan.perStep) return true;
        counted = 0;
        return endStep();
    };
    for (std::int64_t ring = 0; ring < plan.rings; ++ring) {
        const std::int64_t k = u + 1 - ring;
        const std::int64_t m = v + 1 - ring;
        for (std::int64_t a = 0; a < k; ++a) {  // top, left to right
            if (!block(a * q, ring * q)) return;
        }
        for (std::int64_t a = 0; a < m; ++a) {  // right, downwards
            if (!block(w - (ring + 1) * q, a * q)) return;
        }
        for (std::int64_t a = 0; a <= k; ++a) {  // bottom, right to left, the last one beyond the left edge
            if (!block((u - ring - a) * q, h - (ring + 1) * q)) return;
        }
        for (std::int64_t a = 0; a <= m; ++a) {  // left, upwards, the last one beyond the top edge
            if (!block(ring * q, (v - ring - a) * q)) return;
        }
    }
}

void WipeFromLeft::drawSteps(QImage& canvas, const QImage& source, double target,
                             const StepEnd& endStep) const {
    const std::int64_t h = canvas.height();
    runStrips(canvas.width(), target, endStep,
              [&](std::int64_t i, std::int64_t s) { copyRect(canvas, i * s, 0, source, i * s, 0, s, h); });
}

void SlideInFromRight::drawSteps(QImage& canvas, const QImage& source, double target,
                                 const StepEnd& endStep) const {
    const std::int64_t w = canvas.width();
    const std::int64_t h = canvas.height();
    runStrips(canvas.width(), target, endStep, [&](std::int64_t i, std::int64_t s) {
        copyRect(canvas, w - (i + 1) * s, 0, source, 0, 0, (i + 1) * s, h);
    });
}

void SlideInFromTop::drawSteps(QImage& canvas, const QImage& source, double target,
                               const StepEnd& endStep) const {
    const int w = canvas.width();
    const int h = canvas.height();
    runBands(h, target, endStep,
             [&](double band) { copyRect(canvas, 0, 0, source, 0, truncate(h - band), w, truncate(band)); });
}

void SlideInFromBottom::drawSteps(QImage& canvas, const QImage& source, double target,
                                  const StepEnd& endStep) const {
    const int w = canvas.width();
    const int h = canvas.height();
    runBands(h, target, endStep,
             [&](double band) { copyRect(canvas, 0, truncate(h - band), source, 0, 0, w, truncate(band)); });
}

void DiagonalFromTopLeft::drawSteps(QImage& canvas, const QImage& source, double target,
                                    const StepEnd& endStep) const {
    const int w = canvas.width();
    const int h = canvas.height();
    for (const double t : diagonalPositions(w, h, target)) {
        const std::int64_t sx = std::max<std::int64_t>(0, truncate(w - t));
        const std::int64_t sy = std::max<std::int64_t>(0, truncate(h - t));
        const std::int64_t side = roundHalfDown(t);
        copyRect(canvas, 0, 0, source, sx, sy, side, side);
        if (!endStep()) return;
    }
}

void DiagonalFromBottomLeft::drawSteps(QImage& canvas, const QImage& source, double target,
                                       const StepEnd& endStep) const {
    const int w = canvas.width();
    const int h = canvas.height();
    for (const double t : diagonalPositions(w, h, target)) {
        const std::int64_t sx = std::max<std::int64_t>(0, truncate(w - t));
        const std::int64_t rows = std::min<std::int64_t>(h, truncate(t));
        const std::int64_t side = roundHalfDown(t);
        copyRect(canvas, 0, h - rows, source, sx, 0, side, side);
        if (!endStep()) return;
    }
}

}  // namespace kestrelle
