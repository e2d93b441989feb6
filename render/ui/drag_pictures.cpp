#include "render/ui/drag_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

namespace kestrelle {
namespace {

QImage blankImage(QSize logical, qreal ratio) {
    const qreal r = ratio > 0 ? ratio : 1.0;
    QImage image(qRound(logical.width() * r), qRound(logical.height() * r),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(r);
    return image;
}

// A 16 x 12 photo: frame, sky, sun and a hill, with its top-left corner at `at`.
void drawPhoto(QPainter& p, QPointF at) {
    p.save();
    p.translate(at);
    p.setPen(Qt::NoPen);
    p.fillRect(QRectF(0, 0, 16, 12), QColor(60, 60, 70));
    p.fillRect(QRectF(1, 1, 14, 10), QColor(150, 200, 240));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(QColor(250, 210, 60));
    p.drawEllipse(QPointF(11.5, 4), 1.8, 1.8);
    p.setBrush(QColor(70, 150, 70));
    p.drawPolygon(QPolygonF({{1, 11}, {1, 7.5}, {5, 5}, {9, 8}, {12, 6.5}, {15, 8.5}, {15, 11}}));
    p.restore();
}

}  // namespace

QImage dragPictureImage(int itemCount, qreal devicePixelRatio) {
    const bool several = itemCount > 1;
    QImage image = blankImage(several ? kMultipleDragPictureSize : kSingleDragPictureSize, devicePixelRatio);
    QPainter p(&image);
    if (several) {
        // A second photo peeking out behind the first.
        p.fillRect(QRectF(1, 0, 16, 12), QColor(60, 60, 70));
        p.fillRect(QRectF(2, 1, 14, 10), QColor(235, 235, 235));
        drawPhoto(p, QPointF(0, 1));
    } else {
        drawPhoto(p, QPointF(0, 0));
    }
    return image;
}

QPixmap dragPicture(int itemCount, qreal devicePixelRatio) {
    return QPixmap::fromImage(dragPictureImage(itemCount, devicePixelRatio));
}

QImage audioPictureImage(qreal devicePixelRatio) {
    QImage image = blankImage(kAudioPictureSize, devicePixelRatio);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    // A white card like a thumbnail's, with a loudspeaker and a waveform.
    p.setPen(QPen(QColor(170, 170, 180), 1.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(4.5, 4.5, 91, 81), 6, 6);

    const QColor ink(0, 90, 180);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    QPainterPath speaker;
    speaker.addRect(QRectF(16, 36, 9, 18));
    speaker.moveTo(25, 36);
    speaker.lineTo(37, 26);
    speaker.lineTo(37, 64);
    speaker.lineTo(25, 54);
    speaker.closeSubpath();
    p.drawPath(speaker);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 2; ++i) {
        const double r = 8.0 + 7.0 * i;
        p.drawArc(QRectF(38 - r, 45 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
    // The waveform to the right.
    p.setPen(QPen(QColor(0, 90, 180, 200), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF wave;
    for (int x = 0; x <= 26; ++x) {
        const double envelope = std::sin(x / 26.0 * 3.14159265);
        wave << QPointF(61 + x, 45 - std::sin(x * 1.3) * 14.0 * envelope);
    }
    p.drawPolyline(wave);
    return image;
}

QPixmap audioPicture(qreal devicePixelRatio) {
    return QPixmap::fromImage(audioPictureImage(devicePixelRatio));
}

}  // namespace kestrelle
