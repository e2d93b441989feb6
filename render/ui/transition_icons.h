#pragma once
// The thirteen transition icons, 31 x 23 each: 0 is the random pick, 1..12 the effects. Each shows its
// effect's motion (the next picture in orange coming over the current one in pale blue). They are drawn
// by code at whatever size and pixel ratio they are asked for, so they stay crisp on high-DPI screens.
// Numbers outside 0..12 give a blank icon.
//
// The storyboard draws them in its cells, the chooser on its buttons, and the configuration dialog on its
// default-effect button:
//
//     button->setIcon(kestrelle::transitionIcon(effect));
//     button->setIconSize(kestrelle::kTransitionIconSize);

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

class QPainter;
class QRectF;

namespace kestrelle {

inline constexpr QSize kTransitionIconSize{31, 23};
// Icons 0..12.
inline constexpr int kTransitionIconCount = 13;

// Whether `effect` has an icon (0..12).
bool hasTransitionIcon(int effect);

// The icon of `effect` as a QIcon that draws itself at every requested size and pixel ratio; a null
// icon for numbers outside 0..12. UI thread only (like every QIcon).
QIcon transitionIcon(int effect);

// The icon at 31 x 23 logical pixels and `devicePixelRatio`; a transparent pixmap outside 0..12. UI thread.
QPixmap transitionIconPixmap(int effect, qreal devicePixelRatio);

// The same as an image (any thread).
QImage transitionIconImage(int effect, qreal devicePixelRatio);

// Draws the icon of `effect` scaled into `target`; draws nothing outside 0..12.
void paintTransitionIcon(QPainter& painter, const QRectF& target, int effect);

// What the chooser's buttons are called for assistive technology and in their tooltips: "Random",
// "Slide in from left", ...; empty outside 0..12.
QString transitionEffectTitle(int effect);

}  // namespace kestrelle
