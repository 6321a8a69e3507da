#pragma once
// Packets through the chip's NAT tables, for people: the tracer prints, stage by stage, the
// entries a packet hits and the packet as it leaves; the capture player sends every frame of a
// pcap file through and writes what leaves to another.

#include "chip/Chip.h"
#include "chip/PacketNotation.h"

#include <cstddef>
#include <string>

namespace Scenario {

// The trace of one packet: a line with the packet as sent, one line per table hit (or per
// stage that hit nothing), and the packet as it leaves, "trapped to cpu (reason ...)" or
// "dropped (...)". Sending it sets the hit bits of the entries it hits.
std::string tracePacket(VyrP4::Chip& chip, const VyrP4::PacketNotation& packet);

struct PcapTotals {
    std::size_t read = 0;
    std::size_t forwarded = 0; // written to the output, translated or not
    std::size_t translated = 0;
    std::size_t trapped = 0;
    std::size_t dropped = 0;
    std::size_t notIpv4 = 0; // not IPv4, or cut short in the capture: written unchanged
    std::string str() const;
};

// Whether `in` is an Ethernet capture libpcap reads; false with `error` when not.
bool pcapReadable(const std::string& in, std::string& error);

// Sends every frame of the Ethernet capture `in` through the chip (VLAN from the frame's tag,
// VRF and pipe from `meta`) and writes the frames that leave to `out`. False with `error` when a
// file cannot be read or written.
bool pcapThrough(VyrP4::Chip& chip, const std::string& in, const std::string& out,
                 const VyrP4::IngressMeta& meta, PcapTotals& totals, std::string& error);

} // namespace Scenario
