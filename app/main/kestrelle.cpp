// The desktop application.

#include "app/profile_setup.h"
#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/qt_message_presenter.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    kestrelle::QtMessagePresenter presenter;
    kestrelle::setMessagePresenter(&presenter);

    // Start-up: the shipped profiles into the user's folder, the settings store, the profile check.
    kestrelle::setUpUserProfileFolder();
    kestrelle::SettingsStore& store = kestrelle::SettingsStore::instance();
    std::string refusal;
    int status = 0;
    if (!kestrelle::checkProfilesAvailable(store, refusal)) {
        kestrelle::showMessage(refusal, kestrelle::MessageFlags::kWarningOk);
    } else {
        kestrelle::installCodecConfigDialog();
        QWidget window;
        window.setWindowTitle(QStringLiteral("Kestrelle"));
        window.resize(1024, 700);
        window.show();
        status = app.exec();
    }
    // The settings are saved once, as the program ends.
    kestrelle::SettingsStore::saveAtExit();
    kestrelle::setMessagePresenter(nullptr);
    return status;
}
