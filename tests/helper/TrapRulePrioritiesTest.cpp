// Hardware priority blocks of trap rules: where each rule priority lands, how blocks are spread
// out again, and the order in which moves keep the rules' order in the chip at every step.

#include "helper/TrapRulePriorities.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

using VyrNat::TrapRulePriorities;

uint32_t take(TrapRulePriorities& p, uint32_t prio) {
    if (p.respreadNeeded(prio)) {
        p.respread();
    }
    const auto block = p.blockOf(prio);
    EXPECT_TRUE(block.has_value()) << prio;
    p.userIs(prio, "acl" + std::to_string(prio));
    return block.value_or(0);
}

TEST(TrapRulePriorities, BlocksOfFixedAndMappedPrioritiesAndTheirRespread) {
    TrapRulePriorities p;
    EXPECT_EQ(take(p, 1023), 15359u);
    EXPECT_EQ(take(p, 0), 16382u);
    EXPECT_EQ(take(p, 2000), 7679u) << "the first mapped priority";
    EXPECT_EQ(take(p, 1500), (15360u + 7679u) / 2);
    EXPECT_EQ(take(p, 1700), 9599u);

    // Three mapped priorities: step 15360 / 4, below 15359.
    const auto moves = p.respread();
    ASSERT_EQ(moves.size(), 3u);
    EXPECT_EQ(moves[0].to, 15359u - 3840u);
    EXPECT_EQ(moves[1].to, 7679u);
    EXPECT_EQ(moves[2].to, 3839u);
    EXPECT_EQ(p.prioToHwPriorityMapped().at(2000), 3839u);
    EXPECT_EQ(p.prioToHwPriorityFixed().at(1023), 15359u) << "fixed blocks never move";

    // The last user of a priority frees its block for another priority.
    p.numAclPrioritySupportedIs(16383);
    p.hwPriorityNumResourcesIs(5);
    EXPECT_TRUE(p.checkHwPriorityResourcesFull());
    EXPECT_FALSE(p.blockOf(3000).has_value());
    p.userDel(1500, "acl1500");
    EXPECT_FALSE(p.checkHwPriorityResourcesFull());
    EXPECT_TRUE(p.blockOf(3000).has_value());
}

// Random priorities come and go, mostly each beyond the last, so that respreads are frequent. After
// each, blocks fall strictly as priorities rise; and applying the respread's moves one by one
// in the safe order, each written before the old block is given up, never puts two priorities
// out of order or on one block.
TEST(TrapRulePriorities, RespreadsKeepTheOrderAtEveryStep) {
    const unsigned first = TestSupport::testSeed(7);
    for (unsigned seed = first; seed < first + 4; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        std::mt19937 rng(seed);
        TrapRulePriorities p;
        p.hwPriorityNumResourcesIs(64);
        int respreads = 0;
        for (int step = 0; step < 3000; ++step) {
            // Mostly new priorities beyond the greatest, which halve the space below it.
            const uint32_t prio = rng() % 4 == 0   ? rng() % 1024
                                  : rng() % 3 == 0 ? 1024 + rng() % 5000
                                                   : 6024 + uint32_t(step);
            const auto& users = p.prioToTrapRulePrioAndName();
            if (!users.empty() && rng() % 5 < 2) {
                auto it = users.begin();
                std::advance(it, rng() % users.size());
                p.userDel(it->first, "a");
                continue;
            }
            if (p.respreadNeeded(prio)) {
                ++respreads;
                std::map<uint32_t, uint32_t> at = p.prioToHwPriorityMapped();
                for (const auto& m : TrapRulePriorities::safeOrder(p.respread())) {
                    // While moving, the priority holds both blocks.
                    for (const auto& [q, b] : at) {
                        if (q == m.prio) {
                            continue;
                        }
                        for (uint32_t held : {m.from, m.to}) {
                            ASSERT_TRUE(q < m.prio ? b > held : b < held)
                                << "priority " << m.prio << " at " << held << " against " << q
                                << " at " << b;
                        }
                    }
                    at[m.prio] = m.to;
                }
            }
            if (p.blockOf(prio)) {
                p.userIs(prio, "a");
            }
            uint32_t last = UINT32_MAX;
            for (const auto* blocks : {&p.prioToHwPriorityFixed(), &p.prioToHwPriorityMapped()}) {
                for (const auto& [q, b] : *blocks) {
                    ASSERT_LT(b, last) << "priority " << q;
                    last = b;
                }
            }
        }
        EXPECT_GT(respreads, 10);
    }
}

} // namespace
