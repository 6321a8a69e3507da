// CPU trap rules through the NAT helper: hardware priorities in the chip's trap table, reverse
// traps that follow interface addresses, and rule order kept at every single chip write while
// rules come and go and their priority blocks are spread out again.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <map>
#include <random>
#include <set>

namespace {

using namespace HelperTest;
using Ip::IpAddrWithFullMask;
using Ip::Nat::DynamicKey;
using Ip::Nat::NatTrapInfo;
using VyrP4::NatCpuTrapAclMatchSpec;

NatTrapInfo trapInfo(uint32_t profile, uint32_t prio, uint32_t poolId = 1) {
    NatTrapInfo t;
    t.profileId = profile;
    t.prio = prio;
    t.poolId = poolId;
    return t;
}

std::set<int32_t> priorities(VyrNat::VyrNatTableMgrDynamic& dyn) {
    std::set<int32_t> out;
    for (const auto& e : dyn.natCpuTrapAclTable()->entries()) {
        out.insert(e.match().priority());
    }
    return out;
}

TEST(NatTrapRules, PrioritiesSlotsAndTheReverseTrapsOfOverloadInterfaces) {
    NatAgent a("default");
    auto& h = a.helper();
    auto& dyn = *a.owner().tableMgrDynamic();
    const auto any = IpAddrWithFullMask{};
    const auto inside = *IpAddrWithFullMask::parse("10.0.0.0/8");

    EXPECT_TRUE(h.addTrapRule({"fixed", 0}, trapInfo(1, 1023), 5, inside, any, false, false));
    EXPECT_TRUE(h.addTrapAllRule({"all", 0}, trapInfo(1, 2000)));
    EXPECT_EQ(priorities(dyn), (std::set<int32_t>{15359 * 1024 + 5, 7679 * 1024 + 1023}));
    // A port range is written as the aligned blocks that cover it: 80..443 takes eight.
    EXPECT_TRUE(h.addProtocolTrapRule({"web", 0}, trapInfo(2, 0), 1, 6, inside, any, 0, 0, 80, 443,
                                      false, false));
    EXPECT_EQ(dyn.hwNatCpuTrapAcl({"web", 0, 2})->trapAclEntries().size(), 8u);

    // The last ACL of a priority gives its block back.
    h.delTrapRule(1, {"all", 0}, 0);
    EXPECT_FALSE(h.trapRulePriorities().prioToHwPriorityMapped().count(2000));
    EXPECT_EQ(priorities(dyn).count(7679 * 1024 + 1023), 0u);

    // Interface overload on profile 3: a reverse trap to each member interface's address.
    auto intf = Ert::make<Ip::Nat::IntfStatus>("NatProfile3");
    intf->validIntf.set("Ethernet1", true);
    a.status()->intfStatus.set("NatProfile3", intf);
    auto& ipStatus = *a.booted().sysdb().getEntity<Ip::Status>("ip/status");
    auto eth1 = Ert::make<Ip::IpIntfStatus>("Ethernet1");
    eth1->addr.set(ip("192.0.2.1"));
    ipStatus.intfStatus.set("Ethernet1", eth1);
    a.run();
    EXPECT_TRUE(h.addTrapRule({"overload", 0}, trapInfo(3, 10, 0), 0, inside, any, false, false));
    const auto reverseTo = [&]() -> std::set<std::string> {
        std::set<std::string> out;
        for (const auto& e : dyn.natCpuTrapAclTable()->entries()) {
            if (e.match().ingMdNatRvsTrap() == 1) {
                out.insert(Ip::IpAddr(e.match().outerIpv4HdrDip()).toString());
            }
        }
        return out;
    };
    EXPECT_EQ(reverseTo(), (std::set<std::string>{"192.0.2.1"}));
    eth1->addr.set(ip("192.0.2.9"));
    a.run();
    EXPECT_EQ(reverseTo(), (std::set<std::string>{"192.0.2.9"})) << "the trap follows the address";
    eth1->addr.set(Ip::IpAddr());
    a.run();
    EXPECT_TRUE(reverseTo().empty()) << "no address, no trap";
    eth1->addr.set(ip("192.0.2.10"));
    a.run();
    intf->validIntf.erase("Ethernet1");
    a.run();
    EXPECT_TRUE(reverseTo().empty()) << "an interface that leaves takes its trap along";
    h.delTrapRule(3, {"overload", 0}, 0);
    EXPECT_TRUE(h.overloadRvsEntries().empty());

    // A rule the chip refuses is listed as not programmed until it is deleted.
    dyn.natCpuTrapAclTable()->engine().failNextWritesIs(1);
    EXPECT_FALSE(h.addTrapRule({"refused", 0}, trapInfo(4, 7), 0, inside, any, false, false));
    const auto& unprogrammed = dyn.omaNatSmStatus()->trapRuleUnprogrammed;
    EXPECT_EQ(unprogrammed.size(), 1u);
    EXPECT_TRUE(unprogrammed.has({"NatProfile4", "refused", 0}));
    h.delTrapRule(4, {"refused", 0}, 0);
    EXPECT_TRUE(unprogrammed.empty());

    h.delTrapRule(1, {"fixed", 0}, 0);
    h.delTrapRule(2, {"web", 0}, 0);
    EXPECT_EQ(TestSupport::invariants(a.owner()), "");
    EXPECT_EQ(a.leftOver(), "");
}

// One trap rule of the model: an ACL of its own, so that its entries are known by the ACL.
struct Rule {
    uint32_t profile;
    uint32_t prio;
    IpAddrWithFullMask src, dst;
    uint8_t protocol;
    uint16_t dportStart, dportEnd;
    bool deny;
    bool overload = false; // translated to the address of the profile's interface

