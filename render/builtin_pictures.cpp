#include "render/builtin_pictures.h"

namespace kestrelle {
namespace {

QImage filledPicture(QRgb colour) {
    QImage picture(kBuiltinPictureWidth, kBuiltinPictureHeight, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

}  // namespace

// Function-local statics: built once, on first use, thread-safely.
const QImage& endingBlack() {
    static const QImage picture = filledPicture(qRgb(0, 0, 0));
    return picture;
}

const QImage& endingWhite() {
    static const QImage picture = filledPicture(qRgb(255, 255, 255));
    return picture;
}

}  // namespace kestrelle
