#pragma once
// SIGTERM, SIGINT and SIGHUP reach the user-interface thread through a socket pair, where they save
// the settings and close the windows the normal way (the system sends SIGTERM before it powers off).
// One instance at a time; it installs the handlers for its lifetime.

#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace kestrelle {

class TerminationSignals {
public:
    // `handler` runs on the thread that made the object, once per wake-up of its event loop.
    explicit TerminationSignals(std::function<void()> handler);
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::function<void()> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kestrelle
