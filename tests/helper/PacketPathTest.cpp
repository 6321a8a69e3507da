// Packets through what the agent programmed: first packets of connections trap to the CPU with
// their reason until the connection is in hardware, full-cone translations take every peer, and
// the entries packets hit carry their hit bits on the packet's pipe. Addresses, ports and
// checksums of every kind are checked by an independent decoder (tests/tools/packet_decoder.py).

#include "chip/PacketPath.h"
#include "chip/PacketNotation.h"
#include "host/OmaHelperNat.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tests/helper/NatTestUtil.h"
#include "tools/scenario/PacketTrace.h"

#include <cstdlib>
#include <filesystem>
#include <pcap/pcap.h>
#include <unistd.h>

namespace {

using namespace HelperTest;
using Ip::IpAddrWithFullMask;

// The packet as it leaves, in the tracer's words.
std::string send(VyrP4::Chip& chip, const std::string& text, uint32_t pipe = 0) {
    VyrP4::PacketNotation n;
    std::string error;
    EXPECT_TRUE(VyrP4::packetNotationParse(text, n, error)) << error;
    n.meta.pipe = pipe;
    VyrP4::Packet p = VyrP4::packetBuild(n);
    const VyrP4::PacketOutcome o = VyrP4::PacketPath(chip).send(p, n.meta);
    return VyrP4::outcomeStr(o, p);
}

// Sends the packets as a capture through the chip and has the independent decoder check every
// packet that leaves (checksums, and every byte but the translated fields); the totals say what
// left.
Scenario::PcapTotals throughDecoder(VyrP4::Chip& chip, const std::vector<std::string>& packets) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string in = dir / (std::to_string(::getpid()) + "-packets-in.pcap");
    const std::string out = dir / (std::to_string(::getpid()) + "-packets-out.pcap");
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t* writer = pcap_dump_open(dead, in.c_str());
    EXPECT_TRUE(writer) << pcap_geterr(dead);
    for (std::size_t i = 0; writer && i < packets.size(); ++i) {
        VyrP4::PacketNotation n;
        std::string error;
        EXPECT_TRUE(VyrP4::packetNotationParse(packets[i], n, error)) << error;
        n.ipId = uint16_t(i + 1);
        const auto bytes = VyrP4::packetBuild(n).bytes();
        pcap_pkthdr h{};
        h.caplen = h.len = bpf_u_int32(bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(writer), &h, bytes.data());
    }
    pcap_dump_close(writer);
    pcap_close(dead);
    Scenario::PcapTotals totals;
    std::string error;
    EXPECT_TRUE(Scenario::pcapThrough(chip, in, out, {}, totals, error)) << error;
    const std::string check = "/usr/bin/python3 '" VYRNAT_SOURCE_DIR
                              "/tests/tools/packet_decoder.py' pair '" +
                              in + "' '" + out + "'";
    EXPECT_EQ(std::system(check.c_str()), 0) << check;
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return totals;
}

Ip::Nat::NatTrapInfo trapInfo(uint32_t profile, uint32_t prio, bool fullCone = false,
                              bool destination = false) {
    Ip::Nat::NatTrapInfo t;
    t.profileId = profile;
    t.prio = prio;
    t.poolId = 1;
    t.fullCone = fullCone;
    t.target = destination ? Ip::Nat::kDestinationTranslation : Ip::Nat::kSourceTranslation;
    return t;
}

// The pipes the entry of `table` hit, as its hit bits say.
std::string hitPipes(VyrP4::Chip& chip, const char* table) {
    std::string out;
    for (const auto& e : chip.table(table)->entries()) {
        out += std::to_string(e.hitPipes) + " ";
    }
    return out;
}

