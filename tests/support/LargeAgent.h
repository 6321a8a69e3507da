#pragma once
// An agent booted on the default profile with SNAT tables large enough for the benchmarks'
// hundreds of thousands of translations.

#include "tests/support/AgentFixture.h"

#include <memory>
#include <string>

namespace TestSupport {

inline std::unique_ptr<BootedAgent> bootWithLargeSnatTables() {
    constexpr uint32_t kTableSize = 1u << 20;
    auto s = BootedAgent::scenarioFor("default");
    std::string error;
    for (const char* f : {"snatAddrOnlyTableSize", "snatAddrPortTableSize"}) {
        s.profile.fieldIs(f, std::to_string(kTableSize), error);
    }
    auto a = std::make_unique<BootedAgent>(s);
    a->boot();
    return a;
}

} // namespace TestSupport
