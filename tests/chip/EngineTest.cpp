#include <gtest/gtest.h>

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

TYPED_TEST(TableKindTest, InstallReplaceDelete) {
    auto& t = *this->table;
    EXPECT_EQ(t.capacity(), 8u);
    for (std::uint32_t i = 1; i <= 3; ++i) {
        t.entryIs(this->entry(i, i));
        EXPECT_EQ(t.entryCount(), i);
    }
    EXPECT_EQ(t.entry(TypeParam::match(2)), this->entry(2, 2));
    EXPECT_FALSE(t.entry(TypeParam::match(4)));

    // A replace keeps the count and the handle and changes only the action.
    const VyrSdkEntryHandle before = t.entryHandle(TypeParam::match(1));
    EXPECT_TRUE(before.valid());
    t.entryIs(this->entry(1, 2));
    EXPECT_EQ(t.entryCount(), 3u);
    EXPECT_EQ(t.entry(TypeParam::match(1)), this->entry(1, 2));
    EXPECT_EQ(t.entryHandle(TypeParam::match(1)), before);

    t.entryDel(TypeParam::match(2));
    EXPECT_EQ(t.entryCount(), 2u);
    EXPECT_FALSE(t.entry(TypeParam::match(2)));
    EXPECT_FALSE(t.entryHandle(TypeParam::match(2)).valid());
    t.entryDel(TypeParam::match(2)); // deleting what is not there changes nothing
    EXPECT_EQ(t.entryCount(), 2u);

    // Exact: by key (profile 0 first); ternary: by priority (3 first).
    const auto all = t.entries();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0], this->entry(3, 3));
    EXPECT_EQ(all[1], this->entry(1, 2));
    EXPECT_EQ(this->chip->entryCount(), 2u);
}

TYPED_TEST(TableKindTest, FullExactlyAtCapacity) {
    auto& t = *this->table;
    for (std::uint32_t i = 0; i < 8; ++i) {
        t.entryIs(this->entry(i, 1));
    }
    EXPECT_EQ(t.entryCount(), 8u);
    EXPECT_THROW(t.entryIs(this->entry(8, 1)), TableFull);
    EXPECT_EQ(t.entryCount(), 8u);
    EXPECT_FALSE(t.entry(TypeParam::match(8)));
    // A full table still takes replacements, and room made by a delete.
    t.entryIs(this->entry(3, 2));
    EXPECT_EQ(t.entry(TypeParam::match(3)), this->entry(3, 2));
    t.entryDel(TypeParam::match(0));
    t.entryIs(this->entry(8, 1));
    EXPECT_EQ(t.entryCount(), 8u);
    try {
        t.entryIs(this->entry(9, 1));
        FAIL() << "no fault";
    } catch (const TableFull& e) {
        EXPECT_STREQ(e.name(), "tableFull");
        EXPECT_EQ(e.error(), ChipError::tableFull);
    }
}

TYPED_TEST(TableKindTest, InjectedFaultsLeaveTheTableUnchanged) {
    auto& t = *this->table;
    auto& engine = t.engine();
    t.entryIs(this->entry(1, 1));
    t.entryIs(this->entry(2, 1));
    const auto before = t.entries();

    engine.failNextWritesIs(2, ChipError::noSysResources);
    EXPECT_THROW(t.entryIs(this->entry(3, 1)), NoSysResources); // an install
    EXPECT_THROW(t.entryIs(this->entry(1, 2)), NoSysResources); // a replace
    EXPECT_EQ(t.entries(), before);
    EXPECT_EQ(engine.injectedFaults(), 2u);
    t.entryIs(this->entry(3, 1)); // the third write goes through
    EXPECT_EQ(t.entryCount(), 3u);

    // Full below capacity.
    engine.reportFullAtIs(3);
    EXPECT_THROW(t.entryIs(this->entry(4, 1)), TableFull);
    t.entryIs(this->entry(1, 3)); // replacing needs no room
    EXPECT_EQ(t.entryCount(), 3u);
    engine.faultsClear();
    t.entryIs(this->entry(4, 1));
    EXPECT_EQ(t.entryCount(), 4u);

    // Probability 1 fails every write, 0 none.
    engine.failProbabilityIs(1.0, 7);
    const auto full = t.entries();
    EXPECT_THROW(t.entryIs(this->entry(5, 1)), TableFull);
    EXPECT_THROW(t.entryIs(this->entry(1, 1)), TableFull);
    EXPECT_EQ(t.entries(), full);
    engine.failProbabilityIs(0.0, 7);
    t.entryIs(this->entry(5, 1));
    EXPECT_EQ(t.entryCount(), 5u);
}

