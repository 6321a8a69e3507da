#include "tools/scenario/Scenario.h"

#include "host/Format.h"
#include "host/OmaNatSm.h"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace Scenario {

namespace {

// A fault at a place in the file.
struct Fault {
    int line;
    std::string what;
};

int lineOf(const YAML::Node& n) {
    const YAML::Mark m = n.Mark();
    return m.is_null() ? 0 : m.line + 1;
}

[[noreturn]] void fail(const YAML::Node& n, std::string what) {
    throw Fault{lineOf(n), std::move(what)};
}

std::string scalar(const YAML::Node& n, const std::string& key) {
    if (!n.IsScalar()) {
        fail(n, "'" + key + "' must be a single value");
    }
    return n.Scalar();
}

bool toBool(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    if (s == "true") {
        return true;
    }
    if (s == "false") {
        return false;
    }
    fail(n, "'" + key + "' must be true or false, not '" + s + "'");
}

uint32_t toU32(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    uint64_t v = 0;
    const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
    const char* begin = s.data() + (hex ? 2 : 0);
    auto [end, ec] = std::from_chars(begin, s.data() + s.size(), v, hex ? 16 : 10);
    if (s.empty() || end != s.data() + s.size() || ec == std::errc::invalid_argument) {
        fail(n, "'" + key + "' must be a whole number, not '" + s + "'");
    }
    if (ec == std::errc::result_out_of_range || v > UINT32_MAX) {
        fail(n, "'" + key + "' is out of range: " + s + " (at most 4294967295)");
    }
    return static_cast<uint32_t>(v);
}

double toSeconds(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || end != s.data() + s.size() || ec == std::errc::invalid_argument ||
        std::isnan(v)) {
        fail(n, "'" + key + "' must be a number of seconds, not '" + s + "'");
    }
    if (ec == std::errc::result_out_of_range || v < 0 || v > 1e6) {
        fail(n, "'" + key + "' is out of range: " + s + " (0 to 1000000 seconds)");
    }
    return v;
}

uint32_t toBounded(const YAML::Node& n, const std::string& key, uint32_t max) {
    const uint32_t v = toU32(n, key);
    if (v > max) {
        fail(n, "'" + key + "' is out of range: " + std::to_string(v) + " (at most " +
                    std::to_string(max) + ")");
    }
    return v;
}

Ip::IpAddr toIp(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    auto a = Ip::IpAddr::parse(s);
    if (!a) {
        fail(n, "'" + key + "' must be an IPv4 address such as 10.0.0.1, not '" + s + "'");
    }
    return *a;
}

Ip::IpAndPort toIpAndPort(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    const std::size_t colon = s.find(':');
    auto a = Ip::IpAddr::parse(s.substr(0, colon));
    uint32_t port = 0;
    bool ok = a.has_value();
    if (ok && colon != std::string::npos) {
        const char* b = s.data() + colon + 1;
        auto [end, ec] = std::from_chars(b, s.data() + s.size(), port);
        ok = ec == std::errc() && end == s.data() + s.size() && end != b && port <= 65535;
    }
    if (!ok) {
        fail(n, "'" + key + "' must be an address with an optional port, such as 10.0.0.5:80, " +
                    "not '" + s + "'");
    }
    return {*a, uint16_t(port)};
}

Ip::IpAddrWithFullMask toPrefix(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    auto p = Ip::IpAddrWithFullMask::parse(s);
    if (!p) {
        fail(n, "'" + key + "' must be a prefix such as 10.0.0.0/8, not '" + s + "'");
    }
    return *p;
}

uint8_t toProtocol(const YAML::Node& n, const std::string& key = "protocol") {
    const std::string s = scalar(n, key);
    if (s == "tcp") {
        return 6;
    }
    if (s == "udp") {
        return 17;
    }
    if (s == "icmp") {
        return 1;
    }
    if (s == "any") {
        return 0;
    }
    return uint8_t(toBounded(n, key, 255));
}

Ip::Prefix toPrefixLen(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    auto p = Ip::Prefix::parse(s);
    if (!p) {
        fail(n, "'" + key + "' must be a prefix such as 10.1.0.0/16, not '" + s + "'");
    }
    return *p;
}

