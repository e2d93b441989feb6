#include "render/photo_motion.h"

#include "render/photo_loader.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace kestrelle {
namespace {

bool hasPixels(QSizeF size) {
    return std::isfinite(size.width()) && std::isfinite(size.height()) && size.width() > 0.0 &&
           size.height() > 0.0;
}

bool isFiniteRect(const QRectF& rect) {
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) &&
           std::isfinite(rect.height());
}

// A whole number of pixels that fitPhoto can take.
bool isPixelCount(double value) {
    return value >= 1.0 && value <= INT_MAX && std::floor(value) == value;
}

// `value` kept between `low` and `high`; `low` when the range is empty.
double clampTo(double value, double low, double high) {
    return std::max(low, std::min(value, high));
}

QRectF centredRect(QPointF centre, double width, double height) {
    return {centre.x() - width * 0.5, centre.y() - height * 0.5, width, height};
}

QRectF scaledAbout(const QRectF& rect, double factor) {
    return centredRect(rect.center(), rect.width() * factor, rect.height() * factor);
}

QRectF lerpRect(const QRectF& from, const QRectF& to, double t) {
    const auto lerp = [t](double a, double b) { return a + (b - a) * t; };
    const double left = lerp(from.left(), to.left());
    const double top = lerp(from.top(), to.top());
    return {left, top, lerp(from.right(), to.right()) - left, lerp(from.bottom(), to.bottom()) - top};
}

// The still view scaled continuously (no rounding): the shorter or longer side fitted.
QRectF scaledView(QSizeF photo, QSizeF output, bool cover, bool enlarge) {
    const double sx = output.width() / photo.width();
    const double sy = output.height() / photo.height();
    double scale = cover ? std::max(sx, sy) : std::min(sx, sy);
    if (!enlarge) scale = std::min(scale, 1.0);
    return centredRect(QPointF(photo.width() * 0.5, photo.height() * 0.5), output.width() / scale,
                       output.height() / scale);
}

// Both ends of a pan along one axis: across the free room of the still view, or, without room, across
// the room a slight zoom in makes.
void panEnds(MotionKind kind, QSizeF photo, QSizeF output, const FitOptions& fit, QRectF& start,
             QRectF& end) {
    const QRectF base = viewRect(photo, output, fit);
    const QRectF bounds = motionBounds(photo, output, fit);
    const bool horizontal = kind == MotionKind::PanLeft || kind == MotionKind::PanRight;
    const double extent = horizontal ? base.width() : base.height();
    const double room = (horizontal ? bounds.width() : bounds.height()) - extent;
    const QRectF rect = room < 0.02 * extent ? scaledAbout(base, 1.0 / kMotionZoomFactor) : base;
    start = rect;
    end = rect;
    if (horizontal) {
        const double low = bounds.left();
        const double high = std::max(low, bounds.right() - rect.width());
        start.moveLeft(kind == MotionKind::PanRight ? low : high);
        end.moveLeft(kind == MotionKind::PanRight ? high : low);
    } else {
        const double low = bounds.top();
        const double high = std::max(low, bounds.bottom() - rect.height());
        start.moveTop(kind == MotionKind::PanDown ? low : high);
        end.moveTop(kind == MotionKind::PanDown ? high : low);
    }
}

// The fastest an edge of a motion moves, in view widths per second (the easing's peak included).
double peakSpeed(const QRectF& start, const QRectF& end, double totalSeconds) {
    const double travel =
        std::max({std::abs(end.left() - start.left()), std::abs(end.right() - start.right()),
                  std::abs(end.top() - start.top()), std::abs(end.bottom() - start.bottom())});
    const double width = std::min(start.width(), end.width());
    if (travel <= 0.0) return 0.0;
    if (width <= 0.0 || totalSeconds <= 0.0) return INFINITY;
    return 1.5 * travel / width / totalSeconds;
}

// A small reproducible generator (splitmix64): the same seed gives the same motion on every machine.
class MotionRandom {
public:
    explicit MotionRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

private:
    std::uint64_t state_;
};

