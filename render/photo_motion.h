#pragma once
// The geometry of a photo that moves (pan and zoom) and of a photo that fills the frame.
//
// Everything here is in the photo's own pixel coordinates (doubles; pixel i covers [i, i + 1)). A
// "view rectangle" is the part of the photo that lands on the whole output frame: output pixel column
// ox samples the photo at view.x() + (ox + 0.5) * view.width() / output width. A view rectangle has the
// output's aspect ratio and may reach beyond the photo, where the frame shows the background.

#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <cstdint>
#include <vector>

namespace kestrelle {

enum class PhotoFit {
    // The whole photo, with bars on one axis (the way still slides are drawn).
    Letterbox,
    // The largest centred crop with the output's aspect: no bars.
    Fill,
    // Placed as Letterbox over a blurred, enlarged copy of itself (the copy drawn with fillViewRect).
    BlurredBackground,
};

struct FitOptions {
    PhotoFit fit = PhotoFit::Letterbox;
    // Whether a photo smaller than the output may be scaled up; without it a small photo keeps its own size.
    bool enlargeSmall = false;

    bool operator==(const FitOptions&) const = default;
};

// GentleRandom is a choice, not a path: resolveMotion turns it into the Custom motion gentleRandomMotion
// picks for the slide; everything else here treats an unresolved GentleRandom as None.
enum class MotionKind { None, ZoomIn, ZoomOut, PanLeft, PanRight, PanUp, PanDown, Custom, GentleRandom };

// Pans are named for the camera: PanLeft travels from the photo's right towards its left (the picture
// slides to the right on screen), PanUp from the bottom towards the top.
struct PhotoMotion {
    MotionKind kind = MotionKind::None;
    // Custom only: the first and last view rectangles, in photo coordinates. They are clamped when used.
    QRectF start;
    QRectF end;

    bool operator==(const PhotoMotion&) const = default;
};

// How much a zoom changes the view's size (the end view of ZoomIn is the start view divided by this).
constexpr double kMotionZoomFactor = 1.15;

// The view rectangle of a still frame (motion None). Empty for a photo or an output without pixels.
// Letterbox without enlarging places the photo exactly where fitPhoto does (its rounding included), so
// a Letterbox view can differ from the output's aspect by a fraction of a pixel.
QRectF viewRect(QSizeF photo, QSizeF output, const FitOptions& fit);

// The view rectangle of a Fill, always enlarged when needed: the blurred copy behind a BlurredBackground.
QRectF fillViewRect(QSizeF photo, QSizeF output);

// True when frames are the still letterboxed photo of today (None, Letterbox, not enlarged): the caller
// then keeps drawing the way it did, and the frames stay bit for bit the same.
bool isStill(const PhotoMotion& motion, const FitOptions& fit);

// The rectangle a view may roam in: the photo and the still view together (for Fill that is the photo
// itself, for Letterbox the still view).
QRectF motionBounds(QSizeF photo, QSizeF output, const FitOptions& fit);

// A rectangle brought to a valid view: the output's aspect (area and centre kept), no smaller than a
// sixteenth of the still view, no larger than and moved inside motionBounds. An empty or non-finite
// rectangle becomes the still view (centred where the rectangle was, when that is finite).
QRectF clampViewRect(const QRectF& rect, QSizeF photo, QSizeF output, const FitOptions& fit);

// The first and last view rectangles of a motion (both equal to the still view for None).
void motionEnds(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit, QRectF& start,
                QRectF& end);

// The easing of every motion: smoothstep, 0 at 0 and 1 at 1 with zero speed at both ends. Its fastest
// point (at 0.5) moves 1.5 times the average speed.
double motionEasing(double progress);

// The view rectangle `seconds` into a motion lasting `totalSeconds` (clamped to [0, total]); the start
// rectangle when the total is not positive. The edges move linearly between the two ends with the
// eased progress, so anything inside both ends is inside every view in between.
QRectF motionRectAt(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit,
                    double seconds, double totalSeconds);

// A slow, small motion chosen from a seed and the slide's index alone (the same arguments always give the
// same motion): a zoom alternating in (even slides) and out (odd slides), or a pan along the long side of a
// panorama or a portrait photo. No edge of the view moves faster than maxSpeedFractionPerSecond of the
// view's width per second over `totalSeconds`. Every face rectangle (photo coordinates) stays fully inside
// the view at every time whenever the faces fit in the largest view the photo allows. Custom, or None when
// the photo or the output has no pixels or the total is not positive.
PhotoMotion gentleRandomMotion(QSizeF photo, QSizeF output, const FitOptions& fit, std::uint64_t seed,
                               int slideIndex, double totalSeconds, double maxSpeedFractionPerSecond,
                               const std::vector<QRectF>& faces = {});

// The fastest a gentle random motion may move: this fraction of the view's width per second.
constexpr double kGentleMaxSpeed = 0.04;

// The motion a slide is drawn with: gentleRandomMotion (at kGentleMaxSpeed) for GentleRandom. With Fill
// and faces (photo coordinates) in the photo, None and the zooms and pans become a Custom motion whose
// ends are moved, as little as they need (grown only when the faces are larger than the view), to hold
// every face whenever the faces fit in the largest view; for None both ends are the same view, so the
// slide does not move. Every other case, and every case without faces, gives the motion itself.
PhotoMotion resolveMotion(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit,
                          std::uint64_t seed, int slideIndex, double totalSeconds,
                          const std::vector<QRectF>& faces = {});

// The size to decode a photo at so that the smallest view of a motion is still sampled at no less than
// one photo pixel per output pixel: the photo's size scaled by output width / smallest view width, never
// above the photo's own size and at least 1 x 1. The caller maps view rectangles by decoded / photo.
QSize motionDecodeSize(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit);

// A view rectangle in photo coordinates mapped onto a picture of the photo decoded at `decoded`.
QRectF scaleViewRect(const QRectF& view, QSizeF photo, QSizeF decoded);

}  // namespace kestrelle