TYPED_TEST(TableKindTest, RandomOperationsAgreeWithAModel) {
    using Table = typename TypeParam::Table;
    using MatchSpec = typename Table::MatchSpec;
    using Action = typename Table::Action;
    auto& t = *this->table;
    std::mt19937 rng(20240611);
    t.engine().failProbabilityIs(0.2, 99);

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
    std::vector<typename Table::Entry> all = t.entries();
    ASSERT_EQ(all.size(), model.size());
    for (const auto& e : all) {
        ASSERT_TRUE(model.count(e.match()));
        EXPECT_EQ(model.at(e.match()).action, e.action());
    }
}

TEST(TernaryTable, StaticAclFragmentRuleWinsAtPriorityZero) {
    auto chip = smallChip(16);
    auto acl = staticSnatAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    auto rule = [](bool fragment, std::uint32_t aclId) {
        StaticSnatAclMatchSpec m;
        m.ingMdIpv4FragmentIs(fragment ? 1 : 0, fragment ? 0xff : 0);
        m.outerIpv4HdrProtocolIs(0, 0);
        m.outerIpv4HdrDipIs(ip(10, 1, 0, 0), 0xffff0000);
        m.priorityIs(fragment ? 0 : 1);
        SetSnatAclIdActionSpec a;
        a.snatAclIdIs(aclId);
        return StaticSnatAclEntry(m, a);
    };
    acl->entryIs(rule(false, 1));
    acl->entryIs(rule(true, 2));
    auto aclIdOf = [&](std::uint32_t fragment, std::uint32_t dip) -> int {
        StaticSnatAclMatchSpec p;
        p.ingMdIpv4FragmentIs(fragment, 0);
        p.outerIpv4HdrProtocolIs(17, 0);
        p.outerIpv4HdrDipIs(dip, 0);
        const auto e = acl->lookup(p);
        return e ? e->template actionIf<SetSnatAclIdActionSpec>()->snatAclId() : 0;
    };
    EXPECT_EQ(aclIdOf(1, ip(10, 1, 2, 3)), 2);
    EXPECT_EQ(aclIdOf(0, ip(10, 1, 2, 3)), 1);
    EXPECT_EQ(aclIdOf(1, ip(10, 2, 0, 1)), 0);
}

