#pragma once
// How a dynamic connection, a twice-NAT translation and a NAT flow read in the player's report:
// "snat tcp 10.1.0.5:1024 > 198.51.100.1:443 to 192.0.2.1:1024" and the like. A value the
// status no longer holds (null) leaves the key alone.

#include "host/Format.h"
#include "host/NatConnections.h"
#include "host/NatStatus.h"

#include <cstdint>
#include <string>

namespace Scenario::Lines {

// Addresses without a port print without one.
inline std::string addrText(const Ip::IpAndPort& a) {
    return a.port ? a.toString() : a.ip.toString();
}

inline std::string protoText(uint8_t protocol) {
    switch (protocol) {
    case 0:
        return "any";
    case 1:
        return "icmp";
    case 6:
        return "tcp";
    case 17:
        return "udp";
    default:
        return "proto " + std::to_string(protocol);
    }
}

// A connection's peer of 0.0.0.0 stands for every peer.
inline std::string peerText(const Ip::IpAndPort& a) {
    return a.ip.isZero() ? "any" : addrText(a);
}

inline std::string nextHopText(uint32_t word) {
    if (word == 0) {
        return "";
    }
    return word & 0x80000000u ? " via ECMP group " + std::to_string(word & 0x7FFFFFFFu)
                              : " via next hop " + std::to_string(word);
}

inline std::string numbered(const char* what, uint32_t n) {
    return n ? std::string(" ") + what + " " + std::to_string(n) : "";
}

// "snat tcp 10.1.0.5:1024 > 198.51.100.1:443 to 192.0.2.1:1024".
inline std::string connectionLine(const Ip::Nat::DynamicConnectionKey& k,
                                  const Ip::Nat::DynamicConnection* c) {
    const auto& t = k.tuple;
    const bool snat = k.sourceTranslation();
    std::string line = std::string(snat ? "snat " : "dnat ") + protoText(t.protocol) + " " +
                       (snat ? addrText(t.src) : peerText(t.src)) + " > " +
                       (snat ? peerText(t.dst) : addrText(t.dst));
    if (c) {
        line += " to " + addrText(c->translated) + (c->fullCone ? " full cone" : "") +
                nextHopText(c->nextHop) + numbered("profile", c->profile);
    }
    return line + numbered("vrf", k.vrfId);
}

// "twice tcp 10.0.0.1:1000 > 198.51.100.1:80 to 192.0.2.1:2000 > 10.9.9.9:8080".
inline std::string twiceLine(const Ip::Nat::TwiceNatKey& k, const Ip::Nat::TwiceNatTranslation* t) {
    std::string line =
        "twice " + protoText(k.protocol) + " " + addrText(k.srcOld) + " > " + addrText(k.dstOld);
    if (t) {
        line += " to " + addrText(t->srcNew) + " > " + addrText(t->dstNew) +
                nextHopText(t->nextHop) + (t->dynamic ? " dynamic" : "");
    }
    return line + numbered("profile", k.profile) + numbered("vrf", k.vrf);
}

inline std::string portsText(uint16_t first, uint16_t last) {
    if (first == 0 && last == 65535) {
        return "";
    }
    return first == last ? " port " + std::to_string(first)
                         : " ports " + std::to_string(first) + "-" + std::to_string(last);
}

// "flow web/http  tcp 10.0.0.0/8 > 0.0.0.0/0 port 80 priority 10 group 5".
inline std::string flowLine(const Ip::Nat::NatFlowKey& k, const Ip::Nat::NatFlowEntry* e) {
    std::string line =
        Host::printable("flow " + k.policy + "/" + k.match) + numbered("profile", k.profile);
    if (e) {
        const auto& f = e->flow;
        line += "  " + protoText(f.protocol) + " " + f.src.toString() +
                portsText(f.srcPortStart, f.srcPortEnd) + " > " + f.dst.toString() +
                portsText(f.dstPortStart, f.dstPortEnd) + numbered("priority", f.priority) +
                (e->groupUc == e->groupMc ? " group " + std::to_string(e->groupUc)
                                          : " groups " + std::to_string(e->groupUc) + " unicast, " +
                                                std::to_string(e->groupMc) + " multicast");
    }
    return line;
}

} // namespace Scenario::Lines
