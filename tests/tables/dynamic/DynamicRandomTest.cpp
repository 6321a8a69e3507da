// Random dynamic connections against a model of what the host asked for: SNAT and DNAT, with
// ports and address-only, full cone and not, updates, in two VRFs, over a small universe and
// small tables so that every table fills and keys collide, with table-full and no-resources
// faults on new entries. After every operation the manager's invariants hold, every connection
// the manager took is in the chip with the translation asked for, and the manager records
// exactly those; at the end everything is deleted and nothing is left.

#include "common/TranslationActions.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

// What one programmed connection must translate.
struct Expect {
    IpAndPort src, dst, newIp; // the addresses of the create, after the full-cone rewrite
    uint32_t nextHop = 0;
    bool ecmp = false;
    // The match's addresses: those of the create; an update keeps them.
    MatchAddrs match = MatchAddrs::of(src, dst);
};

struct Share {
    std::set<FlowAndProfileType> users;
    Expect last; // the shared entry follows the latest user
};

class RandomDynamic {
public:
    RandomDynamic(Scenario::Scenario s, uint64_t seed)
        : rng_(seed), caps_(s.profile), agent_(std::move(s)) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrDynamic();
        for (const auto* t : agent_.chip->tables()) {
            if (std::string(t->name()).rfind("dynamic", 0) == 0) {
                faults_.add(*agent_.chip->table(t->name()));
            }
        }
    }

    std::string step() {
        if (pick(500) == 0) {
            faults_.change(rng_, 0.1, false);
        }
        switch (pick(8)) {
        case 0:
        case 1:
            return snat();
        case 2:
            return removeSnat(randomFlow(), pick(2) == 0);
        case 3:
        case 4:
            return dnat();
        case 5:
            return removeDnat(randomFlow(), pick(2) == 0);
        case 6:
            return addrOnlySnat();
        default:
            return addrOnlyDnat();
        }
    }

    // Every model entry in the chip with its translation, and nothing recorded beyond them.
    std::string check() const {
        std::string out = TestSupport::dynamicInvariants(*mgr_);
        const auto& sp = *mgr_->dynamicSnatPartitionedTable();
        const auto& dp = *mgr_->dynamicDnatPartitionedTable();
        if (mgr_->dynamicSnatTable().size() + sp.flowToMatchSpecMap().size() != snat_.size() ||
            mgr_->dynamicDnatTable().size() + dp.flowToMatchSpecMap().size() != dnat_.size()) {
            out += "records beyond the connections taken\n";
        }
        for (const auto& [key, e] : snat_) {
            out += snatEntry(key, e);
        }
        for (const auto& [key, e] : dnat_) {
            out += dnatEntry(key, e);
        }
        if (mgr_->dynamicAddrOnlySnatKeyToMatchSpec().size() != addrSnat_.size()) {
            out += "address-only SNAT records beyond the connections taken\n";
        }
        for (const auto& [key, e] : addrSnat_) {
            auto ms = mgr_->dynamicAddrOnlySnatKeyToMatchSpec().find(key);
            if (ms == mgr_->dynamicAddrOnlySnatKeyToMatchSpec().end()) {
                out += "address-only SNAT not recorded\n";
                continue;
            }
            out +=
                entryIs(*mgr_->dynamicAddrOnlySnatTable(), ms->second,
                        addrTranslation<VyrP4::SetTranslatedSipActionSpec>(e.src.ip, e.newIp.ip));
        }
        for (const auto& [key, share] : shares_) {
            const auto& rec = mgr_->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount();
            auto it = rec.find(key);
            if (it == rec.end() || it->second.refCount != share.users.size()) {
                out += "shared address-only DNAT entry counts wrong\n";
                continue;
            }
            const Expect& e = share.last;
            out += entryIs(*mgr_->dynamicAddrOnlyDnatTable(), it->second.matchSpec,
                           dipTranslation<VyrP4::DynamicAddrOnlyDnatTable::Action>(
                               e.dst.ip, e.newIp.ip, NextHop{e.nextHop, e.ecmp}));
        }
        if (mgr_->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount().size() != shares_.size()) {
            out += "shared address-only DNAT entries beyond the users\n";
        }
        return out;
    }

    void removeAll() {
        faults_.clear();
        while (!snat_.empty()) {
            removeSnat(snat_.begin()->first.flow, false, snat_.begin()->first.vrfId);
        }
        while (!dnat_.empty()) {
            removeDnat(dnat_.begin()->first.flow, false, dnat_.begin()->first.vrfId);
        }
        while (!addrSnat_.empty()) {
            const auto key = addrSnat_.begin()->first;
            EXPECT_TRUE(mgr_->deleteDynamicAddrOnlySnat(key.flow, key.profile));
            addrSnat_.erase(key);
        }
        while (!users_.empty()) {
            const auto user = users_.begin()->first;
            EXPECT_TRUE(mgr_->deleteDynamicAddrOnlyDnat(user.flow, user.flow.dst.ip, user.profile));
            dropUser(user);
        }
    }

    std::string leftOver() const { return agent_.leftOver(); }
    uint64_t injected() const { return faults_.injected(); }
    uint64_t refused() const { return refused_; }
    uint64_t taken() const { return taken_; }