// `rect` grown (aspect kept, never beyond `bounds`) and moved as little as needed to hold `faces`.
QRectF holdFaces(QRectF rect, const QRectF& faces, const QRectF& bounds) {
    const double grow = std::max({1.0, faces.width() / rect.width(), faces.height() / rect.height()});
    rect = scaledAbout(
        rect,
        std::max(1.0, std::min({grow, bounds.width() / rect.width(), bounds.height() / rect.height()})));
    const auto place = [](double at, double length, double faceLow, double faceHigh, double low,
                          double high) {
        // Where the faces fit, the nearest position holding them; else centred on them.
        at = length >= faceHigh - faceLow ? clampTo(at, faceHigh - length, faceLow)
                                          : (faceLow + faceHigh - length) * 0.5;
        return clampTo(at, low, high - length);
    };
    rect.moveTo(place(rect.left(), rect.width(), faces.left(), faces.right(), bounds.left(), bounds.right()),
                place(rect.top(), rect.height(), faces.top(), faces.bottom(), bounds.top(), bounds.bottom()));
    return rect;
}

// The rectangle that holds every face (photo coordinates; non-finite ones and the parts outside the
// photo ignored), with a little room around it where the largest view allows. Empty without faces.
QRectF faceAreaToHold(const std::vector<QRectF>& faces, QSizeF photo, QSizeF output, const QRectF& bounds) {
    QRectF area;
    for (const QRectF& face : faces) {
        if (!isFiniteRect(face)) continue;
        const QRectF inside = face.normalized().intersected(QRectF(QPointF(0.0, 0.0), photo));
        if (!inside.isEmpty()) area = area.isEmpty() ? inside : area.united(inside);
    }
    if (area.isEmpty() || bounds.isEmpty()) return area;
    const double margin = 0.05 * std::max(area.width(), area.height());
    const QRectF roomy = area.adjusted(-margin, -margin, margin, margin).intersected(bounds);
    const double aspect = output.width() / output.height();
    const double largestWidth = std::min(bounds.width(), bounds.height() * aspect);
    return roomy.width() <= largestWidth && roomy.height() <= largestWidth / aspect ? roomy : area;
}

// A Fill motion of a fixed kind (None included) with both ends moved, as little as they need, to hold
// every face: a Custom motion, whose ends are equal for None so the slide still counts as not moving.
// The motion unchanged when no face lies in the photo.
PhotoMotion fillHoldingFaces(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit,
                             const std::vector<QRectF>& faces) {
    if (!hasPixels(photo) || !hasPixels(output)) return motion;
    const QRectF bounds = motionBounds(photo, output, fit);
    const QRectF faceArea = faceAreaToHold(faces, photo, output, bounds);
    if (faceArea.isEmpty()) return motion;
    QRectF start;
    QRectF end;
    motionEnds(motion, photo, output, fit, start, end);
    start = holdFaces(clampViewRect(start, photo, output, fit), faceArea, bounds);
    end = holdFaces(clampViewRect(end, photo, output, fit), faceArea, bounds);
    return {MotionKind::Custom, start, end};
}

}  // namespace

QRectF viewRect(QSizeF photo, QSizeF output, const FitOptions& fit) {
    if (!hasPixels(photo) || !hasPixels(output)) return {};
    if (fit.fit != PhotoFit::Fill && !fit.enlargeSmall && isPixelCount(photo.width()) &&
        isPixelCount(photo.height()) && isPixelCount(output.width()) && isPixelCount(output.height())) {
        // The view that maps the photo's edges onto fitPhoto's placement, so both draw it at one place.
        const PhotoPlacement place =
            fitPhoto(static_cast<int>(output.width()), static_cast<int>(output.height()),
                     static_cast<int>(photo.width()), static_cast<int>(photo.height()));
        if (place.width > 0 && place.height > 0) {
            const double sx = place.width / photo.width();
            const double sy = place.height / photo.height();
            return {-place.x / sx, -place.y / sy, output.width() / sx, output.height() / sy};
        }
    }
    return scaledView(photo, output, fit.fit == PhotoFit::Fill, fit.enlargeSmall);
}

QRectF fillViewRect(QSizeF photo, QSizeF output) {
    if (!hasPixels(photo) || !hasPixels(output)) return {};
    return scaledView(photo, output, true, true);
}

