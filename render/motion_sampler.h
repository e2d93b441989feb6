#pragma once
// Drawing a view rectangle of a photo into a frame, sampled at the exact fractional position of every
// output pixel, so that a slow pan or zoom moves by small fractions of a pixel instead of whole steps.

#include <QImage>
#include <QRectF>

#include <cstdint>

namespace kestrelle {

// Fills `out` (its size is the frame's size; made QImage::Format_RGB32 when it is another format) with the
// part `view` of `source` (in source pixel coordinates, pixel i covering [i, i + 1)) stretched over the
// whole frame, every frame pixel sampled at its exact fractional position. Each axis is filtered on its
// own with a box centred on that position: one source pixel wide (bilinear interpolation exactly) while a
// frame pixel spans up to 1.5 source pixels, the frame pixel's whole span (an area average) from 2 on,
// and widening steadily in between, so the filter never changes abruptly during a zoom. Whatever of the
// view lies outside the source is `background`, an RGB32 pixel (0xffRRGGBB, e.g. premultipliedBackground
// of a loader background), blended at the source's edges. A source without pixels gives the background
// alone. False when `out` has no pixels or `view` is not a finite rectangle of positive size (`out` then
// holds the background when it has pixels). Single-precision sums, four channels a vector; safe to call
// from several threads at once.
bool renderView(const QImage& source, const QRectF& view, QImage& out, std::uint32_t background);

// The same drawing over what `out` already holds: where the view leaves the source, `out` keeps its own
// pixels (blended at the source's edges), e.g. a blurred backdrop. `out` keeps its size.
bool renderViewOver(const QImage& source, const QRectF& view, QImage& out);

// Fills `out` with a blurred copy of `source` filling the frame (`fillView`: fillViewRect mapped onto the
// source), the backdrop of a photo shown over a blurred, enlarged copy of itself: the photo is then drawn
// over it with renderViewOver. Black and false when the view or the source cannot be drawn.
bool renderBlurredBackdrop(const QImage& source, const QRectF& fillView, QImage& out);

}  // namespace kestrelle
