// "showNatDynamic" and the dynamic part of "showNatAddress": every programmed connection, read
// back from the chip table that holds it, so that the listing shows what the hardware does and
// not only what was asked.

#include "common/ShowSection.h"
#include "host/Assert.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <optional>
#include <type_traits>
#include <variant>

namespace VyrNat {

namespace {

// The new-port column of an action that translates only the address.
constexpr const char* kNoPort = "-";

// What an entry's action translates to.
struct Translated {
    bool sip = false; // the action rewrites the source, else the destination
    uint32_t ip = 0;
    std::optional<uint16_t> port;
    uint32_t nextHop = 0; // or the ECMP group
    bool ecmp = false;
};

template <class Action> Translated translated(const Action& action) {
    return std::visit(
        [](const auto& a) {
            Translated t;
            if constexpr (requires { a.translatedSip(); }) {
                t.sip = true;
                t.ip = a.translatedSip();
            } else {
                t.ip = a.translatedDip();
            }
            if constexpr (requires { a.translatedSport(); }) {
                t.port = a.translatedSport();
            } else if constexpr (requires { a.translatedDport(); }) {
                t.port = a.translatedDport();
            }
            if constexpr (requires { a.nextHopId(); }) {
                t.nextHop = a.nextHopId();
            } else if constexpr (requires { a.ecmpId(); }) {
                t.nextHop = a.ecmpId();
                t.ecmp = true;
            }
            return t;
        },
        action);
}

// The chip's entry for a recorded match, translating the side its table is for.
template <class Table>
Translated hwTranslation(const Table& table, const typename Table::MatchSpec& ms, bool snat) {
    const auto entry = table.entry(ms);
    VYR_CHECK(entry, "recorded entry in " + table.name());
    const Translated t = translated(entry->action());
    VYR_CHECK(t.sip == snat, snat ? "a->actionType() == ...setTranslatedSipActionSpec()"
                                  : "a->actionType() == ...setTranslatedDipActionSpec()");
    return t;
}

// Whether the address view keeps a row.
bool shows(const std::optional<IpAddr>& addr, const MatchAddrs& m, uint32_t newIp) {
    return !addr || m.sip == addr->value || m.dip == addr->value || newIp == addr->value;
}

ShowSection snatSection(int fd, const char* title) {
    return ShowSection(fd, title, 88, "%8s  %3s  %15s  %5s  %15s  %5s  %15s  %8s\n", "Protocol",
                       "Vrf", "Sip", "Port", "Dip", "Port", "New Sip", "New Port");
}

ShowSection dnatSection(int fd, const char* title) {
    return ShowSection(fd, title, 103, "%8s  %3s  %15s  %5s  %15s  %5s  %15s  %8s  %7s  %4s\n",
                       "Protocol", "Vrf", "Sip", "Port", "Dip", "Port", "New Dip", "New Port",
                       "NextHop", "Ecmp");
}

void connRow(ShowSection& s, const FlowAndVrfType& c, const MatchAddrs& m, const Translated& t) {
    const ShowIp sip(m.sip), dip(m.dip), newIp(t.ip);
    const int proto = c.flow.protocol;
    const int vrf = int(c.vrfId);
    if (t.sip) {
        if (t.port) {
            s.row("%8d  %3d  %15s  %5d  %15s  %5d  %15s  %8d\n", proto, vrf, sip.c_str(), m.sport,
                  dip.c_str(), m.dport, newIp.c_str(), *t.port);
        } else {
            s.row("%8d  %3d  %15s  %5d  %15s  %5d  %15s  %8s\n", proto, vrf, sip.c_str(), m.sport,
                  dip.c_str(), m.dport, newIp.c_str(), kNoPort);
        }
        return;
    }
    const char* ecmp = t.ecmp ? "Y" : "N";
    if (t.port) {
        s.row("%8d  %3d  %15s  %5d  %15s  %5d  %15s  %8d  %7u  %4s\n", proto, vrf, sip.c_str(),
              m.sport, dip.c_str(), m.dport, newIp.c_str(), *t.port, t.nextHop, ecmp);
    } else {
        s.row("%8d  %3d  %15s  %5d  %15s  %5d  %15s  %8s  %7u  %4s\n", proto, vrf, sip.c_str(),
              m.sport, dip.c_str(), m.dport, newIp.c_str(), kNoPort, t.nextHop, ecmp);
    }
}

// The section of the connections `records` places in `place`, whose entries are in `table`.
template <class Table, class Records, class Place, class Spec>
void connRows(int fd, const char* title, const Table* table, const Records& records, Place place,
              const std::optional<IpAddr>& addr, Spec&& spec) {
    constexpr bool snat = std::is_same_v<Place, DynamicSnatTable>;
    if (!table || records.count(place) == 0) {
        return;
    }
    ShowSection s = snat ? snatSection(fd, title) : dnatSection(fd, title);
    records.forEach([&](const FlowAndVrfType& c, const typename Records::Found& f) {
        if (f.place != place) {
            return;
        }
        const Translated t = hwTranslation(*table, spec(c, f.addrs), snat);
        if (shows(addr, f.addrs, t.ip)) {
            connRow(s, c, f.addrs, t);
        }
    });
}

// One direction's partitions, in one section whose last column is the partition id.
template <class Partitioned>
void partitionRows(int fd, const char* title, const Partitioned* parts, bool snat) {
    if (!parts || parts->flowToMatchSpecMap().size() == 0) {
        return;
    }
    ShowSection s(fd, title, 88, "%8s  %15s  %5s  %15s  %5s  %15s  %8s  %8s\n", "Protocol", "Sip",
                  "Port", "Dip", "Port", "New Sip", "New Port", "Partition");
    parts->flowToMatchSpecMap().forEach([&](const FlowAndVrfType& c, const auto& f) {
        const auto* p = parts->typedPartition(f.place);
        VYR_ASSERT(p && p->table());
        const Translated t =
            hwTranslation(*p->table(), Partitioned::matchSpec(c.flow.protocol, f.addrs), snat);
        const ShowIp sip(f.addrs.sip), dip(f.addrs.dip), newIp(t.ip);
        if (t.port) {
            s.row("%8d  %15s  %5d  %15s  %5d  %15s  %8d  %8d\n", c.flow.protocol, sip.c_str(),
                  f.addrs.sport, dip.c_str(), f.addrs.dport, newIp.c_str(), *t.port, f.place);
        } else {
            s.row("%8d  %15s  %5d  %15s  %5d  %15s  %8s  %8d\n", c.flow.protocol, sip.c_str(),
                  f.addrs.sport, dip.c_str(), f.addrs.dport, newIp.c_str(), kNoPort, f.place);
        }
    });
}

// The five-tuple tables' sections, by what they hold.
enum class ConnSection { snat1, snat2, dnat1Snat, dnat1Dnat, dnat2 };

template <class Spec> auto specOf(const VyrNatTableMgrDynamic& m) {
    return [&m](const FlowAndVrfType& c, const MatchAddrs& a) {
        return m.matchSpec<Spec>(c.flow.protocol, a, c.vrfId);
    };
}

void connSection(int fd, const VyrNatTableMgrDynamic& m, ConnSection which, const char* title,
                 const std::optional<IpAddr>& addr) {
    using S = DynamicSnatTable;
    using D = DynamicDnatTable;
    switch (which) {
    case ConnSection::snat1:
        return connRows(fd, title, m.dynamicSnat1Table().get(), m.dynamicSnatTable(), S::dynSnat1,
                        addr, specOf<VyrP4::DynamicSnat1MatchSpec>(m));
    case ConnSection::snat2:
        return connRows(fd, title, m.dynamicSnat2Table().get(), m.dynamicSnatTable(), S::dynSnat2,
                        addr, specOf<VyrP4::DynamicSnat2MatchSpec>(m));
    case ConnSection::dnat1Snat:
        return connRows(fd, title, m.dynamicDnat1Table().get(), m.dynamicSnatTable(),
                        S::dynDnat1Snat, addr, specOf<VyrP4::DynamicDnat1MatchSpec>(m));
    case ConnSection::dnat1Dnat:
        return connRows(fd, title, m.dynamicDnat1Table().get(), m.dynamicDnatTable(),
                        D::dynDnat1Dnat, addr, specOf<VyrP4::DynamicDnat1MatchSpec>(m));
    case ConnSection::dnat2:
        return connRows(fd, title, m.dynamicDnat2Table().get(), m.dynamicDnatTable(), D::dynDnat2,
                        addr, specOf<VyrP4::DynamicDnat2MatchSpec>(m));
    }
}

} // namespace

void VyrNatTableMgrDynamic::showEntries(int fd, DynamicCliCommand cmd,
                                        DynamicSnatCliTable snatTable,
                                        DynamicDnatCliTable dnatTable) const {
    const std::optional<IpAddr> all;
    const bool snat = cmd == dynamicAll || cmd == dynamicSnat;
    const bool dnat = cmd == dynamicAll || cmd == dynamicDnat;
    const auto snatShown = [&](DynamicSnatCliTable t) {
        return snat && (snatTable == snatTableAll || snatTable == t);
    };
    const auto dnatShown = [&](DynamicDnatCliTable t) {
        return dnat && (dnatTable == dnatTableAll || dnatTable == t);
    };

    if (cmd == dynamicAll || cmd == dynamicCpu) {
        showCpuTrapAcl(fd);
    }
    if (snatShown(snatTableDynamicSnat1)) {
        connSection(fd, *this, ConnSection::snat1, "NAT dynamicSnat1 entries:\n", all);
    }
    if (snatShown(snatTableDynamicSnat2)) {
        connSection(fd, *this, ConnSection::snat2, "NAT dynamicSnat2 entries:\n", all);
    }
    if (snatShown(snatTableDynamicDnat1)) {
        connSection(fd, *this, ConnSection::dnat1Snat, "NAT dynamicDnat1 (SNAT) entries:\n", all);
    }
    if (snatShown(snatTableDynamicSnatPartition)) {
        partitionRows(fd, "NAT dynamicSnatPartition entries:\n", dynamicSnatPartitionedTable_.get(),
                      true);
    }
    if (snatShown(snatTableDynamicAddrOnlySnat) && addrOnlySnat_) {
        ShowSection s(fd, "NAT dynamicAddrOnlySnat entries:\n", 83, "%15s  %15s  %15s  %14s\n",
                      "Egr Nat Profile", "Sip", "New Sip", "Checksum Delta");
        for (const auto& [key, ms] : dynamicAddrOnlySnatKeyToMatchSpec_) {
            const auto entry = addrOnlySnat_->entry(ms);
            VYR_ASSERT(entry);
            const auto* a = entry->actionIf<VyrP4::SetTranslatedSipActionSpec>();
            VYR_CHECK(a, "a->actionType() == ...setTranslatedSipActionSpec()");
            s.row("%15d  %15s  %15s  %14u\n", ms.ingMdNatProfileId(),
                  ShowIp(ms.outerIpv4HdrSip()).c_str(), ShowIp(a->translatedSip()).c_str(),
                  a->checksumDelta());
        }
    }
    if (dnatShown(dnatTableDynamicDnat1)) {
        connSection(fd, *this, ConnSection::dnat1Dnat, "NAT dynamicDnat1 (DNAT) entries:\n", all);
    }
    if (dnatShown(dnatTableDynamicDnat2)) {
        connSection(fd, *this, ConnSection::dnat2, "NAT dynamicDnat2 entries:\n", all);
    }
    if (dnatShown(dnatTableDynamicDnatPartition)) {
        partitionRows(fd, "NAT dynamicDnatPartition entries:\n", dynamicDnatPartitionedTable_.get(),
                      false);
    }
    if (dnatShown(dnatTableDynamicAddrOnlyDnat) && addrOnlyDnat_) {
        ShowSection s(fd, "NAT dynamicAddrOnlyDnat entries:\n", 87,
                      "%15s  %15s  %15s  %14s  %11s  %7s\n", "Ing Nat Profile", "Dip", "New Dip",
                      "Checksum Delta", "Action Type", "NH/Ecmp");
        for (const auto& [key, share] : dynamicAddrOnlyDnatKeyToMatchSpecAndRefCount_) {
            const auto entry = addrOnlyDnat_->entry(share.matchSpec);
            VYR_ASSERT(entry);
            const Translated t = translated(entry->action());
            const auto delta =
                std::visit([](const auto& a) { return a.checksumDelta(); }, entry->action());
            s.row("%15d  %15s  %15s  %14d  %11s  %7d\n", share.matchSpec.ingMdNatProfileId(),
                  ShowIp(share.matchSpec.outerIpv4HdrDip()).c_str(), ShowIp(t.ip).c_str(), delta,
                  t.ecmp ? "ECMP" : "NH", int(t.nextHop));
        }
    }
    if (cmd == dynamicAll || cmd == dynamicUnprogrammed) {
        showUnprogrammed(fd);
    }
}

void VyrNatTableMgrDynamic::showAddress(int fd, Ip::IpAddr addr) const {
    connSection(fd, *this, ConnSection::snat1, "NAT dynamicSnat1:\n", addr);
    connSection(fd, *this, ConnSection::snat2, "NAT dynamicSnat2:\n", addr);
    connSection(fd, *this, ConnSection::dnat1Snat, "NAT dynamicDnat1 (SNAT):\n", addr);
    connSection(fd, *this, ConnSection::dnat1Dnat, "NAT dynamicDnat1 (DNAT):\n", addr);
    connSection(fd, *this, ConnSection::dnat2, "NAT dynamicDnat2:\n", addr);
}

} // namespace VyrNat