TEST(TernaryTable, PriorityMaskingAndTies) {
    auto chip = smallChip(16);
    auto trap = natCpuTrapAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    using Entry = NatCpuTrapAclEntry;
    auto rule = [](std::uint32_t dip, std::uint32_t mask, std::int32_t prio) {
        NatCpuTrapAclMatchSpec m;
        m.outerIpv4HdrDipIs(dip, mask);
        m.priorityIs(prio);
        return m;
    };
    auto trapAction = [](std::uint32_t dir) {
        SetNatCpuTrapActionSpec a;
        a.trapDirEgrIs(dir);
        return a;
    };
    auto packet = [](std::uint32_t dip) {
        NatCpuTrapAclMatchSpec p;
        p.outerIpv4HdrDipIs(dip, 0);
        p.outerIpv4HdrProtocolIs(6, 0);
        p.l4PortHdrDstPortIs(80, 0);
        return p;
    };
    const auto wide = rule(ip(10, 1, 0, 0), 0xffff0000, 10);
    const auto narrow = rule(ip(10, 1, 2, 0), 0xffffff00, 5);
    trap->entryIs(wide, OnMissActionSpec{});
    trap->entryIs(narrow, trapAction(1));
    // The larger priority wins, however specific the other entry is.
    EXPECT_EQ(trap->lookup(packet(ip(10, 1, 2, 7)))->match(), wide);
    EXPECT_EQ(trap->lookup(packet(ip(10, 1, 9, 7)))->match(), wide);
    EXPECT_FALSE(trap->lookup(packet(ip(10, 2, 2, 7))));

    // Bits outside the mask take no part in matching, but they are part of the entry's identity.
    const auto narrowDirty = rule(ip(10, 1, 2, 99), 0xffffff00, 20);
    trap->entryIs(narrowDirty, trapAction(0));
    EXPECT_EQ(trap->entryCount(), 3u);
    EXPECT_EQ(trap->lookup(packet(ip(10, 1, 2, 7)))->match(), narrowDirty);
    EXPECT_EQ(trap->lookup(packet(ip(10, 1, 3, 7)))->match(), wide);

    // Equal priorities: the entry installed first wins, and a replace keeps its place.
    const auto tieA = rule(ip(10, 3, 0, 0), 0xffff0000, 7);
    const auto tieB = rule(ip(10, 3, 4, 0), 0xffffff00, 7);
    trap->entryIs(tieA, trapAction(0));
    trap->entryIs(tieB, trapAction(1));
    EXPECT_EQ(trap->lookup(packet(ip(10, 3, 4, 1)))->match(), tieA);
    trap->entryIs(tieA, trapAction(1));
    EXPECT_EQ(trap->lookup(packet(ip(10, 3, 4, 1)))->match(), tieA);
    trap->entryDel(tieA);
    trap->entryIs(tieA, trapAction(1));
    EXPECT_EQ(trap->lookup(packet(ip(10, 3, 4, 1)))->match(), tieB);
    EXPECT_EQ(trap->lookup(packet(ip(10, 3, 5, 1)))->match(), tieA);

    // Every entry in precedence order.
    const std::vector<Entry> all = trap->entries();
    ASSERT_EQ(all.size(), 5u);
    std::vector<std::int32_t> prios;
    for (const Entry& e : all) {
        prios.push_back(e.match().priority());
    }
    EXPECT_EQ(prios, (std::vector<std::int32_t>{20, 10, 7, 7, 5}));
}

TEST(TernaryTable, ExactFieldsOfATernaryTableMatchExactly) {
    auto chip = smallChip(16);
    auto trap = twiceNatCpuTrapAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    TwiceNatCpuTrapAclMatchSpec m;
    m.twiceMdAclIdIs(5);
    trap->entryIs(m, SetNatCpuTrapActionSpec{});
    TwiceNatCpuTrapAclMatchSpec p;
    p.outerIpv4HdrSipIs(ip(1, 2, 3, 4), 0);
    p.twiceMdAclIdIs(5);
    EXPECT_TRUE(trap->lookup(p));
    p.twiceMdAclIdIs(6);
    EXPECT_FALSE(trap->lookup(p));
}