    bool matches(uint32_t pProfile, uint32_t sip, uint32_t dip, uint8_t proto,
                 uint16_t dport) const {
        const bool anyPort = dportStart == 0 && dportEnd == 0;
        return profile == pProfile && (sip & src.mask) == (src.addr.value & src.mask) &&
               (dip & dst.mask) == (dst.addr.value & dst.mask) &&
               (protocol == 0 || protocol == proto) &&
               (anyPort || (dport >= dportStart && dport <= dportEnd));
    }
};

struct Packet {
    uint32_t profile, sip, dip;
    uint8_t proto;
    uint16_t dport;
    bool reverse = false; // coming back, to a translated address
};

// Profile 1's interface, whose address overload rules trap traffic to.
constexpr const char* kOverloadIntf = "Ethernet1";
constexpr uint32_t kOverloadAddrs[] = {0xC0000201u, 0xC0000202u};

class TrapOrderRun {
public:
    explicit TrapOrderRun(unsigned seed) : rng_(seed), a_("default") {
        dyn_ = a_.owner().tableMgrDynamic();
        helper_ = &a_.helper();
        ipStatus_ = a_.ipStatus();
        for (int i = 0; i < 24; ++i) {
            samples_.push_back({1 + pick(2),
                                any({0x0A000001u, 0x0A000105u, 0x0A010001u, 0xC0A80101u}),
                                any({0xC6336401u, 0xC63364C8u, 0xCB007105u}),
                                uint8_t(any({6u, 17u})), uint16_t(any({53u, 80u, 443u, 8080u}))});
        }
        for (int i = 0; i < 8; ++i) {
            samples_.push_back({1 + pick(2), any({0x0A000001u, 0xC6336401u}), kOverloadAddrs[i % 2],
                                uint8_t(any({6u, 17u})), uint16_t(any({80u, 443u})), true});
        }
        intfAddressIs(kOverloadAddrs[0]);
        a_.chip()
            .table("natCpuTrapAcl")
            ->entryObserverIs([this](const VyrP4::TableEngine&, VyrP4::EntryChange change,
                                     const VyrP4::EntryView*, const VyrP4::EntryView*) {
                if (change != VyrP4::EntryChange::hit) {
                    ++writes_;
                    checkOrder();
                }
            });
    }
    ~TrapOrderRun() { a_.chip().table("natCpuTrapAcl")->entryObserverIs(nullptr); }

