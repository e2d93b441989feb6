#pragma once
// The state behind the photo viewer's motion editor, free of widgets so that every edit can be tested
// on its own: a slide's look (motion and fit), the photo's upright size and the output's size, and the
// start and end view rectangles drawn over the photo.
//
// Rectangles are in the photo's own coordinates (render/photo_motion.h) and always have the output's
// aspect; every edit keeps them inside motionBounds through clampViewRect. Editing a rectangle turns the
// motion into Custom, starting from the rectangles of the kind shown before, so nothing jumps.
// The editor draws the photo into a "display rectangle" of its own widget; the mapping between widget
// and photo coordinates follows that rectangle.

#include "project/project_content.h"

#include <qnamespace.h>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <cstdint>

namespace kestrelle {

// One of the two rectangles of a motion.
enum class MotionEnd { Start, End };

// What a mouse press took hold of.
enum class MotionGrip { None, Move, TopLeft, TopRight, BottomLeft, BottomRight };

class MotionEditorModel {
public:
    MotionEditorModel() = default;
    MotionEditorModel(const SlideLook& look, QSizeF photo, QSizeF output);

    // ---- What is edited
    const SlideLook& look() const { return look_; }
    void setLook(const SlideLook& look);
    QSizeF photoSize() const { return photo_; }
    void setPhotoSize(QSizeF photo);
    QSizeF outputSize() const { return output_; }
    void setOutputSize(QSizeF output);
    // What GentleRandom is resolved with (as the video resolves it) and how long the motion lasts: the
    // project's motion seed, the slide's index and the seconds its photo is on screen.
    void setMotionSource(std::uint64_t seed, int slideIndex, double totalSeconds);
    double totalSeconds() const { return totalSeconds_; }
    // Whether there is anything to edit: the photo and the output both have pixels.
    bool editable() const;

    // ---- The rectangles (photo coordinates; empty when not editable)
    // The motion as drawn: GentleRandom resolved into its Custom motion, every other kind as it is.
    PhotoMotion resolvedMotion() const;
    QRectF startRect() const;
    QRectF endRect() const;
    QRectF rect(MotionEnd end) const { return end == MotionEnd::Start ? startRect() : endRect(); }
    // Where the rectangles may go (motionBounds): the photo and the still view together.
    QRectF bounds() const;

    // ---- Choices
    // Choosing Custom starts from the rectangles of the kind chosen before. Returns whether the look
    // changed.
    bool setMotionKind(MotionKind kind);
    bool setFit(PhotoFit fit);
    bool setEnlargeSmall(bool enlarge);

    // ---- Rectangle edits; each makes the motion Custom and returns whether the look changed
    // The rectangle placed as given, brought to the output's aspect and inside the bounds.
    bool setRect(MotionEnd end, const QRectF& rect);
    bool moveRect(MotionEnd end, QPointF delta);
    // Scaled about its centre (a factor above 1 grows it), then kept inside the bounds.
    bool scaleRect(MotionEnd end, double factor);
    // The active rectangle, which the keyboard acts on.
    MotionEnd activeEnd() const { return active_; }
    void setActiveEnd(MotionEnd end) { active_ = end; }
    // Arrows move the active rectangle by 1 % of the photo (10 % with Shift); + and - grow and shrink it
    // about its centre. Returns whether the key is one of these (even when the rectangle could not move).
    bool handleKey(int key, Qt::KeyboardModifiers modifiers, bool* changed = nullptr);

    // ---- Widget coordinates
    // Where the whole photo is drawn in the widget.
    void setDisplayRect(const QRectF& photoOnWidget) { display_ = photoOnWidget; }
    const QRectF& displayRect() const { return display_; }
    // The display rectangle that shows the bounds as large as `area` allows, centred in it.
    QRectF displayRectFor(const QRectF& area) const;
    QPointF toPhoto(QPointF widgetPoint) const;
    QPointF toWidget(QPointF photoPoint) const;
    QRectF toWidget(const QRectF& photoRect) const;

    // ---- Mouse
    // What a press at a widget point would take: a corner of either rectangle (the active one first),
    // else the inside of one (the active one first), else nothing. `which` tells the rectangle.
    MotionGrip gripAt(QPointF widgetPoint, MotionEnd* which = nullptr) const;
    // A press: takes hold of a corner or an inside and makes that rectangle active. False on nothing.
    bool pressAt(QPointF widgetPoint);
    // The pointer moved while pressed: a move drags the rectangle, a corner resizes it about the
    // opposite corner (the aspect kept, inside the bounds). Returns whether the look changed.
    bool dragTo(QPointF widgetPoint);
    // The press ends; returns whether the drag changed the look since the press.
    bool release();
    bool dragging() const { return grip_ != MotionGrip::None; }
    // How near (widget pixels) a corner must be to be taken.
    static constexpr double kGripRadius = 7.0;

    // ---- Play
    // The view `seconds` into the motion.
    QRectF viewAt(double seconds) const;
    void startPlay();
    // Moves play on by `seconds`; false once it has reached the end (play then stops on the end view).
    bool advancePlay(double seconds);
    void stopPlay() { playing_ = false; }
    bool playing() const { return playing_; }
    double playTime() const { return playTime_; }
    // The view play shows now.
    QRectF playView() const { return viewAt(playTime_); }

private:
    // Makes the motion Custom with the rectangles drawn now, so that an edit starts where they are.
    void becomeCustom();
    QRectF clamped(const QRectF& rect) const;
    double displayScale() const;

    SlideLook look_{};
    QSizeF photo_;
    QSizeF output_;
    std::uint64_t seed_ = 0;
    int slideIndex_ = 0;
    double totalSeconds_ = 0.0;
    MotionEnd active_ = MotionEnd::Start;
    QRectF display_;

    MotionGrip grip_ = MotionGrip::None;
    MotionEnd gripEnd_ = MotionEnd::Start;
    QRectF gripRect_;    // the rectangle when pressed (photo coordinates)
    QPointF gripPoint_;  // the press (photo coordinates)
    SlideLook gripLook_{};

    bool playing_ = false;
    double playTime_ = 0.0;
};

}  // namespace kestrelle
