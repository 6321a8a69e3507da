// The trap-rule parts of a scenario step: the ACLs and pools that dynamic NAT rules name, the
// rules themselves, and the interfaces of NAT profiles with their addresses.

#include "tools/scenario/ScenarioRead.h"

#include <set>

namespace Scenario::Read {

namespace {

Ip::Nat::AclRule readAclRule(const YAML::Node& v) {
    Ip::Nat::AclRule r;
    bool hasSeq = false;
    auto ports = [&](const YAML::Node& x, const char* key, uint16_t& first, uint16_t& last) {
        std::tie(first, last) = toPortRange(x, key);
    };
    readKeys(v, "ACL rule",
             {{"seq",
               [&](const YAML::Node& x) {
                   r.seqNum = toU32(x, "seq");
                   hasSeq = true;
               }},
              {"deny", [&](const YAML::Node& x) { r.deny = toBool(x, "deny"); }},
              {"proto", [&](const YAML::Node& x) { r.protocol = toProtocol(x, "proto"); }},
              {"src", [&](const YAML::Node& x) { r.src = toPrefix(x, "src"); }},
              {"dst", [&](const YAML::Node& x) { r.dst = toPrefix(x, "dst"); }},
              {"srcPorts",
               [&](const YAML::Node& x) { ports(x, "srcPorts", r.srcPortStart, r.srcPortEnd); }},
              {"dstPorts",
               [&](const YAML::Node& x) { ports(x, "dstPorts", r.dstPortStart, r.dstPortEnd); }}});
    if (!hasSeq) {
        fail(v, "an ACL rule needs 'seq', its sequence number");
    }
    if (!r.protocol && !r.anyPort()) {
        fail(v, "an ACL rule with ports needs 'proto'");
    }
    return r;
}

Ip::Nat::AclRules readAcl(const YAML::Node& v, const std::string& name) {
    Ip::Nat::AclRules rules;
    std::set<uint32_t> seqs;
    for (const auto& x : sequence(v, "the rules of ACL " + name)) {
        rules.push_back(readAclRule(x));
        if (!seqs.insert(rules.back().seqNum).second) {
            fail(x,
                 "ACL " + name + " has two rules with seq " + std::to_string(rules.back().seqNum));
        }
    }
    std::sort(rules.begin(), rules.end(),
              [](const auto& a, const auto& b) { return a.seqNum < b.seqNum; });
    return rules;
}

// A dynamic NAT rule (`adding`) or the reference that withdraws one.
DynamicRule readDynamicRule(const YAML::Node& v, bool adding) {
    DynamicRule d;
    std::set<std::string> given;
    auto note = [&](const char* key, std::function<void(const YAML::Node&)> read) {
        return std::pair<const std::string, KeyReader>{key, [&given, key, read](const auto& x) {
                                                           read(x);
                                                           given.insert(key);
                                                       }};
    };
    std::map<std::string, KeyReader> readers{
        note("intf", [&](const YAML::Node& x) { d.intf = scalar(x, "intf"); }),
        note("acl", [&](const YAML::Node& x) { d.key.acl = scalar(x, "acl"); }),
        note("group",
             [&](const YAML::Node& x) { d.key.group = uint16_t(toBounded(x, "group", 0xFFFF)); }),
    };
    if (adding) {
        readers.insert({
            note("kind",
                 [&](const YAML::Node& x) {
                     const std::string k = scalar(x, "kind");
                     if (k != "snat" && k != "dnat") {
                         fail(x, "'kind' must be snat or dnat, not '" + k + "'");
                     }
                     d.rule.target = k == "snat" ? Ip::Nat::kSourceTranslation
                                                 : Ip::Nat::kDestinationTranslation;
                 }),
            note("pool", [&](const YAML::Node& x) { d.rule.pool = scalar(x, "pool"); }),
            note("fullCone", [&](const YAML::Node& x) { d.rule.fullCone = toBool(x, "fullCone"); }),
            note("addrOnly", [&](const YAML::Node& x) { d.rule.addrOnly = toBool(x, "addrOnly"); }),
            note("priority", [&](const YAML::Node& x) { d.rule.priority = toU32(x, "priority"); }),
        });
    }
    readKeys(v, adding ? "dynamic NAT rule" : "dynamic NAT rule to remove", readers);
    for (const char* key : {"intf", "acl"}) {
        if (!given.count(key)) {
            fail(v, std::string("a dynamic NAT rule needs '") + key + "'");
        }
    }
    if (adding && !given.count("priority")) {
        fail(v, "a dynamic NAT rule needs 'priority'");
    }
    if (d.key.acl.empty()) {
        fail(v, "a dynamic NAT rule's 'acl' cannot be empty");
    }
    return d;
}

std::vector<std::string> names(const YAML::Node& v, const std::string& what) {
    std::vector<std::string> out;
    for (const auto& x : sequence(v, what)) {
        out.push_back(scalar(x, what));
    }
    return out;
}

} // namespace

std::map<std::string, KeyReader> trapRuleReaders(Step& step) {
    return {
        {"acls",
         [&step](const YAML::Node& v) {
             for (const auto& kv : mapping(v, "acls")) {
                 const std::string name = scalar(kv.first, "ACL name");
                 step.acls[name] = readAcl(kv.second, name);
             }
         }},
        {"removeAcls", [&step](const YAML::Node& v) { step.aclRemove = names(v, "removeAcls"); }},
        {"pools",
         [&step](const YAML::Node& v) {
             for (const auto& kv : mapping(v, "pools")) {
                 step.pools[scalar(kv.first, "pool name")] = toU32(kv.second, "pool id");
             }
         }},
        {"removePools",
         [&step](const YAML::Node& v) { step.poolRemove = names(v, "removePools"); }},
        {"dynamicRules",
         [&step](const YAML::Node& v) {
             for (const auto& x : sequence(v, "dynamicRules")) {
                 step.dynamicRuleAdd.push_back(readDynamicRule(x, true));
             }
         }},
        {"removeDynamicRules",
         [&step](const YAML::Node& v) {
             for (const auto& x : sequence(v, "removeDynamicRules")) {
                 const DynamicRule d = readDynamicRule(x, false);
                 step.dynamicRuleRemove.push_back({d.intf, d.key});
             }
         }},
        {"profileIntfs",
         [&step](const YAML::Node& v) {
             for (const auto& kv : mapping(v, "profileIntfs")) {
                 const std::string profile = scalar(kv.first, "NAT profile interface");
                 step.profileIntfs[profile] = names(kv.second, "interfaces of " + profile);
             }
         }},
        {"intfAddress",
         [&step](const YAML::Node& v) {
             for (const auto& kv : mapping(v, "intfAddress")) {
                 step.intfAddress[scalar(kv.first, "interface")] = toIp(kv.second, "address");
             }
         }},
    };
}

} // namespace Scenario::Read
