#include "host/LogMessage.h"
#include "host/EventLoop.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace std::chrono_literals;

Log::Message& duplicate() {
    static Log::Message& m = Log::registerMessage(
        {"TEST_DUPLICATE", 6, "Found unexpected duplicate rules for address %s (%d times)",
         "explanation", Log::kNoActionRequired, 60, 1.0});
    return m;
}

TEST(LogMessage, RaisedAgainWithinTheIntervalIsSuppressedAndWrittenAfterIt) {
    Tasking::EventLoop loop;
    Log::reset();
    std::ostringstream out;
    Log::streamIs(&out);
    Log::Message& m = duplicate();

    Log::raise(m, "10.0.0.5", 1);
    loop.advance(30s);
    Log::raise(m, "10.0.0.6", 2); // inside: counted, not written
    loop.advance(29s);
    Log::raise(m, "10.0.0.7", 3); // 59 s after the written one: still inside
    loop.advance(1s);
    Log::raise(m, "10.0.0.8", 4); // 60 s: written again
    Log::streamIs(nullptr);

    ASSERT_EQ(Log::written().size(), 2u);
    EXPECT_DOUBLE_EQ(Log::written()[1].time, 60.0);
    EXPECT_EQ(m.raisedCount(), 4u);
    EXPECT_EQ(m.suppressedCount(), 2u);
    EXPECT_EQ(out.str(), "%TEST_DUPLICATE-6: Found unexpected duplicate rules for address "
                         "10.0.0.5 (1 times)\n%TEST_DUPLICATE-6: Found unexpected duplicate rules "
                         "for address 10.0.0.8 (4 times)\n");
}

TEST(LogMessage, RegistrationIsOnceAndZeroIntervalNeverSuppresses) {
    Tasking::EventLoop loop;
    Log::reset();
    Log::Message& a = Log::registerMessage({"TEST_OVERLAP", 6, "%s and %s", "e", "a", 0, 1.0});
    Log::Message& b = Log::registerMessage({"TEST_OVERLAP", 3, "other", "e", "a", 5, 1.0});
    EXPECT_EQ(&a, &b);
    EXPECT_EQ(Log::findMessage("TEST_OVERLAP")->def().severity, 6);
    for (int i = 0; i < 3; ++i) {
        Log::raise(a, "1.0.0.0/8", "1.2.0.0/16");
    }
    EXPECT_EQ(Log::written().size(), 3u);
    EXPECT_EQ(Log::findMessage("NO_SUCH"), nullptr);
}

} // namespace