    std::string step() {
        if (pick(10) == 0) {
            const uint32_t addr = kOverloadAddrs[pick(2)];
            intfAddressIs(addr);
            return std::string(kOverloadIntf) + " address " + Ip::IpAddr(addr).toString();
        }
        if (!rules_.empty() && pick(5) < 2) {
            auto it = rules_.begin();
            std::advance(it, pick(uint32_t(rules_.size())));
            const std::string acl = it->first;
            const Rule r = it->second;
            rules_.erase(it);
            pending_ = r;
            pendingAcl_ = acl;
            a_.helper().delTrapRule(r.profile, {acl, 0}, 0);
            pending_.reset();
            return "delete " + acl;
        }
        Rule r;
        r.profile = 1 + pick(2);
        // Mostly priorities beyond all others: they halve the room below them until blocks
        // must be spread out again.
        r.prio = pick(4) == 0 ? pick(1024) : pick(3) == 0 ? 1024 + pick(4000) : ++nextPrio_;
        r.src = any({"0.0.0.0/0", "10.0.0.0/8", "10.0.1.0/24", "192.168.0.0/16"});
        r.dst = any({"0.0.0.0/0", "198.51.100.0/24", "198.51.100.0/25", "203.0.113.0/24"});
        r.protocol = uint8_t(any({0u, 6u, 17u}));
        const uint16_t ranges[][2] = {{0, 0}, {53, 53}, {80, 443}, {1, 1023}};
        const auto& range = ranges[r.protocol ? pick(4) : 0];
        r.dportStart = range[0];
        r.dportEnd = range[1];
        r.deny = pick(6) == 0;
        r.overload = r.profile == 1 && pick(4) == 0;
        const std::string acl = "acl" + std::to_string(++nextAcl_);
        pending_ = r;
        pendingAcl_ = acl;
        const bool ok = a_.helper().addProtocolTrapRule(
            {acl, 0}, trapInfo(r.profile, r.prio, !r.overload), pick(4), r.protocol, r.src, r.dst,
            0, 0, r.dportStart, r.dportEnd, r.deny, false);
        pending_.reset();
        if (ok) {
            rules_[acl] = r;
        } else {
            a_.helper().delTrapRule(r.profile, {acl, 0}, 0);
        }
        return (ok ? "add " : "refused ") + acl + " prio " + std::to_string(r.prio);
    }

    std::string check() {
        std::string out = TestSupport::invariants(a_.owner());
        out.swap(broken_);
        return out + broken_;
    }

