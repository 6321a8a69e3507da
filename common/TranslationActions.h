#pragma once
// The translation actions many tables share, built once: a new address with the checksum delta
// of the change, optionally a new port, and for destinations the next hop or ECMP group. The
// action classes come from the chip's tables; any class with the usual setters fits.

#include "chip/P4Tables.h"
#include "common/NextHop.h"
#include "common/VyrNatUtils.h"
#include "host/IpTypes.h"

#include <cstdint>

namespace VyrNat {

using Ip::IpAddr;
using Ip::IpAndPort;

// The new address and the address-only checksum delta.
template <class Action> Action addrTranslation(IpAddr oldAddr, IpAddr newAddr) {
    Action a;
    a.checksumDeltaIs(calculateChecksumDeltaAddrOnly(oldAddr.value, newAddr.value));
    if constexpr (requires { a.translatedSipIs(0); }) {
        a.translatedSipIs(newAddr.value);
    } else {
        a.translatedDipIs(newAddr.value);
    }
    return a;
}

// The new address and port and the address-and-port checksum delta.
template <class Action> Action addrPortTranslation(IpAndPort oldAddr, IpAndPort newAddr) {
    Action a;
    a.checksumDeltaIs(calculateChecksumDeltaAddrPort(oldAddr.ip.value, newAddr.ip.value,
                                                     oldAddr.port, newAddr.port));
    if constexpr (requires { a.translatedSipIs(0); }) {
        a.translatedSipIs(newAddr.ip.value);
        a.translatedSportIs(newAddr.port);
    } else {
        a.translatedDipIs(newAddr.ip.value);
        a.translatedDportIs(newAddr.port);
    }
    return a;
}

// The address action when the new port is 0, else the address-and-port one.
template <class AddrAction, class AddrPortAction, class Result>
Result translationByPort(IpAndPort oldAddr, IpAndPort newAddr) {
    if (newAddr.port == 0) {
        return addrTranslation<AddrAction>(oldAddr.ip, newAddr.ip);
    }
    return addrPortTranslation<AddrPortAction>(oldAddr, newAddr);
}

// Source translation: SetTranslatedSip, or SetTranslatedSipPort when the new port is not 0.
template <class Result> Result sipTranslation(IpAndPort oldSrc, IpAndPort newSrc) {
    return translationByPort<VyrP4::SetTranslatedSipActionSpec,
                             VyrP4::SetTranslatedSipPortActionSpec, Result>(oldSrc, newSrc);
}

// Destination translation to an address, through the next hop or the ECMP group.
template <class Result> Result dipTranslation(IpAddr oldDst, IpAddr newDst, NextHop nh) {
    if (nh.ecmp) {
        auto a = addrTranslation<VyrP4::SetTranslatedDipNextHopEcmpActionSpec>(oldDst, newDst);
        a.ecmpIdIs(nh.id);
        return a;
    }
    auto a = addrTranslation<VyrP4::SetTranslatedDipNextHopActionSpec>(oldDst, newDst);
    a.nextHopIdIs(nh.id);
    return a;
}

// Destination translation to an address and port; to the address alone when the new port is 0.
template <class Result> Result dipPortTranslation(IpAndPort oldDst, IpAndPort newDst, NextHop nh) {
    if (newDst.port == 0) {
        return dipTranslation<Result>(oldDst.ip, newDst.ip, nh);
    }
    if (nh.ecmp) {
        auto a =
            addrPortTranslation<VyrP4::SetTranslatedDipPortNextHopEcmpActionSpec>(oldDst, newDst);
        a.ecmpIdIs(nh.id);
        return a;
    }
    auto a = addrPortTranslation<VyrP4::SetTranslatedDipPortNextHopActionSpec>(oldDst, newDst);
    a.nextHopIdIs(nh.id);
    return a;
}

} // namespace VyrNat
