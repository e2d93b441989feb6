// The configuration subsystem's windows.

#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/config_dialog.h"
#include "config/ui/new_profile_dialog.h"
#include "tests/gallery/gallery.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>

namespace kestrelle {
namespace {

KESTRELLE_GALLERY_ENTRY({"message_box", [] {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Kestrelle"),
        QStringLiteral("Please add photos!"), QMessageBox::Ok);
    return std::unique_ptr<QWidget>(std::move(box));
}});

// A stand-in effect icon (the real ones belong to the storyboard's windows): a two-tone block with
// the effect number, drawn at twice the size so it stays sharp at 200 %.
QIcon sampleEffectIcon(int effect) {
    QPixmap pixmap(62, 46);
    pixmap.setDevicePixelRatio(2.0);
    pixmap.fill(QColor(40, 70, 120));
    QPainter painter(&pixmap);
    painter.fillRect(QRectF(0, 0, 15.5, 23), QColor(240, 190, 70));
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, 31, 23), Qt::AlignCenter, QString::number(effect));
    return QIcon(pixmap);
}

std::unique_ptr<ConfigDialog> sampleConfigDialog() {
    return std::make_unique<ConfigDialog>(
        SettingsStore::instance(), [](QWidget*) { return std::optional<int>(); }, sampleEffectIcon);
}

KESTRELLE_GALLERY_ENTRY({"config_dialog", [] { return std::unique_ptr<QWidget>(sampleConfigDialog()); }});

KESTRELLE_GALLERY_ENTRY({"config_dialog_general", [] {
    std::unique_ptr<ConfigDialog> dialog = sampleConfigDialog();
    dialog->tabs()->setCurrentIndex(1);
    return std::unique_ptr<QWidget>(std::move(dialog));
}});

// The name dialog of New after OK with a name that is taken: the prompt turns red.
KESTRELLE_GALLERY_ENTRY({"config_new_profile_name_error", [] {
    auto dialog = std::make_unique<NewProfileDialog>(SettingsStore::instance());
    dialog->nameEdit()->setText(QStringLiteral("normal quality(.avi)"));
    dialog->submit();
    return std::unique_ptr<QWidget>(std::move(dialog));
}});

// The same dialog refusing reserved characters, the longest of its texts.
KESTRELLE_GALLERY_ENTRY({"config_new_profile_reserved_characters", [] {
    auto dialog = std::make_unique<NewProfileDialog>(SettingsStore::instance());
    dialog->nameEdit()->setText(QStringLiteral("a/b"));
    dialog->submit();
    return std::unique_ptr<QWidget>(std::move(dialog));
}});

}  // namespace
}  // namespace kestrelle
