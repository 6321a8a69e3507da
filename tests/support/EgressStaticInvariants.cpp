#include "tests/support/EgressStaticInvariants.h"

#include "agent/VyrNatUtils.h"
#include "tests/support/ChipCheck.h"

#include <set>
#include <vector>

namespace TestSupport {

namespace {

using namespace VyrP4;
using Ip::IpAddr;
using Ip::IpAndPort;

bool multicast(IpAddr a) {
    return a.value >= 0xE0000000u && a.value <= 0xEFFFFFFFu;
}

// The entries the chip must hold for a record, written out independently of the manager.
struct SnatSide {
    static EgrAddrSnatMatchSpec addrMatch(uint16_t profile, uint8_t frag, IpAddr ip) {
        EgrAddrSnatMatchSpec ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.egrMdIpv4FragmentIs(frag);
        ms.outerIpv4HdrSipIs(ip.value);
        return ms;
    }
    static EgrAddrSnatTable::Action addrAction(IpAddr o, IpAddr n) {
        EgrNatSipActionSpec a;
        a.checksumDeltaIs(VyrNat::calculateChecksumDeltaAddrOnly(o.value, n.value));
        a.translatedSipIs(n.value);
        return a;
    }
    static EgrAddrPortSnatMatchSpec portMatch(uint16_t profile, IpAndPort ip, uint8_t proto) {
        EgrAddrPortSnatMatchSpec ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.l4PortHdrSrcPortIs(ip.port);
        ms.outerIpv4HdrProtocolIs(proto);
        ms.outerIpv4HdrSipIs(ip.ip.value);
        return ms;
    }
    static EgrAddrPortSnatTable::Action portAction(IpAndPort o, IpAndPort n) {
        EgrNatSipPortActionSpec a;
        a.checksumDeltaIs(
            VyrNat::calculateChecksumDeltaAddrPort(o.ip.value, n.ip.value, o.port, n.port));
        a.translatedSipIs(n.ip.value);
        a.translatedSportIs(n.port);
        return a;
    }
    static constexpr bool kDropEntryForPorts = false;
    template <class E> static uint32_t addressUsers(const E&) { return 1; }
};

struct DnatSide {
    static EgrAddrDnatMatchSpec addrMatch(uint16_t profile, uint8_t frag, IpAddr ip) {
        EgrAddrDnatMatchSpec ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.egrMdIpv4FragmentIs(frag);
        ms.outerIpv4HdrDipIs(ip.value);
        return ms;
    }
    static EgrAddrDnatTable::Action addrAction(IpAddr o, IpAddr n) {
        if (n.value == 0) {
            return EgrNatDropActionSpec();
        }
        const auto delta = VyrNat::calculateChecksumDeltaAddrOnly(o.value, n.value);
        if (multicast(o)) {
            EgrNatDipMacActionSpec a;
            a.checksumDeltaIs(delta);
            a.translatedDipIs(n.value);
            return a;
        }
        EgrNatDipActionSpec a;
        a.checksumDeltaIs(delta);
        a.translatedDipIs(n.value);
        return a;
    }
    static EgrAddrPortDnatMatchSpec portMatch(uint16_t profile, IpAndPort ip, uint8_t proto) {
        EgrAddrPortDnatMatchSpec ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.l4PortHdrDstPortIs(ip.port);
        ms.outerIpv4HdrProtocolIs(proto);
        ms.outerIpv4HdrDipIs(ip.ip.value);
        return ms;
    }
    static EgrAddrPortDnatTable::Action portAction(IpAndPort o, IpAndPort n) {
        const auto delta =
            VyrNat::calculateChecksumDeltaAddrPort(o.ip.value, n.ip.value, o.port, n.port);
        if (multicast(o.ip)) {
            EgrNatDipPortMacActionSpec a;
            a.checksumDeltaIs(delta);
            a.translatedDipIs(n.ip.value);
            a.translatedDportIs(n.port);
            return a;
        }
        EgrNatDipPortActionSpec a;
        a.checksumDeltaIs(delta);
        a.translatedDipIs(n.ip.value);
        a.translatedDportIs(n.port);
        return a;
    }
    // The non-fragment entry carries the address-only DNAT when its address is not 0, and
    // otherwise only the drop entry of address-and-port DNATs.
    static constexpr bool kDropEntryForPorts = true;
    template <class E> static uint32_t addressUsers(const E& e) { return e.newIp.value ? 1 : 0; }
};

template <class Side, class Hw, class AddrTable, class PortTable>
void checkDirection(const char* dir, const std::map<uint16_t, Hw>& records,
                    const std::shared_ptr<AddrTable>& addrTable,
                    const std::shared_ptr<PortTable>& portTable, std::string& out) {
    if (!addrTable || !portTable) {
        out += std::string(dir) + ": tables missing\n";
        return;
    }
    std::vector<typename AddrTable::Entry> addrExpected;
    std::vector<typename PortTable::Entry> portExpected;
    for (const auto& [id, hw] : records) {
        const std::string where = std::string(dir) + " profile " + std::to_string(id) + ": ";
        if (hw.profile != id) {
            out += where + "record says profile " + std::to_string(hw.profile) + "\n";
        }
        if (hw.empty()) {
            out += where + "empty record kept\n";
        }
        std::map<IpAddr, uint32_t> portUsers;
        for (const auto& [key, e] : hw.addrPortMS) {
            if (!e.programmed) {
                out += where + "address-and-port record not programmed: " + key.str() + "\n";
            }
            if (!(e.matchSpec == Side::portMatch(id, key.ip, key.proto))) {
                out += where + "wrong match spec for " + key.str() + "\n";
            }
            portExpected.emplace_back(e.matchSpec, Side::portAction(key.ip, e.newIpPort));
            ++portUsers[key.ip.ip];
        }
        std::set<typename Hw::AddrKey> unprogrammed;
        for (const auto& [key, e] : hw.addrOnlyMS) {
            if (!(e.matchSpec == Side::addrMatch(id, key.frag, key.ip))) {
                out += where + "wrong match spec for " + key.str() + "\n";
            }
            if (e.programmed) {
                if (!e.inHardware) {
                    out += where + "programmed but not in hardware: " + key.str() + "\n";
                }
                addrExpected.emplace_back(e.matchSpec, Side::addrAction(key.ip, e.newIp));
            } else {
                unprogrammed.insert(key);
                // A refused rewrite leaves the earlier entry in the chip until the retry.
                if (e.inHardware) {
                    if (auto held = addrTable->entry(e.matchSpec)) {
                        addrExpected.push_back(*held);
                    } else {
                        out += where + "earlier entry missing from the chip: " + key.str() + "\n";
                    }
                }
            }
            const auto it = portUsers.find(key.ip);
            const uint32_t fromPorts = it == portUsers.end() ? 0 : it->second;
            // Fragment entries serve the address-and-port translations of the address; the
            // non-fragment entry its address-only translation and, for DNAT, their drop entry.
            const uint32_t expectedUsers =
                key.frag ? fromPorts
                         : (Side::kDropEntryForPorts ? fromPorts : 0) + Side::addressUsers(e);
            if (e.refCount != expectedUsers || expectedUsers == 0) {
                out += where + key.str() + " refCount " + std::to_string(e.refCount) + ", users " +
                       std::to_string(expectedUsers) + "\n";
            }
        }
        if (unprogrammed != hw.retryList) {
            out += where + "retry list holds " + std::to_string(hw.retryList.size()) +
                   " keys for " + std::to_string(unprogrammed.size()) + " unprogrammed entries\n";
        }
    }
    out += tableDiff(*addrTable, addrExpected);
    out += tableDiff(*portTable, portExpected);
}

template <class Table>
void checkProfileTable(const std::shared_ptr<Table>& table,
                       const std::map<uint16_t, typename Table::MatchSpec>& records,
                       std::string& out) {
    if (!table) {
        if (!records.empty()) {
            out += "profile-table records without a table\n";
        }
        return;
    }
    std::set<typename Table::MatchSpec> recorded;
    for (const auto& [vlan, ms] : records) {
        recorded.insert(ms);
    }
    std::set<typename Table::MatchSpec> held;
    for (const auto& e : table->entries()) {
        held.insert(e.match());
    }
    if (recorded != held) {
        out += table->name() + ": " + std::to_string(held.size()) + " entries for " +
               std::to_string(recorded.size()) + " recorded VLANs\n";
    }
}

} // namespace

std::string egressStaticInvariants(const VyrNat::VyrNatTableMgrEgressStatic& mgr) {
    std::string out;
    checkDirection<SnatSide>("snat", mgr.hwStaticSnatEntries(), mgr.egrAddrSnatTable(),
                             mgr.egrAddrPortSnatTable(), out);
    checkDirection<DnatSide>("dnat", mgr.hwStaticDnatEntries(), mgr.egrAddrDnatTable(),
                             mgr.egrAddrPortDnatTable(), out);
    checkProfileTable(mgr.ingNatProfileTable(), mgr.hwIngNatProfileEntries(), out);
    checkProfileTable(mgr.egrNatProfileTable(), mgr.hwEgrNatProfileEntries(), out);
    return out;
}

} // namespace TestSupport
