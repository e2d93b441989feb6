// The configuration subsystem's windows.

#include "config/ui/codec_config_dialog.h"
#include "tests/gallery/gallery.h"

#include <QMessageBox>

namespace {

KESTRELLE_GALLERY_ENTRY({"message_box", [] {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Kestrelle"),
        QStringLiteral("Please add photos!"), QMessageBox::Ok);
    return std::unique_ptr<QWidget>(std::move(box));
}});

}  // namespace
