#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "chip/Chip.h"
#include "chip/P4Tables.h"

namespace VyrP4 {
namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

// A chip whose tables used here hold `size` entries each.
std::shared_ptr<Chip> smallChip(std::uint32_t size) {
    ProfileCapabilities p;
    std::string error;
    for (const char* f : {"dynamicAddrOnlySnatTableSize", "natCpuTrapAclTableSize",
                          "snatAclTableSize", "twiceNatCpuTrapAclTableSize"}) {
        EXPECT_TRUE(p.fieldIs(f, std::to_string(size), error)) << error;
    }
    return chipFactory(p);
}

// The two match kinds, each through a real table of the program: an exact table that keeps hit
// bits, and a ternary table whose larger priority wins.
struct ExactKind {
    using Table = DynamicAddrOnlySnatTable;
    static std::shared_ptr<Table> make(Chip& chip) {
        return dynamicAddrOnlySnatTableFactory(nullptr, nullptr, chip.handle(), 0, 0, 0, "test");
    }
    static Table::MatchSpec match(std::uint32_t i) {
        Table::MatchSpec m;
        m.ingMdNatProfileIdIs(i % 3);
        m.outerIpv4HdrSipIs(ip(10, 0, 0, 0) + i);
        return m;
    }
    static Table::Action action(std::uint32_t v) {
        SetTranslatedSipActionSpec a;
        a.checksumDeltaIs(v);
        a.translatedSipIs(ip(192, 0, 2, 0) + v);
        return a;
    }
    // Random keys from a small space, so that installs also replace.
    static Table::MatchSpec randomMatch(std::mt19937& rng) { return match(rng() % 24); }
    static Table::MatchSpec randomPacket(std::mt19937& rng) { return match(rng() % 24); }
    static bool matches(const Table::MatchSpec& e, const Table::MatchSpec& p) { return e == p; }
    static bool better(const Table::MatchSpec&, const Table::MatchSpec&) { return false; }
};

struct TernaryKind {
    using Table = NatCpuTrapAclTable;
    static std::shared_ptr<Table> make(Chip& chip) {
        return natCpuTrapAclTableFactory(nullptr, nullptr, chip.handle(), 0, 0, 0, "test");
    }
    static Table::MatchSpec match(std::uint32_t i) {
        Table::MatchSpec m;
        m.ingMdIngNatProfileIdIs(i % 4, 0xfff);
        m.outerIpv4HdrDipIs(ip(10, 1, 0, 0) + (i << 8), 0xffffff00);
        m.priorityIs(std::int32_t(i % 5));
        return m;
    }
    static Table::Action action(std::uint32_t v) {
        if (v % 4 == 0) {
            return OnMissActionSpec{};
        }
        SetNatCpuTrapActionSpec a;
        a.trapDirEgrIs(v & 1);
        a.trapDirIngIs((v >> 1) & 1);
        return a;
    }
    // Overlapping prefixes of two lengths, some profiles wildcarded, a few priorities.
    static Table::MatchSpec randomMatch(std::mt19937& rng) {
        Table::MatchSpec m;
        const std::uint32_t profile = rng() % 3;
        m.ingMdIngNatProfileIdIs(profile, profile ? 0xfff : 0);
        const bool wide = rng() % 2;
        m.outerIpv4HdrDipIs(ip(10, 1, rng() % 4, 0), wide ? 0xfffffc00 : 0xffffff00);
        m.priorityIs(std::int32_t(rng() % 4));
        return m;
    }
    static Table::MatchSpec randomPacket(std::mt19937& rng) {
        Table::MatchSpec p;
        p.ingMdIngNatProfileIdIs(rng() % 3, 0);
        p.outerIpv4HdrDipIs(ip(10, 1, rng() % 6, rng() % 256), 0);
        return p;
    }
    static bool matches(const Table::MatchSpec& e, const Table::MatchSpec& p) {
        return ((e.ingMdIngNatProfileId() ^ p.ingMdIngNatProfileId()) &
                e.ingMdIngNatProfileIdMask()) == 0 &&
               ((e.outerIpv4HdrDip() ^ p.outerIpv4HdrDip()) & e.outerIpv4HdrDipMask()) == 0;
    }
    static bool better(const Table::MatchSpec& a, const Table::MatchSpec& b) {
        return a.priority() > b.priority();
    }
};

template <class Kind> class TableKindTest : public ::testing::Test {
protected:
    using Table = typename Kind::Table;
    using Entry = typename Table::Entry;
    std::shared_ptr<Chip> chip = smallChip(8);
    std::shared_ptr<Table> table = Kind::make(*chip);

    Entry entry(std::uint32_t i, std::uint32_t v) { return Entry(Kind::match(i), Kind::action(v)); }
};

using Kinds = ::testing::Types<ExactKind, TernaryKind>;
TYPED_TEST_SUITE(TableKindTest, Kinds);

// What the model run below does not see: handles across replace and delete, the order of
// entries(), the kinds of injected faults, and the full threshold below capacity.
TYPED_TEST(TableKindTest, HandlesOrderAndFaultKinds) {
    auto& t = *this->table;
    auto& engine = t.engine();
    for (std::uint32_t i = 1; i <= 3; ++i) {
        t.entryIs(this->entry(i, i));
    }
    const VyrSdkEntryHandle before = t.entryHandle(TypeParam::match(1));
    EXPECT_TRUE(before.valid());
    t.entryIs(this->entry(1, 2)); // a replace keeps the handle
    EXPECT_EQ(t.entryHandle(TypeParam::match(1)), before);
    t.entryDel(TypeParam::match(2));
    EXPECT_FALSE(t.entryHandle(TypeParam::match(2)).valid());
    // Exact: by key (profile 0 first); ternary: by priority (3 first).
    EXPECT_EQ(t.entries(), (std::vector{this->entry(3, 3), this->entry(1, 2)}));
    EXPECT_EQ(this->chip->entryCount(), 2u);

    engine.failNextWritesIs(2, ChipError::noSysResources);
    EXPECT_THROW(t.entryIs(this->entry(4, 1)), NoSysResources);
    EXPECT_THROW(t.entryIs(this->entry(1, 1)), NoSysResources); // a replace too
    t.entryIs(this->entry(4, 1));                               // the third write goes through
    engine.reportFullAtIs(3); // full below capacity, for new entries only
    try {
        t.entryIs(this->entry(5, 1));
        ADD_FAILURE() << "no fault";
    } catch (const TableFull& e) {
        EXPECT_STREQ(e.name(), "tableFull");
        EXPECT_EQ(e.error(), ChipError::tableFull);
    }
    t.entryIs(this->entry(1, 3));
    engine.faultsClear();
    t.entryIs(this->entry(5, 1));
    EXPECT_EQ(t.entryCount(), 4u);

    // An add never writes over a present entry; faults may be kept off replaces.
    const auto present = this->entry(5, 2);
    EXPECT_THROW(t.entryAdd(present.match(), present.action()), EntryExists);
    engine.failNextWritesIs(1);
    engine.replaceFaultsIs(false);
    t.entryIs(present);
    EXPECT_EQ(t.entry(present.match()), present);
    EXPECT_THROW(t.entryIs(this->entry(6, 1)), TableFull);
}

TYPED_TEST(TableKindTest, RandomOperationsAgreeWithAModel) {
    using Table = typename TypeParam::Table;
    using MatchSpec = typename Table::MatchSpec;
    using Action = typename Table::Action;
    auto& t = *this->table;
    const char* env = std::getenv("VYRNAT_SEED");
    const unsigned seed = env ? unsigned(std::stoul(env)) : 20240611u;
    SCOPED_TRACE("replay with VYRNAT_SEED=" + std::to_string(seed));
    std::mt19937 rng(seed);
    t.engine().failProbabilityIs(0.2, seed);

    struct Model {
        Action action;
        std::uint64_t seq;
    };
    std::map<MatchSpec, Model> model;
    std::uint64_t seq = 0;
    for (int step = 0; step < 4000; ++step) {
        const MatchSpec m = TypeParam::randomMatch(rng);
        if (rng() % 3) {
            const Action a = TypeParam::action(rng() % 8);
            auto it = model.find(m);
            const std::uint64_t injected = t.engine().injectedFaults();
            try {
                t.entryIs(m, a);
                ASSERT_TRUE(it != model.end() || model.size() < t.capacity());
                if (it != model.end()) {
                    it->second.action = a;
                } else {
                    model.emplace(m, Model{a, seq++});
                }
            } catch (const TableFull&) {
                ASSERT_TRUE(t.engine().injectedFaults() == injected + 1 ||
                            (it == model.end() && model.size() == t.capacity()));
            }
        } else {
            t.entryDel(m);
            model.erase(m);
        }
        ASSERT_EQ(t.entryCount(), model.size()) << "step " << step;
        const auto got = t.entry(m);
        const auto it = model.find(m);
        ASSERT_EQ(got.has_value(), it != model.end());
        if (got) {
            ASSERT_EQ(got->action(), it->second.action);
        }
        // The packet lookup: the best matching entry, the earliest installed on equal priority.
        const MatchSpec packet = TypeParam::randomPacket(rng);
        const typename std::map<MatchSpec, Model>::value_type* best = nullptr;
        for (const auto& kv : model) {
            if (!TypeParam::matches(kv.first, packet)) {
                continue;
            }
            if (!best || TypeParam::better(kv.first, best->first) ||
                (!TypeParam::better(best->first, kv.first) && kv.second.seq < best->second.seq)) {
                best = &kv;
            }
        }
        const auto hit = t.lookup(packet);
        ASSERT_EQ(hit.has_value(), best != nullptr) << "step " << step;
        if (hit) {
            ASSERT_EQ(hit->match(), best->first) << "step " << step;
        }
    }
    EXPECT_GT(t.engine().injectedFaults(), 0u);
    const std::vector<typename Table::Entry> all = t.entries();
    ASSERT_EQ(all.size(), model.size());
    for (const auto& e : all) {
        ASSERT_TRUE(model.count(e.match())) << e;
        EXPECT_EQ(model.at(e.match()).action, e.action()) << e;
    }
}

// The static ACLs are the tables where the lower priority wins, in lookups and in entries().
TEST(TernaryTable, LowerPriorityWinsWhereTheTableSaysSo) {
    auto chip = smallChip(16);
    auto acl = staticSnatAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    StaticSnatAclMatchSpec one, zero; // both match every packet
    one.priorityIs(1);
    acl->entryIs(one, SetSnatAclIdActionSpec{}); // installed first
    acl->entryIs(zero, SetSnatAclIdActionSpec{});
    EXPECT_EQ(acl->lookup(StaticSnatAclMatchSpec{})->match(), zero);
    EXPECT_EQ(acl->entries()[0].match(), zero);
}

// Bits outside the mask are part of the entry's identity but take no part in matching; exact
// fields of a ternary table match exactly.
TEST(TernaryTable, MaskedOutBitsAndExactFields) {
    auto chip = smallChip(16);
    auto trap = TernaryKind::make(*chip);
    auto rule = [](std::uint32_t dip) {
        NatCpuTrapAclMatchSpec m;
        m.outerIpv4HdrDipIs(dip, 0xffffff00);
        return m;
    };
    NatCpuTrapAclMatchSpec packet;
    packet.outerIpv4HdrDipIs(ip(10, 1, 2, 7), 0);
    trap->entryIs(rule(ip(10, 1, 2, 0)), OnMissActionSpec{});
    trap->entryIs(rule(ip(10, 1, 2, 99)), OnMissActionSpec{});
    EXPECT_EQ(trap->entryCount(), 2u);
    EXPECT_EQ(trap->lookup(packet)->match(), rule(ip(10, 1, 2, 0))); // the first installed
    trap->entryDel(rule(ip(10, 1, 2, 0)));
    EXPECT_EQ(trap->lookup(packet)->match(), rule(ip(10, 1, 2, 99)));

    auto twice = twiceNatCpuTrapAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    TwiceNatCpuTrapAclMatchSpec m;
    m.twiceMdAclIdIs(5);
    twice->entryIs(m, SetNatCpuTrapActionSpec{});
    m.outerIpv4HdrSipIs(ip(1, 2, 3, 4), 0);
    EXPECT_TRUE(twice->lookup(m));
    m.twiceMdAclIdIs(6);
    EXPECT_FALSE(twice->lookup(m));
}

TEST(HitBits, FollowTheEntryAcrossReplaceAndDelete) {
    auto chip = smallChip(4);
    auto t = ExactKind::make(*chip);
    auto hitOf = [&](VyrSdkEntryHandle h) {
        bool hit = true;
        const ChipError e = t->hitBit(h, hit);
        return std::string(chipErrorStr(e)) + (hit ? " hit" : "");
    };
    t->entryIs(ExactKind::match(1), ExactKind::action(1));
    const VyrSdkEntryHandle h = t->entryHandle(ExactKind::match(1));
    EXPECT_EQ(hitOf(h), "ok");
    // A packet sets the bit; a replace keeps it (same entry, same handle).
    EXPECT_TRUE(t->packetIs(ExactKind::match(1)));
    t->entryIs(ExactKind::match(1), ExactKind::action(2));
    EXPECT_EQ(hitOf(h), "ok hit");
    t->engine().hitBitsClear();
    EXPECT_EQ(hitOf(h), "ok");
    EXPECT_EQ(t->hitBitIs(h, true), ChipError::ok);
    EXPECT_EQ(hitOf(h), "ok hit");

    // After a delete the old handle is stale, even once its slot holds another entry.
    t->entryDel(ExactKind::match(1));
    t->entryIs(ExactKind::match(2), ExactKind::action(1));
    const VyrSdkEntryHandle h2 = t->entryHandle(ExactKind::match(2));
    EXPECT_EQ(h2.slot, h.slot);
    EXPECT_EQ(t->hitBitIs(h, true), ChipError::staleHandle);
    EXPECT_EQ(hitOf(h), "staleHandle");
    EXPECT_EQ(hitOf(h2), "ok");
    EXPECT_EQ(hitOf(VyrSdkEntryHandle{}), "invalidHandle");
    EXPECT_EQ(hitOf(VyrSdkEntryHandle{1000, 1}), "invalidHandle");

    // A table without hit bits says so.
    auto trap = TernaryKind::make(*chip);
    trap->entryIs(TernaryKind::match(1), TernaryKind::action(1));
    bool hit;
    EXPECT_EQ(trap->hitBit(trap->entryHandle(TernaryKind::match(1)), hit), ChipError::noHitBits);
}

// What a tool keeps from the observer's reports alone stays the chip's contents: each change is
// told once, with the entry as it was and as it is, for tables made before and after.
TEST(Observer, ReportsKeepACopyOfTheContentsExact) {
    auto chip = smallChip(2);
    auto before = ExactKind::make(*chip);
    std::multiset<std::string> copy;
    std::map<EntryChange, int> changes;
    chip->entryObserverIs(
        [&](const TableEngine& t, EntryChange c, const EntryView* was, const EntryView* is) {
            ++changes[c];
            if (was) {
                auto it = copy.find(t.entryStr(*was));
                ASSERT_NE(it, copy.end()) << t.entryStr(*was);
                copy.erase(it);
            }
            if (is) {
                copy.insert(t.entryStr(*is));
            }
        });
    auto after = TernaryKind::make(*chip);
    auto contents = [&] {
        std::multiset<std::string> all;
        for (const TableEngine* t : chip->tables()) {
            for (const EntryView& e : t->entries()) {
                all.insert(t->entryStr(e));
            }
        }
        return all;
    };
    before->entryIs(ExactKind::match(1), ExactKind::action(1));
    after->entryIs(TernaryKind::match(1), TernaryKind::action(1));
    EXPECT_EQ(copy, contents());
    before->entryIs(ExactKind::match(1), ExactKind::action(2));
    after->entryIs(TernaryKind::match(1), TernaryKind::action(2));
    EXPECT_TRUE(before->packetIs(ExactKind::match(1)));
    EXPECT_EQ(copy, contents());
    before->entryIs(ExactKind::match(2), ExactKind::action(1));
    EXPECT_THROW(before->entryIs(ExactKind::match(3), ExactKind::action(1)), TableFull);
    before->engine().hitBitsClear();
    before->entryDel(ExactKind::match(1));
    after->entryDel(TernaryKind::match(1));
    EXPECT_EQ(copy, contents());
    EXPECT_EQ(changes, (std::map<EntryChange, int>{{EntryChange::added, 3},
                                                   {EntryChange::replaced, 2},
                                                   {EntryChange::removed, 2},
                                                   {EntryChange::hit, 2},
                                                   {EntryChange::refused, 1}}));
}

TEST(Inspection, SpecsPrintReadablyAndTheChipDumpsNonEmptyTables) {
    auto chip = smallChip(4);
    auto snat = ExactKind::make(*chip);
    staticSnatAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "x"); // stays empty
    snat->entryIs(ExactKind::match(5), ExactKind::action(26));
    TernaryKind::make(*chip)->entryIs(TernaryKind::match(1), TernaryKind::action(4));
    EXPECT_EQ(ExactKind::match(5).str(),
              "DynamicAddrOnlySnatMatchSpec(ingMdNatProfileId=2, outerIpv4HdrSip=10.0.0.5)");
    EXPECT_EQ(
        chip->dump(),
        "dynamicAddrOnlySnat: 1 of 4 entries\n"
        "  ingMdNatProfileId=2, outerIpv4HdrSip=10.0.0.5 => "
        "SetTranslatedSip(checksumDelta=0x1a, translatedSip=192.0.2.26) handle=0v1\n"
        "natCpuTrapAcl: 1 of 4 entries\n"
        "  ingMdIngNatProfileId=1/0xfff, ingMdEgrNatProfileId=0/0x0, ingMdNatRvsTrap=0/0x0, "
        "l4PortHdrDstPort=0/0x0, l4PortHdrSrcPort=0/0x0, outerIpv4HdrDip=10.1.1.0/0xffffff00, "
        "outerIpv4HdrProtocol=0/0x0, outerIpv4HdrSip=0.0.0.0/0x0, priority=1 => OnMiss()\n");
    // Making a table again gives the same entries.
    EXPECT_EQ(ExactKind::make(*chip)->entry(ExactKind::match(5)), snat->entry(ExactKind::match(5)));
}

TEST(Specs, FieldsKeepTheirWidthAndPrioritiesTheirSign) {
    EgrUcSnatMatchSpec m;
    m.egrMdSnatAclIdIs(0x12345); // a 16-bit field keeps the low 16 bits
    m.priorityIs(-1);
    EXPECT_EQ(m.egrMdSnatAclId(), 0x2345);
    EXPECT_EQ(m.egrMdNatProfileId(), 0); // the field above it is untouched
    EXPECT_EQ(m.priority(), -1);
}

} // namespace
} // namespace VyrP4
