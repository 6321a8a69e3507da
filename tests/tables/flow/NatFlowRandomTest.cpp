// Random NAT flows against a model of what the caller asked for: port ranges of one port, any
// port, the whole range, the widest decomposition and ranges across alignment boundaries, two
// spellings of prefixes and of the unicast and multicast bits, in a small table with table-full
// and no-resources faults; a failed create is followed by the delete the NAT helper makes. After
// every operation the entries of each flow cover exactly its ranges and the invariants hold; at
// the end only the default entry is left.

#include "common/VyrNatLogMessages.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

using namespace VyrNat;

// The ports a range stands for: 0..0 is any port.
struct Range {
    uint32_t lo, hi;
};
Range portsOf(uint16_t start, uint16_t end) {
    return start == 0 && end == 0 ? Range{0, 65535} : Range{start, end};
}
uint64_t sizeOf(PortMask b) {
    return uint16_t(~b.mask) + 1u;
}
uint64_t sizeOf(Range r) {
    return r.hi - r.lo + 1u;
}
// Whether `b` is an aligned block inside `r` and not half of a larger one inside it. Such
// blocks never overlap.
bool blockOf(PortMask b, Range r) {
    const uint32_t size = uint32_t(sizeOf(b)), parent = b.port & ~(2 * size - 1);
    return std::has_single_bit(size) && b.port % size == 0 && b.port >= r.lo &&
           b.port + size - 1 <= r.hi &&
           (size == 65536 || parent < r.lo || parent + 2 * size - 1 > r.hi);
}

// Each port near a small range against its blocks: a port inside is in exactly one, a port
// outside in none.
void enumerate(const std::set<PortMask>& blocks, Range r) {
    const uint32_t last = r.hi - r.lo < 64 ? std::min(r.hi + 2, 65535u) : 0;
    for (uint32_t p = r.lo < 2 ? 0 : r.lo - 2; p <= last; ++p) {
        int in = 0;
        for (const PortMask& b : blocks) {
            in += (p & b.mask) == b.port;
        }
        EXPECT_EQ(in, p >= r.lo && p <= r.hi) << "port " << p << " of " << r.lo << ".." << r.hi;
    }
}

// What the caller asked for one flow.
struct Flow {
    Ip::Prefix src, dst;
    uint16_t sp0, sp1, dp0, dp1;
    uint8_t protocol, uc, mc, mask;
    uint32_t priority, result;

    bool matches(const HwNatFlowMatchSpecKey& k, uint16_t profile) const {
        auto masked = [](Ip::Prefix p) {
            return Ip::Prefix{
                Ip::IpAddr(p.addr.value & Ip::IpAddrWithFullMask::maskOfLength(p.len)), p.len};
        };
        return k.uc == (uc & mask) && k.mc == (mc & mask) && k.ucMcMask == mask &&
               k.profile == profile && k.sip == masked(src) && k.dip == masked(dst) &&
               k.protocol == protocol && blockOf({k.srcPort, k.srcPortMask}, portsOf(sp0, sp1)) &&
               blockOf({k.dstPort, k.dstPortMask}, portsOf(dp0, dp1));
    }
};

class RandomFlows {
public:
    explicit RandomFlows(uint64_t seed)
        : rng_(seed),
          agent_(TestSupport::BootedAgent::scenarioFor("default", {{"natFlowTableSize", "128"}})) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrNatFlow();
        faults_.add(table().engine());
    }

    std::string step() {
        if (pick(400) == 0) {
            faults_.change(rng_, 0.05, false);
        }
        const HwNatFlowKey key{uint16_t(1 + pick(2)), "P" + std::to_string(pick(4)),
                               "m" + std::to_string(pick(3))};
        // A flow present is deleted, and at times written again: the NAT helper deletes a
        // flow before it writes it anew.
        if (auto present = model_.find(key); present != model_.end()) {
            EXPECT_TRUE(mgr_->deleteNatFlowTable(key));
            model_.erase(present);
            if (pick(2) == 0) {
                return "delete " + key.str();
            }
        }
        // At times the flow of another policy, whose entries the profiles may share.
        if (!model_.empty() && pick(10) == 0) {
            return create(key, std::next(model_.begin(), long(pick(model_.size())))->second);
        }
        return create(key, randomFlow());
    }

    // The entries of each flow are the cross product of the blocks of its ranges, each with
    // what the flow asked for.
    std::string check() const {
        std::string out = TestSupport::flowInvariants(*mgr_);
        if (mgr_->hwNatFlowEntry().size() != model_.size()) {
            out += "flows recorded beyond those taken\n";
        }
        for (const auto& [key, f] : model_) {
            auto rec = mgr_->hwNatFlowEntry().find(key);
            if (rec == mgr_->hwNatFlowEntry().end()) {
                out += "flow not recorded: " + key.str() + "\n";
                continue;
            }
            // Distinct pairs of blocks of the two ranges cover them exactly when their areas
            // add up to the area of the ranges.
            if (area(rec->second, key, f, out) !=
                sizeOf(portsOf(f.sp0, f.sp1)) * sizeOf(portsOf(f.dp0, f.dp1))) {
                out += "ports of " + key.str() + " not covered exactly\n";
            }
        }
        return out;
    }

    // The run met every outcome; once every flow is deleted, only the default entry is left.
    void finish() {
        EXPECT_GT(faults_.injected(), 0u);
        EXPECT_GT(std::min({taken_, overlaps_, tableErrors_}), 100u);
        faults_.clear();
        for (const auto& [key, f] : model_) {
            EXPECT_TRUE(mgr_->deleteNatFlowTable(key));
        }
        model_.clear();
        EXPECT_EQ(agent_.leftOver(), "");
        EXPECT_EQ(table().entryCount(), 1u);
        EXPECT_EQ(TestSupport::flowInvariants(*mgr_), "");
    }