// "80" or "1024-65535".
std::pair<uint16_t, uint16_t> toPortRange(const YAML::Node& n, const std::string& key) {
    const std::string s = scalar(n, key);
    auto number = [](std::string_view t, uint32_t& v) {
        auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        return !t.empty() && ec == std::errc() && end == t.data() + t.size() && v <= 65535;
    };
    const std::size_t dash = s.find('-');
    uint32_t first = 0;
    uint32_t last = 0;
    const std::string_view text(s);
    const bool ok =
        number(text.substr(0, dash), first) &&
        (dash == std::string::npos ? (last = first, true) : number(text.substr(dash + 1), last));
    if (!ok) {
        fail(n, "'" + key + "' must be a port or a range of ports such as 80 or 1024-65535, not '" +
                    s + "'");
    }
    if (last < first) {
        fail(n, "'" + key + "' ends below its start: " + s);
    }
    return {uint16_t(first), uint16_t(last)};
}

const YAML::Node& sequence(const YAML::Node& n, const std::string& what) {
    if (!n.IsSequence()) {
        fail(n, "'" + what + "' must be a list");
    }
    return n;
}

const YAML::Node& mapping(const YAML::Node& n, const std::string& what) {
    if (!n.IsMap()) {
        fail(n, what + " must be a mapping of keys to values");
    }
    return n;
}

// Walks a mapping, handing each known key to its reader and refusing any other.
using KeyReader = std::function<void(const YAML::Node& value)>;
void readKeys(const YAML::Node& n, const std::string& what,
              const std::map<std::string, KeyReader>& readers) {
    mapping(n, what);
    for (const auto& kv : n) {
        const std::string key = kv.first.IsScalar() ? kv.first.Scalar() : "";
        auto it = readers.find(key);
        if (it == readers.end()) {
            std::string known;
            for (const auto& [k, r] : readers) {
                known += (known.empty() ? "" : ", ") + k;
            }
            fail(kv.first, "unknown key '" + key + "' in " + what + " (known: " + known + ")");
        }
        it->second(kv.second);
    }
}

// What makes a profile one the host never publishes: the agent takes these combinations as
// broken invariants, not as input. Empty when the profile is consistent.
std::string inconsistency(const VyrP4::ProfileCapabilities& p) {
    if (p.intfNat() && p.vrfNatHop()) {
        return "a chip profile has intfNat or vrfNatHop, not both";
    }
    if (p.egrUcNatSupported() && p.egrUcNatTableSize() == 0) {
        return "egrUcNatSupported needs an egrUcNatTableSize above 0";
    }
    if (!p.egrUcNatSupported() && p.egrUcNatTableSize() != 0) {
        return "egrUcNatTableSize must be 0 without egrUcNatSupported";
    }
    if (p.intfNat()) {
        auto total = [](const std::vector<uint32_t>& banks) {
            return std::accumulate(banks.begin(), banks.end(), uint64_t(0));
        };
        if (total(p.dnatPartitionBankSize()) != total(p.snatPartitionBankSize())) {
            return "dnatPartitionBankSize and snatPartitionBankSize must hold as many entries in "
                   "all";
        }
        if (!p.dynFullConeDnatSupported() &&
            uint64_t(p.dnat1TableSize()) + p.dnat2TableSize() <
                uint64_t(p.snat1TableSize()) + p.snat2TableSize()) {
            return "without dynFullConeDnatSupported, dnat1TableSize and dnat2TableSize must hold "
                   "as many entries as snat1TableSize and snat2TableSize";
        }
    }
    return {};
}

void readChip(const YAML::Node& n, Scenario& s) {
    std::optional<std::string> name;
    std::optional<YAML::Node> fields;
    readKeys(n, "chip",
             {{"profile", [&](const YAML::Node& v) { name = scalar(v, "profile"); }},
              {"fields", [&](const YAML::Node& v) { fields.emplace(v); }}});
    if (!name) {
        fail(n, "chip needs a 'profile'");
    }
    auto profile = VyrP4::namedProfile(*name);
    if (!profile) {
        std::string known;
        for (const auto& p : VyrP4::namedProfileNames()) {
            known += (known.empty() ? "" : ", ") + p;
        }
        fail(n["profile"], "unknown chip profile '" + *name + "' (known: " + known + ")");
    }
    if (fields) {
        mapping(*fields, "chip fields");
        for (const auto& kv : *fields) {
            std::string error;
            const std::string key = kv.first.IsScalar() ? kv.first.Scalar() : "";
            if (!profile->field(key)) {
                std::string known;
                for (const auto& f : VyrP4::ProfileCapabilities::fieldNames()) {
                    known += (known.empty() ? "" : ", ") + f;
                }
                fail(kv.first, "unknown profile field '" + key + "' (known: " + known + ")");
            }
            if (!kv.second.IsScalar() || !profile->fieldIs(key, kv.second.Scalar(), error)) {
                fail(kv.first,
                     error.empty() ? "chip field '" + key + "' needs a single value" : error);
            }
        }
        if (const std::string why = inconsistency(*profile); !why.empty()) {
            fail(*fields, why);
        }
    }
    s.profile = *profile;
}

