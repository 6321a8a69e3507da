// Random dynamic connections, twice-NAT translations, NAT flows and static translations
// published together in the state database, with table writes failing at random, packets
// hitting connections on either pipe and hit-bit scans in between. After every change the
// managers' records agree with the chip, the hardware status holds exactly what is published,
// what it calls programmed is recorded by the manager, and every programmed connection reads
// active exactly when its entry was hit before the last scan; once everything is withdrawn
// nothing is left. A failing seed is printed; VYRNAT_SEED replays it.

#include "tables/dynamic/DynamicPartitionedTable.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/helper/NatTestUtil.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <map>
#include <optional>
#include <random>
#include <set>

namespace {

using namespace HelperTest;
using namespace VyrNat;
using Ip::Nat::DynamicConnection;
using Ip::Nat::DynamicConnectionKey;
using TestSupport::Faults;

// Keys present in `hw` and not in `want`, or the other way round.
template <class Want, class Held>
std::string keysDiffer(const char* what, const Want& want, const Held& hw) {
    std::string out;
    for (const auto& [k, v] : want) {
        if (!hw.find(k)) {
            out += std::string(what) + " without hardware status: " + k.str() + "\n";
        }
    }
    for (const auto& [k, v] : hw) {
        if (!want.find(k)) {
            out += std::string(what) + " hardware status of a withdrawn one: " + k.str() + "\n";
        }
    }
    return out;
}

template <class Held>
std::size_t countProgrammed(const Held& hw, const Ert::Attr<uint32_t>& yes,
                            const Ert::Attr<uint32_t>& no, std::string& out) {
    std::size_t y = 0;
    for (const auto& [k, p] : hw) {
        y += p;
    }
    if (y != yes() || hw.size() - y != no()) {
        out += "programmed counts " + std::to_string(yes()) + "/" + std::to_string(no()) + " for " +
               std::to_string(y) + "/" + std::to_string(hw.size() - y) + "\n";
    }
    return y;
}

class RandomDynamicNat {
    static constexpr const char* kTrapIntf = "NatProfile1";

public:
    explicit RandomDynamicNat(unsigned seed) : rng_(seed), a_(scenario()) {
        a_.status()->pool.set("pool", 1);
        dyn_ = a_.owner().tableMgrDynamic();
        twice_ = a_.owner().tableMgrTwice();
        flow_ = a_.owner().tableMgrNatFlow();
        // Dynamic entries are rewritten only in place, and a twice-NAT delete that rewrites a
        // shared entry cannot report a refusal: those tables refuse new entries only.
        for (auto* t : {"dynamicSnat1", "dynamicSnat2", "dynamicDnat1", "dynamicDnat2",
                        "dynamicAddrOnlySnat", "dynamicAddrOnlyDnat", "dynamicFullConeDnat",
                        "dynamicFullConeCompressDip", "twiceNatAddrOnly", "twiceNatAddrPort",
                        "twiceNatAddrSrcPort", "twiceNatAddrDstPort", "twiceNatRewrite"}) {
            addFaults_.add(*a_.chip().table(t));
        }
        for (auto* t : {"staticSnatAcl", "staticDnatAcl", "addrOnlySnat", "addrOnlyDnat",
                        "addrPortSnat", "natFlow", "natCpuTrapAcl", "dynamicSnatAcl",
                        "twiceNatAclId", "twiceNatCpuTrapAcl"}) {
            faults_.add(*a_.chip().table(t));
        }
    }

    std::string step() {
        const unsigned pick = rng_() % 100;
        if (pick < 40) {
            connection();
        } else if (pick < 57) {
            twiceNat();
        } else if (pick < 70) {
            natFlow();
        } else if (pick < 75) {
            staticTranslation();
        } else if (pick < 80) {
            trapRule();
        } else if (pick < 90) {
            hit();
        } else if (pick < 95) {
            scan();
        } else {
            last_ = "faults changed";
            faults_.change(rng_);
            addFaults_.change(rng_, 0.15, false);
        }
        a_.run();
        return last_;
    }

