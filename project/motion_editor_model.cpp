#include "project/motion_editor_model.h"

#include <algorithm>
#include <cmath>

namespace kestrelle {
namespace {

bool hasPixels(QSizeF size) {
    return std::isfinite(size.width()) && std::isfinite(size.height()) && size.width() > 0.0 &&
           size.height() > 0.0;
}

bool isFinitePoint(QPointF point) {
    return std::isfinite(point.x()) && std::isfinite(point.y());
}

// A keyboard step: this fraction of the photo's side per arrow press (ten times that with Shift), and
// the factor + and - scale by.
constexpr double kKeyStep = 0.01;
constexpr double kShiftKeyStep = 0.10;
constexpr double kKeyScale = 1.05;

bool nearPoint(QPointF a, QPointF b, double radius) {
    return std::abs(a.x() - b.x()) <= radius && std::abs(a.y() - b.y()) <= radius;
}

}  // namespace

MotionEditorModel::MotionEditorModel(const SlideLook& look, QSizeF photo, QSizeF output)
    : look_(look), photo_(photo), output_(output) {}

void MotionEditorModel::setLook(const SlideLook& look) {
    look_ = look;
}

void MotionEditorModel::setPhotoSize(QSizeF photo) {
    photo_ = photo;
}

void MotionEditorModel::setOutputSize(QSizeF output) {
    output_ = output;
}

void MotionEditorModel::setMotionSource(std::uint64_t seed, int slideIndex, double totalSeconds) {
    seed_ = seed;
    slideIndex_ = std::max(0, slideIndex);
    totalSeconds_ = std::isfinite(totalSeconds) && totalSeconds > 0.0 ? totalSeconds : 0.0;
}

bool MotionEditorModel::editable() const {
    return hasPixels(photo_) && hasPixels(output_) && !viewRect(photo_, output_, look_.fit).isEmpty();
}

PhotoMotion MotionEditorModel::resolvedMotion() const {
    if (!editable()) return look_.motion;
    return resolveMotion(look_.motion, photo_, output_, look_.fit, seed_, slideIndex_, totalSeconds_);
}

QRectF MotionEditorModel::startRect() const {
    if (!editable()) return {};
    QRectF start;
    QRectF end;
    motionEnds(resolvedMotion(), photo_, output_, look_.fit, start, end);
    return start;
}

QRectF MotionEditorModel::endRect() const {
    if (!editable()) return {};
    QRectF start;
    QRectF end;
    motionEnds(resolvedMotion(), photo_, output_, look_.fit, start, end);
    return end;
}

QRectF MotionEditorModel::bounds() const {
    if (!editable()) return {};
    return motionBounds(photo_, output_, look_.fit);
}

QRectF MotionEditorModel::clamped(const QRectF& rect) const {
    return clampViewRect(rect, photo_, output_, look_.fit);
}

void MotionEditorModel::becomeCustom() {
    if (look_.motion.kind == MotionKind::Custom) return;
    // Stored as a Custom motion draws them: a Letterbox view, rounded to whole pixels as fitPhoto
    // places the photo, takes the output's exact aspect (a fraction of a pixel).
    const QRectF start = clamped(startRect());
    const QRectF end = clamped(endRect());
    look_.motion = PhotoMotion{MotionKind::Custom, start, end};
}

bool MotionEditorModel::setMotionKind(MotionKind kind) {
    const SlideLook before = look_;
    if (kind == MotionKind::Custom) {
        becomeCustom();
    } else {
        // The other kinds draw their own rectangles; stored ones would only linger in the file.
        look_.motion = PhotoMotion{kind, {}, {}};
    }
    return !(look_ == before);
}

bool MotionEditorModel::setFit(PhotoFit fit) {
    const SlideLook before = look_;
    look_.fit.fit = fit;
    return !(look_ == before);
}

bool MotionEditorModel::setEnlargeSmall(bool enlarge) {
    const SlideLook before = look_;
    look_.fit.enlargeSmall = enlarge;
    return !(look_ == before);
}

bool MotionEditorModel::setRect(MotionEnd end, const QRectF& rect) {
    if (!editable()) return false;
    const QRectF placed = clamped(rect);
    if (placed.isEmpty() || placed == this->rect(end)) return false;
    const SlideLook before = look_;
    becomeCustom();
    (end == MotionEnd::Start ? look_.motion.start : look_.motion.end) = placed;
    return !(look_ == before);
}

bool MotionEditorModel::moveRect(MotionEnd end, QPointF delta) {
    if (!editable() || !isFinitePoint(delta)) return false;
    return setRect(end, rect(end).translated(delta));
}

bool MotionEditorModel::scaleRect(MotionEnd end, double factor) {
    if (!editable() || !std::isfinite(factor) || factor <= 0.0) return false;
    const QRectF current = rect(end);
    const QPointF centre = current.center();
    const double width = current.width() * factor;
    const double height = current.height() * factor;
    return setRect(end, QRectF(centre.x() - width * 0.5, centre.y() - height * 0.5, width, height));
}

bool MotionEditorModel::handleKey(int key, Qt::KeyboardModifiers modifiers, bool* changed) {
    const double step = modifiers.testFlag(Qt::ShiftModifier) ? kShiftKeyStep : kKeyStep;
    const double dx = photo_.width() * step;
    const double dy = photo_.height() * step;
    bool result = false;
    switch (key) {
        case Qt::Key_Left:
            result = moveRect(active_, QPointF(-dx, 0.0));
            break;
        case Qt::Key_Right:
            result = moveRect(active_, QPointF(dx, 0.0));
            break;
        case Qt::Key_Up:
            result = moveRect(active_, QPointF(0.0, -dy));
            break;
        case Qt::Key_Down:
            result = moveRect(active_, QPointF(0.0, dy));
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            result = scaleRect(active_, kKeyScale);
            break;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            result = scaleRect(active_, 1.0 / kKeyScale);
            break;
        default:
            return false;
    }
    if (changed) *changed = result;
    return true;
}

// ---- Widget coordinates

QRectF MotionEditorModel::displayRectFor(const QRectF& area) const {
    const QRectF shown = bounds();
    if (shown.isEmpty() || area.isEmpty()) return {};
    const double scale = std::min(area.width() / shown.width(), area.height() / shown.height());
    if (!std::isfinite(scale) || scale <= 0.0) return {};
    const QPointF origin(area.center().x() - shown.width() * scale * 0.5,
                         area.center().y() - shown.height() * scale * 0.5);
    return {origin.x() - shown.left() * scale, origin.y() - shown.top() * scale, photo_.width() * scale,
            photo_.height() * scale};
}

double MotionEditorModel::displayScale() const {
    if (!hasPixels(photo_) || display_.isEmpty()) return 0.0;
    return display_.width() / photo_.width();
}

QPointF MotionEditorModel::toPhoto(QPointF widgetPoint) const {
    if (!hasPixels(photo_) || display_.isEmpty()) return {};
    return {(widgetPoint.x() - display_.left()) * photo_.width() / display_.width(),
            (widgetPoint.y() - display_.top()) * photo_.height() / display_.height()};
}

QPointF MotionEditorModel::toWidget(QPointF photoPoint) const {
    if (!hasPixels(photo_) || display_.isEmpty()) return {};
    return {display_.left() + photoPoint.x() * display_.width() / photo_.width(),
            display_.top() + photoPoint.y() * display_.height() / photo_.height()};
}

QRectF MotionEditorModel::toWidget(const QRectF& photoRect) const {
    return QRectF(toWidget(photoRect.topLeft()), toWidget(photoRect.bottomRight()));
}

// ---- Mouse

MotionGrip MotionEditorModel::gripAt(QPointF widgetPoint, MotionEnd* which) const {
    if (!editable() || display_.isEmpty() || !isFinitePoint(widgetPoint)) return MotionGrip::None;
    const MotionEnd other = active_ == MotionEnd::Start ? MotionEnd::End : MotionEnd::Start;
    for (const MotionEnd end : {active_, other}) {
        const QRectF shown = toWidget(rect(end));
        const std::pair<QPointF, MotionGrip> corners[] = {{shown.topLeft(), MotionGrip::TopLeft},
                                                          {shown.topRight(), MotionGrip::TopRight},
                                                          {shown.bottomLeft(), MotionGrip::BottomLeft},
                                                          {shown.bottomRight(), MotionGrip::BottomRight}};
        for (const auto& [corner, grip] : corners) {
            if (nearPoint(widgetPoint, corner, kGripRadius)) {
                if (which) *which = end;
                return grip;
            }
        }
    }
    for (const MotionEnd end : {active_, other}) {
        if (toWidget(rect(end)).contains(widgetPoint)) {
            if (which) *which = end;
            return MotionGrip::Move;
        }
    }
    return MotionGrip::None;
}

bool MotionEditorModel::pressAt(QPointF widgetPoint) {
    MotionEnd end = active_;
    const MotionGrip grip = gripAt(widgetPoint, &end);
    if (grip == MotionGrip::None) return false;
    grip_ = grip;
    gripEnd_ = end;
    active_ = end;
    gripRect_ = rect(end);
    gripPoint_ = toPhoto(widgetPoint);
    gripLook_ = look_;
    return true;
}

bool MotionEditorModel::dragTo(QPointF widgetPoint) {
    if (grip_ == MotionGrip::None || !editable() || !isFinitePoint(widgetPoint) || displayScale() <= 0.0) {
        return false;
    }
    const QPointF point = toPhoto(widgetPoint);
    if (grip_ == MotionGrip::Move) {
        return setRect(gripEnd_, gripRect_.translated(point - gripPoint_));
    }
    // A corner: the opposite corner stays where it is and the grabbed one follows the pointer along
    // whichever axis it went further, the output's aspect kept and the rectangle inside the bounds.
    const bool right = grip_ == MotionGrip::TopRight || grip_ == MotionGrip::BottomRight;
    const bool bottom = grip_ == MotionGrip::BottomLeft || grip_ == MotionGrip::BottomRight;
    const QPointF anchor(right ? gripRect_.left() : gripRect_.right(),
                         bottom ? gripRect_.top() : gripRect_.bottom());
    const double aspect = output_.width() / output_.height();
    const double alongX = right ? point.x() - anchor.x() : anchor.x() - point.x();
    const double alongY = bottom ? point.y() - anchor.y() : anchor.y() - point.y();
    double width = std::max(alongX, alongY * aspect);
    const QRectF room = bounds();
    const double roomX = right ? room.right() - anchor.x() : anchor.x() - room.left();
    const double roomY = bottom ? room.bottom() - anchor.y() : anchor.y() - room.top();
    const double largest = std::min(roomX, roomY * aspect);
    // A hair above clampViewRect's smallest view, so that it leaves the anchor where it is.
    const double smallest = viewRect(photo_, output_, look_.fit).width() / 16.0 * (1.0 + 1e-9);
    width = std::clamp(width, smallest, std::max(smallest, largest));
    const double height = width / aspect;
    const QRectF resized(right ? anchor.x() : anchor.x() - width, bottom ? anchor.y() : anchor.y() - height,
                         width, height);
    return setRect(gripEnd_, resized);
}

bool MotionEditorModel::release() {
    if (grip_ == MotionGrip::None) return false;
    grip_ = MotionGrip::None;
    return !(look_ == gripLook_);
}

// ---- Play

QRectF MotionEditorModel::viewAt(double seconds) const {
    if (!editable()) return {};
    return motionRectAt(resolvedMotion(), photo_, output_, look_.fit, seconds, totalSeconds_);
}

void MotionEditorModel::startPlay() {
    playTime_ = 0.0;
    playing_ = editable();
}

bool MotionEditorModel::advancePlay(double seconds) {
    if (!playing_) return false;
    if (std::isfinite(seconds) && seconds > 0.0) playTime_ += seconds;
    if (playTime_ >= totalSeconds_) {
        playTime_ = totalSeconds_;
        playing_ = false;
    }
    return playing_;
}

}  // namespace kestrelle
