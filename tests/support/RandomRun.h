#pragma once
// What randomized tests share: a seed that is fixed unless VYRNAT_SEED gives one and that a
// failure names, write faults injected into a set of tables, and a run of random steps with the
// invariants checked after every one.

#include "chip/Engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace TestSupport {

// `fallback`, or the value of VYRNAT_SEED when it is set.
unsigned testSeed(unsigned fallback);
// "seed N (replay with VYRNAT_SEED=N)", for SCOPED_TRACE.
std::string seedNote(unsigned seed);

// Random write faults on a set of tables, switched on and off.
class Faults {
public:
    void add(VyrP4::TableEngine& engine) { engines_.push_back(&engine); }
    // Faults on (two times in three) with `probability` per write, of either kind, or off.
    // Without `replaces` they spare writes over present entries.
    template <class Rng> void change(Rng& rng, double probability = 0.15, bool replaces = true) {
        clear();
        on_ = rng() % 3 != 0;
        if (!on_) {
            return;
        }
        for (auto* e : engines_) {
            const auto kind =
                rng() % 2 ? VyrP4::ChipError::tableFull : VyrP4::ChipError::noSysResources;
            e->failProbabilityIs(probability, rng(), kind);
            e->replaceFaultsIs(replaces);
        }
    }
    // Table-full faults with `probability` per write, and tables that hold only `fullAt`.
    void on(double probability, uint64_t seed, uint32_t fullAt);
    void clear();
    bool on() const { return on_; }
    uint64_t injected() const;

private:
    std::vector<VyrP4::TableEngine*> engines_;
    bool on_ = false;
};

// Runs `steps` random steps. `step()` does one and returns what it did; `check()` returns the
// broken invariants, one per line, and must return nothing after every step.
template <class Step, class Check> void randomSteps(int steps, Step&& step, Check&& check) {
    for (int i = 0; i < steps; ++i) {
        const std::string what = step();
        const std::string broken = check();
        ASSERT_EQ(broken, "") << "after " << what << " (step " << i << ")";
    }
}

} // namespace TestSupport