    std::string check() {
        std::string out = TestSupport::invariants(a_.owner(), true);
        const auto& hw = *a_.connectionsHw();
        const auto& sm = *a_.natSm().status();
        out += keysDiffer("connection", a_.connections()->connection, hw.dynamicConnectionHw);
        out += keysDiffer("twice NAT", a_.status()->twiceNat, a_.hwStatus()->twiceNat);
        out += keysDiffer("flow", a_.status()->natFlow, a_.hwStatus()->natFlow);

        // Every programmed connection holds one record, and only those do.
        const std::size_t programmed = countProgrammed(hw.dynamicConnectionHw, sm.dynamicProgrammed,
                                                       sm.dynamicNotProgrammed, out);
        std::size_t records = dyn_->dynamicSnatTable().size() + dyn_->dynamicDnatTable().size() +
                              dyn_->dynamicAddrOnlySnatKeyToMatchSpec().size() +
                              dyn_->dynamicAddrOnlyDnatFlowProfileToNewDip().size();
        // Full-cone DNAT connections each hold a reference on their public address's entry.
        if (const auto& fc = dyn_->dynamicFullConeDnatHelper()) {
            for (const auto& [k, e] : fc->dynamicFullConeDnat()) {
                records += e.refCount;
            }
        }
        if (programmed != records) {
            out += std::to_string(programmed) + " connections programmed, " +
                   std::to_string(records) + " recorded\n";
        }
        for (const auto& [key, p] : hw.dynamicConnectionHw) {
            const auto& conn = *a_.connections()->connection.find(key);
            if (!p || conn.fullCone || key.addrOnly()) {
                continue;
            }
            const bool found =
                key.sourceTranslation()
                    ? dyn_->dynamicSnatTable().find(key.tuple, key.vrfId).has_value()
                    : dyn_->dynamicDnatTable().find(key.tuple, key.vrfId).has_value();
            if (!found) {
                out += "programmed, not recorded: " + key.str() + "\n";
            }
        }

        // The state machine lists what is not programmed, as it was asked for.
        for (const auto& [key, p] : hw.dynamicConnectionHw) {
            const auto* listed = sm.dynamicUnprogrammed.find(key);
            if (p == (listed != nullptr) ||
                (listed && *listed != *a_.connections()->connection.find(key))) {
                out += "unprogrammed list disagrees: " + key.str() + "\n";
            }
        }
        for (const auto& [key, p] : a_.hwStatus()->twiceNat) {
            const auto* listed = sm.twiceUnprogrammed.find(key);
            if (p == (listed != nullptr) ||
                (listed && *listed != *a_.status()->twiceNat.find(key))) {
                out += "unprogrammed list disagrees: twice NAT " + key.str() + "\n";
            }
        }
        if (sm.dynamicUnprogrammed.size() != sm.dynamicNotProgrammed() ||
            sm.twiceUnprogrammed.size() != sm.twiceNotProgrammed()) {
            out += "unprogrammed lists hold what is no longer asked for\n";
        }

        // Each programmed translation is one profile's use of an entry the manager holds.
        std::size_t held = 0;
        for (const auto& [k, e] : twice_->addrPortEntry()) {
            held += e.profiles.size();
        }
        for (const auto& [k, e] : twice_->addrOnlyEntry()) {
            held += e.profiles.size();
        }
        const std::size_t twiceProgrammed = countProgrammed(
            a_.hwStatus()->twiceNat, sm.twiceProgrammed, sm.twiceNotProgrammed, out);
        if (held != twiceProgrammed) {
            out += std::to_string(twiceProgrammed) + " twice NAT translations programmed, " +
                   std::to_string(held) + " held\n";
        }
        for (const auto& [key, p] : a_.hwStatus()->twiceNat) {
            const auto& t = *a_.status()->twiceNat.find(key);
            auto [srcOld, srcNew] = evened(key.srcOld, t.srcNew);
            auto [dstOld, dstNew] = evened(key.dstOld, t.dstNew);
            if (p && twice_->lookupEntry(srcOld, srcNew, dstOld, dstNew, key.protocol, key.profile,
                                         key.vrf) != LookupResult::lookupMatchActionHit) {
                out += "twice NAT programmed, not recorded: " + key.str() + "\n";
            }
        }

        out += activity();
        out += trapRulesCheck();

        countProgrammed(a_.hwStatus()->natFlow, sm.flowProgrammed, sm.flowNotProgrammed, out);
        for (const auto& [key, p] : a_.hwStatus()->natFlow) {
            if (p != (flow_->hwNatFlowEntry().count({key.profile, key.policy, key.match}) != 0)) {
                out += "flow " + key.str() +
                       (p ? " programmed, not recorded\n" : " not programmed, yet recorded\n");
            }
        }
        return out;
    }

