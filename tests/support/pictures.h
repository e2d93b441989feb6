#pragma once
// Pictures the tests make and compare.

#include <QImage>
#include <QRect>
#include <QSize>

namespace kestrelle::testing {

// A photo-like picture: a flat blue ground under `ellipses` overlapping ellipses of random colours and
// sizes, the same for the same seed.
QImage ellipsesPicture(QSize size, unsigned seed, int ellipses);

// The largest difference of one colour channel between two pictures within `area` (both must cover it).
int largestChannelDifference(const QImage& a, const QImage& b, QRect area);

// The same over the whole pictures; 255 when their sizes differ.
int largestChannelDifference(const QImage& a, const QImage& b);

}  // namespace kestrelle::testing