TEST(PacketPath, FirstPacketsTrapUntilTheirConnectionIsProgrammedAndThenSetItsHitBit) {
    NatAgent a(TestSupport::BootedAgent::scenarioFor("default", {{"pipes", "2"}}));
    auto& h = a.helper();
    auto& chip = a.chip();
    ASSERT_TRUE(h.setNatProfile(100, 3, ""));
    const auto any = IpAddrWithFullMask{};
    ASSERT_TRUE(
        h.addTrapRule({"inside", 0}, trapInfo(3, 10), 1, prefix("10.0.0.0/8"), any, false, false));
    ASSERT_TRUE(
        h.addTrapRule({"quiet", 0}, trapInfo(3, 5), 1, prefix("10.9.0.0/16"), any, true, false));
    ASSERT_TRUE(h.addTrapRule({"public", 0}, trapInfo(3, 20, false, true), 1, any,
                              prefix("192.0.2.0/24"), false, false));
    a.run();

    const std::string syn = "tcp 10.0.0.5:1000 > 198.51.100.1:80 vlan 100 flags S";
    EXPECT_EQ(send(chip, syn), "trapped to cpu (reason snat, tcp flags 0x02)");
    EXPECT_EQ(send(chip, "udp 10.0.0.5:1000 > 198.51.100.1:53 vlan 100"),
              "trapped to cpu (reason snat)");
    EXPECT_EQ(send(chip, "udp 198.51.100.1:53 > 192.0.2.9:53 vlan 100"),
              "trapped to cpu (reason dnat)");
    EXPECT_EQ(send(chip, "tcp 10.9.0.5:1000 > 198.51.100.1:80 vlan 100 flags S"),
              "tcp 10.9.0.5:1000 > 198.51.100.1:80 vlan 100 flags S")
        << "a deny rule leaves the packet to the hardware";
    EXPECT_EQ(send(chip, "tcp 10.0.0.5:1000 > 198.51.100.1:80 vlan 200 flags S"),
              "tcp 10.0.0.5:1000 > 198.51.100.1:80 vlan 200 flags S")
        << "a VLAN without a NAT profile is no NAT interface";

    // Once the connection is programmed its packets are translated, not trapped, and its entry
    // is hit on the pipe the packets came through.
    const Ip::ConnTuple out{ipp("10.0.0.5", 1000), ipp("198.51.100.1", 80), 6};
    ASSERT_TRUE(
        h.addDynamicSrcIpTranslation(out, out.src, out.dst, ipp("192.0.2.1", 3000), 3, false, 0));
    a.run();
    EXPECT_EQ(hitPipes(chip, "dynamicSnat1"), "0 ");
    EXPECT_EQ(send(chip, syn, 1), "tcp 192.0.2.1:3000 > 198.51.100.1:80 vlan 100 flags S");
    EXPECT_EQ(hitPipes(chip, "dynamicSnat1"), "2 ");
    EXPECT_EQ(send(chip, "tcp 10.0.0.5 > 198.51.100.1 vlan 100 frag 40"),
              "tcp 192.0.2.1 > 198.51.100.1 vlan 100 frag 40")
        << "its fragment entry translates the fragments";
    const auto totals =
        throughDecoder(chip, {syn, "tcp 10.0.0.5:1000 > 198.51.100.1:80 vlan 100 len 300",
                              "tcp 10.0.0.7:1000 > 198.51.100.1:80 vlan 100 flags S"});
    EXPECT_EQ(totals.translated, 2u);
    EXPECT_EQ(totals.trapped, 1u) << "another inside host's first packet";
    h.deleteDynamicSrcIpTranslation(out, out.src, out.dst, ipp("192.0.2.1", 3000), 3, false, 0);
    a.run();
    EXPECT_EQ(send(chip, syn), "trapped to cpu (reason snat, tcp flags 0x02)");
}

