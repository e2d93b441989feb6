#include "app/ui/program_icon.h"

namespace kestrelle {

QIcon programIcon() {
    return QIcon::fromTheme(QString::fromLatin1(kDesktopFileName),
                            QIcon(QStringLiteral(":/kestrelle/org.example.Kestrelle.svg")));
}

}  // namespace kestrelle
