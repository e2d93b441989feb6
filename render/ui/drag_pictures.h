#pragma once
// The small pictures of the photo browser and the storyboard, drawn by code at the asked pixel ratio:
// the drag pictures (16 x 12 for one item, 17 x 13 for several) and the 100 x 90 picture every WAV file
// shows in the browser's audio mode. Transparent where the picture has no paint.
//
//     QDrag drag(source);
//     drag.setPixmap(kestrelle::dragPicture(selectedCount, source->devicePixelRatioF()));

#include <QImage>
#include <QPixmap>
#include <QSize>

namespace kestrelle {

inline constexpr QSize kSingleDragPictureSize{16, 12};
inline constexpr QSize kMultipleDragPictureSize{17, 13};
inline constexpr QSize kAudioPictureSize{100, 90};

// A drag picture: one photo for one item, a small stack for more (any thread).
QImage dragPictureImage(int itemCount, qreal devicePixelRatio);
// The same as a pixmap (UI thread).
QPixmap dragPicture(int itemCount, qreal devicePixelRatio);

// The picture of a WAV file (any thread).
QImage audioPictureImage(qreal devicePixelRatio);
// The same as a pixmap (UI thread).
QPixmap audioPicture(qreal devicePixelRatio);

}  // namespace kestrelle
