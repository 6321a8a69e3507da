#include "tests/support/EgressStaticInvariants.h"

#include "common/VyrNatUtils.h"
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
template <class Self> struct SideBase {
    static auto addrMatch(uint16_t profile, uint8_t frag, IpAddr ip) {
        typename Self::AddrMatch ms;
        ms.egrMdNatProfileIdIs(profile);
        ms.egrMdIpv4FragmentIs(frag);
        (ms.*Self::kAddrIs)(ip.value);
        return ms;
    }
    static auto portMatch(uint16_t profile, IpAndPort ip, uint8_t proto) {
        typename Self::PortMatch ms;
        ms.egrMdNatProfileIdIs(profile);
        (ms.*Self::kPortIs)(ip.port);
        ms.outerIpv4HdrProtocolIs(proto);
        (ms.*Self::kPortAddrIs)(ip.ip.value);
        return ms;
    }
    template <class A> static A action(IpAddr o, IpAddr n) {
        A a;
        a.checksumDeltaIs(VyrNat::calculateChecksumDeltaAddrOnly(o.value, n.value));
        (a.*Self::template kNewAddrIs<A>)(n.value);
        return a;
    }
    template <class A> static A action(IpAndPort o, IpAndPort n) {
        A a;
        a.checksumDeltaIs(
            VyrNat::calculateChecksumDeltaAddrPort(o.ip.value, n.ip.value, o.port, n.port));
        (a.*Self::template kNewAddrIs<A>)(n.ip.value);
        (a.*Self::template kNewPortIs<A>)(n.port);
        return a;
    }
};

struct SnatSide : SideBase<SnatSide> {
    using AddrMatch = EgrAddrSnatMatchSpec;
    using PortMatch = EgrAddrPortSnatMatchSpec;
    static constexpr auto kAddrIs = &AddrMatch::outerIpv4HdrSipIs;
    static constexpr auto kPortIs = &PortMatch::l4PortHdrSrcPortIs;
    static constexpr auto kPortAddrIs = &PortMatch::outerIpv4HdrSipIs;
    template <class A> static constexpr auto kNewAddrIs = &A::translatedSipIs;
    template <class A> static constexpr auto kNewPortIs = &A::translatedSportIs;
    static constexpr bool kDropEntryForPorts = false;

    static EgrAddrSnatTable::Action addrAction(IpAddr o, IpAddr n) {
        return action<EgrNatSipActionSpec>(o, n);
    }
    static EgrAddrPortSnatTable::Action portAction(IpAndPort o, IpAndPort n) {
        return action<EgrNatSipPortActionSpec>(o, n);
    }
    // Users of the non-fragment entry besides address-and-port translations.
    template <class E> static uint32_t addressUsers(const E&) { return 1; }
};

struct DnatSide : SideBase<DnatSide> {
    using AddrMatch = EgrAddrDnatMatchSpec;
    using PortMatch = EgrAddrPortDnatMatchSpec;
    static constexpr auto kAddrIs = &AddrMatch::outerIpv4HdrDipIs;
    static constexpr auto kPortIs = &PortMatch::l4PortHdrDstPortIs;
    static constexpr auto kPortAddrIs = &PortMatch::outerIpv4HdrDipIs;
    template <class A> static constexpr auto kNewAddrIs = &A::translatedDipIs;
    template <class A> static constexpr auto kNewPortIs = &A::translatedDportIs;
    static constexpr bool kDropEntryForPorts = true;

    static EgrAddrDnatTable::Action addrAction(IpAddr o, IpAddr n) {
        if (n.value == 0) {
            return EgrNatDropActionSpec();
        }
        if (multicast(o)) {
            return action<EgrNatDipMacActionSpec>(o, n);
        }
        return action<EgrNatDipActionSpec>(o, n);
    }
    static EgrAddrPortDnatTable::Action portAction(IpAndPort o, IpAndPort n) {
        if (multicast(o.ip)) {
            return action<EgrNatDipPortMacActionSpec>(o, n);
        }
        return action<EgrNatDipPortActionSpec>(o, n);
    }
    // The non-fragment entry carries the address-only DNAT when its address is not 0, and
    // otherwise only the drop entry of address-and-port DNATs.
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