void readNatConfig(const YAML::Node& n, NatConfig& c) {
    readKeys(n, "natConfig", {{"natTcpSynAckRequired", [&](const YAML::Node& v) {
                                   c.natTcpSynAckRequired = toBool(v, "natTcpSynAckRequired");
                               }}});
}

// The key of a static translation: its interface, inside address, access list and target.
void readStaticRef(StaticRef& ref, bool& hasLocal, std::map<std::string, KeyReader>& readers) {
    readers["intf"] = [&](const YAML::Node& x) { ref.intf = scalar(x, "intf"); };
    readers["local"] = [&](const YAML::Node& x) {
        ref.key.local = toIpAndPort(x, "local");
        hasLocal = true;
    };
    readers["acl"] = [&](const YAML::Node& x) { ref.key.aclName = scalar(x, "acl"); };
    readers["egressTarget"] = [&](const YAML::Node& x) {
        ref.key.target = toBool(x, "egressTarget") ? Ip::Nat::StaticKey::kEgressTarget : 0;
    };
}

StaticTranslation readStatic(const YAML::Node& v) {
    StaticTranslation t;
    StaticRef ref;
    bool hasLocal = false;
    bool hasGlobal = false;
    std::map<std::string, KeyReader> readers;
    readStaticRef(ref, hasLocal, readers);
    readers["global"] = [&](const YAML::Node& x) {
        t.conn.global = toIpAndPort(x, "global");
        hasGlobal = true;
    };
    readers["target"] = [&](const YAML::Node& x) {
        const std::string s = scalar(x, "target");
        if (s != "source" && s != "destination") {
            fail(x, "'target' must be source or destination, not '" + s + "'");
        }
        t.conn.natTarget =
            s == "source" ? Ip::Nat::kSourceTranslation : Ip::Nat::kDestinationTranslation;
    };
    readers["protocol"] = [&](const YAML::Node& x) { t.conn.protocol = toProtocol(x); };
    std::optional<bool> ingress;
    readers["ingress"] = [&](const YAML::Node& x) { ingress = toBool(x, "ingress"); };
    readers["filter"] = [&](const YAML::Node& x) {
        for (const auto& f : sequence(x, "filter")) {
            t.conn.filterAddrs.push_back(toPrefix(f, "filter"));
        }
        std::sort(t.conn.filterAddrs.begin(), t.conn.filterAddrs.end());
    };
    readKeys(v, "a static translation", readers);
    if (ref.intf.empty() || !hasLocal || !hasGlobal) {
        fail(v, "a static translation needs 'intf', 'local' and 'global'");
    }
    t.intf = ref.intf;
    t.key = ref.key;
    // Source translations are configured on the outside interface, destination translations
    // on the inside one, unless said otherwise.
    t.conn.ingress = ingress.value_or(!t.conn.sourceTranslation());
    return t;
}

