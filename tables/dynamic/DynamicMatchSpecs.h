#pragma once
// The match spec a dynamic table is written with for one connection, built from its protocol,
// its match addresses and its VRF; the same builder serves writes, deletes and the checks that
// compare records with the chip.

#include "chip/P4Tables.h"
#include "tables/dynamic/DynamicNatTypes.h"

#include <cstdint>
#include <optional>

namespace VyrNat {

// The VRF a dynamic table's 16-bit VRF field holds: nullopt for tables written without one.
using MatchVrf = std::optional<uint16_t>;

// `metadata`: DNAT1 takes the source, SNAT1 the destination, in the full-cone metadata fields
// instead of the packet's; the other pair stays 0.
template <class Spec>
Spec dynamicMatchSpec(uint8_t protocol, const MatchAddrs& a, MatchVrf vrf, bool metadata = false) {
    Spec ms;
    ms.outerIpv4HdrProtocolIs(protocol);
    if constexpr (requires { ms.ingMdDynNatSipIs(0); }) {
        if (metadata) {
            ms.ingMdDynNatSipIs(a.sip);
            ms.ingMdDynNatSportIs(a.sport);
        } else {
            ms.outerIpv4HdrSipIs(a.sip);
            ms.l4PortHdrSrcPortIs(a.sport);
        }
    } else {
        ms.outerIpv4HdrSipIs(a.sip);
        ms.l4PortHdrSrcPortIs(a.sport);
    }
    if constexpr (requires { ms.ingMdDynNatDipIs(0); }) {
        if (metadata) {
            ms.ingMdDynNatDipIs(a.dip);
            ms.ingMdDynNatDportIs(a.dport);
        } else {
            ms.outerIpv4HdrDipIs(a.dip);
            ms.l4PortHdrDstPortIs(a.dport);
        }
    } else {
        ms.outerIpv4HdrDipIs(a.dip);
        ms.l4PortHdrDstPortIs(a.dport);
    }
    if constexpr (requires { ms.l3InfoVrfIdIs(0); }) {
        if (vrf) {
            ms.l3InfoVrfIdIs(*vrf);
        }
    }
    return ms;
}

} // namespace VyrNat
