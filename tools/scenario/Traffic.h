#pragma once
// Traffic named by what it belongs to: a packet of a connection, or of a twice-NAT
// translation, is looked up in the chip's dynamic or twice-NAT tables as the pipeline would take
// it, without being built, and the entry it hits gets its hit bit on the packet's pipe, so that
// the next hit-bit scan finds it used. Real packets go through chip/PacketPath.

#include "chip/Chip.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"

#include <cstdint>

namespace Scenario {

// Each returns whether the packet hit a translation entry. Full-cone connections match on
// what the pipeline's full-cone stage writes, which has no stand-in here: they hit nothing.
bool trafficIs(VyrP4::Chip& chip, const Ip::Nat::DynamicConnectionKey& key,
               const Ip::Nat::DynamicConnection& conn, uint32_t pipe = 0);
bool trafficIs(VyrP4::Chip& chip, const Ip::Nat::TwiceNatKey& key,
               const Ip::Nat::TwiceNatTranslation& t, uint32_t pipe = 0);

} // namespace Scenario
