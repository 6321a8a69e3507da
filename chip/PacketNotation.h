#pragma once
// The one-line notation of a packet that the tracer reads and prints:
//
//   PROTO SRC > DST [vlan N] [vrf N] [pipe N] [flags FLAGS] [frag OFFSET] [mf] [len N] [nocsum]
//
// PROTO is tcp, udp, icmp or a protocol number; SRC and DST are addresses, with ":port" for TCP
// and UDP (a later fragment has no ports). flags: TCP flag letters F S R P A U (default A).
// frag: the fragment offset in 8-byte units; mf: more fragments follow. len: payload bytes
// (default 16). nocsum: a UDP packet without checksum (0).

#include "chip/Packet.h"
#include "chip/PacketPath.h"

#include <cstdint>
#include <string>

namespace VyrP4 {

struct PacketNotation {
    std::uint8_t protocol = kProtoTcp;
    std::uint32_t sip = 0, dip = 0;
    std::uint16_t sport = 0, dport = 0;
    bool vlanGiven = false;
    IngressMeta meta;
    std::uint8_t tcpFlags = 0x10;
    std::uint16_t fragmentOffset = 0;
    bool moreFragments = false;
    std::uint16_t payload = 16;
    bool noUdpChecksum = false;
    std::uint16_t ipId = 0x1234; // not in the notation: the sender's choice
};

// Reads the notation; on a fault returns false with what is wrong in `error`.
bool packetNotationParse(const std::string& text, PacketNotation& out, std::string& error);
// The frame a sender makes of it, with valid checksums (802.1Q tagged when a VLAN is given).
Packet packetBuild(const PacketNotation& n);
// The packet in the notation: protocol, addresses and ports, then the VLAN, the VRF when not 0,
// the TCP flags when not the default, fragment fields. A frame that is no IPv4 packet prints as
// "not ipv4".
std::string packetStr(const Packet& p, std::uint32_t vrf);
// How a packet left: packetStr of it, "trapped to cpu (reason ...)" or "dropped (...)".
std::string outcomeStr(const PacketOutcome& o, const Packet& p);

} // namespace VyrP4
