#include <gtest/gtest.h>

#include <map>

#include "chip/Chip.h"
#include "chip/P4Tables.h"

namespace VyrP4 {
namespace {

DynamicAddrOnlySnatMatchSpec match(std::uint32_t i) {
    DynamicAddrOnlySnatMatchSpec m;
    m.outerIpv4HdrSipIs(0x0a000000 + i);
    return m;
}

// Each pipe marks its own bit; the calls without a pipe keep their single-pipe meaning.
TEST(PipeHitBits, EachPipeMarksReadsAndClearsItsOwnBit) {
    ProfileCapabilities p;
    p.dynamicAddrOnlySnatTableSizeIs(4);
    EXPECT_EQ(p.pipes(), 1u);
    EXPECT_THROW(p.pipesIs(0), InternalError);
    EXPECT_THROW(p.pipesIs(ProfileCapabilities::kMaxPipes + 1), InternalError);
    p.pipesIs(3);
    auto chip = chipFactory(p);
    auto t = dynamicAddrOnlySnatTableFactory(nullptr, nullptr, chip->handle(), 0, 0, 0, "test");
    std::map<EntryChange, int> changes;
    chip->entryObserverIs([&](const TableEngine&, EntryChange c, const EntryView*,
                              const EntryView*) { ++changes[c]; });
    t->entryIs(match(1), DynamicAddrOnlySnatTable::Action{});
    const VyrSdkEntryHandle h = t->entryHandle(match(1));
    auto bits = [&] {
        std::string s;
        for (std::uint32_t pipe : {0u, 1u, 2u, kAllPipes}) {
            bool hit = false;
            EXPECT_EQ(t->hitBit(h, hit, pipe), ChipError::ok);
            s += hit ? "1" : "0";
        }
        bool any = false;
        t->hitBit(h, any);
        return s + (any ? " any" : "");
    };

    EXPECT_TRUE(t->packetIs(match(1), 2));
    EXPECT_EQ(bits(), "0011 any");
    EXPECT_TRUE(t->packetIs(match(1), 1)); // a second pipe's mark is a change of its own
    EXPECT_EQ(bits(), "0111 any");
    EXPECT_EQ(changes[EntryChange::hit], 2);
    EXPECT_NE(
        t->engine().entryStr(*t->engine().find(match(1).words().data())).find("hit(pipes 1,2)"),
        std::string::npos);
    t->engine().hitBitsClear(2);
    EXPECT_EQ(bits(), "0101 any");
    EXPECT_EQ(t->hitBitIs(h, true), ChipError::ok); // pipe 0
    EXPECT_EQ(bits(), "1101 any");
    EXPECT_EQ(t->hitBitIs(h, false, 0), ChipError::ok);
    EXPECT_EQ(bits(), "0101 any");
    EXPECT_EQ(t->hitBitIs(h, true, kAllPipes), ChipError::ok);
    EXPECT_EQ(bits(), "1111 any");
    EXPECT_EQ(t->hitBitIs(h, false), ChipError::ok); // every pipe
    EXPECT_EQ(bits(), "0000");
    EXPECT_TRUE(t->packetIs(match(1), 0));
    t->engine().hitBitsClear();
    EXPECT_EQ(bits(), "0000");

    bool hit;
    EXPECT_THROW(t->packetIs(match(1), 3), InternalError);
    EXPECT_THROW(t->hitBit(h, hit, 3), InternalError);
}

} // namespace
} // namespace VyrP4
