#pragma once
// Window tests wait for a condition while the event loop runs; a generous guard fails the test instead
// of hanging it. Nothing is asserted about how long it took.

#include <QTest>

#include <functional>

namespace kestrelle::testing {

inline bool processEventsUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 60000);
}

}  // namespace kestrelle::testing