    uint64_t writes() const { return writes_; }
    // Reverse traps seen in the chip at a priority other than the one they were written at.
    uint32_t overloadTrapsMoved() const { return overloadMoves_; }
    uint32_t respreads() { return a_.helper().redistributeTrapRulesHwPriorityCount(); }
    std::string leftOver() {
        while (!rules_.empty()) {
            const auto [acl, r] = *rules_.begin();
            a_.helper().delTrapRule(r.profile, {acl, 0}, 0);
            rules_.erase(acl);
        }
        return a_.leftOver();
    }

private:
    uint32_t pick(uint32_t n) { return rng_() % n; }
    // The interface's address as the host publishes it; the NAT helper's interface state
    // machine moves the reverse traps.
    void intfAddressIs(uint32_t addr) {
        Scenario::Step s;
        s.profileIntfs["NatProfile1"] = {kOverloadIntf};
        s.intfAddress[kOverloadIntf] = Ip::IpAddr(addr);
        a_.apply(s);
        a_.run();
    }
    // The ACL priority whose reverse trap catches `p`, if any: the profile has overload rules
    // and the packet goes to its interface's address. Settled when the host's address and the
    // one the helper traps agree; while the helper follows a change, the trap may be either way.
    struct Overload {
        uint32_t prio;
        bool settled;
    };
    std::optional<Overload> overloadPrio(const Packet& p) const {
        const auto& entries = helper_->overloadRvsEntries();
        auto it = entries.find(p.profile);
        if (!p.reverse || p.proto != 6 || it == entries.end() || it->second.acls.empty()) {
            return std::nullopt;
        }
        const auto* intf = ipStatus_->intfStatus.find(kOverloadIntf);
        const bool published = intf && *intf && (*intf)->addr().value == p.dip;
        auto trapped = it->second.dstIp.find(kOverloadIntf);
        const bool helperTraps =
            trapped != it->second.dstIp.end() && trapped->second.value == p.dip;
        if (!published && !helperTraps) {
            return std::nullopt;
        }
        return Overload{it->second.prio, published && helperTraps};
    }
    uint32_t any(std::initializer_list<uint32_t> v) {
        return *(v.begin() + pick(uint32_t(v.size())));
    }
    IpAddrWithFullMask any(std::initializer_list<const char*> v) {
        return *IpAddrWithFullMask::parse(*(v.begin() + pick(uint32_t(v.size()))));
    }

    // The priority-free part of an entry, by which the rule that wrote it is known while it
    // moves between blocks.
    static NatCpuTrapAclMatchSpec unprioritized(NatCpuTrapAclMatchSpec ms) {
        ms.priorityIs(0);
        return ms;
    }
    // The ACL priority of each recorded entry, by its match spec and by its match spec apart
    // from the priority (which moves).
    struct EntryIndex {
        std::map<NatCpuTrapAclMatchSpec, std::set<uint32_t>> exact, alike;
    };
    EntryIndex entryIndex() const {
        EntryIndex idx;
        for (const auto& [key, acl] : dyn_->hwNatCpuTrapAcl()) {
            std::optional<uint32_t> prio;
            if (auto it = rules_.find(key.acl); it != rules_.end()) {
                prio = it->second.prio;
            } else if (pending_ && key.acl == pendingAcl_) {
                prio = pending_->prio;
            }
            for (const auto& e : acl.trapAclEntries()) {
                if (prio) {
                    idx.exact[e.matchSpec].insert(*prio);
                    idx.alike[unprioritized(e.matchSpec)].insert(*prio);
                }
            }
        }
        return idx;
    }
    // The ACL priorities of the rules that may have written `ms`: the rule that recorded it, or
    // else, while entries move or are written, the rules whose entries look like it apart from
    // the priority, and the rule being added or removed.
    std::set<uint32_t> prioOfEntry(const EntryIndex& idx, const NatCpuTrapAclMatchSpec& ms,
                                   bool pendingMatches) const {
        // A reverse trap is its profile's, at the priority its overload rules were given.
        if (ms.ingMdNatRvsTrapMask() && ms.ingMdNatRvsTrap()) {
            const auto& overload = helper_->overloadRvsEntries();
            auto it = overload.find(ms.ingMdEgrNatProfileId());
            return it == overload.end() ? std::set<uint32_t>()
                                        : std::set<uint32_t>{it->second.prio};
        }
        if (auto it = idx.exact.find(ms); it != idx.exact.end()) {
            return it->second;
        }
        std::set<uint32_t> out;
        if (auto it = idx.alike.find(unprioritized(ms)); it != idx.alike.end()) {
            out = it->second;
        }
        if (pendingMatches) {
            out.insert(pending_->prio);
        }
        return out;
    }

