#include "app/ui/termination_signals.h"
#include "tests/support/ui/wait_for_events.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace kestrelle {
namespace {

// A burst of signals far beyond what the socket holds: the handler neither blocks on the full socket
// (the burst would hang) nor lets the failed write change errno for the interrupted code; the window's
// handler still hears of them on the event loop.
TEST(TerminationSignals, ABurstNeverBlocksAndKeepsErrno) {
    int calls = 0;
    TerminationSignals signals([&calls] { ++calls; });
    for (int i = 0; i < 20000; ++i) {
        errno = EDOM;
        ASSERT_EQ(::raise(SIGHUP), 0);
        ASSERT_EQ(errno, EDOM) << "after signal " << i;
    }
    EXPECT_TRUE(testing::processEventsUntil([&calls] { return calls > 0; }));
}

}  // namespace
}  // namespace kestrelle
