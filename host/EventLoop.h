#pragma once
// The host's single-threaded event loop: deferred calls (reactor notifications, completions)
// and timer tasks. Time reaches the host and the system only through the loop's clock, which is
// either virtual (tests advance it by hand; the host tool can run as fast as possible) or real.

#include "host/Ptr.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Tasking {

using Duration = std::chrono::nanoseconds;

Duration seconds(double s);
double toSeconds(Duration d);

class EventLoop;
class TimerTask;

// A task group that timer tasks belong to. It also tells a long-running task when to yield.
class TaskScheduler : public Ert::RefCounted {
public:
    TaskScheduler(EventLoop& loop, std::string name) : loop_(loop), name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    EventLoop& loop() const { return loop_; }

    // True when the running task should stop and continue in a later run. In virtual time only
    // the test hook asks for it; in real time a task is asked after its quantum has passed.
    bool shouldYield();
    // Test hook: every n-th call of shouldYield() answers true (0 switches it off).
    void yieldEveryIs(uint32_t n) {
        yieldEvery_ = n;
        yieldCalls_ = 0;
    }

private:
    EventLoop& loop_;
    std::string name_;
    uint32_t yieldEvery_ = 0;
    uint32_t yieldCalls_ = 0;
};

// A queued call. Small captures (a reactor, a handler and a small key) live inline, so posting
// them does not allocate; larger ones go to the heap.
class Deferred {
public:
    static constexpr std::size_t kCapacity = 56;

    Deferred() = default;
    template <class F> Deferred(const void* owner, F&& f) : owner_(owner) {
        using Fn = std::decay_t<F>;
        if constexpr (sizeof(Fn) <= kCapacity && alignof(Fn) <= alignof(std::max_align_t)) {
            new (buf_) Fn(std::forward<F>(f));
            ops_ = &opsFor<Fn>;
        } else {
            using Boxed = std::unique_ptr<Fn>;
            new (buf_) Boxed(std::make_unique<Fn>(std::forward<F>(f)));
            ops_ = &boxedOpsFor<Fn>;
        }
    }
    Deferred(Deferred&& o) noexcept { takeFrom(o); }
    Deferred& operator=(Deferred&& o) noexcept {
        if (this != &o) {
            clear();
            takeFrom(o);
        }
        return *this;
    }
    ~Deferred() { clear(); }

    const void* owner() const { return owner_; }
    bool live() const { return ops_ != nullptr; }
    void operator()() { ops_->invoke(buf_); }
    void clear() {
        if (ops_) {
            ops_->destroy(buf_);
            ops_ = nullptr;
        }
    }

private:
    struct Ops {
        void (*invoke)(void*);
        void (*destroy)(void*);
        void (*move)(void* dst, void* src);
    };
    template <class Fn>
    static constexpr Ops opsFor = {
        [](void* p) { (*static_cast<Fn*>(p))(); },
        [](void* p) { static_cast<Fn*>(p)->~Fn(); },
        [](void* dst, void* src) {
            new (dst) Fn(std::move(*static_cast<Fn*>(src)));
            static_cast<Fn*>(src)->~Fn();
        },
    };
    template <class Fn>
    static constexpr Ops boxedOpsFor = {
        [](void* p) { (**static_cast<std::unique_ptr<Fn>*>(p))(); },
        [](void* p) { static_cast<std::unique_ptr<Fn>*>(p)->~unique_ptr(); },
        [](void* dst, void* src) {
            auto* from = static_cast<std::unique_ptr<Fn>*>(src);
            new (dst) std::unique_ptr<Fn>(std::move(*from));
            from->~unique_ptr();
        },
    };
    void takeFrom(Deferred& o) {
        owner_ = o.owner_;
        ops_ = o.ops_;
        if (ops_) {
            ops_->move(buf_, o.buf_);
            o.ops_ = nullptr;
        }
    }

    alignas(std::max_align_t) unsigned char buf_[kCapacity];
    const Ops* ops_ = nullptr;
    const void* owner_ = nullptr;
};

class EventLoop {
public:
    enum class Mode { virtualTime, realTime };

