// Random twice-NAT trap rules: few ACL names, groups and profiles so that ids and entries are
// shared, rules in both directions, deny rules, prefixes and ports that differ only in their
// masks, priorities that meet, deletes of what is not there and queued priority changes, with
// table-full and resource faults and tables that fill up. After every step the invariants hold,
// the installed (ACL, group, profile) keys are those the model took, and a refused rule changed
// nothing. At the end everything is deleted and nothing is left.

#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/NatValues.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using TestSupport::prefix;

constexpr uint32_t kSlots = 1024; // hardware priorities per block

class RandomTraps {
public:
    RandomTraps(uint64_t seed) : rng_(seed), agent_(scenario(seed)) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrTwice();
        faults_.add(*agent_.chip->table("twiceNatAclId"));
        faults_.add(*agent_.chip->table("twiceNatCpuTrapAcl"));
    }

    std::string step() {
        if (pick(300) == 0) {
            if (pick(2) == 0) {
                faults_.change(rng_, 0.1);
            } else {
                faults_.on(0.05, rng_(), uint32_t(6 + pick(10)));
            }
        }
        const HwTwiceNatCpuTrapAclKey key{"acl" + std::to_string(pick(6)), uint32_t(1 + pick(3)),
                                          uint16_t(1 + pick(3))};
        const size_t what = pick(10);
        if (what < 2) {
            mgr_->deleteNatCpuTrapAcl(key);
            model_.erase(key);
            return "delete " + key.str();
        }
        if (what == 2) {
            const int names = int(1 + pick(3));
            for (int i = 0; i < names; ++i) {
                mgr_->cpuTrapAclToUpdateIs("acl" + std::to_string(pick(7)), kBlocks[pick(4)]);
            }
            mgr_->natCpuTrapAclRedistribute(kSlots);
            EXPECT_TRUE(mgr_->cpuTrapAclToUpdate().empty());
            ++redistributed_;
            return "redistribute";
        }
        return add(key);
    }

    std::string check() const {
        std::string out = TestSupport::twiceInvariants(*mgr_);
        std::set<HwTwiceNatCpuTrapAclKey> installed;
        for (const auto& [key, t] : mgr_->cpuTrapAcl()) {
            installed.insert(key);
        }
        if (installed != model_) {
            out += "installed keys differ from the model\n";
        }
        return out;
    }

    void removeAll() {
        faults_.clear();
        while (!model_.empty()) {
            mgr_->deleteNatCpuTrapAcl(*model_.begin());
            model_.erase(model_.begin());
        }
    }
    std::string leftOver() const { return agent_.leftOver(); }
    uint64_t refused() const { return refused_; }
    uint64_t redistributed() const { return redistributed_; }
    uint64_t injected() const { return faults_.injected(); }
    std::size_t most() const { return most_; }

private:
    static constexpr uint32_t kBlocks[] = {100, 101, 2000, 2001};

    static Scenario::Scenario scenario(uint64_t seed) {
        auto s = BootedAgent::scenarioFor("default");
        s.hwCapabilities.natDpdk = seed % 2 == 0;
        return s;
    }
    size_t pick(size_t n) { return size_t(rng_() % n); }
    std::string tables() const {
        return agent_.chip->table("twiceNatAclId")->dump() +
               agent_.chip->table("twiceNatCpuTrapAcl")->dump();
    }

    std::string add(const HwTwiceNatCpuTrapAclKey& key) {
        static const char* srcs[] = {"10.0.0.0/8", "10.0.0.0/16", "0.0.0.0/0"};
        static const char* dsts[] = {"20.0.0.0/8", "20.1.0.0/16", "0.0.0.0/0"};
        static const uint16_t portMasks[] = {0, 0xffff, 0xff00};
        static const uint8_t protos[] = {0, 6, 17};
        Ip::Nat::NatTrapInfo info;
        info.profileId = key.profile;
        info.target = uint8_t(pick(2));
        const uint16_t sportMask = portMasks[pick(3)], dportMask = portMasks[pick(3)];
        const int32_t priority = int32_t(kBlocks[pick(4)] * kSlots + pick(4));
        const auto counts = mgr_->recordCounts();
        const std::string chip = tables();
        const bool ok = mgr_->createNatCpuTrapAcl(
            {key.acl, uint16_t(key.group)}, info, protos[pick(3)], prefix(srcs[pick(3)]),
            prefix(dsts[pick(3)]), uint16_t(80 & sportMask), sportMask, uint16_t(443 & dportMask),
            dportMask, priority, pick(5) == 0, pick(3) == 0);
        if (ok) {
            model_.insert(key);
            most_ = std::max(most_, model_.size());
        } else {
            ++refused_;
            EXPECT_EQ(tables(), chip) << "a refused rule changed the chip";
            for (std::size_t i = 0; i < counts.size(); ++i) {
                EXPECT_EQ(mgr_->recordCounts()[i].count, counts[i].count) << counts[i].label;
            }
        }
        return std::string(ok ? "add " : "refused add ") + key.str();
    }

    std::mt19937_64 rng_;
    BootedAgent agent_;
    VyrNatTableMgrTwice* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::set<HwTwiceNatCpuTrapAclKey> model_;
    uint64_t refused_ = 0;
    uint64_t redistributed_ = 0;
    std::size_t most_ = 0;
};

TEST(TwiceTrapAclRandom, TwoStagesHoldWhatTheRecordsSay) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 3; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomTraps r(seed);
        TestSupport::randomSteps(
            2500, [&] { return r.step(); }, [&] { return r.check(); });
        EXPECT_GT(r.injected(), 0u);
        EXPECT_GT(r.refused(), 100u);
        EXPECT_GT(r.redistributed(), 100u);
        EXPECT_GE(r.most(), 20u);
        r.removeAll();
        ASSERT_EQ(r.check(), "");
        EXPECT_EQ(r.leftOver(), "");
    }
}

} // namespace
