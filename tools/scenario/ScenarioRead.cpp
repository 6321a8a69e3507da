#include "tools/scenario/ScenarioRead.h"

#include <charconv>
#include <cmath>

namespace Scenario::Read {

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

uint8_t toProtocol(const YAML::Node& n, const std::string& key) {
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

} // namespace Scenario::Read