    // The newest loop alive becomes the current one; destroying it restores the previous one.
    explicit EventLoop(Mode mode = Mode::virtualTime);
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    static EventLoop& current();
    static EventLoop* currentOrNull();

    Mode mode() const { return mode_; }
    Duration now() const;
    double nowSeconds() const { return toSeconds(now()); }

    // Queues a call; `owner` lets cancel() drop it before it runs.
    template <class F> void post(const void* owner, F&& f) {
        push(Deferred(owner, std::forward<F>(f)));
    }
    void cancel(const void* owner);
    std::size_t pendingCount() const { return count_; }

    // Runs queued calls, including those they queue, until none is left.
    bool runPending();

    // Virtual time: runs queued calls, then every timer falling due within `d`, in due-time then
    // priority order (higher priority first, then scheduling order), draining queued calls after
    // each, and leaves the clock at now + d.
    void advance(Duration d);
    // Virtual time: jumps from timer to timer until stop(), no timer is left or `limit` passes.
    void runUntilStopped(Duration limit);
    // Real time: sleeps between timers, woken by watched descriptors, until stop() or neither a
    // timer nor a watch is left.
    void run();
    // Switches a virtual clock to the real one from the time it shows, so that a run played ahead
    // of time goes on live with every timer where it is.
    void continueInRealTime();

    // Real time: calls `handler` on the loop whenever `fd` is readable, until unwatched.
    void watchReadable(int fd, std::function<void()> handler);
    void unwatch(int fd);
    std::size_t watchCount() const { return watches_.size(); }
    void stop() { stopped_ = true; }
    // Lets runUntilStopped() and run() go on after a stop().
    void resume() { stopped_ = false; }
    bool stopped() const { return stopped_; }

    // The host's task schedulers, found or created by name.
    Ert::Ptr<TaskScheduler> scheduler(const std::string& name);
    std::size_t timerCount() const { return heap_.size(); }
    // When the running timer task started, in loop time (for yield decisions).
    Duration taskStart() const { return taskStart_; }

private:
    friend class TimerTask;
    void push(Deferred&& d);
    bool popFront(Deferred& out);
    void schedule(TimerTask* t);
    void unschedule(TimerTask* t);
    void runTimer(TimerTask* t);
    // Waits up to `wait` (forever when negative) for a watched descriptor and runs the handlers of
    // those readable; returns whether any was.
    bool waitForWatches(Duration wait);
    bool before(const TimerTask* a, const TimerTask* b) const;
    void siftUp(std::size_t i);
    void siftDown(std::size_t i);
    void swapAt(std::size_t i, std::size_t j);

    Mode mode_;
    EventLoop* previous_;
    Duration virtualNow_{0};
    std::chrono::steady_clock::time_point realStart_;
    Duration taskStart_{0};
    bool stopped_ = false;

    std::vector<Deferred> ring_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;

    std::vector<TimerTask*> heap_;
    std::map<int, std::function<void()>> watches_;
    uint64_t nextSeq_ = 0;
    std::map<std::string, Ert::Ptr<TaskScheduler>> schedulers_;
};

// Runs its handler once per scheduling. A handler that schedules its own task again repeats.
// Destroying the task cancels it.
class TimerTask : public Ert::RefCounted {
public:
    TimerTask(Ert::Ptr<TaskScheduler> scheduler, int priority, std::string name,
              std::function<void()> handler);
    ~TimerTask() override;

    void scheduleTaskDelay(double seconds);
    void scheduleAt(Duration when);
    void cancel();

    bool scheduled() const { return heapIndex_ != kNotScheduled; }
    Duration due() const { return due_; }
    int priority() const { return priority_; }
    const std::string& name() const { return name_; }
    TaskScheduler& scheduler() const { return *scheduler_; }
    uint64_t runCount() const { return runs_; }

private:
    friend class EventLoop;
    static constexpr std::size_t kNotScheduled = ~std::size_t(0);

    Ert::Ptr<TaskScheduler> scheduler_;
    int priority_;
    std::string name_;
    std::function<void()> handler_;
    Duration due_{0};
    uint64_t seq_ = 0;
    uint64_t runs_ = 0;
    std::size_t heapIndex_ = kNotScheduled;
};

} // namespace Tasking