VrfChange readVrf(const YAML::Node& v) {
    VrfChange c;
    auto pairs = [&](const YAML::Node& x, const std::string& what,
                     std::map<Ip::IpAddr, Ip::IpAddr>& out) {
        mapping(x, what);
        for (const auto& kv : x) {
            out[toIp(kv.first, what)] = toIp(kv.second, what);
        }
    };
    auto list = [&](const YAML::Node& x, const std::string& what, std::vector<Ip::IpAddr>& out) {
        for (const auto& a : sequence(x, what)) {
            out.push_back(toIp(a, what));
        }
    };
    readKeys(v, "a vrf",
             {{"name", [&](const YAML::Node& x) { c.name = scalar(x, "name"); }},
              {"id", [&](const YAML::Node& x) { c.id = toBounded(x, "id", 0xFFFE); }},
              {"src", [&](const YAML::Node& x) { pairs(x, "src", c.src); }},
              {"dst", [&](const YAML::Node& x) { pairs(x, "dst", c.dst); }},
              {"removeSrc", [&](const YAML::Node& x) { list(x, "removeSrc", c.removeSrc); }},
              {"removeDst", [&](const YAML::Node& x) { list(x, "removeDst", c.removeDst); }},
              {"policer", [&](const YAML::Node& x) {
                   c.policerChanged = true;
                   if (x.IsScalar() && x.Scalar() == "none") {
                       return;
                   }
                   Ip::Nat::VrfPolicer p;
                   readKeys(x, "a policer",
                            {{"rate", [&](const YAML::Node& y) { p.rate = toU32(y, "rate"); }},
                             {"burst", [&](const YAML::Node& y) { p.burst = toU32(y, "burst"); }}});
                   c.policer = p;
               }}});
    if (c.name.empty()) {
        fail(v, "a vrf needs a 'name'");
    }
    return c;
}

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

void readStep(const YAML::Node& n, Step& step) {
    bool hasAt = false;
    step.line = lineOf(n);
    const auto connectionsAt = [&](const YAML::Node& v) {
        step.connectionsLine = step.connectionsLine ? step.connectionsLine : lineOf(v);
    };
    const auto flowsAt = [&](const YAML::Node& v) {
        step.flowsLine = step.flowsLine ? step.flowsLine : lineOf(v);
    };
    // One bulk, or a list of them.
    const auto bulks = [](const YAML::Node& v, const char* key, std::vector<ConnectionBulk>& out) {
        if (v.IsMap()) {
            out.push_back(readBulk(v));
            return;
        }
        for (const auto& x : sequence(v, key)) {
            out.push_back(readBulk(x));
        }
    };
    readKeys(
        n, "step",
        {{"at",
          [&](const YAML::Node& v) {
              step.at = toSeconds(v, "at");
              hasAt = true;
          }},
         {"say", [&](const YAML::Node& v) { step.say = scalar(v, "say"); }},
         {"natConfig", [&](const YAML::Node& v) { readNatConfig(v, step.natConfig); }},
         {"static",
          [&](const YAML::Node& v) {
              for (const auto& t : sequence(v, "static")) {
                  step.staticAdd.push_back(readStatic(t));
              }
          }},
         {"removeStatic",
          [&](const YAML::Node& v) {
              for (const auto& t : sequence(v, "removeStatic")) {
                  StaticRef ref;
                  bool hasLocal = false;
                  std::map<std::string, KeyReader> readers;
                  readStaticRef(ref, hasLocal, readers);
                  readKeys(t, "a static translation to remove", readers);
                  if (ref.intf.empty() || !hasLocal) {
                      fail(t, "a static translation to remove needs 'intf' and 'local'");
                  }
                  step.staticRemove.push_back(ref);
              }
          }},
         {"vlanProfile",
          [&](const YAML::Node& v) {
              mapping(v, "vlanProfile");
              for (const auto& kv : v) {
                  const auto vlan = uint16_t(toBounded(kv.first, "vlan", 4094));
                  step.vlanProfile[vlan] = {uint16_t(toBounded(kv.second, "profile", 0xFFFF)), ""};
              }
          }},
         {"removeVlanProfile",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "removeVlanProfile")) {
                  step.vlanProfileRemove.push_back(uint16_t(toBounded(x, "vlan", 4094)));
              }
          }},
         {"vrf",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "vrf")) {
                  step.vrf.push_back(readVrf(x));
              }
          }},
         {"removeVrf",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "removeVrf")) {
                  step.vrfRemove.push_back(scalar(x, "removeVrf"));
              }
          }},
         {"nextHop",
          [&](const YAML::Node& v) {
              mapping(v, "nextHop");
              for (const auto& kv : v) {
                  step.nextHop[toIp(kv.first, "nextHop")] = toU32(kv.second, "nextHop");
              }
          }},
         {"removeNextHop",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "removeNextHop")) {
                  step.nextHopRemove.push_back(toIp(x, "removeNextHop"));
              }
          }},
         {"connections",
          [&](const YAML::Node& v) {
              connectionsAt(v);
              for (const auto& x : sequence(v, "connections")) {
                  step.connectionAdd.push_back(readConnection(x, true));
              }
          }},
         {"removeConnections",
          [&](const YAML::Node& v) {
              connectionsAt(v);
              for (const auto& x : sequence(v, "removeConnections")) {
                  step.connectionRemove.push_back(readConnection(x, false).key);
              }
          }},
         {"connectionBulk",
          [&](const YAML::Node& v) {
              connectionsAt(v);
              bulks(v, "connectionBulk", step.bulkAdd);
          }},
         {"removeConnectionBulk",
          [&](const YAML::Node& v) {
              connectionsAt(v);
              bulks(v, "removeConnectionBulk", step.bulkRemove);
          }},
         {"twiceNat",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "twiceNat")) {
                  step.twiceAdd.push_back(readTwice(x, true));
              }
          }},
         {"removeTwiceNat",
          [&](const YAML::Node& v) {
              for (const auto& x : sequence(v, "removeTwiceNat")) {
                  step.twiceRemove.push_back(readTwice(x, false).key);
              }
          }},
         {"natFlows",
          [&](const YAML::Node& v) {
              flowsAt(v);
              for (const auto& x : sequence(v, "natFlows")) {
                  step.flowAdd.push_back(readFlow(x, true));
              }
          }},
         {"removeNatFlows", [&](const YAML::Node& v) {
              flowsAt(v);
              for (const auto& x : sequence(v, "removeNatFlows")) {
                  step.flowRemove.push_back(readFlow(x, false).key);
              }
          }}});
    if (!hasAt) {
        fail(n, "a step needs 'at', its time in seconds");
    }
}

