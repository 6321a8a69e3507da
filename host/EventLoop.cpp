#include "host/EventLoop.h"

#include "host/Assert.h"

#include <cerrno>
#include <cmath>
#include <poll.h>
#include <thread>

namespace Tasking {

namespace {
thread_local EventLoop* currentLoop = nullptr;
// A task running this long in real time is asked to yield.
constexpr Duration kRealTimeQuantum = std::chrono::milliseconds(20);
} // namespace

Duration seconds(double s) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

double toSeconds(Duration d) {
    return std::chrono::duration<double>(d).count();
}

bool TaskScheduler::shouldYield() {
    if (yieldEvery_ != 0) {
        return ++yieldCalls_ % yieldEvery_ == 0;
    }
    return loop_.mode() == EventLoop::Mode::realTime &&
           loop_.now() - loop_.taskStart() >= kRealTimeQuantum;
}

EventLoop::EventLoop(Mode mode)
    : mode_(mode), previous_(currentLoop), realStart_(std::chrono::steady_clock::now()) {
    currentLoop = this;
}

EventLoop::~EventLoop() {
    VYR_ASSERT(currentLoop == this);
    // Tasks that outlive the loop must not point at it.
    for (TimerTask* t : heap_) {
        t->heapIndex_ = TimerTask::kNotScheduled;
    }
    ring_.clear();
    currentLoop = previous_;
}

EventLoop& EventLoop::current() {
    VYR_ASSERT(currentLoop != nullptr);
    return *currentLoop;
}

EventLoop* EventLoop::currentOrNull() {
    return currentLoop;
}

Duration EventLoop::now() const {
    if (mode_ == Mode::virtualTime) {
        return virtualNow_;
    }
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - realStart_);
}

void EventLoop::push(Deferred&& d) {
    if (count_ == ring_.size()) {
        std::vector<Deferred> grown(ring_.empty() ? 64 : ring_.size() * 2);
        for (std::size_t i = 0; i < count_; ++i) {
            grown[i] = std::move(ring_[(head_ + i) % ring_.size()]);
        }
        ring_ = std::move(grown);
        head_ = 0;
    }
    ring_[(head_ + count_) % ring_.size()] = std::move(d);
    ++count_;
}

bool EventLoop::popFront(Deferred& out) {
    while (count_ > 0) {
        Deferred& front = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        --count_;
        if (front.live()) {
            out = std::move(front);
            return true;
        }
    }
    return false;
}

void EventLoop::cancel(const void* owner) {
    for (std::size_t i = 0; i < count_; ++i) {
        Deferred& d = ring_[(head_ + i) % ring_.size()];
        if (d.owner() == owner) {
            d.clear();
        }
    }
}

bool EventLoop::runPending() {
    bool ran = false;
    Deferred d;
    while (popFront(d)) {
        d();
        d.clear();
        ran = true;
    }
    return ran;
}

void EventLoop::advance(Duration d) {
    VYR_ASSERT(mode_ == Mode::virtualTime);
    const Duration target = virtualNow_ + d;
    runPending();
    while (!heap_.empty() && heap_.front()->due_ <= target) {
        TimerTask* t = heap_.front();
        virtualNow_ = std::max(virtualNow_, t->due_);
        runTimer(t);
        runPending();
    }
    virtualNow_ = target;
}

void EventLoop::runUntilStopped(Duration limit) {
    VYR_ASSERT(mode_ == Mode::virtualTime);
    const Duration end = virtualNow_ + limit;
    runPending();
    while (!stopped_ && !heap_.empty() && heap_.front()->due_ <= end) {
        TimerTask* t = heap_.front();
        virtualNow_ = std::max(virtualNow_, t->due_);
        runTimer(t);
        runPending();
    }
}

void EventLoop::run() {
    VYR_ASSERT(mode_ == Mode::realTime);
    runPending();
    while (!stopped_ && (!heap_.empty() || !watches_.empty())) {
        if (heap_.empty()) {
            waitForWatches(Duration(-1));
            runPending();
            continue;
        }
        const Duration wait = heap_.front()->due_ - now();
        if (wait > Duration::zero()) {
            if (watches_.empty()) {
                std::this_thread::sleep_for(wait);
            } else if (waitForWatches(wait)) {
                // A handler ran instead of the timer; it may have changed what is due.
                runPending();
                continue;
            }
        }
        if (stopped_ || heap_.empty()) {
            continue;
        }
        runTimer(heap_.front());
        runPending();
    }
}

