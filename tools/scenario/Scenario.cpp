#include "tools/scenario/Scenario.h"

#include "tools/scenario/ScenarioRead.h"

#include "host/CommandSocket.h"
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

using namespace Read;

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

// Traffic goes to connections and twice-NAT translations that earlier steps (or its own)
// added one by one, and not to full-cone connections, whose entries it cannot find.
void checkTraffic(const Traffic& t, const std::map<Ip::Nat::DynamicConnectionKey, bool>& conns,
                  const std::set<Ip::Nat::TwiceNatKey>& twice) {
    for (const auto& k : t.connections) {
        const auto it = conns.find(k);
        if (it == conns.end()) {
            throw Fault{t.line, "traffic for " + k.str() +
                                    ", which no 'connections' of this or an earlier step adds"};
        }
        if (it->second) {
            throw Fault{t.line, "traffic for full-cone connection " + k.str() +
                                    " is not supported: its entries match what the full-cone "
                                    "stage writes"};
        }
    }
    for (const auto& k : t.twice) {
        if (!twice.count(k)) {
            throw Fault{t.line, "traffic for twice-NAT " + k.str() +
                                    ", which no 'twiceNat' of this or an earlier step adds"};
        }
    }
}

void readNatConfig(const YAML::Node& n, NatConfig& c) {
    // A timeout or period of 0 would age every connection at once, or poll without pause.
    const auto seconds = [](const YAML::Node& v, const std::string& key) {
        const uint32_t s = toU32(v, key);
        if (s == 0) {
            fail(v, "'" + key + "' must be at least 1 second");
        }
        return s;
    };
    readKeys(
        n, "natConfig",
        {{"natTcpSynAckRequired",
          [&](const YAML::Node& v) { c.natTcpSynAckRequired = toBool(v, "natTcpSynAckRequired"); }},
         {"tcpTimeout", [&](const YAML::Node& v) { c.tcpTimeout = seconds(v, "tcpTimeout"); }},
         {"udpTimeout", [&](const YAML::Node& v) { c.udpTimeout = seconds(v, "udpTimeout"); }},
         {"otherTimeout",
          [&](const YAML::Node& v) { c.otherTimeout = seconds(v, "otherTimeout"); }},
         {"connectionPollInterval", [&](const YAML::Node& v) {
              c.connectionPollInterval = seconds(v, "connectionPollInterval");
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

// A CLI command as an operator types it: one line. What it asks is left to the agent, which
// answers unknown words as it does on a switch.
std::string readShow(const YAML::Node& v) {
    if (!v.IsScalar()) {
        fail(v, "'show' must be a command, such as \"showNatStatic ingress snat all\", or a list "
                "of them");
    }
    const std::string& text = v.Scalar();
    if (text.find_first_not_of(' ') == std::string::npos) {
        fail(v, "'show' needs a command, such as \"showNatSummary\"");
    }
    if (text.find_first_of(std::string("\n\r\0", 3)) != std::string::npos) {
        fail(v, "a 'show' command is one line of text");
    }
    if (text.size() > Host::CommandSocket::kMaxRequest) {
        fail(v, "a 'show' command is at most " + std::to_string(Host::CommandSocket::kMaxRequest) +
                    " bytes");
    }
    return text;
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
    std::map<std::string, KeyReader> readers = trapRuleReaders(step);
    readers.merge(std::map<std::string, KeyReader>{
        {"at",
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
         {"traffic", [&](const YAML::Node& v) { step.traffic = readTraffic(v); }},
         {"show",
          [&](const YAML::Node& v) {
              if (!v.IsSequence()) {
                  step.show.push_back(readShow(v));
                  return;
              }
              for (const auto& x : v) {
                  step.show.push_back(readShow(x));
              }
          }},
         {"packet",
          [&](const YAML::Node& v) {
              // One packet, or a list of them, in the tracer's notation.
              for (const auto& x : v.IsSequence() ? v : YAML::Node(std::vector<YAML::Node>{v})) {
                  const std::string text = scalar(x, "packet");
                  VyrP4::PacketNotation n;
                  std::string error;
                  if (!VyrP4::packetNotationParse(text, n, error)) {
                      fail(x, "packet '" + text + "': " + error);
                  }
                  step.packets.push_back(n);
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
    readKeys(n, "step", readers);
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
    // What earlier steps published, for the traffic of later ones: full cone or not.
    std::map<Ip::Nat::DynamicConnectionKey, bool> connections;
    std::set<Ip::Nat::TwiceNatKey> twice;
    for (const Step& step : s.steps) {
        for (const auto& k : step.connectionRemove) {
            connections.erase(k);
        }
        for (const auto& c : step.connectionAdd) {
            connections[c.key] = c.conn.fullCone;
        }
        for (const auto& k : step.twiceRemove) {
            twice.erase(k);
        }
        for (const auto& t : step.twiceAdd) {
            twice.insert(t.key);
        }
        if (step.traffic) {
            checkTraffic(*step.traffic, connections, twice);
        }
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
        if (step.traffic && step.traffic->pipe >= s.profile.pipes()) {
            throw Fault{step.traffic->line,
                        "traffic on pipe " + std::to_string(step.traffic->pipe) +
                            ", but the chip has " + std::to_string(s.profile.pipes()) + " pipes"};
        }
        for (const auto& packet : step.packets) {
            if (packet.meta.pipe >= s.profile.pipes()) {
                throw Fault{step.line, "packet on pipe " + std::to_string(packet.meta.pipe) +
                                           ", but the chip has " +
                                           std::to_string(s.profile.pipes()) + " pipes"};
            }
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
