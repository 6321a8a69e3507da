// The dynamic parts of a scenario step: connections one by one and in bulk, twice-NAT
// translations and NAT flows.

#include "tools/scenario/ScenarioRead.h"

#include <set>

namespace Scenario {

namespace Read {

namespace {

// A key's entry in a reader map, noting in `given` that the key was there.
std::pair<const std::string, KeyReader> noted(std::set<std::string>& given, const std::string& key,
                                              KeyReader read) {
    return {key, [&given, key, read = std::move(read)](const YAML::Node& x) {
                read(x);
                given.insert(key);
            }};
}

// Why connection tracking would never publish `c`; empty when it would. The untranslated side
// is an address; an address-only connection (peer 0.0.0.0) has no ports and is not full cone;
// an address without a port is not translated to one.
std::string misshapen(const Connection& c) {
    const auto& t = c.key.tuple;
    const bool snat = c.key.sourceTranslation();
    const Ip::IpAndPort& own = snat ? t.src : t.dst;
    const Ip::IpAndPort& peer = snat ? t.dst : t.src;
    const Ip::IpAndPort& to = c.conn.translated;
    const std::string ownName = snat ? "the inside address" : "the public address";
    if (own.ip.isZero()) {
        return ownName + " cannot be 0.0.0.0";
    }
    if (to.ip.isZero()) {
        return "a connection cannot be translated to 0.0.0.0";
    }
    if (peer.ip.isZero()) {
        if (peer.port || own.port || to.port) {
            return "an address-only connection (peer 0.0.0.0) has no ports";
        }
        if (c.conn.fullCone) {
            return "an address-only connection (peer 0.0.0.0) is not full cone";
        }
    } else if (own.port == 0 && to.port != 0) {
        return ownName + " " + own.ip.toString() + " has no port, but its translation " +
               to.toString() + " has one";
    }
    return {};
}

Ip::Nat::NatTarget toKind(const YAML::Node& n) {
    const std::string s = scalar(n, "kind");
    if (s != "snat" && s != "dnat") {
        fail(n, "'kind' must be snat or dnat, not '" + s + "'");
    }
    return s == "snat" ? Ip::Nat::kSourceTranslation : Ip::Nat::kDestinationTranslation;
}

} // namespace

// A connection to add (`adding`) or to withdraw, named by its kind, tuple and VRF.
Connection readConnection(const YAML::Node& v, bool adding) {
    Connection c;
    auto& k = c.key;
    std::set<std::string> given;
    std::map<std::string, KeyReader> readers{
        noted(given, "kind", [&](const YAML::Node& x) { k.target = toKind(x); }),
        noted(given, "proto",
              [&](const YAML::Node& x) { k.tuple.protocol = toProtocol(x, "proto"); }),
        noted(given, "src", [&](const YAML::Node& x) { k.tuple.src = toIpAndPort(x, "src"); }),
        noted(given, "dst", [&](const YAML::Node& x) { k.tuple.dst = toIpAndPort(x, "dst"); }),
        noted(given, "vrf", [&](const YAML::Node& x) { k.vrfId = toU32(x, "vrf"); }),
    };
    if (adding) {
        readers.insert({
            noted(given, "to",
                  [&](const YAML::Node& x) { c.conn.translated = toIpAndPort(x, "to"); }),
            noted(given, "profile",
                  [&](const YAML::Node& x) {
                      c.conn.profile = uint16_t(toBounded(x, "profile", 0xFFFF));
                  }),
            noted(given, "fullCone",
                  [&](const YAML::Node& x) { c.conn.fullCone = toBool(x, "fullCone"); }),
            noted(given, "nextHop",
                  [&](const YAML::Node& x) { c.conn.nextHop = toU32(x, "nextHop"); }),
        });
    }
    const std::string what = adding ? "a connection" : "a connection to remove";
    readKeys(v, what, readers);
    for (const char* key : {"kind", "proto", "src", "dst", "to"}) {
        if ((adding || key != std::string("to")) && !given.count(key)) {
            fail(v, what + " needs 'kind', 'proto', 'src', 'dst'" + (adding ? " and 'to'" : ""));
        }
    }
    if (k.sourceTranslation() && c.conn.nextHop != 0) {
        fail(v, "'nextHop' is for dnat connections only");
    }
    if (adding) {
        if (const std::string why = misshapen(c); !why.empty()) {
            fail(v, why);
        }
    }
    return c;
}

ConnectionBulk readBulk(const YAML::Node& v) {
    ConnectionBulk b;
    std::set<std::string> given;
    const auto ports = [](const YAML::Node& x, const std::string& key) {
        const auto range = toPortRange(x, key);
        if (range.first == 0) {
            fail(x, "'" + key + "' starts at 1; leave it out for connections without ports");
        }
        return range;
    };
    const auto prefix = [](const YAML::Node& x, const std::string& key) {
        const Ip::Prefix p = toPrefixLen(x, key);
        if (p.addr.value & ~Ip::IpAddrWithFullMask::maskOfLength(p.len)) {
            fail(x, "'" + key + "' " + p.toString() + " has address bits beyond its length");
        }
        return p;
    };
    readKeys(
        v, "a connection bulk",
        {noted(given, "kind", [&](const YAML::Node& x) { b.target = toKind(x); }),
         noted(given, "proto", [&](const YAML::Node& x) { b.protocol = toProtocol(x, "proto"); }),
         noted(given, "count", [&](const YAML::Node& x) { b.count = toU32(x, "count"); }),
         noted(given, "src", [&](const YAML::Node& x) { b.src = prefix(x, "src"); }),
         noted(given, "srcPorts", [&](const YAML::Node& x) { b.srcPorts = ports(x, "srcPorts"); }),
         noted(given, "peers",
               [&](const YAML::Node& x) {
                   for (const auto& p : sequence(x, "peers")) {
                       b.peers.push_back(toIpAndPort(p, "peers"));
                   }
               }),
         noted(given, "pool", [&](const YAML::Node& x) { b.pool = prefix(x, "pool"); }),
         noted(given, "poolPorts",
               [&](const YAML::Node& x) { b.poolPorts = ports(x, "poolPorts"); }),
         noted(given, "profile",
               [&](const YAML::Node& x) { b.profile = uint16_t(toBounded(x, "profile", 0xFFFF)); }),
         noted(given, "vrf", [&](const YAML::Node& x) { b.vrf = toU32(x, "vrf"); }),
         noted(given, "fullCone", [&](const YAML::Node& x) { b.fullCone = toBool(x, "fullCone"); }),
         noted(given, "nextHop", [&](const YAML::Node& x) { b.nextHop = toU32(x, "nextHop"); })});
    for (const char* key : {"kind", "proto", "count", "src", "peers", "pool"}) {
        if (!given.count(key)) {
            fail(v, "a connection bulk needs 'kind', 'proto', 'count', 'src', 'peers' and 'pool'");
        }
    }
    if (b.count == 0 || b.count > kMaxBulk) {
        fail(v, "'count' must be 1 to " + std::to_string(kMaxBulk) + ", not " +
                    std::to_string(b.count));
    }
    if (b.peers.empty()) {
        fail(v, "'peers' must name at least one peer");
    }
    if (std::set<Ip::IpAndPort>(b.peers.begin(), b.peers.end()).size() != b.peers.size()) {
        fail(v, "'peers' names a peer twice");
    }
    if (b.target == Ip::Nat::kSourceTranslation && b.nextHop != 0) {
        fail(v, "'nextHop' is for dnat connections only");
    }
    const auto span = [](std::pair<uint16_t, uint16_t> r) {
        return uint64_t(r.second - r.first) + 1;
    };
    const uint64_t tuples = (uint64_t(1) << (32 - b.src.len)) * span(b.srcPorts) * b.peers.size();
    if (b.count > tuples) {
        fail(v, "count " + std::to_string(b.count) + " is more than the " + std::to_string(tuples) +
                    " distinct connections that src, srcPorts and peers make");
    }
    // Source translations to one peer need a translated address and port each; destination
    // translations may share the inside server.
    const uint64_t translations = (uint64_t(1) << (32 - b.pool.len)) * span(b.poolPorts);
    if (b.target == Ip::Nat::kSourceTranslation && b.count > translations) {
        fail(v, "count " + std::to_string(b.count) + " is more than the " +
                    std::to_string(translations) +
                    " translated addresses and ports that pool and poolPorts make");
    }
    // Connections differ in their numbers only, so one per peer shows the shape of all.
    for (uint32_t i = 0; i < b.peers.size() && i < b.count; ++i) {
        if (const std::string why = misshapen(b.at(i)); !why.empty()) {
            fail(v, why);
        }
    }
    return b;
}

// A twice-NAT translation to add (`adding`), or to withdraw by its key.
TwiceTranslation readTwice(const YAML::Node& v, bool adding) {
    TwiceTranslation t;
    auto& k = t.key;
    int olds = 0;
    int news = 0;
    std::map<std::string, KeyReader> readers{
        {"srcOld",
         [&](const YAML::Node& x) {
             k.srcOld = toIpAndPort(x, "srcOld");
             ++olds;
         }},
        {"dstOld",
         [&](const YAML::Node& x) {
             k.dstOld = toIpAndPort(x, "dstOld");
             ++olds;
         }},
        {"proto", [&](const YAML::Node& x) { k.protocol = toProtocol(x, "proto"); }},
        {"profile",
         [&](const YAML::Node& x) { k.profile = uint16_t(toBounded(x, "profile", 0xFFFF)); }},
        {"vrf", [&](const YAML::Node& x) { k.vrf = toU32(x, "vrf"); }},
    };
    if (adding) {
        readers["srcNew"] = [&](const YAML::Node& x) {
            t.translation.srcNew = toIpAndPort(x, "srcNew");
            ++news;
        };
        readers["dstNew"] = [&](const YAML::Node& x) {
            t.translation.dstNew = toIpAndPort(x, "dstNew");
            ++news;
        };
        readers["nextHop"] = [&](const YAML::Node& x) {
            t.translation.nextHop = toU32(x, "nextHop");
        };
        readers["dynamic"] = [&](const YAML::Node& x) {
            t.translation.dynamic = toBool(x, "dynamic");
        };
    }
    const std::string what =
        adding ? "a twice-NAT translation" : "a twice-NAT translation to remove";
    readKeys(v, what, readers);
    if (olds != 2 || (adding && news != 2)) {
        fail(v, what + " needs 'srcOld' and 'dstOld'" + (adding ? ", 'srcNew' and 'dstNew'" : ""));
    }
    return t;
}

// A NAT flow to add (`adding`), or to withdraw by its profile, policy and match.
NatFlowChange readFlow(const YAML::Node& v, bool adding) {
    NatFlowChange f;
    auto& flow = f.entry.flow;
    flow.srcPortEnd = flow.dstPortEnd = 65535;
    std::map<std::string, KeyReader> readers{
        {"profile",
         [&](const YAML::Node& x) { f.key.profile = uint16_t(toBounded(x, "profile", 0xFFFF)); }},
        {"policy", [&](const YAML::Node& x) { f.key.policy = scalar(x, "policy"); }},
        {"match", [&](const YAML::Node& x) { f.key.match = scalar(x, "match"); }},
    };
    if (adding) {
        readers["src"] = [&](const YAML::Node& x) { flow.src = toPrefixLen(x, "src"); };
        readers["dst"] = [&](const YAML::Node& x) { flow.dst = toPrefixLen(x, "dst"); };
        readers["srcPorts"] = [&](const YAML::Node& x) {
            std::tie(flow.srcPortStart, flow.srcPortEnd) = toPortRange(x, "srcPorts");
        };
        readers["dstPorts"] = [&](const YAML::Node& x) {
            std::tie(flow.dstPortStart, flow.dstPortEnd) = toPortRange(x, "dstPorts");
        };
        readers["proto"] = [&](const YAML::Node& x) { flow.protocol = toProtocol(x, "proto"); };
        readers["priority"] = [&](const YAML::Node& x) {
            flow.priority = uint16_t(toBounded(x, "priority", 0xFFFF));
        };
        readers["groupUc"] = [&](const YAML::Node& x) { f.entry.groupUc = toU32(x, "groupUc"); };
        readers["groupMc"] = [&](const YAML::Node& x) { f.entry.groupMc = toU32(x, "groupMc"); };
    }
    const std::string what = adding ? "a NAT flow" : "a NAT flow to remove";
    readKeys(v, what, readers);
    if (f.key.policy.empty() || f.key.match.empty()) {
        fail(v, what + " needs a 'policy' and a 'match'");
    }
    return f;
}

// Packets of connections and twice-NAT translations, named as their removals name them.
Traffic readTraffic(const YAML::Node& v) {
    Traffic t;
    t.line = lineOf(v);
    readKeys(v, "traffic",
             {{"pipe", [&](const YAML::Node& x) { t.pipe = toU32(x, "pipe"); }},
              {"for", [&](const YAML::Node& x) { t.seconds = toSeconds(x, "for"); }},
              {"connections",
               [&](const YAML::Node& x) {
                   for (const auto& c : sequence(x, "connections")) {
                       t.connections.push_back(readConnection(c, false).key);
                   }
               }},
              {"twiceNat", [&](const YAML::Node& x) {
                   for (const auto& c : sequence(x, "twiceNat")) {
                       t.twice.push_back(readTwice(c, false).key);
                   }
               }}});
    if (t.connections.empty() && t.twice.empty()) {
        fail(v, "traffic needs 'connections' or 'twiceNat' to send packets of");
    }
    return t;
}

} // namespace Read

Connection ConnectionBulk::at(uint32_t i) const {
    const uint64_t hosts = uint64_t(1) << (32 - src.len);
    const uint64_t poolHosts = uint64_t(1) << (32 - pool.len);
    const uint64_t k = i / peers.size();
    const auto port = [](std::pair<uint16_t, uint16_t> range, uint64_t n) {
        return range.first == 0
                   ? uint16_t(0)
                   : uint16_t(range.first + n % (uint64_t(range.second - range.first) + 1));
    };
    Connection c;
    c.key.target = target;
    c.key.vrfId = vrf;
    c.key.tuple.protocol = protocol;
    c.key.tuple.src = {Ip::IpAddr(src.addr.value + uint32_t(k % hosts)), port(srcPorts, k / hosts)};
    c.key.tuple.dst = peers[i % peers.size()];
    c.conn.profile = profile;
    c.conn.translated = {Ip::IpAddr(pool.addr.value + uint32_t(i % poolHosts)),
                         port(poolPorts, i / poolHosts)};
    c.conn.fullCone = fullCone;
    c.conn.nextHop = nextHop;
    return c;
}

} // namespace Scenario