private:
    using Key = FlowAndVrfType;

    size_t pick(size_t n) { return size_t(rng_() % n); }
    uint16_t profile() { return uint16_t(1 + pick(2)); }
    uint32_t vrf() { return pick(50) == 0 ? 0x10001 : uint32_t(1 + pick(2)); }
    IpAndPort endpoint(const char* const (&ips)[2], const uint16_t (&ports)[2]) {
        return {*IpAddr::parse(ips[pick(2)]), ports[pick(2)]};
    }
    ConnTuple randomFlow() {
        static const char* const inside[] = {"10.0.0.1", "10.0.0.2"};
        static const char* const outside[] = {"8.8.8.8", "9.9.9.9"};
        static const uint16_t ports[] = {1000, 53};
        return {endpoint(inside, ports), endpoint(outside, ports), uint8_t(pick(2) ? 6 : 17)};
    }
    // Usually the flow's own address; now and then another, as a caller may pass.
    IpAndPort orOther(IpAndPort own) {
        return pick(20) == 0 ? IpAndPort{IpAddr(10, 0, 0, 3), own.port} : own;
    }
    IpAndPort newAddr(bool withPort) {
        return {IpAddr(1, 1, 1, uint8_t(1 + pick(3))), uint16_t(withPort ? 7000 + pick(3) : 0)};
    }

    bool snatSharedKey(bool fullCone) const { return fullCone && caps_.snatDynFullConeSupported(); }
    bool dnatSharedKey(bool fullCone) const {
        return fullCone && (caps_.dynFullConeSupported() || caps_.dynFullConeDnatSupported());
    }
    static IpAndPort peer(uint16_t profile) { return {IpAddr(0), profile}; }

    // Runs a create and checks that a false one recorded nothing.
    template <class Create> bool create(Create&& call) {
        const auto before = counts();
        const std::size_t entries = agent_.chip->entryCount();
        const bool ok = call();
        if (!ok) {
            ++refused_;
            EXPECT_EQ(counts(), before);
            EXPECT_EQ(agent_.chip->entryCount(), entries);
        } else {
            ++taken_;
        }
        return ok;
    }
    std::vector<std::size_t> counts() const {
        std::vector<std::size_t> c;
        for (const auto& r : mgr_->recordCounts()) {
            c.push_back(r.count);
        }
        return c;
    }

    std::string snat() {
        ConnTuple flow = randomFlow();
        IpAndPort src = orOther(flow.src);
        IpAndPort dst = flow.dst;
        const bool fullCone = pick(3) == 0;
        const uint16_t prof = profile();
        const uint32_t vrfId = vrf();
        const IpAndPort newSrc = newAddr(pick(4) != 0);
        Key key{flow, vrfId};
        if (snatSharedKey(fullCone)) {
            key.flow.dst = dst = peer(prof);
        }
        const bool had = snat_.count(key) != 0;
        if (had && !snatSharedKey(fullCone)) {
            return removeSnat(flow, fullCone, vrfId, prof);
        }
        const bool ok = create([&] {
            return mgr_->createDynamicSnat(flow, src, flow.dst, newSrc, prof, fullCone, vrfId);
        });
        // A VRF too wide for the five-tuple tables' field is refused; partitions match none.
        const bool tooWide =
            vrfId > 0xffff && caps_.natInVrfSupported() && caps_.snat1TableSize() != 0;
        EXPECT_FALSE(ok && (had || tooWide));
        if (ok) {
            snat_[key] = Expect{src, dst, newSrc};
        }
        return "snat " + key.str() + (ok ? " taken" : " refused");
    }

    std::string removeSnat(ConnTuple flow, bool fullCone, uint32_t vrfId = 1, uint16_t prof = 1) {
        Key key{flow, vrfId};
        if (snatSharedKey(fullCone)) {
            key.flow.dst = peer(prof);
        }
        const bool ok = mgr_->deleteDynamicSnat(prof, flow, flow.dst, fullCone, vrfId);
        EXPECT_EQ(ok, snat_.erase(key) == 1) << key.str();
        return "delete snat " + key.str();
    }

    std::string dnat() {
        ConnTuple flow = randomFlow();
        IpAndPort src = flow.src;
        const IpAndPort dstOld = orOther(flow.dst);
        const bool fullCone = pick(3) == 0;
        const uint16_t prof = profile();
        const uint32_t vrfId = vrf();
        const IpAndPort dstNew = {IpAddr(192, 168, 0, uint8_t(1 + pick(3))),
                                  uint16_t(pick(4) ? 80 + pick(2) : 0)};
        const uint32_t nextHop = uint32_t(1 + pick(4));
        const bool ecmp = pick(3) == 0;
        Key key{flow, vrfId};
        if (dnatSharedKey(fullCone)) {
            key.flow.src = src = peer(prof);
        }
        const bool had = dnat_.count(key) != 0;
        const bool update = had && pick(2) == 0;
        if (had && !update && !dnatSharedKey(fullCone)) {
            return removeDnat(flow, fullCone, vrfId, prof);
        }
        const bool ok = create([&] {
            return mgr_->createDynamicDnat(prof, flow, flow.src, dstOld, dstNew, nextHop, ecmp,
                                           update, fullCone, vrfId);
        });
        const bool helperTakes = fullCone && caps_.dynFullConeDnatSupported();
        if (update && !helperTakes) {
            // An update rewrites what is there; faults spare it.
            EXPECT_TRUE(ok) << key.str();
        }
        EXPECT_FALSE(ok && helperTakes);
        // The partitions keep their first translation: their entries carry no next hop.
        if (ok && !(update && caps_.dnat1TableSize() == 0)) {
            Expect e{src, dstOld, dstNew, nextHop, ecmp};
            if (update) {
                e.match = dnat_[key].match;
            }
            dnat_[key] = e;
        }
        return std::string(update ? "update" : "dnat") + " " + key.str() +
               (ok ? " taken" : " refused");
    }

    std::string removeDnat(ConnTuple flow, bool fullCone, uint32_t vrfId = 1, uint16_t prof = 1) {
        Key key{flow, vrfId};
        if (dnatSharedKey(fullCone)) {
            key.flow.src = peer(prof);
        }
        const bool ok = mgr_->deleteDynamicDnat(prof, flow, flow.dst, fullCone, vrfId);
        const bool helperTakes = fullCone && caps_.dynFullConeDnatSupported();
        EXPECT_EQ(ok, !helperTakes && dnat_.erase(key) == 1) << key.str();
        return "delete dnat " + key.str();
    }

    std::string addrOnlySnat() {
        ConnTuple flow = randomFlow();
        flow.src.port = 0;
        flow.dst = {};
        const FlowAndProfileType key{flow, profile()};
        if (addrSnat_.count(key)) {
            EXPECT_TRUE(mgr_->deleteDynamicAddrOnlySnat(flow, key.profile));
            addrSnat_.erase(key);
            return "delete address-only snat";
        }
        const IpAndPort newSrc = newAddr(false);
        if (create([&] {
                return mgr_->createDynamicAddrOnlySnat(flow, flow.src, flow.dst, newSrc,
                                                       key.profile);
            })) {
            addrSnat_[key] = Expect{flow.src, flow.dst, newSrc};
        }
        return "address-only snat";
    }

    std::string addrOnlyDnat() {
        ConnTuple flow = randomFlow();
        flow.src = {};
        flow.dst.port = 0;
        const FlowAndProfileType user{flow, profile()};
        const bool isUser = users_.count(user) != 0;
        if (isUser && pick(2) == 0) {
            EXPECT_TRUE(mgr_->deleteDynamicAddrOnlyDnat(flow, flow.dst.ip, user.profile));
            dropUser(user);
            return "delete address-only dnat";
        }
        if (!isUser && pick(4) == 0) {
            EXPECT_FALSE(mgr_->deleteDynamicAddrOnlyDnat(flow, flow.dst.ip, user.profile));
            return "delete address-only dnat of no user";
        }
        const Expect e{flow.src,
                       flow.dst,
                       {IpAddr(192, 168, 1, uint8_t(1 + pick(3))), 0},
                       uint32_t(1 + pick(4)),
                       pick(2) == 0};
        if (create([&] {
                return mgr_->createDynamicAddrOnlyDnat(flow, flow.src, flow.dst, e.newIp, e.nextHop,
                                                       e.ecmp, isUser, user.profile);
            })) {
            const IpAndProfileType key{flow.dst.ip, user.profile};
            shares_[key].users.insert(user);
            shares_[key].last = e;
            users_[user] = key;
        }
        return std::string(isUser ? "update" : "create") + " address-only dnat";
    }

    void dropUser(const FlowAndProfileType& user) {
        const IpAndProfileType key = users_.at(user);
        users_.erase(user);
        shares_[key].users.erase(user);
        if (shares_[key].users.empty()) {
            shares_.erase(key);
        }
    }

    template <class Table>
    static std::string entryIs(const Table& table, const typename Table::MatchSpec& ms,
                               const typename Table::Action& want) {
        const auto e = table.entry(ms);
        if (!e) {
            return table.name() + " lacks " + ms.str() + "\n";
        }
        if (!(e->action() == want)) {
            return table.name() + " translates " + e->str() + "\n";
        }
        return "";
    }

    std::string snatEntry(const Key& key, const Expect& e) const {
        const MatchAddrs addrs = e.match;
        const uint8_t proto = key.flow.protocol;
        if (caps_.snat1TableSize() == 0) {
            const auto& parts = *mgr_->dynamicSnatPartitionedTable();
            const auto rec = parts.flowToMatchSpecMap(key);
            if (!rec || !(rec->addrs == addrs)) {
                return "SNAT not in a partition: " + key.str() + "\n";
            }
            return entryIs(
                *parts.typedPartition(rec->partitionId)->table(), parts.matchSpec(proto, addrs),
                sipTranslation<VyrP4::DynamicSnatPartitionCmnTable::Action>(e.src, e.newIp));
        }
        const auto found = mgr_->dynamicSnatTable().find(key.flow, key.vrfId);
        if (!found || !(found->addrs == addrs)) {
            return "SNAT not recorded: " + key.str() + "\n";
        }
        switch (found->place) {
        case DynamicSnatTable::dynSnat1:
            return entryIs(*mgr_->dynamicSnat1Table(),
                           mgr_->matchSpec<VyrP4::DynamicSnat1MatchSpec>(proto, addrs, key.vrfId),
                           sipTranslation<VyrP4::DynamicSnat1Table::Action>(e.src, e.newIp));
        case DynamicSnatTable::dynSnat2:
            return entryIs(*mgr_->dynamicSnat2Table(),
                           mgr_->matchSpec<VyrP4::DynamicSnat2MatchSpec>(proto, addrs, key.vrfId),
                           sipTranslation<VyrP4::DynamicSnat2Table::Action>(e.src, e.newIp));
        default:
            return entryIs(*mgr_->dynamicDnat1Table(),
                           mgr_->matchSpec<VyrP4::DynamicDnat1MatchSpec>(proto, addrs, key.vrfId),
                           sipTranslation<VyrP4::DynamicDnat1Table::Action>(e.src, e.newIp));
        }
    }

    std::string dnatEntry(const Key& key, const Expect& e) const {
        const MatchAddrs addrs = e.match;
        const uint8_t proto = key.flow.protocol;
        const NextHop nh{e.nextHop, e.ecmp};
        if (caps_.dnat1TableSize() == 0) {
            const auto& parts = *mgr_->dynamicDnatPartitionedTable();
            const auto rec = parts.flowToMatchSpecMap(key);
            if (!rec || !(rec->addrs == addrs)) {
                return "DNAT not in a partition: " + key.str() + "\n";
            }
            using Action = VyrP4::DynamicDnatPartitionCmnTable::Action;
            return entryIs(
                *parts.typedPartition(rec->partitionId)->table(), parts.matchSpec(proto, addrs),
                translationByPort<VyrP4::SetTranslatedDipActionSpec,
                                  VyrP4::SetTranslatedDipPortActionSpec, Action>(e.dst, e.newIp));
        }
        const auto found = mgr_->dynamicDnatTable().find(key.flow, key.vrfId);
        if (!found || !(found->addrs == addrs)) {
            return "DNAT not recorded: " + key.str() + "\n";
        }
        if (found->place == DynamicDnatTable::dynDnat1Dnat) {
            return entryIs(
                *mgr_->dynamicDnat1Table(),
                mgr_->matchSpec<VyrP4::DynamicDnat1MatchSpec>(proto, addrs, key.vrfId),
                dipPortTranslation<VyrP4::DynamicDnat1Table::Action>(e.dst, e.newIp, nh));
        }
        return entryIs(*mgr_->dynamicDnat2Table(),
                       mgr_->matchSpec<VyrP4::DynamicDnat2MatchSpec>(proto, addrs, key.vrfId),
                       dipPortTranslation<VyrP4::DynamicDnat2Table::Action>(e.dst, e.newIp, nh));
    }

    std::mt19937_64 rng_;
    VyrP4::ProfileCapabilities caps_;
    BootedAgent agent_;
    VyrNatTableMgrDynamic* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::map<Key, Expect> snat_;
    std::map<Key, Expect> dnat_;
    std::map<FlowAndProfileType, Expect> addrSnat_;
    std::map<IpAndProfileType, Share> shares_;
    std::map<FlowAndProfileType, IpAndProfileType> users_;
    uint64_t refused_ = 0;
    uint64_t taken_ = 0;
};

