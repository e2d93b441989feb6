// The headless renderer: makes a slideshow video from photos on the command line.

#include "app/render_session.h"

#include <QCoreApplication>

#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <iostream>

namespace {

// Runs between any two instructions of the interrupted code: it keeps errno as it found it, so a
// system call's failure that the code is about to read is not overwritten.
void onInterrupt(int) {
    const int savedErrno = errno;
    kestrelle::requestRenderCancel();
    errno = savedErrno;
}

}  // namespace

int main(int argc, char* argv[]) {
    // An application object lets Qt find its image format plugins; no display is needed.
    QCoreApplication app(argc, argv);

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::vector<std::string> arguments(argv + 1, argv + argc);
    return kestrelle::runRenderCommand(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
