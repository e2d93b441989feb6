#pragma once
// Positions given in dialog units, turned into pixels with the dialog font's base units: one
// horizontal unit is a quarter of the average character width, one vertical unit an eighth of the
// character height.

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QWidget>

namespace kestrelle {

class DialogUnitScale {
public:
    explicit DialogUnitScale(const QFont& font) {
        const QFontMetrics metrics(font);
        // The average over the Latin letters, as the dialog base units are measured.
        const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        averageCharWidth_ = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
        charHeight_ = metrics.height();
    }

    int x(int units) const { return (units * averageCharWidth_ + 2) / 4; }
    int y(int units) const { return (units * charHeight_ + 4) / 8; }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(x(left), y(top), x(width), y(height));
    }
    // Places `widget` at a rectangle given in dialog units.
    void place(QWidget* widget, int left, int top, int width, int height) const {
        widget->setGeometry(rect(left, top, width, height));
    }

private:
    int averageCharWidth_ = 6;
    int charHeight_ = 13;
};

}  // namespace kestrelle