TEST(DynamicMgrRandom, ConnectionsAgreeWithTheModelThroughFullTablesAndFaults) {
    const std::pair<const char*, Scenario::Scenario> profiles[] = {
        {"five-tuple tables",
         BootedAgent::scenarioFor("egressNat", {{"dnat1TableSize", "8"},
                                                {"dnat2TableSize", "6"},
                                                {"snat1TableSize", "4"},
                                                {"snat2TableSize", "4"},
                                                {"dynamicAddrOnlySnatTableSize", "5"},
                                                {"dynamicAddrOnlyDnatTableSize", "3"}})},
        {"no VRF in the match",
         BootedAgent::scenarioFor("egressNat", {{"natInVrfSupported", "false"},
                                                {"dnat1TableSize", "6"},
                                                {"dnat2TableSize", "6"},
                                                {"snat1TableSize", "5"},
                                                {"snat2TableSize", "3"}})},
        {"full cone", BootedAgent::scenarioFor("default", {{"dynFullConeDnatSupported", "false"},
                                                           {"dnat1TableSize", "8"},
                                                           {"dnat2TableSize", "4"},
                                                           {"snat1TableSize", "8"},
                                                           {"snat2TableSize", "4"}})},
        {"full-cone DNAT", BootedAgent::scenarioFor("default", {{"dnat1TableSize", "6"},
                                                                {"dnat2TableSize", "6"},
                                                                {"snat1TableSize", "6"},
                                                                {"snat2TableSize", "6"}})},
        {"partitions",
         BootedAgent::scenarioFor("partitioned", {{"dnatPartitionBankSize", "4, 4"},
                                                  {"snatPartitionBankSize", "3, 0, 5"},
                                                  {"dynamicAddrOnlySnatTableSize", "4"}})},
    };
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned i = 0; i < std::size(profiles); ++i) {
        const unsigned seed = first + i;
        SCOPED_TRACE(std::string(profiles[i].first) + ", " + TestSupport::seedNote(seed));
        RandomDynamic r(profiles[i].second, seed);
        TestSupport::randomSteps(
            21000, [&] { return r.step(); }, [&] { return r.check(); });
        EXPECT_GT(r.injected(), 0u);
        EXPECT_GT(r.refused(), 1000u) << "tables that never fill";
        EXPECT_GT(r.taken(), 1000u);
        r.removeAll();
        ASSERT_EQ(r.check(), "");
        EXPECT_EQ(r.leftOver(), "");
    }
}

} // namespace
