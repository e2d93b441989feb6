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
#include <QFileInfo>
#include <QSessionManager>
#include <QTimer>

namespace kestrelle {

namespace {

// Closes the modal dialogs over the main window (each stops its own worker) and then the main window,
// without asking: nobody can be asked now, and unsaved changes stay in the autosave for the next start.
void closeAllWindows(LumoDlg& window) {
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == &window) break;
        modal->close();
    }
    window.closeWithoutAsking();
}

// The project file named on the command line ("kestrelle SHOW.kestrelle"), or "".
QString projectPathArgument(const QStringList& arguments) {
    for (qsizetype index = 1; index < arguments.size(); ++index) {
        const QString& argument = arguments.at(index);
        if (argument.startsWith(QLatin1Char('-'))) continue;  // Qt's own options are already taken out
        return QFileInfo(argument).absoluteFilePath();
    }
    return {};
}

// A test hook for the autosave check: one recorded change once the window shows
// (KESTRELLE_TEST_EDIT_AT_START=1 applies the default durations to every slide).
bool testEditAtStart() {
    return qEnvironmentVariableIntValue("KESTRELLE_TEST_EDIT_AT_START") == 1;
}

int runMainWindow(SettingsStore& store, const std::function<void(LumoDlg&)>& windowCreated, LumoDlg*& current,
                  const QString& projectPath) {
    LumoDlg window(store);
    current = &window;
    TerminationSignals signals([&window, &store] {
        store.save();
        closeAllWindows(window);
    });
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window,
                     [&store, &window](QSessionManager& session) {
                         store.save();
                         // The session is ending: ask to save changes when the session lets us, else keep
                         // them in the autosave. Cancel asks the session not to end.
                         if (!window.hasUnsavedChanges()) return;
                         if (session.allowsInteraction()) {
                             const bool goOn = window.maybeSaveChanges();
                             session.release();
                             if (!goOn) {
                                 session.cancel();
                                 return;
                             }
                         }
                         if (window.hasUnsavedChanges()) window.autosaveNow();
                     });
    if (windowCreated) windowCreated(window);
    // Once the window shows: the slideshow left by a crash, then the project named on the command line.
    QTimer::singleShot(0, &window, [&window, projectPath] {
        window.offerAutosaveRestore();
        if (!projectPath.isEmpty()) window.openProjectFile(projectPath);
        if (testEditAtStart()) window.applyDefaults();
    });
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
    const QString projectPath = projectPathArgument(QCoreApplication::arguments());
    SingleInstance instance;
    instance.setPathToHandOver(projectPath);
    instance.setOpenRequested([&window](const QString& path) {
        if (window) window->openProjectFile(path);
    });
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
        status = runMainWindow(store, windowCreated, window, projectPath);
    }
    // The settings are saved once, as the program ends.
    SettingsStore::saveAtExit();
    setMessagePresenter(nullptr);
    return status;
}

}  // namespace kestrelle
