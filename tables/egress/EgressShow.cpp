// The egress static manager's show commands: its entries by kind and the VLAN bindings of the
// egress pipeline's NAT profile tables. Its part of the summary is the owner's generic one.

#include "common/ShowSection.h"
#include "tables/egress/VyrNatTableMgrEgressStatic.h"

#include <cstdio>
#include <cstring>

namespace VyrNat {

namespace {

constexpr std::size_t kDashes = 72;

template <class Hw>
void addrPortRows(int fd, const char* title, const std::map<uint16_t, Hw>& records,
                  bool unprogrammedOnly) {
    ShowSection s(
        fd, title,
        textf("%-10s   %20s   %20s   %5s   %5s\n", "Profile", "Old", "New", "Proto", "Prog"),
        kDashes);
    for (const auto& [profile, hw] : records) {
        for (const auto& [key, e] : hw.addrPortMS) {
            if (unprogrammedOnly && e.programmed) {
                continue;
            }
            s.row("%-10d   %20s   %20s   %5d   %5d\n", profile, key.ip.toString().c_str(),
                  e.newIpPort.toString().c_str(), key.proto, e.programmed ? 1 : 0);
        }
    }
}

template <class Hw>
void addrOnlyRows(int fd, const char* title, const std::map<uint16_t, Hw>& records,
                  bool unprogrammedOnly) {
    ShowSection s(fd, title,
                  textf("%-10s   %15s   %5s   %15s   %5s   %5s\n", "Profile", "Old", "Frag", "New",
                        "Prog", "Ref"),
                  kDashes);
    for (const auto& [profile, hw] : records) {
        for (const auto& [key, e] : hw.addrOnlyMS) {
            if (unprogrammedOnly && e.programmed) {
                continue;
            }
            s.row("%-10d   %15s   %5d   %15s   %5d   %5d\n", profile, key.ip.toString().c_str(),
                  key.frag, e.newIp.toString().c_str(), e.programmed ? 1 : 0, e.refCount);
        }
    }
}

template <class Table, class Specs, class ProfileOf>
void bindingRows(int fd, const char* title, const Table& table, const Specs& specs,
                 ProfileOf profileOf) {
    dprintf(fd, "%s%s\n", title, std::string(std::strlen(title) - 1, '-').c_str());
    if (!table) {
        return;
    }
    for (const auto& [vlan, spec] : specs) {
        if (const auto e = table->entry(spec)) {
            dprintf(fd, "   Vlan: %4u    Profile: %3u\n", unsigned(vlan),
                    unsigned(profileOf(std::get<0>(e->action()))));
        }
    }
}

} // namespace

void VyrNatTableMgrEgressStatic::showEntries(int fd, bool snat, bool dnat,
                                             StaticCliCommand cmd) const {
    if (!snat && !dnat) {
        snat = dnat = true;
    }
    const bool unprogrammedOnly = cmd == staticUnprogrammed;
    if (cmd == staticAll || cmd == staticAddrPort || unprogrammedOnly) {
        if (dnat) {
            addrPortRows(fd, "dNAT AddrPort entries\n", hwStaticDnatEntries_, unprogrammedOnly);
        }
        if (snat) {
            addrPortRows(fd, "sNAT AddrPort entries\n", hwStaticSnatEntries_, unprogrammedOnly);
        }
    }
    if (cmd == staticAll || cmd == staticAddrOnly || unprogrammedOnly) {
        if (dnat) {
            addrOnlyRows(fd, "dNAT AddrOnly entries\n", hwStaticDnatEntries_, unprogrammedOnly);
        }
        if (snat) {
            addrOnlyRows(fd, "sNAT AddrOnly entries\n", hwStaticSnatEntries_, unprogrammedOnly);
        }
    }
}

void VyrNatTableMgrEgressStatic::showProfiles(int fd) const {
    bindingRows(
        fd, "Ingress NAT Profile (egress pipeline)\n", ingNatProfileTable_, hwIngNatProfileEntries_,
        [](const VyrP4::SetEgrMdIngNatProfileActionSpec& a) { return a.ingNatProfileId(); });
    bindingRows(
        fd, "Egress NAT Profile (egress pipeline)\n", egrNatProfileTable_, hwEgrNatProfileEntries_,
        [](const VyrP4::SetEgrMdEgrNatProfileActionSpec& a) { return a.egrNatProfileId(); });
}

} // namespace VyrNat
