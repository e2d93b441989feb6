#include "config/ui/dialog_units.h"

#include <QFontMetrics>

#include <algorithm>

namespace kestrelle {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    static const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // The average over both alphabets, rounded to the nearest pixel.
    averageCharWidth_ = std::max(1, (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2);
    charHeight_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const { return (units * averageCharWidth_ + 2) / 4; }

int DialogUnits::y(int units) const { return (units * charHeight_ + 4) / 8; }

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return QRect(x(left), y(top), x(width), y(height));
}

QSize DialogUnits::size(int width, int height) const { return QSize(x(width), y(height)); }

}  // namespace kestrelle
