// The packet path's stage table against the program's tables, and the data plane's checksum
// arithmetic against RFC 1624's own example.

#include "chip/Packet.h"
#include "chip/PacketPath.h"
#include "chip/Schema.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

TEST(PacketStages, EveryTableOfTheProgramIsConsultedByExactlyOneStage) {
    std::map<std::string, int> consulted;
    for (const VyrP4::StageInfo& s : VyrP4::PacketPath::stages()) {
        std::istringstream names(s.tables);
        for (std::string name; names >> name;) {
            ++consulted[name];
        }
    }
    for (const auto& t : VyrP4::Schema::natSchema().tables) {
        EXPECT_EQ(consulted[t.name], 1) << t.name;
        consulted.erase(t.name);
    }
    EXPECT_TRUE(consulted.empty())
        << "a stage names " << consulted.begin()->first << ", which the program lacks";
}

TEST(PacketStages, ChecksumsAreAdjustedAsRfc1624Says) {
    // Its example: HC 0xDD2F, a word 0x5555 becomes 0x3285; the new checksum is 0x0000, not the
    // 0xFFFF of the older formula.
    EXPECT_EQ(VyrP4::checksumAdjust(0xDD2F, VyrP4::wordDelta(0x5555, 0x3285)), 0x0000);
    // A delta and its removal leave the checksum as it was.
    const std::uint16_t d = VyrP4::deltaAdd(VyrP4::wordDelta(80, 8080), VyrP4::wordDelta(1, 2));
    EXPECT_EQ(VyrP4::deltaSub(d, VyrP4::wordDelta(80, 8080)), VyrP4::wordDelta(1, 2));
}

} // namespace
