#include "render/ui/transition_icons.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>

#include <array>
#include <cmath>

namespace kestrelle {
namespace {

// Icon space: 31 x 23 units. The outer unit is the frame; the picture area is (1, 1)..(30, 22).
constexpr double kW = 31.0;
constexpr double kH = 23.0;
const QRectF kPicture(1, 1, 29, 21);

const QColor kFrame(64, 64, 72);
const QColor kCurrent(200, 218, 240);  // the picture being left
const QColor kCurrentDetail(150, 178, 214);
const QColor kNext(242, 154, 46);  // the picture coming in
const QColor kNextDetail(196, 100, 10);
const QColor kArrow(28, 44, 100);

enum class Side { Left, Right, Top, Bottom };

// A solid arrow head pointing towards `side`'s opposite, centred at c, of half-size r.
QPolygonF arrowHead(QPointF c, double r, Side pointing) {
    switch (pointing) {
        case Side::Right:
            return QPolygonF({c + QPointF(r, 0), c + QPointF(-r * 0.8, -r), c + QPointF(-r * 0.8, r)});
        case Side::Left:
            return QPolygonF({c + QPointF(-r, 0), c + QPointF(r * 0.8, -r), c + QPointF(r * 0.8, r)});
        case Side::Bottom:
            return QPolygonF({c + QPointF(0, r), c + QPointF(-r, -r * 0.8), c + QPointF(r, -r * 0.8)});
        case Side::Top:
            return QPolygonF({c + QPointF(0, -r), c + QPointF(-r, r * 0.8), c + QPointF(r, r * 0.8)});
    }
    return {};
}

// The current picture with a faint horizon, so the incoming picture reads as a picture over it.
void drawCurrent(QPainter& p) {
    p.fillRect(kPicture, kCurrent);
    p.fillRect(QRectF(1, 15, 29, 7), kCurrentDetail);
}

// The part of the next picture that has come in, with its own horizon.
void drawNext(QPainter& p, const QRectF& area) {
    p.fillRect(area, kNext);
    const QRectF ground = area.intersected(QRectF(1, 15, 29, 7));
    if (!ground.isEmpty()) {
        p.fillRect(ground, kNextDetail);
    }
}

void drawArrowHead(QPainter& p, const QPolygonF& head, const QColor& colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(head);
    p.restore();
}

// An arrow from `from` to `to`: a shaft and a solid head.
void drawArrow(QPainter& p, QPointF from, QPointF to, double headSize) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    if (length <= 0.0) {
        p.restore();
        return;
    }
    const QPointF unit = d / length;
    const QPointF normal(-unit.y(), unit.x());
    const QPointF base = to - unit * headSize;
    p.setPen(QPen(kArrow, 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, base + unit * 0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kArrow);
    p.drawPolygon(QPolygonF({to, base + normal * headSize * 0.75, base - normal * headSize * 0.75}));
    p.restore();
}

// The part of the picture area on `side`, `depth` units deep.
QRectF sideArea(Side side, double depth) {
    switch (side) {
        case Side::Left:
            return QRectF(1, 1, depth, 21);
        case Side::Right:
            return QRectF(30 - depth, 1, depth, 21);
        case Side::Top:
            return QRectF(1, 1, 29, depth);
        case Side::Bottom:
            return QRectF(1, 22 - depth, 29, depth);
    }
    return {};
}

Side opposite(Side side) {
    switch (side) {
        case Side::Left:
            return Side::Right;
        case Side::Right:
            return Side::Left;
        case Side::Top:
            return Side::Bottom;
        case Side::Bottom:
            return Side::Top;
    }
    return side;
}

// A slide: the next picture pushed in from `from`, a white arrow head inside it pointing the way it moves,
// and a sun cut by its leading edge (the picture itself moves).
void drawSlide(QPainter& p, Side from) {
    drawCurrent(p);
    const bool horizontal = from == Side::Left || from == Side::Right;
    const QRectF area = sideArea(from, horizontal ? 15 : 11);
    drawNext(p, area);
    // The leading edge.
    p.setPen(Qt::NoPen);
    const QRectF edge = [&] {
        switch (from) {
            case Side::Left:
                return QRectF(area.right() - 1, 1, 1, 21);
            case Side::Right:
                return QRectF(area.left(), 1, 1, 21);
            case Side::Top:
                return QRectF(1, area.bottom() - 1, 29, 1);
            case Side::Bottom:
                return QRectF(1, area.top(), 29, 1);
        }
        return QRectF();
    }();
    p.fillRect(edge, kNextDetail);
    const double r = horizontal ? 5.0 : 4.2;
    drawArrowHead(p, arrowHead(area.center(), r, opposite(from)), Qt::white);
}

// A wipe: the next picture uncovered in place from `from`; its edge is a dark line with an arrow ahead of
// it, in the current picture, showing where it goes.
void drawWipe(QPainter& p, Side from) {
    drawCurrent(p);
    const QRectF area = sideArea(from, 13);
    drawNext(p, area);
    if (from == Side::Left) {
        p.fillRect(QRectF(area.right(), 1, 1, 21), kArrow);
        drawArrow(p, QPointF(17, 8), QPointF(27, 8), 4);
    } else {
        p.fillRect(QRectF(area.left() - 1, 1, 1, 21), kArrow);
        drawArrow(p, QPointF(14, 8), QPointF(4, 8), 4);
    }
}

void drawVerticalBlinds(QPainter& p) {
    drawCurrent(p);
    for (int x = 2; x < 30; x += 5) {
        drawNext(p, QRectF(x, 1, 2, 21));
    }
    // The sweep inside each band.
    drawArrow(p, QPointF(4.5, 11.5), QPointF(11.5, 11.5), 3.2);
}

void drawHorizontalBlinds(QPainter& p) {
    drawCurrent(p);
    for (int y = 2; y < 22; y += 5) {
        p.fillRect(QRectF(1, y, 29, 2), kNext);
    }
    drawArrow(p, QPointF(15.5, 3), QPointF(15.5, 10), 3.2);
}

// Blocks of a 7 x 5 grid on a 4-unit pitch, a gap between neighbours; `filled` lists the block numbers (row *
// 7 + column).
void drawBlocks(QPainter& p, const int* filled, int count) {
    for (int i = 0; i < count; ++i) {
        const int column = filled[i] % 7;
        const int row = filled[i] / 7;
        p.fillRect(QRectF(2 + column * 4, 2 + row * 4, 3, 3), kNext);
    }
}

void drawRandomBlocks(QPainter& p) {
    drawCurrent(p);
    static const int filled[] = {1, 4, 5, 9, 13, 14, 16, 20, 22, 25, 27, 29, 31, 33};
    drawBlocks(p, filled, static_cast<int>(std::size(filled)));
}

void drawSpiralBlocks(QPainter& p) {
    drawCurrent(p);
    // The outer ring clockwise from the top-left corner, most of the way round.
    static const int filled[] = {0, 1, 2, 3, 4, 5, 6, 13, 20, 27, 34, 33, 32, 31, 30};
    drawBlocks(p, filled, static_cast<int>(std::size(filled)));
    // The way on: inwards, clockwise.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kArrow, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{3.5, 19}, {3.5, 7.5}, {23.5, 7.5}, {23.5, 15.5}, {12, 15.5}}));
    p.restore();
    drawArrowHead(p, arrowHead(QPointF(10.5, 15.5), 2.8, Side::Left), kArrow);
}

// A growing square of the next picture in one corner, with the diagonal it grows along.
void drawDiagonal(QPainter& p, bool fromTop) {
    drawCurrent(p);
    const QRectF square = fromTop ? QRectF(1, 1, 13, 13) : QRectF(1, 9, 13, 13);
    drawNext(p, square);
    if (fromTop) {
        drawArrow(p, QPointF(5, 5), QPointF(26, 19), 4.5);
    } else {
        drawArrow(p, QPointF(5, 18), QPointF(26, 4), 4.5);
    }
}

// A die over both pictures.
void drawRandom(QPainter& p) {
    drawCurrent(p);
    drawNext(p, QRectF(16, 1, 14, 21));
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF die(8.5, 4.5, 14, 14);
    p.setPen(QPen(kArrow, 1.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(die, 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kArrow);
    const QPointF c = die.center();
    const double o = 3.6;
    for (const QPointF pip :
         {c, c + QPointF(-o, -o), c + QPointF(o, o), c + QPointF(o, -o), c + QPointF(-o, o)}) {
        p.drawEllipse(pip, 1.35, 1.35);
    }
    p.restore();
}

void drawIcon(QPainter& p, int effect) {
    switch (effect) {
        case 0:
            drawRandom(p);
            break;
        case 1:
            drawSlide(p, Side::Left);
            break;
        case 2:
            drawVerticalBlinds(p);
            break;
        case 3:
            drawHorizontalBlinds(p);
            break;
        case 4:
            drawWipe(p, Side::Right);
            break;
        case 5:
            drawRandomBlocks(p);
            break;
        case 6:
            drawSpiralBlocks(p);
            break;
        case 7:
            drawWipe(p, Side::Left);
            break;
        case 8:
            drawSlide(p, Side::Right);
            break;
        case 9:
            drawSlide(p, Side::Top);
            break;
        case 10:
            drawSlide(p, Side::Bottom);
            break;
        case 11:
            drawDiagonal(p, true);
            break;
        case 12:
            drawDiagonal(p, false);
            break;
        default:
            return;
    }
    // The frame goes last, over everything that reached the edge.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(kFrame);
    p.drawRect(QRectF(0, 0, kW, 1));
    p.drawRect(QRectF(0, kH - 1, kW, 1));
    p.drawRect(QRectF(0, 1, 1, kH - 2));
    p.drawRect(QRectF(kW - 1, 1, 1, kH - 2));
    p.restore();
}

// Draws itself at every size asked for, so no pixmap is ever scaled.
class TransitionIconEngine final : public QIconEngine {
public:
    explicit TransitionIconEngine(int effect) : effect_(effect) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        painter->save();
        if (mode == QIcon::Disabled) {
            painter->setOpacity(0.45);
        }
        paintTransitionIcon(*painter, QRectF(rect), effect_);
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // QIcon asks with the size already in device pixels and the scale beside it.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
        if (size.isEmpty()) {
            return {};
        }
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        QPixmap pixmap = QPixmap::fromImage(std::move(image));
        pixmap.setDevicePixelRatio(scale > 0 ? scale : 1.0);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new TransitionIconEngine(effect_); }
    QString key() const override { return QStringLiteral("kestrelle-transition"); }

private:
    int effect_;
};

}  // namespace

bool hasTransitionIcon(int effect) {
    return effect >= 0 && effect < kTransitionIconCount;
}

void paintTransitionIcon(QPainter& painter, const QRectF& target, int effect) {
    if (!hasTransitionIcon(effect) || target.isEmpty()) {
        return;
    }
    painter.save();
    painter.translate(target.topLeft());
    painter.scale(target.width() / kW, target.height() / kH);
    painter.setRenderHint(QPainter::Antialiasing, false);
    drawIcon(painter, effect);
    painter.restore();
}

QIcon transitionIcon(int effect) {
    if (!hasTransitionIcon(effect)) {
        return {};
    }
    return QIcon(new TransitionIconEngine(effect));
}

QImage transitionIconImage(int effect, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize pixels(qRound(kTransitionIconSize.width() * ratio),
                       qRound(kTransitionIconSize.height() * ratio));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        paintTransitionIcon(painter, QRectF(QPointF(0, 0), QSizeF(pixels)), effect);
    }
    image.setDevicePixelRatio(ratio);
    return image;
}

QPixmap transitionIconPixmap(int effect, qreal devicePixelRatio) {
    return QPixmap::fromImage(transitionIconImage(effect, devicePixelRatio));
}

QString transitionEffectTitle(int effect) {
    static const char* const titles[kTransitionIconCount] = {
        "Random",
        "Slide in from left",
        "Vertical line blinds",
        "Horizontal line blinds",
        "Wipe from right",
        "Random blocks",
        "Spiral blocks",
        "Wipe from left",
        "Slide in from right",
        "Slide in from top",
        "Slide in from bottom",
        "Diagonal from top left",
        "Diagonal from bottom left",
    };
    if (!hasTransitionIcon(effect)) {
        return {};
    }
    return QString::fromLatin1(titles[effect]);
}

}  // namespace kestrelle