Scenario read(const YAML::Node& root, const std::string& file) {
    Scenario s;
    s.file = file;
    bool hasChip = false;
    auto& caps = s.hwCapabilities;
    auto& cfg = s.vyrNatConfig;
    readKeys(
        root, "the scenario",
        {{"chip",
          [&](const YAML::Node& v) {
              readChip(v, s);
              hasChip = true;
          }},
         {"natHwCapabilities",
          [&](const YAML::Node& v) {
              readKeys(
                  v, "natHwCapabilities",
                  {{"dynamicConnectionTableSize",
                    [&](const YAML::Node& x) {
                        caps.dynamicConnectionTableSize = toU32(x, "dynamicConnectionTableSize");
                    }},
                   {"natDpdk", [&](const YAML::Node& x) { caps.natDpdk = toBool(x, "natDpdk"); }},
                   {"natHitfullRestart", [&](const YAML::Node& x) {
                        caps.natHitfullRestart = toBool(x, "natHitfullRestart");
                    }}});
          }},
         {"vyrNatConfig",
          [&](const YAML::Node& v) {
              readKeys(v, "vyrNatConfig",
                       {{"addrOnlySnatNonFragmentReserve",
                         [&](const YAML::Node& x) {
                             cfg.addrOnlySnatNonFragmentReserve =
                                 toU32(x, "addrOnlySnatNonFragmentReserve");
                         }},
                        {"addrOnlyDnatNonFragmentReserve",
                         [&](const YAML::Node& x) {
                             cfg.addrOnlyDnatNonFragmentReserve =
                                 toU32(x, "addrOnlyDnatNonFragmentReserve");
                         }},
                        {"egressNonFragmentReserve",
                         [&](const YAML::Node& x) {
                             cfg.egressNonFragmentReserve = toU32(x, "egressNonFragmentReserve");
                         }},
                        {"twiceNatAddrOnlyNonFragmentReserve", [&](const YAML::Node& x) {
                             cfg.twiceNatAddrOnlyNonFragmentReserve =
                                 toU32(x, "twiceNatAddrOnlyNonFragmentReserve");
                         }}});
          }},
         {"natConfig", [&](const YAML::Node& v) { readNatConfig(v, s.natConfig); }},
         {"settle", [&](const YAML::Node& v) { s.settle = toSeconds(v, "settle"); }},
         {"steps", [&](const YAML::Node& v) {
              if (!v.IsSequence()) {
                  fail(v, "'steps' must be a list of steps");
              }
              for (const auto& item : v) {
                  Step step;
                  readStep(item, step);
                  if (!s.steps.empty() && step.at < s.steps.back().at) {
                      fail(item, "step at " + std::to_string(step.at) +
                                     " s comes before the step above it, at " +
                                     std::to_string(s.steps.back().at) + " s");
                  }
                  s.steps.push_back(std::move(step));
              }
          }}});
    if (!hasChip) {
        fail(root, "the scenario needs a 'chip' with its 'profile'");
    }
    // The chip has NAT profiles 0 to natProfileTableSize - 1 for its VLANs and translations.
    const uint32_t profiles = s.profile.natProfileTableSize();
    const bool profileTables = s.profile.intfNat() || s.profile.egrMcNat();
    for (const Step& step : s.steps) {
        for (const auto& t : step.staticAdd) {
            const auto profile = Oma::NatSm::profileOfIntf(t.intf);
            if (profileTables && profile && *profile >= profiles) {
                throw Fault{step.line, t.intf + ": the chip has " + std::to_string(profiles) +
                                           " NAT profiles"};
            }
            // The address side cannot get a port that the untranslated side does not have.
            const bool source = t.conn.sourceTranslation();
            const Ip::IpAndPort& from = source ? t.key.local : t.conn.global;
            const Ip::IpAndPort& to = source ? t.conn.global : t.key.local;
            if (from.port == 0 && to.port != 0) {
                throw Fault{step.line, std::string(source ? "local " : "global ") +
                                           from.ip.toString() + " on " + t.intf +
                                           " has no port, but its translation " + to.toString() +
                                           " has one"};
            }
        }
        if (step.connectionsLine && s.hwCapabilities.dynamicConnectionTableSize == 0) {
            throw Fault{step.connectionsLine,
                        "connections need natHwCapabilities.dynamicConnectionTableSize above 0: "
                        "without it the agent has no connection tables"};
        }
        // The agent takes a flow on a chip without the flow table as a broken invariant.
        if (step.flowsLine && !s.profile.natFlowSupported()) {
            throw Fault{step.flowsLine, "NAT flows need a chip profile with natFlowSupported"};
        }
        for (const auto& [vlan, binding] : step.vlanProfile) {
            if (s.profile.intfNat() && binding.profile >= profiles) {
                throw Fault{step.line, "VLAN " + std::to_string(vlan) +
                                           " is bound to NAT profile " +
                                           std::to_string(binding.profile) + ", but the chip has " +
                                           std::to_string(profiles) + " NAT profiles"};
            }
        }
    }
    return s;
}

} // namespace

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

