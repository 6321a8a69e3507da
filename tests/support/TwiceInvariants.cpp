// What must hold of the twice manager between any two operations: each table holds exactly the
// entries its records stand for, built as the manager builds them; every key id and rewrite id
// belongs to one record and no other id is taken; a rewrite entry counts its users; the
// valid-fragment count equals the entries whose hardware action is a fragment's; the trap ACLs'
// two stages hold what their records say.

#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/ChipCheck.h"
#include "tests/support/Invariants.h"

#include <map>
#include <set>

namespace TestSupport {

using namespace VyrNat;

namespace {

std::string line(const std::string& what) {
    return what + "\n";
}

// The ids a bitmap has taken beyond 0, against those the records hold.
std::string ids(const char* what, const IdBitmap& bitmap, const std::multiset<uint32_t>& held) {
    std::string out;
    for (uint32_t id : held) {
        if (held.count(id) > 1 || !bitmap.test(id) || id == 0) {
            out += line(std::string(what) + " " + std::to_string(id) + " held wrongly");
        }
    }
    if (bitmap.countSet() != held.size() + 1) {
        out += line(std::string(what) + ": " + std::to_string(bitmap.countSet() - 1) + " taken, " +
                    std::to_string(held.size()) + " held");
    }
    return out;
}

template <class Table>
std::string portTable(const VyrNatTableMgrTwice& mgr, const std::shared_ptr<Table>& table,
                      bool sport, bool dport) {
    std::vector<typename Table::Entry> want;
    for (const auto& [key, e] : mgr.addrPortEntry()) {
        if ((key.sport != 0) == sport && (key.dport != 0) == dport) {
            want.emplace_back(
                VyrNatTableMgrTwice::portMatchSpec<typename Table::MatchSpec>(key),
                VyrNatTableMgrTwice::portActionSpec<typename Table::Action>(e.action, e.dynamic));
        }
    }
    if (!table) {
        return want.empty() ? "" : line("port entries for a table that does not exist");
    }
    return tableDiff(*table, want);
}

// The trap ACLs: each table holds exactly the recorded entries (an entry shared by rules of one
// ACL, or by groups of one ACL on one profile, once); an ACL-id entry is its rule's on the side
// the rule chose and gives its ACL's id or nothing; the ids taken are those of the ACL records;
// a trap record carries its ACL's id, and an ACL's users are exactly its trap records.
std::string trapAcls(const VyrNatTableMgrTwice& mgr) {
    std::string out;
    std::map<std::string, std::set<HwTwiceNatAclIdKey>> users;
    for (const auto& [key, t] : mgr.cpuTrapAcl()) {
        users[key.acl].insert({key.group, key.profile});
    }
    std::multiset<uint32_t> aclIds;
    std::map<VyrP4::TwiceNatAclIdMatchSpec, std::string> aclIdOwner;
    for (const auto& [name, rec] : mgr.natAclId()) {
        aclIds.insert(rec.aclId);
        if (rec.name != name || rec.group.empty() || rec.group != users[name]) {
            out += line("acl " + name + ": users differ from its trap records");
        }
        for (const auto& [rule, ms] : rec.entry) {
            if (ms != VyrNatTableMgrTwice::aclIdMatchSpec(rule, ms.priority())) {
                out += line("acl " + name + ": entry not its rule's " + rule.str());
            }
            if (auto [it, fresh] = aclIdOwner.emplace(ms, name); !fresh && it->second != name) {
                out += line("acls " + name + " and " + it->second + " share " + ms.str());
            }
            const auto e = mgr.aclIdTable()->entry(ms);
            const auto* id = e ? e->actionIf<VyrP4::SetTwiceNatAclIdActionSpec>() : nullptr;
            if (id && id->twiceNatAclId() != rec.aclId) {
                out += line("acl " + name + ": entry gives another id " + e->str());
            }
        }
    }
    std::vector<VyrP4::TwiceNatAclIdMatchSpec> aclIdSpecs;
    for (const auto& [ms, name] : aclIdOwner) {
        aclIdSpecs.push_back(ms);
    }
    out += keyDiff(*mgr.aclIdTable(), aclIdSpecs);
    out += ids("acl id", mgr.aclIds(), aclIds);

    std::set<VyrP4::TwiceNatCpuTrapAclMatchSpec> trapSpecs;
    std::vector<VyrP4::TwiceNatCpuTrapAclTable::Entry> traps;
    for (const auto& [key, t] : mgr.cpuTrapAcl()) {
        auto acl = mgr.natAclId().find(key.acl);
        const auto& ms = t.matchSpec;
        if (acl == mgr.natAclId().end() || acl->second.aclId != t.aclId ||
            ms.twiceMdAclId() != t.aclId ||
            (ms.ingMdIngNatProfileIdMask() ? ms.ingMdIngNatProfileId()
                                           : ms.ingMdEgrNatProfileId()) != key.profile) {
            out += line("trap record not of its acl's id or profile: " + key.str());
        }
        if (trapSpecs.insert(ms).second) {
            traps.emplace_back(ms, mgr.cpuTrapActionSpec(ms));
        }
    }
    return out + tableDiff(*mgr.cpuTrapAclTable(), traps);
}

} // namespace

std::string twiceInvariants(const VyrNatTableMgrTwice& mgr) {
    std::string out;
    std::map<uint16_t, uint32_t> users; // rewrite id: translations' references
    std::map<uint16_t, const AddrOnlyEntry*> byKeyId;
    std::multiset<uint32_t> keyIds;
    std::vector<VyrP4::TwiceNatAddrOnlyTable::Entry> addrOnly;
    uint32_t validFragments = 0;
    for (const auto& [key, e] : mgr.addrOnlyEntry()) {
        const bool native = e.action.proto != ProtocolType::protocolInvalid;
        if (!native && e.fragEntry.empty()) {
            out += line("empty address-only record kept: " + key.str());
        }
        if (native == e.profiles.empty()) {
            out += line("native translation and profiles disagree: " + key.str());
        }
        if (e.validFragmentInHw != VyrNatTableMgrTwice::validFragment(e)) {
            out += line("valid fragment flag wrong: " + key.str());
        }
        validFragments += e.validFragmentInHw;
        keyIds.insert(e.keyId);
        byKeyId[e.keyId] = &e;
        addrOnly.emplace_back(e.matchSpec, VyrNatTableMgrTwice::addrOnlyActionSpec(
                                               e.keyId, VyrNatTableMgrTwice::hwAction(e)));
        users[e.action.rewriteId] += native;
        for (const auto& [ports, elem] : e.fragEntry) {
            users[elem.rewriteId] += 1;
        }
    }
    out += tableDiff(*mgr.addrOnlyTable(), addrOnly);
    out += ids("key id", mgr.keyIds(), keyIds);
    if (validFragments != mgr.addrOnlyFragmentEntries()) {
        out += line("addrOnlyFragmentEntries " + std::to_string(mgr.addrOnlyFragmentEntries()) +
                    ", valid fragments " + std::to_string(validFragments));
    }
    for (const auto& [key, e] : mgr.addrPortEntry()) {
        users[e.action.rewriteId] += 1;
        auto owner = byKeyId.find(key.keyId);
        if (owner == byKeyId.end() || !owner->second->fragEntry.count({key.sport, key.dport})) {
            out += line("port entry without its address-only element: " + key.str());
        }
        if (e.action.rewriteId == 0 || e.profiles.size() != 1) {
            out +=
                line("port entry without a rewrite or with other than one profile: " + key.str());
        }
    }
    out += portTable(mgr, mgr.addrPortTable(), true, true);
    out += portTable(mgr, mgr.addrSrcPortTable(), true, false);
    out += portTable(mgr, mgr.addrDstPortTable(), false, true);

    std::multiset<uint32_t> rewriteIds;
    std::vector<VyrP4::TwiceNatRewriteTable::Entry> rewrites;
    for (const auto& [info, e] : mgr.rewriteEntry().records()) {
        rewriteIds.insert(e.rewriteId);
        rewrites.emplace_back(e.matchSpec, VyrNatTableMgrTwice::rewriteActionSpec(info, e.ports));
        if (e.refCount != users[e.rewriteId]) {
            out +=
                line("rewrite " + std::to_string(e.rewriteId) + " counts " +
                     std::to_string(e.refCount) + ", users " + std::to_string(users[e.rewriteId]));
        }
        users.erase(e.rewriteId);
    }
    users.erase(0);
    for (const auto& [id, n] : users) {
        out +=
            line(std::to_string(n) + " users of rewrite " + std::to_string(id) + ", not recorded");
    }
    out += tableDiff(*mgr.rewriteTable(), rewrites);
    out += ids("rewrite id", mgr.rewriteIds(), rewriteIds);
    return out + trapAcls(mgr);
}

} // namespace TestSupport
