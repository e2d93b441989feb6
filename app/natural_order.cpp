#include "app/natural_order.h"

#include <QLocale>

namespace kestrelle {

QCollator naturalCollator() {
    QLocale locale = QLocale::system();
    // The C locale compares code points and ignores numeric mode.
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    collator.setIgnorePunctuation(false);
    return collator;
}

}  // namespace kestrelle