std::optional<Scenario> parse(const std::string& text, const std::string& file,
                              std::string& error) {
    try {
        YAML::Node root = YAML::Load(text);
        if (!root || root.IsNull()) {
            error = file + ":1: the scenario is empty";
            return std::nullopt;
        }
        return read(root, file);
    } catch (const Fault& f) {
        error = file + ":" + std::to_string(f.line) + ": " + Host::printable(f.what);
    } catch (const YAML::Exception& e) {
        error = file + ":" + std::to_string(e.mark.is_null() ? 0 : e.mark.line + 1) + ": " +
                Host::printable(e.msg);
    }
    return std::nullopt;
}

std::optional<Scenario> loadFile(const std::string& path, std::string& error) {
    // Non-blocking, so that naming a FIFO without a writer does not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = path + ": cannot read the scenario file: " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        error = path + ": is a directory, not a scenario file";
        return std::nullopt;
    }
    ::fcntl(fd, F_SETFL, 0);
    // Read up to the limit and one byte more, so that a larger input (or an endless one, such
    // as /dev/zero) is refused without reading further.
    std::string text;
    char buf[65536];
    ssize_t n = 0;
    while (text.size() <= kMaxFileBytes && (n = ::read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    const int readErrno = errno;
    ::close(fd);
    if (n < 0) {
        error = path + ": cannot read the scenario file: " + std::strerror(readErrno);
        return std::nullopt;
    }
    if (text.size() > kMaxFileBytes) {
        error = path + ": larger than " + std::to_string(kMaxFileBytes >> 20) +
                " MiB; a scenario file must be smaller";
        return std::nullopt;
    }
    return parse(text, path, error);
}

} // namespace Scenario
