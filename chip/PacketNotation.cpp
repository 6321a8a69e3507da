#include "chip/PacketNotation.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <vector>

namespace VyrP4 {

namespace {

constexpr char kFlagLetters[] = "FSRPAU"; // bit 0 upwards

bool number(const std::string& s, std::uint64_t max, std::uint64_t& out) {
    const char* end = s.data() + s.size();
    const auto r = std::from_chars(s.data(), end, out);
    return !s.empty() && r.ec == std::errc() && r.ptr == end && out <= max;
}

bool address(const std::string& s, std::uint32_t& out) {
    std::uint32_t a = 0;
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? s.find('.', at) : s.size();
        std::uint64_t octet = 0;
        if (dot == std::string::npos || !number(s.substr(at, dot - at), 255, octet)) {
            return false;
        }
        a = a << 8 | std::uint32_t(octet);
        at = dot + 1;
    }
    out = a;
    return true;
}

// "a.b.c.d" or "a.b.c.d:port".
bool endpoint(const std::string& s, std::uint32_t& ip, std::uint16_t& port, bool& hasPort,
              std::string& error) {
    const std::size_t colon = s.find(':');
    hasPort = colon != std::string::npos;
    std::uint64_t p = 0;
    if (!address(s.substr(0, colon), ip)) {
        error = "'" + s + "' is no IPv4 address";
        return false;
    }
    if (hasPort && !number(s.substr(colon + 1), 65535, p)) {
        error = "'" + s + "' has no port 0 to 65535 after ':'";
        return false;
    }
    port = std::uint16_t(p);
    return true;
}

std::uint16_t sum(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to,
                  std::uint32_t acc) {
    for (std::size_t i = from; i < to; i += 2) {
        acc += std::uint32_t(b[i] << 8) | (i + 1 < to ? b[i + 1] : 0);
    }
    while (acc >> 16) {
        acc = (acc & 0xffff) + (acc >> 16);
    }
    return std::uint16_t(~acc);
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = std::uint8_t(v >> 8);
    b[at + 1] = std::uint8_t(v);
}

} // namespace

bool packetNotationParse(const std::string& text, PacketNotation& out, std::string& error) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string t; in >> t;) {
        w.push_back(t);
    }
    PacketNotation n;
    std::uint64_t v = 0;
    if (w.size() < 4 || w[2] != ">") {
        error = "expected 'PROTO SRC > DST', e.g. 'tcp 10.0.0.5:80 > 198.51.100.1:443'";
        return false;
    }
    if (w[0] == "tcp" || w[0] == "udp" || w[0] == "icmp") {
        n.protocol = w[0] == "tcp" ? kProtoTcp : w[0] == "udp" ? kProtoUdp : kProtoIcmp;
    } else if (number(w[0], 255, v)) {
        n.protocol = std::uint8_t(v);
    } else {
        error = "protocol '" + w[0] + "' is not tcp, udp, icmp or a number 0 to 255";
        return false;
    }
    bool srcPort = false, dstPort = false;
    if (!endpoint(w[1], n.sip, n.sport, srcPort, error) ||
        !endpoint(w[3], n.dip, n.dport, dstPort, error)) {
        return false;
    }
    const bool ports = n.protocol == kProtoTcp || n.protocol == kProtoUdp;
    if (!ports && (srcPort || dstPort)) {
        error = "only tcp and udp packets have ports";
        return false;
    }
    for (std::size_t i = 4; i < w.size(); ++i) {
        const std::string& k = w[i];
        const auto arg = [&](std::uint64_t max) {
            if (i + 1 >= w.size() || !number(w[i + 1], max, v)) {
                error = "'" + k + "' needs a number 0 to " + std::to_string(max);
                return false;
            }
            ++i;
            return true;
        };
        if (k == "vlan") {
            if (!arg(4094)) {
                return false;
            }
            n.meta.vlan = std::uint16_t(v);
            n.vlanGiven = true;
        } else if (k == "vrf") {
            if (!arg(0xfffe)) {
                return false;
            }
            n.meta.vrf = std::uint32_t(v);
        } else if (k == "pipe") {
            if (!arg(kMaxPipes - 1)) {
                return false;
            }
            n.meta.pipe = std::uint32_t(v);
        } else if (k == "frag") {
            if (!arg(0x1fff)) {
                return false;
            }
            n.fragmentOffset = std::uint16_t(v);
        } else if (k == "len") {
            if (!arg(1400)) {
                return false;
            }
            n.payload = std::uint16_t(v);
        } else if (k == "mf") {
            n.moreFragments = true;
        } else if (k == "nocsum" && n.protocol == kProtoUdp) {
            n.noUdpChecksum = true;
        } else if (k == "flags" && n.protocol == kProtoTcp && i + 1 < w.size()) {
            n.tcpFlags = 0;
            for (char c : w[++i]) {
                const char* at = std::char_traits<char>::find(kFlagLetters, 6, c);
                if (!at) {
                    error = "TCP flag '" + std::string(1, c) + "' is not one of F S R P A U";
                    return false;
                }
                n.tcpFlags |= std::uint8_t(1u << (at - kFlagLetters));
            }
        } else {
            error = "unknown word '" + k +
                    "' (known: vlan, vrf, pipe, flags (tcp), frag, mf, len, nocsum (udp))";
            return false;
        }
    }
    if (ports && n.fragmentOffset == 0 && (!srcPort || !dstPort)) {
        error = "a tcp or udp packet needs SRC:PORT and DST:PORT (only a later fragment, "
                "'frag N' with N > 0, has none)";
        return false;
    }
    if (n.fragmentOffset != 0 && (srcPort || dstPort)) {
        error = "a later fragment ('frag N' with N > 0) carries no ports";
        return false;
    }
    out = n;
    return true;
}