    std::string withdrawAll() {
        faults_.clear();
        addFaults_.clear();
        a_.connections()->connection.clear();
        a_.status()->twiceNat.clear();
        a_.status()->natFlow.clear();
        a_.status()->intfStatus.clear();
        a_.status()->acl.clear();
        a_.status()->pool.clear();
        a_.run();
        std::string out = a_.leftOver() + check();
        if (!a_.connectionsHw()->dynamicConnectionHw.empty() || !a_.hwStatus()->twiceNat.empty() ||
            !a_.hwStatus()->natFlow.empty()) {
            out += "hardware status left\n";
        }
        return out;
    }

private:
    static Scenario::Scenario scenario() {
        auto s = TestSupport::BootedAgent::scenarioFor("default", {{"pipes", "2"}});
        std::string error;
        // Small tables, so that room runs out and connections spill over and get refused.
        for (auto [field, value] : {std::pair{"snat1TableSize", "4"},
                                    {"snat2TableSize", "4"},
                                    {"dnat1TableSize", "6"},
                                    {"dnat2TableSize", "4"},
                                    {"dynamicAddrOnlySnatTableSize", "3"},
                                    {"dynamicAddrOnlyDnatTableSize", "3"},
                                    {"snatAddrOnlyTableSize", "12"},
                                    {"dnatAddrOnlyTableSize", "12"},
                                    {"twiceNatAddrOnlyTableSize", "8"},
                                    {"twiceNatAddrPortTableSize", "6"},
                                    {"twiceNatRewriteTableSize", "8"},
                                    {"natFlowTableSize", "40"}}) {
            EXPECT_TRUE(s.profile.fieldIs(field, value, error)) << error;
        }
        s.hwCapabilities.dynamicConnectionTableSize = 1024;
        return s;
    }

    static std::pair<Ip::IpAndPort, Ip::IpAndPort> evened(Ip::IpAndPort o, Ip::IpAndPort n) {
        if (o.port == 0 || n.port == 0) {
            o.port = n.port = 0;
        }
        return {o, n};
    }

    template <class T> T any(std::initializer_list<T> v) {
        return *(v.begin() + rng_() % v.size());
    }
    Ip::IpAddr host(const char* base, unsigned n) {
        return Ip::IpAddr(ip(base).value + rng_() % n);
    }

    void connection() {
        DynamicConnectionKey key;
        key.target = rng_() % 2 ? Ip::Nat::kSourceTranslation : Ip::Nat::kDestinationTranslation;
        key.tuple.protocol = any<uint8_t>({6, 17});
        key.vrfId = any<uint32_t>({0, 0, 5});
        const bool addrOnly = rng_() % 6 == 0;
        const Ip::IpAndPort inside{host("10.0.0.1", 4), any<uint16_t>({1024, 1025})};
        const Ip::IpAndPort peer{host("198.51.100.1", 2), any<uint16_t>({443, 53})};
        const Ip::IpAndPort pub{host("192.0.2.1", 2), any<uint16_t>({3000, 3001})};
        if (key.sourceTranslation()) {
            key.tuple.src = addrOnly ? Ip::IpAndPort{inside.ip, 0} : inside;
            key.tuple.dst = addrOnly ? Ip::IpAndPort{} : peer;
        } else {
            key.tuple.src = addrOnly ? Ip::IpAndPort{} : peer;
            key.tuple.dst = addrOnly ? Ip::IpAndPort{pub.ip, 0} : pub;
        }
        if (addrOnly) {
            key.tuple.protocol = 0;
        }
        auto& conns = a_.connections()->connection;
        if (conns.find(key) && rng_() % 2) {
            last_ = "withdraw " + key.str();
            a_.connectionDel(key);
            return;
        }
        DynamicConnection c;
        c.profile = any<uint16_t>({1, 2});
        c.fullCone = !addrOnly && key.tuple.protocol == 17 && rng_() % 4 == 0;
        const Ip::IpAndPort to = key.sourceTranslation() ? pub : inside;
        c.translated = addrOnly ? Ip::IpAndPort{to.ip, 0} : to;
        c.nextHop = key.sourceTranslation() ? 0 : any<uint32_t>({0, 5, 0x80000007});
        last_ = std::string(conns.find(key) ? "change " : "add ") + key.str() + " to " +
                c.translated.toString() + (c.fullCone ? " full cone" : "") + " next hop " +
                std::to_string(c.nextHop) + " profile " + std::to_string(c.profile);
        a_.connectionIs(key, c);
    }

