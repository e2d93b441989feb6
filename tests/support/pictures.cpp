#include "tests/support/pictures.h"

#include <QColor>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace kestrelle::testing {

QImage ellipsesPicture(QSize size, unsigned seed, int ellipses) {
    QImage image(size, QImage::Format_RGB32);
    std::mt19937 random(seed);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(40, 120, 200));
    for (int i = 0; i < ellipses; ++i) {
        painter.setBrush(QColor(static_cast<int>(random() % 256), static_cast<int>(random() % 256),
                                static_cast<int>(random() % 256)));
        painter.drawEllipse(
            QPoint(static_cast<int>(random() % size.width()), static_cast<int>(random() % size.height())),
            static_cast<int>(random() % 200), static_cast<int>(random() % 200));
    }
    painter.end();
    return image;
}

int largestChannelDifference(const QImage& a, const QImage& b, QRect area) {
    int largest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return largest;
}

int largestChannelDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) return 255;
    return largestChannelDifference(a, b, a.rect());
}

}  // namespace kestrelle::testing