Packet packetBuild(const PacketNotation& n) {
    const bool later = n.fragmentOffset != 0;
    const std::size_t l4Header = later                      ? 0
                                 : n.protocol == kProtoTcp  ? 20
                                 : n.protocol == kProtoUdp  ? 8
                                 : n.protocol == kProtoIcmp ? 8
                                                            : 0;
    const std::size_t eth = n.vlanGiven ? 18 : 14;
    const std::size_t ipLen = 20 + l4Header + n.payload;
    std::vector<std::uint8_t> b(eth + ipLen, 0);
    const std::uint8_t macs[12] = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1};
    std::copy(macs, macs + 12, b.begin());
    std::size_t at = 12;
    if (n.vlanGiven) {
        put16(b, at, 0x8100);
        put16(b, at + 2, n.meta.vlan);
        at += 4;
    }
    put16(b, at, 0x0800);
    const std::size_t ip = eth;
    b[ip] = 0x45;
    put16(b, ip + 2, std::uint16_t(ipLen));
    put16(b, ip + 4, n.ipId);
    put16(b, ip + 6, std::uint16_t((n.moreFragments ? 0x2000 : 0) | n.fragmentOffset));
    b[ip + 8] = 64;
    b[ip + 9] = n.protocol;
    for (int i = 0; i < 4; ++i) {
        b[ip + 12 + i] = std::uint8_t(n.sip >> (24 - 8 * i));
        b[ip + 16 + i] = std::uint8_t(n.dip >> (24 - 8 * i));
    }
    const std::size_t l4 = ip + 20;
    for (std::size_t i = l4 + l4Header; i < b.size(); ++i) {
        b[i] = std::uint8_t(i * 7);
    }
    // The pseudo header: addresses, protocol and L4 length.
    std::uint32_t pseudo = (n.sip >> 16) + (n.sip & 0xffff) + (n.dip >> 16) + (n.dip & 0xffff) +
                           n.protocol + std::uint32_t(l4Header + n.payload);
    if (l4Header && n.protocol == kProtoTcp) {
        put16(b, l4, n.sport);
        put16(b, l4 + 2, n.dport);
        put16(b, l4 + 4, 0x0100);
        b[l4 + 12] = 0x50;
        b[l4 + 13] = n.tcpFlags;
        put16(b, l4 + 14, 0xffff);
        put16(b, l4 + 16, sum(b, l4, b.size(), pseudo));
    } else if (l4Header && n.protocol == kProtoUdp) {
        put16(b, l4, n.sport);
        put16(b, l4 + 2, n.dport);
        put16(b, l4 + 4, std::uint16_t(8 + n.payload));
        if (!n.noUdpChecksum) {
            const std::uint16_t c = sum(b, l4, b.size(), pseudo);
            put16(b, l4 + 6, c == 0 ? 0xffff : c);
        }
    } else if (l4Header) { // ICMP echo request
        b[l4] = 8;
        put16(b, l4 + 4, 1);
        put16(b, l4 + 2, sum(b, l4, b.size(), 0));
    }
    put16(b, ip + 10, sum(b, ip, ip + 20, 0));
    return *Packet::parse(std::move(b), nullptr);
}

std::string packetStr(const Packet& p, std::uint32_t vrf) {
    std::string s;
    const std::uint8_t proto = p.protocol();
    s = proto == kProtoTcp    ? "tcp"
        : proto == kProtoUdp  ? "udp"
        : proto == kProtoIcmp ? "icmp"
                              : std::to_string(proto);
    const auto end = [&](std::uint32_t ip, std::uint16_t port) {
        s += ' ';
        s += ipv4Str(ip);
        if (p.hasPorts()) {
            s += ':' + std::to_string(port);
        }
    };
    end(p.sip(), p.sport());
    s += " >";
    end(p.dip(), p.dport());
    if (p.tagged()) {
        s += " vlan " + std::to_string(p.vlan());
    }
    if (vrf) {
        s += " vrf " + std::to_string(vrf);
    }
    if (proto == kProtoTcp && p.hasPorts() && p.tcpFlags() != 0x10) {
        s += " flags ";
        for (int i = 0; i < 6; ++i) {
            if (p.tcpFlags() >> i & 1) {
                s += kFlagLetters[i];
            }
        }
    }
    if (p.fragmentOffset()) {
        s += " frag " + std::to_string(p.fragmentOffset());
    }
    if (p.moreFragments()) {
        s += " mf";
    }
    return s;
}

std::string outcomeStr(const PacketOutcome& o, const Packet& p) {
    switch (o.fate) {
    case Fate::trapped:
        return "trapped to cpu (reason " + o.reason() + ")";
    case Fate::dropped:
        return "dropped (" + o.reason() + ")";
    case Fate::forwarded:
        break;
    }
    return packetStr(p, o.vrf);
}

} // namespace VyrP4