    void twiceNat() {
        Ip::Nat::TwiceNatKey key;
        key.srcOld = {host("10.0.0.1", 3), any<uint16_t>({0, 1000})};
        key.dstOld = {host("198.51.100.1", 2), any<uint16_t>({0, 80})};
        key.protocol = any<uint8_t>({6, 17});
        // Profiles share the entries of one translation.
        key.profile = any<uint16_t>({1, 1, 2});
        auto& all = a_.status()->twiceNat;
        if (all.find(key) && rng_() % 2) {
            const auto& old = *all.find(key);
            const bool* was = a_.hwStatus()->twiceNat.find(key);
            last_ = "withdraw twice NAT " + key.str() + " to " + old.srcNew.toString() + " > " +
                    old.dstNew.toString() + (was && *was ? " (programmed)" : " (not programmed)");
            all.erase(key);
            return;
        }
        Ip::Nat::TwiceNatTranslation t;
        t.srcNew = {host("192.0.2.1", 2), any<uint16_t>({0, 2000})};
        t.dstNew = {host("10.9.0.1", 2), any<uint16_t>({0, 8080})};
        t.nextHop = any<uint32_t>({0, 5, 0x80000007});
        last_ = std::string(all.find(key) ? "change" : "add") + " twice NAT " + key.str() + " to " +
                t.srcNew.toString() + " > " + t.dstNew.toString() + " next hop " +
                std::to_string(t.nextHop);
        all.set(key, t);
    }

    void natFlow() {
        const Ip::Nat::NatFlowKey key{1, any<const char*>({"p1", "p2", "p3"}), "m"};
        auto& all = a_.status()->natFlow;
        if (all.find(key) && rng_() % 2) {
            last_ = "withdraw flow " + key.str();
            all.erase(key);
            return;
        }
        Ip::Nat::NatFlowEntry e;
        e.flow.src = *Ip::Prefix::parse(any<const char*>({"10.0.0.0/8", "10.1.0.0/16"}));
        e.flow.dst =
            *Ip::Prefix::parse(any<const char*>({"0.0.0.0/0", "198.51.100.0/24", "239.0.0.0/8"}));
        e.flow.srcPortStart = uint16_t(rng_() % 40);
        e.flow.srcPortEnd = uint16_t(e.flow.srcPortStart + rng_() % 20);
        e.flow.dstPortStart = any<uint16_t>({0, 80, 1000});
        e.flow.dstPortEnd = e.flow.dstPortStart ? uint16_t(e.flow.dstPortStart + rng_() % 3) : 0;
        e.flow.protocol = any<uint8_t>({0, 6});
        e.flow.priority = uint16_t(1 + rng_() % 100);
        e.groupUc = 5;
        e.groupMc = any<uint32_t>({5, 6});
        last_ = std::string(all.find(key) ? "change" : "add") + " flow " + key.str() + " to " +
                e.flow.dst.toString() + " groups " + std::to_string(e.groupUc) + "/" +
                std::to_string(e.groupMc);
        all.set(key, e);
    }