void EventLoop::continueInRealTime() {
    if (mode_ == Mode::virtualTime) {
        realStart_ = std::chrono::steady_clock::now() -
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(virtualNow_);
        mode_ = Mode::realTime;
    }
}

void EventLoop::watchReadable(int fd, std::function<void()> handler) {
    VYR_ASSERT(fd >= 0 && handler);
    watches_[fd] = std::move(handler);
}

void EventLoop::unwatch(int fd) {
    watches_.erase(fd);
}

bool EventLoop::waitForWatches(Duration wait) {
    std::vector<pollfd> fds;
    fds.reserve(watches_.size());
    for (const auto& [fd, handler] : watches_) {
        fds.push_back({fd, POLLIN, 0});
    }
    timespec ts{};
    if (wait >= Duration::zero()) {
        ts.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
        ts.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    }
    const int n =
        ::ppoll(fds.data(), fds.size(), wait >= Duration::zero() ? &ts : nullptr, nullptr);
    if (n <= 0) {
        // A timeout, or a signal whose handler left its word in a watched pipe.
        return n < 0 && errno == EINTR;
    }
    for (const pollfd& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        // A handler may unwatch its own or another descriptor.
        const auto it = watches_.find(p.fd);
        if (it != watches_.end()) {
            auto handler = it->second;
            handler();
        }
    }
    return true;
}

Ert::Ptr<TaskScheduler> EventLoop::scheduler(const std::string& name) {
    auto& s = schedulers_[name];
    if (!s) {
        s = Ert::make<TaskScheduler>(*this, name);
    }
    return s;
}

void EventLoop::runTimer(TimerTask* t) {
    unschedule(t);
    ++t->runs_;
    taskStart_ = now();
    // The handler may delete the task (through its owner), so nothing touches it afterwards.
    auto handler = t->handler_;
    handler();
}

bool EventLoop::before(const TimerTask* a, const TimerTask* b) const {
    if (a->due_ != b->due_) {
        return a->due_ < b->due_;
    }
    if (a->priority_ != b->priority_) {
        return a->priority_ > b->priority_;
    }
    return a->seq_ < b->seq_;
}

void EventLoop::swapAt(std::size_t i, std::size_t j) {
    std::swap(heap_[i], heap_[j]);
    heap_[i]->heapIndex_ = i;
    heap_[j]->heapIndex_ = j;
}

void EventLoop::siftUp(std::size_t i) {
    while (i > 0) {
        std::size_t parent = (i - 1) / 2;
        if (!before(heap_[i], heap_[parent])) {
            break;
        }
        swapAt(i, parent);
        i = parent;
    }
}

void EventLoop::siftDown(std::size_t i) {
    for (;;) {
        std::size_t best = i;
        for (std::size_t c = 2 * i + 1; c <= 2 * i + 2 && c < heap_.size(); ++c) {
            if (before(heap_[c], heap_[best])) {
                best = c;
            }
        }
        if (best == i) {
            return;
        }
        swapAt(i, best);
        i = best;
    }
}

void EventLoop::schedule(TimerTask* t) {
    t->seq_ = nextSeq_++;
    t->heapIndex_ = heap_.size();
    heap_.push_back(t);
    siftUp(t->heapIndex_);
}

void EventLoop::unschedule(TimerTask* t) {
    const std::size_t i = t->heapIndex_;
    VYR_ASSERT(i < heap_.size() && heap_[i] == t);
    const std::size_t last = heap_.size() - 1;
    if (i != last) {
        swapAt(i, last);
    }
    heap_.pop_back();
    t->heapIndex_ = TimerTask::kNotScheduled;
    if (i < heap_.size()) {
        siftDown(i);
        siftUp(i);
    }
}

TimerTask::TimerTask(Ert::Ptr<TaskScheduler> scheduler, int priority, std::string name,
                     std::function<void()> handler)
    : scheduler_(std::move(scheduler)), priority_(priority), name_(std::move(name)),
      handler_(std::move(handler)) {
    VYR_ASSERT(scheduler_);
}

TimerTask::~TimerTask() {
    cancel();
}

void TimerTask::scheduleTaskDelay(double seconds) {
    scheduleAt(scheduler_->loop().now() + Tasking::seconds(seconds));
}

void TimerTask::scheduleAt(Duration when) {
    cancel();
    due_ = when;
    scheduler_->loop().schedule(this);
}

void TimerTask::cancel() {
    if (scheduled()) {
        scheduler_->loop().unschedule(this);
    }
}

} // namespace Tasking
