#pragma once
// Dialog units: layouts given in the units of a dialog font, turned into pixels. One horizontal unit is
// a quarter of the font's average character width, one vertical unit an eighth of its height.

#include <QFont>
#include <QRect>
#include <QSize>

namespace kestrelle {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

private:
    int averageCharWidth_ = 6;
    int charHeight_ = 13;
};

}  // namespace kestrelle
