#include "app/ui/application.h"
#include "base/message_box.h"

#include "app/profile_setup.h"
#include "app/single_instance.h"
#include "app/ui/main_window.h"
#include "app/ui/program_icon.h"
#include "app/ui/termination_signals.h"
#include "base/run_log.h"
#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/qt_message_presenter.h"

#include <QApplication>
#include <QSessionManager>

namespace kestrelle {

namespace {

// Closes the modal dialogs over the main window (each stops its own worker) and then the main window.
void closeAllWindows(LumoDlg& window) {
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == &window) break;
        modal->close();
    }
    window.exitWindow();
}

int runMainWindow(SettingsStore& store, const std::function<void(LumoDlg&)>& windowCreated,
                  LumoDlg*& current) {
    LumoDlg window(store);
    current = &window;
    TerminationSignals signals([&window, &store] {
        store.save();
        closeAllWindows(window);
    });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&store](QSessionManager&) { store.save(); });
    if (windowCreated) windowCreated(window);
    window.exec();
    current = nullptr;
    return 0;
}

}  // namespace

int runApplication(int argc, char* argv[], const std::function<void(LumoDlg&)>& windowCreated) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrelle"));
    QApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    QApplication::setWindowIcon(programIcon());

    // A later start hands over to the running instance and ends silently.
    LumoDlg* window = nullptr;
    SingleInstance instance;
    if (instance.start([&window] {
            if (window) window->bringToFront();
        }) == SingleInstance::Role::Secondary)
        return 0;

    QtMessagePresenter presenter;
    setMessagePresenter(&presenter);

    setUpUserProfileFolder();
    SettingsStore& store = SettingsStore::instance();
    std::string refusal;
    int status = 0;
    if (!checkProfilesAvailable(store, refusal)) {
        showMessage(refusal, MessageFlags::kWarningOk);
    } else {
        installCodecConfigDialog();
        status = runMainWindow(store, windowCreated, window);
    }
    // The settings are saved once, as the program ends.
    SettingsStore::saveAtExit();
    setMessagePresenter(nullptr);
    return status;
}

}  // namespace kestrelle
