#include "project/timeline.h"

#include <climits>
#include <cmath>

namespace kestrelle {

namespace {

// trunc(x) as an int; NaN gives 0, and anything outside int range saturates.
int truncToInt(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    // INT_MAX + 1.0 and INT_MIN are exact doubles, so these comparisons are exact.
    if (x >= static_cast<double>(INT_MAX) + 1.0) {
        return INT_MAX;
    }
    if (x <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(x);
}

int nonNegative(int frames) {
    return frames < 0 ? 0 : frames;
}

}  // namespace

int roundHalfDown(double x) {
    if (std::isnan(x)) {
        return 0;
    }
    const double a = std::trunc(x);
    if (x - a > 0.5) {
        return truncToInt(a + 1.0);
    }
    return truncToInt(a);
}

double frameRateForIndex(int index) {
    switch (index) {
        case 1:
            return kFrameRatePal;
        case 2:
            return kFrameRateLow;
        case 3:
            return kFrameRateHigh;
        default:
            return kFrameRateNtsc;
    }
}

int frameBudget(double totalSeconds, double fps) {
    return nonNegative(truncToInt(totalSeconds * static_cast<double>(roundHalfDown(fps))));
}

int slideFrameCount(double slideSeconds, double fps) {
    return nonNegative(roundHalfDown(fps * slideSeconds));
}

int transitionFrameCount(double transitionSeconds, double fps) {
    return nonNegative(roundHalfDown(fps * transitionSeconds));
}

}  // namespace kestrelle
