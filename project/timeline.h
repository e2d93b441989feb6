#pragma once
// Timeline arithmetic: turning seconds into frame counts.
//
// Every result is a whole frame count in int range: NaN counts as 0, values beyond int range
// saturate at INT_MIN / INT_MAX, and the frame counts never go below 0.

namespace kestrelle {

// Frame rates by a profile's frame-rate index.
constexpr double kFrameRateNtsc = 29.97;
constexpr double kFrameRatePal = 25.0;
constexpr double kFrameRateLow = 15.0;
constexpr double kFrameRateHigh = 60.0;  // offered for the MP4 codecs only

// Nearest integer with exact halves going down: a = trunc(x); a + 1 when x - a > 0.5, else a.
// Negative values are therefore truncated (-2.7 gives -2). NaN gives 0; values outside int range
// saturate.
int roundHalfDown(double x);

// 0 -> 29.97, 1 -> 25.0, 2 -> 15.0, 3 -> 60.0; any other index -> 29.97. Whether index 3 suits a
// profile's codec is the caller's concern (the AVI codecs read it as the default).
double frameRateForIndex(int index);

// The number of frames a job may write: trunc(totalSeconds x roundHalfDown(fps)), within 0..INT_MAX.
int frameBudget(double totalSeconds, double fps);

// Still frames of a slide: roundHalfDown(fps x slideSeconds), within 0..INT_MAX.
int slideFrameCount(double slideSeconds, double fps);

// Frames of the transition after a slide: roundHalfDown(fps x transitionSeconds), within 0..INT_MAX.
int transitionFrameCount(double transitionSeconds, double fps);

}  // namespace kestrelle
