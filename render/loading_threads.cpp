#include "render/loading_threads.h"

#include <thread>

namespace kestrelle {

namespace {

thread_local bool oneThreadOnly = false;

}  // namespace

bool photoLoadingMayUseTwoThreads() {
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    return twoCores && !oneThreadOnly;
}

PhotoLoadingOnOneThread::PhotoLoadingOnOneThread() : before_(oneThreadOnly) {
    oneThreadOnly = true;
}

PhotoLoadingOnOneThread::~PhotoLoadingOnOneThread() {
    oneThreadOnly = before_;
}

}  // namespace kestrelle
