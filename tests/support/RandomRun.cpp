#include "tests/support/RandomRun.h"

#include <cstdlib>

namespace TestSupport {

unsigned testSeed(unsigned fallback) {
    const char* s = std::getenv("VYRNAT_SEED");
    return s ? unsigned(std::strtoul(s, nullptr, 10)) : fallback;
}

std::string seedNote(unsigned seed) {
    return "seed " + std::to_string(seed) + " (replay with VYRNAT_SEED=" + std::to_string(seed) +
           ")";
}

void Faults::on(double probability, uint64_t seed, uint32_t fullAt) {
    for (auto* e : engines_) {
        e->failProbabilityIs(probability, seed++);
        e->reportFullAtIs(fullAt);
    }
    on_ = true;
}

void Faults::clear() {
    for (auto* e : engines_) {
        e->faultsClear();
    }
    on_ = false;
}

uint64_t Faults::injected() const {
    uint64_t n = 0;
    for (auto* e : engines_) {
        n += e->injectedFaults();
    }
    return n;
}

} // namespace TestSupport
