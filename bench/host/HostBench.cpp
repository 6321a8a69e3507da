// Costs of the host primitives that the agent uses on its hot paths.

#include "host/Entity.h"
#include "host/EventLoop.h"
#include "host/Trace.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

Trace::Handle benchTrace("VyrNatBench"); // off: nothing switches it on

class Counter : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Bench::Counter")
    Ert::Attr<uint64_t> value{this, "value"};
    Ert::Collection<uint32_t, uint32_t> entries{this, "entries"};
};

class CounterReactor : public Ert::Reactor<Counter> {
public:
    explicit CounterReactor(Ert::Ptr<Counter> c) {
        onChange(&Counter::value, [this] { ++heard; });
        onEntry(&Counter::entries, [this](const uint32_t&) { ++heard; });
        follow(c);
    }
    uint64_t heard = 0;
};

// One attribute change: the post on the loop and the delivery to one reactor.
void BM_ReactorAttributeNotification(benchmark::State& state) {
    Tasking::EventLoop loop;
    auto c = Ert::make<Counter>("c");
    CounterReactor r(c);
    uint64_t v = 0;
    for (auto _ : state) {
        c->value.set(++v);
        loop.runPending();
    }
    benchmark::DoNotOptimize(r.heard);
}
BENCHMARK(BM_ReactorAttributeNotification);

// A collection entry added then removed: two notifications carrying the key.
void BM_ReactorCollectionAddRemove(benchmark::State& state) {
    Tasking::EventLoop loop;
    auto c = Ert::make<Counter>("c");
    CounterReactor r(c);
    uint32_t k = 0;
    for (auto _ : state) {
        c->entries.set(k, k);
        c->entries.erase(k);
        ++k;
        loop.runPending();
    }
    benchmark::DoNotOptimize(r.heard);
}
BENCHMARK(BM_ReactorCollectionAddRemove);

// Scheduling and cancelling one timer among N already scheduled.
void BM_TimerScheduleCancel(benchmark::State& state) {
    Tasking::EventLoop loop;
    auto sched = loop.scheduler("root");
    std::vector<std::unique_ptr<Tasking::TimerTask>> others;
    for (int64_t i = 0; i < state.range(0); ++i) {
        others.push_back(std::make_unique<Tasking::TimerTask>(sched, 0, "t", [] {}));
        others.back()->scheduleTaskDelay(1.0 + double(i % 1000));
    }
    Tasking::TimerTask t(sched, 5, "bench", [] {});
    for (auto _ : state) {
        t.scheduleTaskDelay(0.5);
        t.cancel();
    }
}
BENCHMARK(BM_TimerScheduleCancel)->Arg(1)->Arg(1000)->Arg(100000);

// A task that reschedules itself, run through the loop: the steady state of a periodic task.
void BM_TimerRepeatingRun(benchmark::State& state) {
    Tasking::EventLoop loop;
    std::unique_ptr<Tasking::TimerTask> t;
    t = std::make_unique<Tasking::TimerTask>(loop.scheduler("root"), 4, "repeat",
                                             [&t] { t->scheduleTaskDelay(1.0); });
    t->scheduleTaskDelay(1.0);
    for (auto _ : state) {
        loop.advance(std::chrono::seconds(1));
    }
}
BENCHMARK(BM_TimerRepeatingRun);

// The baseline for the disabled trace line below.
void BM_EmptyLoop(benchmark::State& state) {
    uint64_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
    }
}
BENCHMARK(BM_EmptyLoop);

// A trace line whose level is off: one test of the handle's mask, no formatting.
void BM_DisabledTraceLine(benchmark::State& state) {
    uint64_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(++i);
        VTRACE(benchTrace, 5, "key: " << i << ", profileId: " << 3 << " " << std::string(64, 'x'));
    }
}
BENCHMARK(BM_DisabledTraceLine);

} // namespace
