// The configuration subsystem's windows.

#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/config_dialog.h"
#include "config/ui/h264_config_dialog.h"
#include "config/ui/new_profile_dialog.h"
#include "render/ui/transition_icons.h"
#include "tests/gallery/gallery.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>

namespace kestrelle {
namespace {

KESTRELLE_GALLERY_ENTRY({"message_box", [] {
                             auto box = std::make_unique<QMessageBox>(
                                 QMessageBox::Warning, QStringLiteral("Kestrelle"),
                                 QStringLiteral("Please add photos!"), QMessageBox::Ok);
                             return std::unique_ptr<QWidget>(std::move(box));
                         }});

std::unique_ptr<ConfigDialog> sampleConfigDialog() {
    return std::make_unique<ConfigDialog>(
        SettingsStore::instance(), [](QWidget*) { return std::optional<int>(); },
        [](int effect) { return transitionIcon(effect); });
}

KESTRELLE_GALLERY_ENTRY({"config_dialog", [] { return std::unique_ptr<QWidget>(sampleConfigDialog()); }});

KESTRELLE_GALLERY_ENTRY({"config_dialog_general", [] {
                             std::unique_ptr<ConfigDialog> dialog = sampleConfigDialog();
                             dialog->tabs()->setCurrentIndex(1);
                             return std::unique_ptr<QWidget>(std::move(dialog));
                         }});

// The General page with the longest choices for new slides: moving, over a blurred background,
// small photos enlarged (shown in the controls only; the store keeps its values).
KESTRELLE_GALLERY_ENTRY({"config_dialog_general_new_slides_moving", [] {
                             std::unique_ptr<ConfigDialog> dialog = sampleConfigDialog();
                             dialog->tabs()->setCurrentIndex(1);
                             dialog->motionCombo()->setCurrentIndex(1);
                             dialog->fitCombo()->setCurrentIndex(2);
                             dialog->enlargeCheck()->setChecked(true);
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

// Configure: the codec's own settings.
KESTRELLE_GALLERY_ENTRY({"codec_config_dialog", [] {
                             return std::unique_ptr<QWidget>(std::make_unique<CodecConfigDialog>(
                                 QStringLiteral("Xvid MPEG-4 Codec"), CompressorSettings{}));
                         }});

// The Profile page with an MP4 profile: the H.264 codec and 60 fps among the rates. The current
// profile is restored once the dialog has read it.
KESTRELLE_GALLERY_ENTRY({"config_dialog_mp4", [] {
                             SettingsStore& store = SettingsStore::instance();
                             const int before = store.currentProfileIndex();
                             for (int i = 0; i < store.profileCount(); ++i)
                                 if (store.profileAt(i)->name == "MP4 1080p 60(.mp4)") store.selectProfile(i);
                             std::unique_ptr<ConfigDialog> dialog = sampleConfigDialog();
                             if (before >= 0) store.selectProfile(before);
                             return std::unique_ptr<QWidget>(std::move(dialog));
                         }});

// Configure with an MP4 codec: the H.264 settings, constant quality chosen.
KESTRELLE_GALLERY_ENTRY({"h264_config_dialog", [] {
                             H264Settings settings;
                             settings.rateControl = H264RateControl::ConstantQuality;
                             settings.constantQuality = 21;
                             settings.preset = "medium";
                             return std::unique_ptr<QWidget>(std::make_unique<H264ConfigDialog>(
                                 QStringLiteral("H.264 Settings"), settings));
                         }});

}  // namespace
}  // namespace kestrelle
