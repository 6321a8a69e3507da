#pragma once
// What the scenario loader's files share: reading one value of a YAML node with a fault that
// names the file's line, and the readers of the dynamic parts of a step.

#include "tools/scenario/Scenario.h"

#include <yaml-cpp/yaml.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

namespace Scenario::Read {

// A fault at a place in the file.
struct Fault {
    int line;
    std::string what;
};

int lineOf(const YAML::Node& n);
[[noreturn]] void fail(const YAML::Node& n, std::string what);

// Each value of `key`, or a fault naming the key and what it must be.
std::string scalar(const YAML::Node& n, const std::string& key);
bool toBool(const YAML::Node& n, const std::string& key);
uint32_t toU32(const YAML::Node& n, const std::string& key);
double toSeconds(const YAML::Node& n, const std::string& key);
uint32_t toBounded(const YAML::Node& n, const std::string& key, uint32_t max);
Ip::IpAddr toIp(const YAML::Node& n, const std::string& key);
Ip::IpAndPort toIpAndPort(const YAML::Node& n, const std::string& key);
Ip::IpAddrWithFullMask toPrefix(const YAML::Node& n, const std::string& key);
uint8_t toProtocol(const YAML::Node& n, const std::string& key = "protocol");
Ip::Prefix toPrefixLen(const YAML::Node& n, const std::string& key);
std::pair<uint16_t, uint16_t> toPortRange(const YAML::Node& n, const std::string& key);
const YAML::Node& sequence(const YAML::Node& n, const std::string& what);
const YAML::Node& mapping(const YAML::Node& n, const std::string& what);

// Walks a mapping, handing each known key to its reader and refusing any other.
using KeyReader = std::function<void(const YAML::Node& value)>;
void readKeys(const YAML::Node& n, const std::string& what,
              const std::map<std::string, KeyReader>& readers);

// Dynamic connections, one or in bulk, twice-NAT translations and NAT flows; `adding` says
// whether the translated side is given (an add) or only the key (a removal).
Connection readConnection(const YAML::Node& v, bool adding);
ConnectionBulk readBulk(const YAML::Node& v);
TwiceTranslation readTwice(const YAML::Node& v, bool adding);
NatFlowChange readFlow(const YAML::Node& v, bool adding);
Traffic readTraffic(const YAML::Node& v);

// The trap-rule parts of a step: ACLs, pools, dynamic NAT rules, profile interfaces and their
// addresses, each under its key.
std::map<std::string, KeyReader> trapRuleReaders(Step& step);

} // namespace Scenario::Read