    // Static translations share the address-only tables with the connections' fragment entries.
    // A dynamic NAT rule of one of a few ACLs, dynamic or twice NAT, to a pool or overload, at a
    // priority that is fixed or mapped; or a change of an ACL's rules.
    void trapRule() {
        const Ip::Nat::DynamicKey key{std::string(1, char('a' + rng_() % 4)),
                                      uint16_t(rng_() % 4 == 0)};
        const unsigned pick = rng_() % 4;
        if (pick == 0) {
            last_ = "withdraw trap rule " + key.str();
            a_.dynamicRuleDel(kTrapIntf, key);
        } else if (pick == 1) {
            Ip::Nat::AclRules rules;
            for (uint32_t seq = 10, n = rng_() % 4; rules.size() < n; seq += 10) {
                Ip::Nat::AclRule r;
                r.seqNum = seq;
                r.deny = rng_() % 4 == 0;
                r.src = {Ip::IpAddr(10, 0, uint8_t(rng_() % 3), 0), 0xFFFFFF00};
                if (rng_() % 2) {
                    r.protocol = 17;
                    r.dstPortStart = any<uint16_t>({50, 60});
                    r.dstPortEnd = uint16_t(r.dstPortStart + rng_() % 20);
                }
                rules.push_back(r);
            }
            last_ = "ACL " + key.acl + " of " + std::to_string(rules.size()) + " rules";
            if (rules.empty()) {
                a_.status()->acl.erase(key.acl);
            } else {
                a_.status()->acl.set(key.acl, rules);
            }
        } else {
            Ip::Nat::DynamicNatRule rule;
            rule.pool = rng_() % 3 ? "pool" : "";
            rule.fullCone = rng_() % 4 == 0;
            rule.priority = any<uint32_t>({0, 5, 1023, 1024, 1100, 2000, 2001, 2002, 4000, 9000});
            last_ = "trap rule " + key.str() + " priority " + std::to_string(rule.priority);
            a_.dynamicRuleIs(kTrapIntf, key, rule);
        }
    }

    // Every published dynamic NAT rule has a hardware status, and only those; a programmed one
    // holds its ACL in the NAT helper, and one that is not holds nothing there.
    std::string trapRulesCheck() {
        std::string out;
        const auto* is = a_.status()->intfStatus.find(kTrapIntf);
        const auto* hw = a_.hwStatus()->intfStatus.find(kTrapIntf);
        const auto want = is && *is ? *is : Ert::make<Ip::Nat::IntfStatus>(kTrapIntf);
        const auto heldBy = hw && *hw ? *hw : Ert::make<Ip::Nat::HwIntfStatus>(kTrapIntf);
        const auto& held = heldBy->dynamicRule;
        out += keysDiffer("trap rule", want->dynamicRule, held);
        countProgrammed(held, a_.natSm().status()->trapRuleProgrammed,
                        a_.natSm().status()->trapRuleNotProgrammed, out);
        for (const auto& [key, p] : held) {
            const bool recorded =
                a_.helper().hwNatCpuTrapAclKeyToPrio().count({key.acl, key.group, 1}) != 0;
            if (p != recorded) {
                out += "trap rule " + key.str() +
                       (p ? " programmed, not recorded\n" : " not programmed, yet recorded\n");
            }
        }
        return out;
    }

    void staticTranslation() {
        const auto key = staticKey({host("10.0.0.1", 4), any<uint16_t>({0, 1024})});
        const std::string intf = "NatProfile1";
        if (rng_() % 2) {
            last_ = "withdraw static " + key.str();
            a_.staticDel(intf, key);
            return;
        }
        const bool source = rng_() % 2;
        const Ip::IpAndPort global{host("192.0.2.1", 2), uint16_t(key.local.port ? 3000 : 0)};
        last_ = "static " + key.str() + (source ? " source to " : " destination from ") +
                global.toString();
        a_.staticIs(intf, key, conn(global, source, key.local.port ? 6 : 0));
    }

    // A connection's entry in the chip: its table and handle.
    using EntryRef = std::pair<VyrP4::TableEngine*, VyrP4::VyrSdkEntryHandle>;
    template <class Table, class Spec>
    std::optional<EntryRef> ref(const std::shared_ptr<Table>& table, const Spec& ms) {
        return EntryRef{a_.chip().table(table->name()), table->entryHandle(ms)};
    }
    // Found through the manager's records, as a packet of the connection would find it.
    std::optional<EntryRef> entryOf(const DynamicConnectionKey& key, const DynamicConnection& c) {
        const FlowAndVrfType k{key.tuple, key.vrfId};
        if (key.addrOnly()) {
            if (key.sourceTranslation()) {
                const auto& recs = dyn_->dynamicAddrOnlySnatKeyToMatchSpec();
                auto it = recs.find({key.tuple, c.profile});
                return it == recs.end() ? std::nullopt
                                        : ref(dyn_->dynamicAddrOnlySnatTable(), it->second);
            }
            const auto& recs = dyn_->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount();
            auto it = recs.find({key.tuple.dst.ip, c.profile});
            return it == recs.end() ? std::nullopt
                                    : ref(dyn_->dynamicAddrOnlyDnatTable(), it->second.matchSpec);
        }
        if (key.sourceTranslation()) {
            if (auto ms = dyn_->snat1(k)) {
                return ref(dyn_->dynamicSnat1Table(), *ms);
            }
            if (auto ms = dyn_->snat2(k)) {
                return ref(dyn_->dynamicSnat2Table(), *ms);
            }
            if (auto ms = dyn_->dnat1Snat(k)) {
                return ref(dyn_->dynamicDnat1Table(), *ms);
            }
            return std::nullopt;
        }
        if (auto ms = dyn_->dnat1Dnat(k)) {
            return ref(dyn_->dynamicDnat1Table(), *ms);
        }
        if (auto ms = dyn_->dnat2(k)) {
            return ref(dyn_->dynamicDnat2Table(), *ms);
        }
        return std::nullopt;
    }