TEST(PacketPath, FullConeTranslationsTakeEveryPeer) {
    const VyrNat::NatNextHopInfo nh(7);
    const std::vector<std::string> peers = {"198.51.100.3:6000", "203.0.113.9:7"};
    {
        // Full-cone DNAT: the compress table maps the public address to a range, and the
        // full-cone DNAT entry of (profile, range, protocol, port) translates.
        NatAgent a("default");
        auto& h = a.helper();
        ASSERT_TRUE(h.setNatProfile(100, 1, ""));
        const Ip::ConnTuple cone{ipp("198.51.100.3", 6000), ipp("192.0.2.81", 5000), 17};
        ASSERT_TRUE(h.addDynamicDstIpTranslation(cone, cone.src, cone.dst, ipp("10.0.0.81", 5001),
                                                 &nh, 1, true, 0));
        a.run();
        for (const auto& peer : peers) {
            EXPECT_EQ(send(a.chip(), "udp " + peer + " > 192.0.2.81:5000 vlan 100"),
                      "udp " + peer + " > 10.0.0.81:5001 vlan 100");
        }
        EXPECT_EQ(send(a.chip(), "udp 198.51.100.3:6000 > 192.0.2.81:5001 vlan 100"),
                  "udp 198.51.100.3:6000 > 192.0.2.81:5001 vlan 100");
        EXPECT_EQ(throughDecoder(a.chip(), {"udp " + peers[0] + " > 192.0.2.81:5000 vlan 100",
                                            "udp " + peers[1] +
                                                " > 192.0.2.81:5000 vlan 100 "
                                                "nocsum"})
                      .translated,
                  2u);
    }
    // Source-side full cone: a reverse full-cone rule's entries clear the peer, so DNAT1's
    // entry keyed by address 0 and the profile serves every peer of the pool address.
    NatAgent a(
        TestSupport::BootedAgent::scenarioFor("default", {{"dynFullConeDnatSupported", "false"}}));
    auto& h = a.helper();
    ASSERT_TRUE(h.setNatProfile(100, 1, ""));
    ASSERT_TRUE(h.addProtocolTrapRule({"cone", 0}, trapInfo(1, 10, true), 1, 17,
                                      IpAddrWithFullMask{}, prefix("192.0.2.0/24"), 0, 0, 0, 0,
                                      false, true));
    a.run();
    const std::string first = "udp 198.51.100.3:6000 > 192.0.2.81:5000 vlan 100";
    EXPECT_EQ(send(a.chip(), first), "trapped to cpu (reason dnat)") << "no connection yet";
    const Ip::ConnTuple cone{ipp("198.51.100.3", 6000), ipp("192.0.2.81", 5000), 17};
    ASSERT_TRUE(h.addDynamicDstIpTranslation(cone, cone.src, cone.dst, ipp("10.0.0.81", 5001), &nh,
                                             1, true, 0));
    a.run();
    for (const auto& peer : peers) {
        EXPECT_EQ(send(a.chip(), "udp " + peer + " > 192.0.2.81:5000 vlan 100"),
                  "udp " + peer + " > 10.0.0.81:5001 vlan 100");
    }
    EXPECT_EQ(throughDecoder(a.chip(), {"udp " + peers[1] + " > 192.0.2.81:5000 vlan 100 len 99"})
                  .translated,
              1u);
}

TEST(PacketPath, TheNotationReadsWhatItPrintsAndNamesWhatIsWrong) {
    VyrP4::PacketNotation n;
    std::string error;
    for (const std::string text :
         {"tcp 10.0.0.5:80 > 198.51.100.1:443 vlan 100", "udp 10.0.0.5:1 > 10.0.0.6:2 vrf 7",
          "icmp 10.0.0.5 > 10.0.0.6", "47 10.0.0.5 > 10.0.0.6 vlan 4094",
          "tcp 10.0.0.5 > 10.0.0.6 frag 185", "tcp 10.0.0.5:1 > 10.0.0.6:2 flags SA mf"}) {
        ASSERT_TRUE(VyrP4::packetNotationParse(text, n, error)) << text << ": " << error;
        EXPECT_EQ(VyrP4::packetStr(VyrP4::packetBuild(n), n.meta.vrf), text);
    }
    const std::pair<std::string, std::string> bad[] = {
        {"tcp 10.0.0.5:80 198.51.100.1:443", "expected 'PROTO SRC > DST'"},
        {"sctp 10.0.0.5 > 10.0.0.6", "protocol 'sctp' is not tcp, udp, icmp or a number"},
        {"tcp 10.0.0.256:1 > 10.0.0.6:2", "'10.0.0.256:1' is no IPv4 address"},
        {"udp 10.0.0.5:70000 > 10.0.0.6:2", "no port 0 to 65535"},
        {"tcp 10.0.0.5 > 10.0.0.6", "needs SRC:PORT and DST:PORT"},
        {"icmp 10.0.0.5:1 > 10.0.0.6", "only tcp and udp packets have ports"},
        {"tcp 10.0.0.5:1 > 10.0.0.6:2 vlan 4095", "'vlan' needs a number 0 to 4094"},
        {"tcp 10.0.0.5:1 > 10.0.0.6:2 flags SX", "TCP flag 'X'"},
        {"tcp 10.0.0.5:1 > 10.0.0.6:2 ttl 3", "unknown word 'ttl'"},
        {"tcp 10.0.0.5:1 > 10.0.0.6:2 frag 8", "a later fragment"},
    };
    for (const auto& [text, why] : bad) {
        EXPECT_FALSE(VyrP4::packetNotationParse(text, n, error)) << text;
        EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
    }
}

} // namespace