    // Each sample packet meets the rule of the best ACL priority that matches it (or one of
    // equal priority); the rule being added or removed may also be met, where it outranks them.
    void checkOrder() {
        for (const auto& [id, rec] : dyn_->hwNatCpuTrapAclOverload()) {
            for (const auto& [intf, ms] : rec.entry()) {
                auto [it, fresh] = overloadSeen_.try_emplace(unprioritized(ms), ms.priority());
                if (!fresh && it->second != ms.priority()) {
                    ++overloadMoves_;
                    it->second = ms.priority();
                }
            }
        }
        const EntryIndex idx = entryIndex();
        for (const Packet& p : samples_) {
            std::optional<uint32_t> best;
            for (const auto& [acl, r] : rules_) {
                if (r.matches(p.profile, p.sip, p.dip, p.proto, p.dport) &&
                    (!best || r.prio < *best)) {
                    best = r.prio;
                }
            }
            const auto overload = overloadPrio(p);
            if (overload && overload->settled && (!best || overload->prio < *best)) {
                best = overload->prio;
            }
            const bool pendingMatches =
                pending_ && pending_->matches(p.profile, p.sip, p.dip, p.proto, p.dport);
            NatCpuTrapAclMatchSpec packet;
            packet.ingMdIngNatProfileIdIs(p.profile, 0xfff);
            packet.ingMdEgrNatProfileIdIs(p.profile, 0xfff);
            packet.ingMdNatRvsTrapIs(p.reverse, 1);
            packet.outerIpv4HdrSipIs(p.sip, ~0u);
            packet.outerIpv4HdrDipIs(p.dip, ~0u);
            packet.outerIpv4HdrProtocolIs(p.proto, 0xff);
            packet.l4PortHdrDstPortIs(p.dport, 0xffff);
            packet.l4PortHdrSrcPortIs(40000, 0xffff);
            const auto hit = dyn_->natCpuTrapAclTable()->lookup(packet);
            std::set<uint32_t> got;
            if (hit) {
                got = prioOfEntry(idx, hit->match(), pendingMatches);
            }
            bool ok;
            if (!hit) {
                ok = !best;
            } else if (best && got.count(*best)) {
                ok = true;
            } else {
                ok = (pendingMatches && got.count(pending_->prio) &&
                      (!best || pending_->prio <= *best)) ||
                     (overload && got.count(overload->prio) && (!best || overload->prio <= *best));
            }
            if (!ok && broken_.size() < 2000) {
                broken_ += "write " + std::to_string(writes_) + ": packet to " +
                           Ip::IpAddr(p.dip).toString() + ":" + std::to_string(p.dport) +
                           " profile " + std::to_string(p.profile) + " meets " +
                           (hit ? hit->str() : std::string("nothing")) + ", best priority " +
                           (best ? std::to_string(*best) : std::string("none")) + "\n";
            }
        }
    }

    std::mt19937 rng_;
    NatAgent a_;
    VyrNat::VyrNatTableMgrDynamic* dyn_ = nullptr;
    VyrNat::NatHelper* helper_ = nullptr;
    Ert::Ptr<Ip::Status> ipStatus_;
    std::vector<Packet> samples_;
    std::map<std::string, Rule> rules_;
    std::optional<Rule> pending_; // the rule being added or removed
    std::string pendingAcl_;
    uint32_t nextPrio_ = 6000;
    uint32_t nextAcl_ = 0;
    uint64_t writes_ = 0;
    std::map<NatCpuTrapAclMatchSpec, int32_t> overloadSeen_;
    uint32_t overloadMoves_ = 0;
    std::string broken_;
};

TEST(NatTrapRules, EveryChipWriteKeepsTheRulesInAclOrder) {
    const unsigned first = TestSupport::testSeed(11);
    for (unsigned seed = first; seed < first + 3; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        TrapOrderRun r(seed);
        TestSupport::randomSteps(
            500, [&] { return r.step(); }, [&] { return r.check(); });
        EXPECT_GE(r.respreads(), 1u);
        EXPECT_GE(r.overloadTrapsMoved(), 1u);
        EXPECT_EQ(r.leftOver(), "");
    }
}

} // namespace
