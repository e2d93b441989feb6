#include "app/ui/termination_signals.h"

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

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> handler) : handler_(std::move(handler)) {
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

TerminationSignals::~TerminationSignals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
    notifier_.reset();
    for (int& fd : g_signalSocket) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

}  // namespace kestrelle
