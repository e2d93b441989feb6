#include "app/ui/application.h"
#include "base/message_box.h"

#include "app/profile_setup.h"
#include "app/single_instance.h"
#include "app/ui/main_window.h"
#include "app/ui/program_icon.h"
#include "base/run_log.h"
#include "config/settings_store.h"
#include "config/ui/codec_config_dialog.h"
#include "config/ui/qt_message_presenter.h"

#include <QApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kestrelle {

namespace {

int g_signalSocket[2] = {-1, -1};

// The write end never blocks: when the socket is full a wake-up is already pending, and the byte is
// simply dropped. errno is kept as the interrupted code left it.
extern "C" void forwardSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    errno = savedErrno;
}

// SIGTERM, SIGINT and SIGHUP reach the user-interface thread through a socket pair, where they save
// the settings and close the windows the normal way (the system sends SIGTERM before it powers off).
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> handler) : handler_(std::move(handler)) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalSocket) != 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(g_signalSocket[1], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
            char byte = 0;
            [[maybe_unused]] const ssize_t read = ::read(g_signalSocket[1], &byte, 1);
            handler_();
        });
        struct sigaction action {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
    }
    ~TerminationSignals() {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
        notifier_.reset();
        for (int& fd : g_signalSocket) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::function<void()> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

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
