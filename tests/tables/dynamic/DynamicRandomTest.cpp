// Random dynamic connections against a model of what the host asked for: SNAT and DNAT, with
// ports and address-only, full cone and not, updates, in two VRFs, over a small universe and
// small tables so that every table fills and keys collide, with table-full and no-resources
// faults on new entries. Full-cone DNAT connections, where the profile gives them their own
// table, share one entry per public address and port, counted by its connections. After every
// operation the manager's invariants hold, every connection the manager took is in the chip with
// the translation asked for, and the manager records exactly those; at the end everything is
// deleted and nothing is left.

#include "common/TranslationActions.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <tuple>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;
using Key = FlowAndVrfType;

// What one programmed connection must translate: the addresses of its create after the
// full-cone rewrite, and the match they were written with, which an update keeps.
struct Expect {
    IpAndPort src, dst, newIp;
    NextHop nextHop;
    MatchAddrs match = MatchAddrs::of(src, dst);
};

template <class Action, class Spec> constexpr bool holds = std::is_constructible_v<Action, Spec>;

// The action a table holds for `e`: SNAT translates the source, DNAT the destination, through
// the next hop where the table has one, with the port where the table has it.
template <class Action> Action wanted(bool dnat, const Expect& e) {
    using namespace VyrP4;
    if constexpr (holds<Action, SetTranslatedDipActionSpec>) {
        return translationByPort<SetTranslatedDipActionSpec, SetTranslatedDipPortActionSpec,
                                 Action>(e.dst, e.newIp);
    } else if constexpr (!holds<Action, SetTranslatedDipPortNextHopActionSpec> &&
                         holds<Action, SetTranslatedDipNextHopActionSpec>) {
        return dipTranslation<Action>(e.dst.ip, e.newIp.ip, e.nextHop);
    } else if constexpr (!holds<Action, SetTranslatedSipPortActionSpec> &&
                         holds<Action, SetTranslatedSipActionSpec>) {
        return addrTranslation<SetTranslatedSipActionSpec>(e.src.ip, e.newIp.ip);
    } else if constexpr (!holds<Action, SetTranslatedSipActionSpec>) {
        return dipPortTranslation<Action>(e.dst, e.newIp, e.nextHop);
    } else if constexpr (holds<Action, SetTranslatedDipNextHopActionSpec>) {
        return dnat ? dipPortTranslation<Action>(e.dst, e.newIp, e.nextHop)
                    : sipTranslation<Action>(e.src, e.newIp);
    } else {
        return sipTranslation<Action>(e.src, e.newIp);
    }
}