bool isStill(const PhotoMotion& motion, const FitOptions& fit) {
    return motion.kind == MotionKind::None && fit.fit == PhotoFit::Letterbox && !fit.enlargeSmall;
}

QRectF motionBounds(QSizeF photo, QSizeF output, const FitOptions& fit) {
    const QRectF base = viewRect(photo, output, fit);
    if (base.isEmpty()) return {};
    return base.united(QRectF(QPointF(0.0, 0.0), photo));
}

QRectF clampViewRect(const QRectF& rect, QSizeF photo, QSizeF output, const FitOptions& fit) {
    const QRectF base = viewRect(photo, output, fit);
    if (base.isEmpty()) return {};
    const QRectF bounds = motionBounds(photo, output, fit);
    const double aspect = output.width() / output.height();
    const bool finite = isFiniteRect(rect);
    const QPointF centre = finite ? rect.center() : base.center();
    double width = base.width();
    if (finite && rect.width() > 0.0 && rect.height() > 0.0) {
        // The output's aspect with the rectangle's area.
        width = std::sqrt(rect.width() * rect.height() * aspect);
        if (!std::isfinite(width)) width = bounds.width();
    }
    width = std::max(width, base.width() / 16.0);
    width = std::min({width, bounds.width(), bounds.height() * aspect});
    const double height = width / aspect;
    const double x = clampTo(centre.x() - width * 0.5, bounds.left(), bounds.right() - width);
    const double y = clampTo(centre.y() - height * 0.5, bounds.top(), bounds.bottom() - height);
    return {x, y, width, height};
}

void motionEnds(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit, QRectF& start,
                QRectF& end) {
    const QRectF base = viewRect(photo, output, fit);
    start = base;
    end = base;
    if (base.isEmpty()) return;
    switch (motion.kind) {
        case MotionKind::None:
        case MotionKind::GentleRandom:
            break;
        case MotionKind::ZoomIn:
            end = scaledAbout(base, 1.0 / kMotionZoomFactor);
            break;
        case MotionKind::ZoomOut:
            start = scaledAbout(base, 1.0 / kMotionZoomFactor);
            break;
        case MotionKind::PanLeft:
        case MotionKind::PanRight:
        case MotionKind::PanUp:
        case MotionKind::PanDown:
            panEnds(motion.kind, photo, output, fit, start, end);
            break;
        case MotionKind::Custom:
            start = clampViewRect(motion.start, photo, output, fit);
            end = clampViewRect(motion.end, photo, output, fit);
            break;
    }
}

double motionEasing(double progress) {
    if (!(progress > 0.0)) return 0.0;
    const double p = std::min(progress, 1.0);
    return p * p * (3.0 - 2.0 * p);
}

QRectF motionRectAt(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit,
                    double seconds, double totalSeconds) {
    QRectF start;
    QRectF end;
    motionEnds(motion, photo, output, fit, start, end);
    if (!(totalSeconds > 0.0) || !std::isfinite(totalSeconds)) return start;
    const double progress = std::isfinite(seconds) ? seconds / totalSeconds : 0.0;
    return lerpRect(start, end, motionEasing(progress));
}