private:
    size_t pick(size_t n) { return size_t(rng_() % n); }
    VyrP4::NatFlowTable& table() const { return *mgr_->natFlowTable(); }

    std::pair<uint16_t, uint16_t> randomRange() {
        static const std::pair<uint16_t, uint16_t> fixed[] = {
            {0, 0},       {0, 65535},   {53, 53},     {80, 80},     {443, 443},
            {1000, 1000}, {1000, 1999}, {1000, 1023}, {1536, 1791}, {1, 65534}};
        const auto a = uint16_t(pick(65536)), b = uint16_t(pick(65536));
        switch (pick(8)) {
        case 0:
            return {std::min(a, b), std::max(a, b)};
        case 1:
        case 2:
            return {uint16_t(a % 65000), uint16_t(a % 65000 + b % 300)};
        default:
            return fixed[pick(10)];
        }
    }

    Flow randomFlow() {
        static const char* srcs[] = {"0.0.0.0/0", "10.0.0.0/8", "10.1.2.3/8", "192.168.1.7/32"};
        static const char* dsts[] = {"0.0.0.0/0", "8.8.8.0/24", "8.8.8.9/24", "224.1.1.1/32"};
        // Unicast, multicast, and either, spelled two ways.
        static const uint8_t bits[4][3] = {{1, 0, 1}, {0, 1, 1}, {0, 0, 0}, {1, 1, 0}};
        Flow f{};
        f.src = *Ip::Prefix::parse(srcs[pick(4)]);
        f.dst = *Ip::Prefix::parse(dsts[pick(4)]);
        std::tie(f.sp0, f.sp1) = randomRange();
        std::tie(f.dp0, f.dp1) = randomRange();
        const auto& b = bits[pick(4)];
        std::tie(f.uc, f.mc, f.mask) = std::tuple(b[0], b[1], b[2]);
        f.protocol = uint8_t(pick(2) ? 6 : 0);
        f.priority = uint32_t(pick(100));
        f.result = uint32_t(pick(0x10000));
        return f;
    }

    // The ports a flow's entries cover, each source port with each destination port, with a
    // line in `out` for each entry that is not what the flow asked for.
    static uint64_t area(const HwNatFlowEntry& rec, const HwNatFlowKey& key, const Flow& f,
                         std::string& out) {
        uint64_t ports = 0;
        for (const auto& [hk, ms] : rec.entry()) {
            if (!f.matches(hk, key.profile) || ms.priority() != int32_t(f.priority + 1)) {
                out += "entry " + hk.str() + " is not what its flow asked for\n";
            }
            ports += sizeOf(PortMask{hk.srcPort, hk.srcPortMask}) *
                     sizeOf(PortMask{hk.dstPort, hk.dstPortMask});
        }
        return ports;
    }

    std::string create(const HwNatFlowKey& key, Flow f) {
        const uint64_t injected = faults_.injected();
        const uint64_t logged = natFlowRangeOverlap().raisedCount();
        const std::size_t entries = table().entryCount();
        bool recorded = false;
        for (const auto& [hk, owner] : mgr_->hwEntries()) {
            recorded = recorded || f.matches(hk, key.profile);
        }
        const bool ok = mgr_->createNatFlowTable(key, f.result, f.src, f.dst, f.sp0, f.sp1, f.dp0,
                                                 f.dp1, f.protocol, f.priority, f.uc, f.mc, f.mask);
        const bool overlap = natFlowRangeOverlap().raisedCount() != logged;
        EXPECT_EQ(overlap, recorded) << key.str();
        if (overlap) {
            ++overlaps_;
            EXPECT_FALSE(ok);
            EXPECT_EQ(table().entryCount(), entries);
            return "overlap " + key.str();
        }
        if (ok) {
            ++taken_;
            model_[key] = f;
            // Its entries stay as written: their action and their blocks are checked once.
            std::set<PortMask> src, dst;
            for (const auto& [hk, ms] : mgr_->hwNatFlowEntry().at(key).entry()) {
                const auto e = table().entry(ms);
                const auto* r = e ? e->actionIf<VyrP4::SetNatFlowResultActionSpec>() : nullptr;
                EXPECT_TRUE(r && r->natFlowResult() == f.result) << hk.str();
                src.insert({hk.srcPort, hk.srcPortMask});
                dst.insert({hk.dstPort, hk.dstPortMask});
            }
            enumerate(src, portsOf(f.sp0, f.sp1));
            enumerate(dst, portsOf(f.dp0, f.dp1));
            return "create " + key.str();
        }
        // Refused for want of room or by a fault; what was written stays recorded until the
        // caller deletes the flow.
        ++tableErrors_;
        EXPECT_TRUE(faults_.injected() != injected || table().entryCount() == table().capacity());
        EXPECT_EQ(TestSupport::flowInvariants(*mgr_), "");
        const bool written = mgr_->hwNatFlowEntry().count(key) != 0;
        EXPECT_EQ(mgr_->deleteNatFlowTable(key), written);
        return "table error " + key.str();
    }

    std::mt19937_64 rng_;
    TestSupport::BootedAgent agent_;
    VyrNatTableMgrNatFlow* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::map<HwNatFlowKey, Flow> model_;
    uint64_t taken_ = 0, overlaps_ = 0, tableErrors_ = 0;
};

TEST(NatFlowMgrRandom, FlowsCoverTheirRangesExactlyThroughOverlapsFullTablesAndFaults) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 2; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomFlows r(seed);
        TestSupport::randomSteps(
            25000, [&] { return r.step(); }, [&] { return r.check(); });
        r.finish();
    }
}

} // namespace