TEST(HitBits, FollowTheEntryAcrossReplaceAndDelete) {
    auto chip = smallChip(4);
    auto t = ExactKind::make(*chip);
    t->entryIs(ExactKind::match(1), ExactKind::action(1));
    const VyrSdkEntryHandle h = t->entryHandle(ExactKind::match(1));
    bool hit = true;
    EXPECT_EQ(t->hitBit(h, hit), ChipError::ok);
    EXPECT_FALSE(hit);

    // A packet sets the bit; a replace keeps it (same entry, same handle).
    EXPECT_TRUE(t->packetIs(ExactKind::match(1)));
    t->entryIs(ExactKind::match(1), ExactKind::action(2));
    EXPECT_EQ(t->entryHandle(ExactKind::match(1)), h);
    EXPECT_EQ(t->hitBit(h, hit), ChipError::ok);
    EXPECT_TRUE(hit);
    t->engine().hitBitsClear();
    EXPECT_EQ(t->hitBit(h, hit), ChipError::ok);
    EXPECT_FALSE(hit);
    EXPECT_EQ(t->hitBitIs(h, true), ChipError::ok);
    EXPECT_EQ(t->hitBit(h, hit), ChipError::ok);
    EXPECT_TRUE(hit);

    // After a delete the old handle is stale, even once its slot holds another entry.
    t->entryDel(ExactKind::match(1));
    EXPECT_EQ(t->hitBit(h, hit), ChipError::staleHandle);
    t->entryIs(ExactKind::match(2), ExactKind::action(1));
    const VyrSdkEntryHandle h2 = t->entryHandle(ExactKind::match(2));
    EXPECT_EQ(h2.slot, h.slot);
    EXPECT_NE(h2, h);
    EXPECT_EQ(t->hitBitIs(h, true), ChipError::staleHandle);
    EXPECT_EQ(t->hitBit(h2, hit), ChipError::ok);
    EXPECT_FALSE(hit);
    EXPECT_EQ(t->hitBit(VyrSdkEntryHandle{}, hit), ChipError::invalidHandle);
    EXPECT_EQ(t->hitBit(VyrSdkEntryHandle{1000, 1}, hit), ChipError::invalidHandle);

    // A table without hit bits says so.
    auto trap = TernaryKind::make(*chip);
    trap->entryIs(TernaryKind::match(1), TernaryKind::action(1));
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
    auto snat = dynamicAddrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "x");
    auto trap = natCpuTrapAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "x");
    auto acl = staticSnatAclTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "x");

    DynamicAddrOnlySnatMatchSpec m;
    m.ingMdNatProfileIdIs(3);
    m.outerIpv4HdrSipIs(ip(10, 0, 0, 5));
    SetTranslatedSipActionSpec a;
    a.checksumDeltaIs(0x1a2b);
    a.translatedSipIs(ip(192, 0, 2, 7));
    EXPECT_EQ(m.str(),
              "DynamicAddrOnlySnatMatchSpec(ingMdNatProfileId=3, outerIpv4HdrSip=10.0.0.5)");
    EXPECT_EQ(a.str(), "SetTranslatedSip(checksumDelta=0x1a2b, translatedSip=192.0.2.7)");
    snat->entryIs(m, a);

    NatCpuTrapAclMatchSpec t;
    t.ingMdIngNatProfileIdIs(7, 0xfff);
    t.outerIpv4HdrDipIs(ip(10, 1, 0, 0), 0xffff0000);
    t.outerIpv4HdrProtocolIs(6, 0xff);
    t.priorityIs(42);
    trap->entryIs(t, OnMissActionSpec{});

    EXPECT_EQ(
        chip->dump(),
        "dynamicAddrOnlySnat: 1 of 4 entries\n"
        "  ingMdNatProfileId=3, outerIpv4HdrSip=10.0.0.5 => "
        "SetTranslatedSip(checksumDelta=0x1a2b, translatedSip=192.0.2.7) handle=0v1\n"
        "natCpuTrapAcl: 1 of 4 entries\n"
        "  ingMdIngNatProfileId=7/0xfff, ingMdEgrNatProfileId=0/0x0, ingMdNatRvsTrap=0/0x0, "
        "l4PortHdrDstPort=0/0x0, l4PortHdrSrcPort=0/0x0, outerIpv4HdrDip=10.1.0.0/0xffff0000, "
        "outerIpv4HdrProtocol=6/0xff, outerIpv4HdrSip=0.0.0.0/0x0, priority=42 => OnMiss()\n");
    EXPECT_EQ(acl->entryCount(), 0u); // made, empty, so not in the dump
    EXPECT_EQ(chip->table("staticSnatAcl"), &acl->engine());

    // Making a table again gives the same entries.
    auto again = dynamicAddrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "x");
    EXPECT_EQ(again->entry(m), snat->entry(m));
}

TEST(Specs, CompareHashAndTruncateFieldByField) {
    EgrUcSnatMatchSpec a;
    a.egrMdNatProfileIdIs(0x1234); // an 8-bit field keeps the low 8 bits
    EXPECT_EQ(a.egrMdNatProfileId(), 0x34);
    a.l4PortHdrSrcPortIs(80, 0xffff);
    EgrUcSnatMatchSpec b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<EgrUcSnatMatchSpec>()(a), std::hash<EgrUcSnatMatchSpec>()(b));
    b.l4PortHdrSrcPortIs(80, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(b.l4PortHdrSrcPort(), 80);
    EXPECT_EQ(b.l4PortHdrSrcPortMask(), 0);
    b.l4PortHdrSrcPortIs(80, 0xffff);
    b.priorityIs(-1);
    EXPECT_NE(a, b);
    EXPECT_EQ(b.priority(), -1);
    EXPECT_EQ(a.priority(), 0);
}

} // namespace
} // namespace VyrP4
