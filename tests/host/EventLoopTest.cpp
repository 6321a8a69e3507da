#include "host/EventLoop.h"
#include "host/Assert.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Tasking::EventLoop;
using Tasking::TimerTask;

struct Fixture : ::testing::Test {
    EventLoop loop;
    Ert::Ptr<Tasking::TaskScheduler> sched = loop.scheduler("root");
    std::vector<std::string> ran;

    std::unique_ptr<TimerTask> task(const std::string& name, int priority) {
        return std::make_unique<TimerTask>(sched, priority, name, [this, name] {
            ran.push_back(name + "@" + std::to_string(loop.nowSeconds()).substr(0, 3));
        });
    }
};

TEST_F(Fixture, TimersRunInDueTimeThenPriorityThenSchedulingOrder) {
    auto late = task("late", 9);
    auto lowA = task("lowA", 1);
    auto high = task("high", 5);
    auto lowB = task("lowB", 1);
    late->scheduleTaskDelay(2.0);
    lowA->scheduleTaskDelay(1.0);
    lowB->scheduleTaskDelay(1.0);
    high->scheduleTaskDelay(1.0);

    loop.advance(999ms);
    EXPECT_TRUE(ran.empty());
    loop.advance(1ms); // exactly due
    EXPECT_EQ(ran, (std::vector<std::string>{"high@1.0", "lowA@1.0", "lowB@1.0"}));
    loop.advance(5s);
    EXPECT_EQ(ran.back(), "late@2.0");
    EXPECT_DOUBLE_EQ(loop.nowSeconds(), 6.0);
}

TEST_F(Fixture, SelfReschedulingTaskRepeatsUntilStoppedAndDeletingItCancels) {
    std::unique_ptr<TimerTask> t;
    t = std::make_unique<TimerTask>(sched, 0, "tick", [&] {
        if (t->runCount() == 3) {
            loop.stop();
        }
        t->scheduleTaskDelay(5);
    });
    t->scheduleTaskDelay(5);
    loop.runUntilStopped(100s);
    EXPECT_EQ(t->runCount(), 3u); // at 5, 10 and 15
    EXPECT_DOUBLE_EQ(loop.nowSeconds(), 15.0);
    loop.advance(12s); // at 20 and 25
    EXPECT_EQ(t->runCount(), 5u);
    t.reset();
    EXPECT_EQ(loop.timerCount(), 0u);
}

TEST_F(Fixture, RescheduleMovesTheTaskAndCancelRemovesOnlyIt) {
    auto a = task("a", 0);
    auto b = task("b", 0);
    auto c = task("c", 0);
    a->scheduleTaskDelay(1);
    b->scheduleTaskDelay(2);
    c->scheduleTaskDelay(3);
    a->scheduleTaskDelay(4); // moved behind the others
    b->cancel();
    loop.advance(10s);
    EXPECT_EQ(ran, (std::vector<std::string>{"c@3.0", "a@4.0"}));
}

TEST_F(Fixture, DeferredCallsRunBeforeTimersAndBetweenThem) {
    auto t = std::make_unique<TimerTask>(sched, 0, "t", [&] {
        ran.push_back("timer");
        loop.post(nullptr, [&] { ran.push_back("posted by timer"); });
    });
    auto u = task("u", 0);
    t->scheduleTaskDelay(1);
    u->scheduleTaskDelay(1);
    loop.post(nullptr, [&] { ran.push_back("posted"); });
    loop.advance(1s);
    EXPECT_EQ(ran, (std::vector<std::string>{"posted", "timer", "posted by timer", "u@1.0"}));
}

TEST_F(Fixture, CancelDropsOnlyTheOwnersCallsAndTheQueueGrowsInOrder) {
    int owner = 0;
    std::vector<int> seen;
    for (int i = 0; i < 300; ++i) {
        loop.post(i % 3 == 0 ? &owner : nullptr, [&seen, i] { seen.push_back(i); });
    }
    loop.cancel(&owner);
    loop.runPending();
    ASSERT_EQ(seen.size(), 200u);
    for (std::size_t k = 1; k < seen.size(); ++k) {
        EXPECT_LT(seen[k - 1], seen[k]);
        EXPECT_NE(seen[k] % 3, 0);
    }
}

TEST_F(Fixture, SchedulersAreFoundByNameAndYieldOnTheTestHook) {
    EXPECT_EQ(loop.scheduler("root").get(), sched.get());
    EXPECT_NE(loop.scheduler("other").get(), sched.get());
    EXPECT_FALSE(sched->shouldYield()); // virtual time never asks on its own
    sched->yieldEveryIs(3);
    std::vector<bool> answers;
    for (int i = 0; i < 6; ++i) {
        answers.push_back(sched->shouldYield());
    }
    EXPECT_EQ(answers, (std::vector<bool>{false, false, true, false, false, true}));
}

// A run played ahead on the virtual clock goes on live: time continues from where it was, timers
// stay due where they were, and a readable descriptor wakes the loop before its next timer.
TEST(EventLoopLive, WatchedDescriptorsWakeTheLoopBetweenTimers) {
    EventLoop loop;
    auto sched = loop.scheduler("root");
    std::vector<std::string> ran;
    TimerTask late(sched, 0, "late", [&] {
        ran.push_back("timer");
        loop.stop();
    });
    late.scheduleAt(Tasking::seconds(10.2));
    loop.advance(Tasking::seconds(10));
    loop.continueInRealTime();
    EXPECT_EQ(loop.mode(), EventLoop::Mode::realTime);
    EXPECT_GE(loop.nowSeconds(), 10.0);
    EXPECT_LT(loop.nowSeconds(), 10.1);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    loop.watchReadable(fds[0], [&] {
        char c;
        ASSERT_EQ(::read(fds[0], &c, 1), 1);
        ran.push_back("readable at " + std::to_string(loop.nowSeconds()).substr(0, 4));
        loop.unwatch(fds[0]);
        loop.post(nullptr, [&] { ran.push_back("posted"); });
    });
    loop.run();
    EXPECT_EQ(ran, (std::vector<std::string>{"readable at 10.0", "posted", "timer"}));
    EXPECT_GE(loop.nowSeconds(), 10.2);
    EXPECT_EQ(loop.watchCount(), 0u);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(EventLoopNesting, NewestLoopIsCurrentUntilDestroyed) {
    EventLoop outer;
    {
        EventLoop inner;
        EXPECT_EQ(&EventLoop::current(), &inner);
    }
    EXPECT_EQ(&EventLoop::current(), &outer);
}

TEST(InternalChecks, FailedCheckCarriesTheConditionTextToTheTestHandler) {
    EventLoop loop(EventLoop::Mode::realTime);
    Host::ThrowOnAssert guard;
    try {
        loop.advance(std::chrono::seconds(1)); // virtual time only
        FAIL() << "advance must refuse a real-time loop";
    } catch (const Host::AssertionFailure& e) {
        EXPECT_STREQ(e.what(), "mode_ == Mode::virtualTime");
    }
}

} // namespace