    // A packet of a random programmed connection, on either pipe. Full-cone entries are left
    // out: their key is not the connection's.
    void hit() {
        const auto& hw = a_.connectionsHw()->dynamicConnectionHw;
        if (hw.size() == 0) {
            last_ = "no connection to hit";
            return;
        }
        auto it = hw.begin();
        std::advance(it, rng_() % hw.size());
        const auto& [key, programmed] = *it;
        const auto& c = *a_.connections()->connection.find(key);
        const auto e = programmed && !c.fullCone ? entryOf(key, c) : std::nullopt;
        if (!e) {
            last_ = "no entry to hit for " + key.str();
            return;
        }
        const uint32_t pipe = rng_() % 2;
        last_ = "hit " + key.str() + " on pipe " + std::to_string(pipe);
        ASSERT_EQ(e->first->hitBitIs(e->second, true, pipe), VyrP4::ChipError::ok);
        hitSinceScan_.insert(*e);
    }

    // A scan of every dynamic table; now and then a connection changes while it is asked for.
    void scan() {
        dyn_->vyrNatHitBitSm()->scheduleHitBitPolling();
        if (rng_() % 2) {
            connection();
        }
        a_.run();
        last_ = "scan, then " + last_;
        // The scan saw the entries hit that still held their slot.
        scanned_.clear();
        for (const auto& e : hitSinceScan_) {
            bool bit = false;
            if (e.first->hitBit(e.second, bit) == VyrP4::ChipError::ok) {
                scanned_.insert(e);
            }
        }
        hitSinceScan_.clear();
    }

    std::string activity() {
        std::string out;
        auto& helper = a_.helper();
        for (const auto& [key, programmed] : a_.connectionsHw()->dynamicConnectionHw) {
            const auto& c = *a_.connections()->connection.find(key);
            if (!programmed || c.fullCone) {
                continue;
            }
            const auto e = entryOf(key, c);
            const uint64_t want = e && scanned_.count(*e) ? 1 : 0;
            const uint64_t got = key.sourceTranslation()
                                     ? helper.getDynamicSrcCountersSinceLastPoll(
                                           c.profile, key.tuple, false, key.vrfId)
                                     : helper.getDynamicDstCountersSinceLastPoll(
                                           c.profile, key.tuple, false, key.tuple.dst, key.vrfId);
            if (got != want) {
                out += key.str() + " reads " + std::to_string(got) + " active, not " +
                       std::to_string(want) + "\n";
            }
        }
        return out;
    }

    std::mt19937 rng_;
    NatAgent a_;
    std::set<EntryRef> hitSinceScan_;
    std::set<EntryRef> scanned_; // the entries the last scan found hit
    VyrNatTableMgrDynamic* dyn_ = nullptr;
    VyrNatTableMgrTwice* twice_ = nullptr;
    VyrNatTableMgrNatFlow* flow_ = nullptr;
    Faults faults_;
    Faults addFaults_;
    std::string last_;
};

TEST(NatRandomEndToEnd, ConnectionsTwiceNatAndFlowsThroughFaultsLeaveNothingBehind) {
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 6; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomDynamicNat r(seed);
        TestSupport::randomSteps(
            2000, [&] { return r.step(); }, [&] { return r.check(); });
        ASSERT_EQ(r.withdrawAll(), "");
    }
}

} // namespace