template <class Table>
std::string entryIs(const Table& table, const typename Table::MatchSpec& ms,
                    const typename Table::Action& want) {
    const auto e = table.entry(ms);
    if (!e) {
        return table.name() + " lacks " + ms.str() + "\n";
    }
    return e->action() == want ? "" : table.name() + " translates " + e->str() + "\n";
}

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
        const size_t what = pick(8);
        if (what < 6) {
            return connection(what % 2 == 1, what >= 4);
        }
        return what == 6 ? addrOnlySnat() : addrOnlyDnat();
    }

    // Every model entry in the chip with its translation, and nothing recorded beyond them.
    std::string check() const {
        std::string out = TestSupport::dynamicInvariants(*mgr_);
        for (bool dnat : {false, true}) {
            const auto& parts = partitioned(dnat);
            const auto& recs =
                dnat ? mgr_->dynamicDnatTable().size() : mgr_->dynamicSnatTable().size();
            if (recs + parts.flowToMatchSpecMap().size() != conns_[dnat].size()) {
                out += "records beyond the connections taken\n";
            }
            for (const auto& [key, e] : conns_[dnat]) {
                out += entryOf(dnat, key, e);
            }
        }
        const auto& snatRecs = mgr_->dynamicAddrOnlySnatKeyToMatchSpec();
        const auto& shareRecs = mgr_->dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount();
        if (snatRecs.size() != addrSnat_.size() || shareRecs.size() != shares_.size()) {
            out += "address-only records beyond the connections taken\n";
        }
        for (const auto& [key, e] : addrSnat_) {
            auto ms = snatRecs.find(key);
            out += ms == snatRecs.end()
                       ? "address-only SNAT not recorded\n"
                       : entryIs(*mgr_->dynamicAddrOnlySnatTable(), ms->second,
                                 wanted<VyrP4::DynamicAddrOnlySnatTable::Action>(false, e));
        }
        out += fullConeDnatEntries();
        for (const auto& [key, share] : shares_) {
            auto it = shareRecs.find(key);
            out += it == shareRecs.end() || it->second.refCount != share.users.size()
                       ? "shared address-only DNAT entry counts wrong\n"
                       : entryIs(*mgr_->dynamicAddrOnlyDnatTable(), it->second.matchSpec,
                                 wanted<VyrP4::DynamicAddrOnlyDnatTable::Action>(true, share.last));
        }
        return out;
    }

    void removeAll() {
        faults_.clear();
        for (bool dnat : {false, true}) {
            while (!conns_[dnat].empty()) {
                const Key key = conns_[dnat].begin()->first;
                remove(dnat, key.flow, false, key.vrfId, 1);
            }
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
        while (!fullConeDnat_.empty()) {
            const auto [profile, dst, protocol] = fullConeDnat_.begin()->first;
            removeFullConeDnat({{}, dst, protocol}, profile);
        }
    }

    std::string leftOver() const { return agent_.leftOver(); }
    uint64_t injected() const { return faults_.injected(); }
    uint64_t refused() const { return refused_; }
    uint64_t taken() const { return taken_; }

private:
    size_t pick(size_t n) { return size_t(rng_() % n); }
    uint16_t profile() { return uint16_t(1 + pick(2)); }
    IpAndPort endpoint(uint8_t net, uint16_t port) {
        return {IpAddr(net, 0, 0, uint8_t(1 + pick(2))), pick(2) ? port : uint16_t(53)};
    }
    ConnTuple randomFlow() {
        return {endpoint(10, 1000), endpoint(8, 1000), uint8_t(pick(2) ? 6 : 17)};
    }
    // Usually the flow's own address; now and then another, as a caller may pass.
    IpAndPort orOther(IpAndPort own) {
        return pick(20) == 0 ? IpAndPort{IpAddr(10, 0, 0, 3), own.port} : own;
    }
    IpAndPort newAddr(uint8_t net, bool withPort) {
        return {IpAddr(net, 1, 1, uint8_t(1 + pick(3))), uint16_t(withPort ? 7000 + pick(3) : 0)};
    }

    // The peer of a full-cone key is (0.0.0.0, profile): the destination for SNAT, the source
    // for DNAT.
    bool sharedKey(bool dnat, bool fullCone) const {
        return fullCone && (dnat ? caps_.dynFullConeSupported() || caps_.dynFullConeDnatSupported()
                                 : caps_.snatDynFullConeSupported());
    }
    bool helperTakes(bool dnat, bool fullCone) const {
        return dnat && fullCone && caps_.dynFullConeDnatSupported();
    }
    Key keyOf(bool dnat, ConnTuple flow, bool fullCone, uint32_t vrfId, uint16_t prof) const {
        if (sharedKey(dnat, fullCone)) {
            (dnat ? flow.src : flow.dst) = {IpAddr(0), prof};
        }
        return {flow, vrfId};
    }
    const DynamicNatPartitionedTable& partitioned(bool dnat) const {
        if (dnat) {
            return *mgr_->dynamicDnatPartitionedTable();
        }
        return *mgr_->dynamicSnatPartitionedTable();
    }

    // Runs a create and checks that a false one recorded nothing.
    template <class Create> bool create(Create&& call) {
        const auto before = counts();
        const std::size_t entries = agent_.chip->entryCount();
        const bool ok = call();
        ++(ok ? taken_ : refused_);
        if (!ok) {
            EXPECT_EQ(counts(), before);
            EXPECT_EQ(agent_.chip->entryCount(), entries);
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

    // A create, an update or a delete of a connection with ports.
    std::string connection(bool dnat, bool removing) {
        const ConnTuple flow = randomFlow();
        const bool fullCone = pick(3) == 0;
        const uint16_t prof = profile();
        if (helperTakes(dnat, fullCone)) {
            return removing ? removeFullConeDnat(flow, prof) : fullConeDnat(flow, prof);
        }
        const uint32_t vrfId = pick(50) == 0 ? 0x10001 : uint32_t(1 + pick(2));
        const Key key = keyOf(dnat, flow, fullCone, vrfId, prof);
        auto& conns = conns_[dnat];
        const bool had = conns.count(key) != 0;
        const bool update = dnat && had && pick(2) == 0;
        if (removing || (had && !update && !sharedKey(dnat, fullCone))) {
            return remove(dnat, flow, fullCone, vrfId, prof);
        }
        Expect e{dnat ? key.flow.src : orOther(flow.src), dnat ? orOther(flow.dst) : key.flow.dst,
                 newAddr(dnat ? 192 : 1, pick(4) != 0),
                 dnat ? NextHop{uint32_t(1 + pick(4)), pick(3) == 0} : NextHop{}};
        const bool ok = create([&] {
            return dnat
                       ? mgr_->createDynamicDnat(prof, flow, flow.src, e.dst, e.newIp, e.nextHop.id,
                                                 e.nextHop.ecmp, update, fullCone, vrfId)
                       : mgr_->createDynamicSnat(flow, e.src, flow.dst, e.newIp, prof, fullCone,
                                                 vrfId);
        });
        // A VRF too wide for the five-tuple tables' field is refused; partitions match none.
        const bool tooWide = vrfId > 0xffff && caps_.natInVrfSupported() &&
                             (dnat ? caps_.dnat1TableSize() : caps_.snat1TableSize()) != 0;
        EXPECT_FALSE(ok && ((had && !update) || tooWide));
        // An update rewrites what is there, which faults spare.
        EXPECT_TRUE(ok || !update) << key.str();
        // The partitions keep their first translation: their entries carry no next hop.
        if (ok && !(update && caps_.dnat1TableSize() == 0)) {
            if (update) {
                e.match = conns[key].match;
            }
            conns[key] = e;
        }
        return std::string(update ? "update "
                           : dnat ? "dnat "
                                  : "snat ") +
               key.str() + (ok ? " taken" : " refused");
    }

    std::string remove(bool dnat, ConnTuple flow, bool fullCone, uint32_t vrfId, uint16_t prof) {
        const Key key = keyOf(dnat, flow, fullCone, vrfId, prof);
        const bool ok = dnat ? mgr_->deleteDynamicDnat(prof, flow, flow.dst, fullCone, vrfId)
                             : mgr_->deleteDynamicSnat(prof, flow, flow.dst, fullCone, vrfId);
        EXPECT_EQ(ok, conns_[dnat].erase(key) == 1) << key.str();
        return std::string(dnat ? "delete dnat " : "delete snat ") + key.str();
    }

    // A full-cone DNAT connection to a public address and port joins the entry of that address
    // and port, which translates as the latest connection asked; an update rewrites it.
    std::string fullConeDnat(const ConnTuple& flow, uint16_t prof) {
        const IpAndPort dst = orOther(flow.dst);
        const FullConeDnatKey key{prof, dst, flow.protocol};
        const auto share = fullConeDnat_.find(key);
        const bool update = share != fullConeDnat_.end() && pick(2) == 0;
        const Expect e{flow.src, dst, newAddr(192, pick(4) != 0), {uint32_t(1 + pick(4)), false}};
        const bool ok = create([&] {
            return mgr_->createDynamicDnat(prof, flow, flow.src, dst, e.newIp, e.nextHop.id, false,
                                           update, true, uint32_t(1 + pick(2)));
        });
        EXPECT_TRUE(ok || !update) << "an update rewrites what is there, which faults spare";
        if (ok) {
            auto& s = fullConeDnat_[key];
            s.users += update ? 0 : 1;
            s.last = e;
        }
        return std::string(update ? "update" : "create") + " full-cone dnat " + dst.toString() +
               (ok ? " taken" : " refused");
    }
    // Whoever deletes, the helper answers true; an entry loses a user only when it has one.
    std::string removeFullConeDnat(const ConnTuple& flow, uint16_t prof) {
        EXPECT_TRUE(mgr_->deleteDynamicDnat(prof, flow, flow.dst, true, 1));
        const FullConeDnatKey key{prof, flow.dst, flow.protocol};
        if (auto it = fullConeDnat_.find(key);
            it != fullConeDnat_.end() && --it->second.users == 0) {
            fullConeDnat_.erase(it);
        }
        return "delete full-cone dnat " + flow.dst.toString();
    }
    std::string fullConeDnatEntries() const {
        const auto& helper = mgr_->dynamicFullConeDnatHelper();
        if (!helper) {
            return "";
        }
        std::string out;
        if (helper->dynamicFullConeDnat().size() != fullConeDnat_.size()) {
            out += "full-cone DNAT records beyond the connections taken\n";
        }
        for (const auto& [key, share] : fullConeDnat_) {
            const auto [profile, dst, protocol] = key;
            const auto k = helper->dynamicFullConeDnatKey(profile, dst, protocol);
            const auto* entry = k ? helper->dynamicFullConeDnat(*k) : nullptr;
            out += !entry || entry->refCount != share.users
                       ? "full-cone DNAT entry of " + dst.toString() + " counts wrong\n"
                       : entryIs(*helper->dynamicFullConeDnatTable(), entry->matchSpec,
                                 addrPortTranslation<VyrP4::SetTranslatedDipPortActionSpec>(
                                     dst, share.last.newIp));
        }
        return out;
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
        const Expect e{flow.src, flow.dst, newAddr(1, false), {}};
        if (create([&] {
                return mgr_->createDynamicAddrOnlySnat(flow, e.src, e.dst, e.newIp, key.profile);
            })) {
            addrSnat_[key] = e;
        }
        return "address-only snat";
    }

    std::string addrOnlyDnat() {
        ConnTuple flow = randomFlow();
        flow.src = {};
        flow.dst.port = 0;
        const FlowAndProfileType user{flow, profile()};
        const bool isUser = users_.count(user) != 0;
        if (pick(3) == 0) {
            // Only a user gives a reference back.
            EXPECT_EQ(mgr_->deleteDynamicAddrOnlyDnat(flow, flow.dst.ip, user.profile), isUser);
            if (isUser) {
                dropUser(user);
            }
            return "delete address-only dnat";
        }
        const Expect e{
            flow.src, flow.dst, newAddr(192, false), {uint32_t(1 + pick(4)), pick(2) == 0}};
        if (create([&] {
                return mgr_->createDynamicAddrOnlyDnat(flow, e.src, e.dst, e.newIp, e.nextHop.id,
                                                       e.nextHop.ecmp, isUser, user.profile);
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
        if (shares_[key].users.erase(user), shares_[key].users.empty()) {
            shares_.erase(key);
        }
    }

    // The connection's record, and the chip's entry under the match it was written with.
    std::string entryOf(bool dnat, const Key& key, const Expect& e) const {
        const uint8_t proto = key.flow.protocol;
        const auto& a = e.match;
        if ((dnat ? caps_.dnat1TableSize() : caps_.snat1TableSize()) == 0) {
            const auto rec = partitioned(dnat).flowToMatchSpecMap(key);
            if (!rec || !(rec->addrs == a)) {
                return "not in a partition: " + key.str() + "\n";
            }
            auto in = [&](const auto& parts) {
                const auto& table = *parts.typedPartition(rec->partitionId)->table();
                return entryIs(
                    table, parts.matchSpec(proto, a),
                    wanted<typename std::remove_cvref_t<decltype(table)>::Action>(dnat, e));
            };
            return dnat ? in(*mgr_->dynamicDnatPartitionedTable())
                        : in(*mgr_->dynamicSnatPartitionedTable());
        }
        auto in = [&](const auto& table) {
            using Table = std::remove_cvref_t<decltype(table)>;
            return entryIs(table, mgr_->matchSpec<typename Table::MatchSpec>(proto, a, key.vrfId),
                           wanted<typename Table::Action>(dnat, e));
        };
        const std::string missing = "not recorded: " + key.str() + "\n";
        if (dnat) {
            const auto found = mgr_->dynamicDnatTable().find(key.flow, key.vrfId);
            if (!found || !(found->addrs == a)) {
                return missing;
            }
            return found->place == DynamicDnatTable::dynDnat1Dnat ? in(*mgr_->dynamicDnat1Table())
                                                                  : in(*mgr_->dynamicDnat2Table());
        }
        const auto found = mgr_->dynamicSnatTable().find(key.flow, key.vrfId);
        if (!found || !(found->addrs == a)) {
            return missing;
        }
        switch (found->place) {
        case DynamicSnatTable::dynSnat1:
            return in(*mgr_->dynamicSnat1Table());
        case DynamicSnatTable::dynSnat2:
            return in(*mgr_->dynamicSnat2Table());
        default:
            return in(*mgr_->dynamicDnat1Table());
        }
    }

    std::mt19937_64 rng_;
    VyrP4::ProfileCapabilities caps_;
    BootedAgent agent_;
    VyrNatTableMgrDynamic* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::map<Key, Expect> conns_[2]; // SNAT, DNAT
    std::map<FlowAndProfileType, Expect> addrSnat_;
    struct Share {
        std::set<FlowAndProfileType> users;
        Expect last; // the shared entry follows the latest user
    };
    std::map<IpAndProfileType, Share> shares_;
    std::map<FlowAndProfileType, IpAndProfileType> users_;
    using FullConeDnatKey = std::tuple<uint16_t, IpAndPort, uint8_t>; // profile, dst, protocol
    struct FullConeShare {
        uint32_t users = 0;
        Expect last;
    };
    std::map<FullConeDnatKey, FullConeShare> fullConeDnat_;
    uint64_t refused_ = 0;
    uint64_t taken_ = 0;
};

TEST(DynamicMgrRandom, ConnectionsAgreeWithTheModelThroughFullTablesAndFaults) {
    using F = std::initializer_list<std::pair<const char*, const char*>>;
    const std::pair<const char*, Scenario::Scenario> profiles[] = {
        {"five-tuple tables",
         BootedAgent::scenarioFor("egressNat", F{{"dnat1TableSize", "8"},
                                                 {"dnat2TableSize", "6"},
                                                 {"snat1TableSize", "4"},
                                                 {"snat2TableSize", "4"},
                                                 {"dynamicAddrOnlySnatTableSize", "5"},
                                                 {"dynamicAddrOnlyDnatTableSize", "3"}})},
        {"no VRF in the match",
         BootedAgent::scenarioFor("egressNat", F{{"natInVrfSupported", "false"},
                                                 {"dnat1TableSize", "6"},
                                                 {"dnat2TableSize", "6"},
                                                 {"snat1TableSize", "5"},
                                                 {"snat2TableSize", "3"}})},
        {"full cone", BootedAgent::scenarioFor("default", F{{"dynFullConeDnatSupported", "false"},
                                                            {"dnat1TableSize", "8"},
                                                            {"dnat2TableSize", "4"},
                                                            {"snat1TableSize", "8"},
                                                            {"snat2TableSize", "4"}})},
        // Three public addresses for two range ids; more public ports than entries.
        {"full-cone DNAT",
         BootedAgent::scenarioFor("default", F{{"dnat1TableSize", "6"},
                                               {"dnat2TableSize", "6"},
                                               {"snat1TableSize", "6"},
                                               {"snat2TableSize", "6"},
                                               {"dynFullConeDnatRangeCount", "3"},
                                               {"dynFullConeDnatTableSize", "6"}})},
        {"partitions",
         BootedAgent::scenarioFor("partitioned", F{{"dnatPartitionBankSize", "4, 4"},
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