PhotoMotion gentleRandomMotion(QSizeF photo, QSizeF output, const FitOptions& fit, std::uint64_t seed,
                               int slideIndex, double totalSeconds, double maxSpeedFractionPerSecond,
                               const std::vector<QRectF>& faces) {
    if (!hasPixels(photo) || !hasPixels(output) || !(totalSeconds > 0.0) || !std::isfinite(totalSeconds))
        return {};
    const QRectF base = clampViewRect(viewRect(photo, output, fit), photo, output, fit);
    const QRectF bounds = motionBounds(photo, output, fit);
    MotionRandom random(
        seed ^ (static_cast<std::uint64_t>(static_cast<std::uint32_t>(slideIndex)) * 0xD1B54A32D192ED03ull));
    random.next();

    const double photoAspect = photo.width() / photo.height();
    const double outputAspect = output.width() / output.height();
    const bool panorama = photoAspect > 2.0 && photoAspect > outputAspect * 1.2;
    const bool portrait = photoAspect < 1.0 && photoAspect < outputAspect / 1.2;
    const bool zoomIn = slideIndex % 2 == 0;

    QRectF start = base;
    QRectF end = base;
    bool pan = false;
    if (panorama || portrait) {
        const bool forward = random.next() & 1u;
        const MotionKind kind = panorama ? (forward ? MotionKind::PanRight : MotionKind::PanLeft)
                                         : (forward ? MotionKind::PanDown : MotionKind::PanUp);
        panEnds(kind, photo, output, fit, start, end);
        start = clampViewRect(start, photo, output, fit);
        end = clampViewRect(end, photo, output, fit);
        pan = true;
    } else {
        // A zoom about a point near the centre, the zoomed view staying inside the still one.
        const double factor = 1.06 + 0.09 * random.unit();
        const double width = base.width() / factor;
        const double height = base.height() / factor;
        const double spareX = (base.width() - width) * 0.5;
        const double spareY = (base.height() - height) * 0.5;
        const QPointF focus(base.center().x() + spareX * 0.8 * (2.0 * random.unit() - 1.0),
                            base.center().y() + spareY * 0.8 * (2.0 * random.unit() - 1.0));
        const QRectF zoomed = centredRect(focus, width, height);
        start = zoomIn ? base : zoomed;
        end = zoomIn ? zoomed : base;
    }

    // Faces: both ends hold every face, so every view between them does too.
    const QRectF faceArea = faceAreaToHold(faces, photo, output, bounds);
    if (!faceArea.isEmpty()) {
        start = holdFaces(start, faceArea, bounds);
        end = holdFaces(end, faceArea, bounds);
    }

    // Too fast: a shorter stretch of the same path (a random one for pans, the start for zooms).
    const double speed = peakSpeed(start, end, totalSeconds);
    const double limit =
        std::max(0.0, std::isfinite(maxSpeedFractionPerSecond) ? maxSpeedFractionPerSecond : 0.0);
    if (speed > limit) {
        const double keep = std::isfinite(speed) ? limit / speed : 0.0;
        const double from = pan ? random.unit() * (1.0 - keep) : 0.0;
        const QRectF slowStart = lerpRect(start, end, from);
        end = lerpRect(start, end, from + keep);
        start = slowStart;
    }
    return {MotionKind::Custom, start, end};
}

PhotoMotion resolveMotion(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit,
                          std::uint64_t seed, int slideIndex, double totalSeconds,
                          const std::vector<QRectF>& faces) {
    switch (motion.kind) {
        case MotionKind::GentleRandom:
            return gentleRandomMotion(photo, output, fit, seed, slideIndex, totalSeconds, kGentleMaxSpeed,
                                      faces);
        case MotionKind::Custom:
            // The user's own rectangles stay as drawn.
            return motion;
        case MotionKind::None:
        case MotionKind::ZoomIn:
        case MotionKind::ZoomOut:
        case MotionKind::PanLeft:
        case MotionKind::PanRight:
        case MotionKind::PanUp:
        case MotionKind::PanDown:
            break;
    }
    if (fit.fit != PhotoFit::Fill || faces.empty()) return motion;
    return fillHoldingFaces(motion, photo, output, fit, faces);
}

QSize motionDecodeSize(const PhotoMotion& motion, QSizeF photo, QSizeF output, const FitOptions& fit) {
    if (!hasPixels(photo) || !hasPixels(output)) return {};
    QRectF start;
    QRectF end;
    motionEnds(motion, photo, output, fit, start, end);
    const double smallest = std::min(start.width(), end.width());
    double scale = smallest > 0.0 ? output.width() / smallest : 1.0;
    scale = std::min(scale, 1.0);
    const auto side = [scale](double length) {
        return static_cast<int>(
            std::clamp(std::ceil(length * scale - 1e-9), 1.0, static_cast<double>(INT_MAX)));
    };
    return {side(photo.width()), side(photo.height())};
}

QRectF scaleViewRect(const QRectF& view, QSizeF photo, QSizeF decoded) {
    if (!hasPixels(photo) || !hasPixels(decoded)) return {};
    const double sx = decoded.width() / photo.width();
    const double sy = decoded.height() / photo.height();
    return {view.x() * sx, view.y() * sy, view.width() * sx, view.height() * sy};
}

}  // namespace kestrelle
