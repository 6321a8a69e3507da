// The static manager's show commands: its summary, the VLAN-to-profile bindings, and its ingress
// and egress unicast entries by kind or by address. Records live in hash maps; listings sort
// what they print, so that a reply reads the same every time.

#include "common/ShowSection.h"
#include "tables/static/StaticNatDirection.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <optional>
#include <set>
#include <vector>

namespace VyrNat {

namespace {

using M = VyrNatTableMgrStatic;
// The address a listing is limited to; none lists every entry.
using Only = std::optional<IpAddr>;

std::string prefixText(const IpAddrWithFullMask& p) {
    return p.addr.toString() + "/" + std::to_string(std::popcount(p.mask));
}
const char* yesNo(bool b) {
    return b ? "Y" : "N";
}
bool shows(const Only& only, IpAddr a, IpAddr b) {
    return !only || *only == a || *only == b;
}

template <class Map> std::vector<typename Map::key_type> sortedKeys(const Map& m) {
    std::vector<typename Map::key_type> keys;
    keys.reserve(m.size());
    for (const auto& kv : m) {
        keys.push_back(kv.first);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The titles of one side's ingress sections, in a listing or in the address view.
struct IngressTitles {
    const char* addrOnly;
    const char* fragment;
    const char* unprogrammed;
    const char* addrPort;
};

// The column labels and titles of each side.
template <class Side> struct Words;
template <> struct Words<SnatSide> {
    static constexpr const char* kAddr = "Sip";
    static constexpr const char* kPeer = "Dip";
    static constexpr const char* kNewAddr = "New Sip";
    static constexpr const char* kNewAddrs = "New Sips";
    static constexpr const char* kPort = "SrcPort";
    static constexpr const char* kEgressProfile = "Ing.Profile";
    static constexpr const char* kAcl = "sNAT acl entries:\n";
    static constexpr IngressTitles kListing{"sNAT AddrOnly entries (non fragment):\n",
                                            "sNAT AddrOnly fragment entries (hw programmed)\n",
                                            "sNAT AddrOnly fragment entries (unprogrammed)\n",
                                            "sNAT AddrPort entries:\n"};
    static constexpr IngressTitles kAddress{
        "sNAT AddrOnly (non fragment):\n", "sNAT AddrOnly fragment (hw programmed):\n",
        "sNAT AddrOnly fragment (unprogrammed):\n", "sNAT AddrPort:\n"};
    static constexpr const char* kEgress = "egress sNAT entries (non fragment):\n";
    static constexpr const char* kEgressFragment = "egress sNAT fragment entries (hw programmed)\n";
    static constexpr const char* kEgressUnprogrammed =
        "egress sNAT fragment entries (unprogrammed)\n";
};
template <> struct Words<DnatSide> {
    static constexpr const char* kAddr = "Dip";
    static constexpr const char* kPeer = "Sip";
    static constexpr const char* kNewAddr = "New Dip";
    static constexpr const char* kNewAddrs = "New Dips";
    static constexpr const char* kPort = "DstPort";
    static constexpr const char* kEgressProfile = "Egr.Profile";
    static constexpr const char* kAcl = "dnat acl entries:\n";
    static constexpr IngressTitles kListing{"dnat AddrOnly entries (non fragment):\n",
                                            "dnat AddrOnly fragment entries (hw programmed)\n",
                                            "dnat AddrOnly fragment entries (unprogrammed)\n",
                                            "dnat AddrPort entries:\n"};
    static constexpr IngressTitles kAddress{
        "dnat AddrOnly (non fragment):\n", "dnat AddrOnly fragment (hw programmed):\n",
        "dnat AddrOnly fragment (unprogrammed):\n", "dnat AddrPort:\n"};
    static constexpr const char* kEgress = "egress dNAT entries (non fragment):\n";
    static constexpr const char* kEgressFragment = "egress dNAT fragment entries (hw programmed)\n";
    static constexpr const char* kEgressUnprogrammed =
        "egress dNAT fragment entries (unprogrammed)\n";
};

// Runs `f` with the SNAT side, then the DNAT side, for the sides selected; a request that
// selects neither (the "unprogrammed" kind) means both.
template <class F> void forSides(bool snat, bool dnat, F&& f) {
    const bool both = !snat && !dnat;
    if (snat || both) {
        f(SnatSide{});
    }
    if (dnat || both) {
        f(DnatSide{});
    }
}

template <class Side> void aclRows(int fd, const M& m) {
    using W = Words<Side>;
    ShowSection s(fd, W::kAcl,
                  textf("%-18s   %8s   %5s   %5s   %8s   %10s\n", W::kPeer, "Protocol", "Frag",
                        "AclId", "RefCount", "AddrOnlyRC"));
    for (const auto& [key, e] : (m.*Side::kAcls).records()) {
        s.row("%-18s   %8d   %2d/%2x   %5d   %8d   %10d\n", prefixText(key.ipAndMask).c_str(),
              key.protocol, key.fragment ? 1 : 0, key.fragment ? 0xffu : 0u, e.aclId, e.refCount,
              e.addrOnly);
    }
}

// Address-only entries: the non-fragment ones, or the fragment entries in hardware.
template <class Side>
void addrOnlyRows(int fd, const M& m, const char* title, bool fragment, const Only& only) {
    using W = Words<Side>;
    std::string header;
    if constexpr (Side::kDnat) {
        header = fragment ? textf("%-15s   %5s   %11s   %-15s   %7s   %4s   %8s\n", "Dip", "AclId",
                                  "Ing.Profile", "New Dip", "NextHop", "Ecmp", "RefCount")
                          : textf("%-15s   %5s   %11s   %-15s   %7s   %4s\n", "Dip", "AclId",
                                  "Ing.Profile", "New Dip", "NextHop", "Ecmp");
    } else {
        header = fragment ? textf("%-15s   %5s   %11s   %-15s   %8s\n", W::kAddr, "AclId",
                                  "Egr.Profile", W::kNewAddr, "RefCount")
                          : textf("%-15s   %5s   %11s   %-15s\n", W::kAddr, "AclId", "Egr.Profile",
                                  W::kNewAddr);
    }
    ShowSection s(fd, title, std::move(header));
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : Side::entries(p)) {
            if (key.fragment != fragment) {
                continue;
            }
            for (IpAddr addr : sortedKeys(r.addrOnlyMS)) {
                const auto& e = r.addrOnlyMS.at(addr);
                const IpAddr nu = Side::newAddr(e);
                if (!shows(only, addr, nu)) {
                    continue;
                }
                const std::string a = addr.toString(), n = nu.toString();
                if constexpr (Side::kDnat) {
                    const NextHop nh = NextHop::ofWord(e.nextHop);
                    if (fragment) {
                        s.row("%-15s   %5d   %11d   %-15s   %7u   %4s   %8d\n", a.c_str(),
                              e.matchSpec.ingMdDnatAclId(), profileId, n.c_str(), nh.id,
                              yesNo(nh.ecmp), e.refCount);
                    } else {
                        s.row("%-15s   %5d   %11d   %-15s   %7u   %4s\n", a.c_str(),
                              e.matchSpec.ingMdDnatAclId(), profileId, n.c_str(), nh.id,
                              yesNo(nh.ecmp));
                    }
                } else if (fragment) {
                    s.row("%-15s   %5d   %11d   %-15s   %8d\n", a.c_str(),
                          e.matchSpec.ingMdSnatAclId(), profileId, n.c_str(), e.refCount);
                } else {
                    s.row("%-15s   %5d   %11d   %-15s\n", a.c_str(), e.matchSpec.ingMdSnatAclId(),
                          profileId, n.c_str());
                }
            }
        }
    }
}

// Fragment entries held back from hardware, ingress (`records` the ingress records) or egress.
template <class Side, class Records, class Users>
void unprogrammedRows(int fd, const M& m, const char* title, Records records, Users users,
                      const Only& only) {
    using W = Words<Side>;
    ShowSection s(fd, title,
                  textf("%-18s   %8s   %-15s   %11s   %8s\n", W::kPeer, "Protocol", W::kAddr,
                        "Egr.Profile", W::kNewAddrs));
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : p.*records) {
            for (IpAddr addr : sortedKeys(r.unprogrammedFrag)) {
                const auto& wanted = r.unprogrammedFrag.at(addr).*users;
                if (only && *only != addr && *only != key.ipAndMask.addr &&
                    wanted.count(*only) == 0) {
                    continue;
                }
                s.row("%-18s   %8d   %-15s   %11d   %8u\n", prefixText(key.ipAndMask).c_str(),
                      key.protocol, addr.toString().c_str(), profileId, unsigned(wanted.size()));
            }
        }
    }
}

template <class Side> void addrPortRows(int fd, const M& m, const char* title, const Only& only) {
    using W = Words<Side>;
    std::string header;
    if constexpr (Side::kDnat) {
        header = textf("%-15s   %7s   %5s   %11s   %-15s   %8s   %7s   %4s\n", "Dip", "DstPort",
                       "AclId", "Ing.Profile", "New Dip", "New Port", "NextHop", "Ecmp");
    } else {
        header = textf("%-15s   %7s   %5s   %11s   %-15s   %8s\n", W::kAddr, W::kPort, "AclId",
                       "Egr.Profile", W::kNewAddr, "New Port");
    }
    ShowSection s(fd, title, std::move(header));
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : Side::entries(p)) {
            for (IpAndPort old : sortedKeys(r.addrPortMS)) {
                const auto& e = r.addrPortMS.at(old);
                const IpAndPort nu = Side::newAddrPort(e);
                if (!shows(only, old.ip, nu.ip)) {
                    continue;
                }
                const std::string a = old.ip.toString(), n = nu.ip.toString();
                if constexpr (Side::kDnat) {
                    const NextHop nh = NextHop::ofWord(e.nextHop);
                    s.row("%-15s   %7d   %5d   %11d   %-15s   %8d   %7u   %4s\n", a.c_str(),
                          old.port, e.matchSpec.ingMdDnatAclId(), profileId, n.c_str(), nu.port,
                          nh.id, yesNo(nh.ecmp));
                } else {
                    s.row("%-15s   %7d   %5d   %11d   %-15s   %8d\n", a.c_str(), old.port,
                          e.matchSpec.ingMdSnatAclId(), profileId, n.c_str(), nu.port);
                }
            }
        }
    }
}

template <class Spec> uint16_t egressAclId(const Spec& spec) {
    if constexpr (std::is_same_v<Spec, VyrP4::EgrUcSnatMatchSpec>) {
        return spec.egrMdSnatAclId();
    } else {
        return spec.egrMdDnatAclId();
    }
}

// Egress unicast entries: the translations (`fragment` false, of the kind `cmd` selects) or the
// fragment entries in hardware.
template <class Side>
void egressRows(int fd, const M& m, bool fragment, StaticCliCommand cmd, const Only& only) {
    using W = Words<Side>;
    ShowSection s(fd, fragment ? W::kEgressFragment : W::kEgress,
                  fragment ? textf("%-15s   %5s   %11s   %-15s   %8s\n", W::kAddr, "AclId",
                                   W::kEgressProfile, W::kNewAddr, "RefCount")
                           : textf("%-15s   %7s   %5s   %11s   %-15s   %8s\n", W::kAddr, W::kPort,
                                   "AclId", W::kEgressProfile, W::kNewAddr, "New Port"));
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : Side::egressEntries(p)) {
            if (key.fragment != fragment) {
                continue;
            }
            for (IpAndPort old : sortedKeys(r.entry)) {
                const auto& e = r.entry.at(old);
                if ((cmd == staticAddrOnly && old.port != 0) ||
                    (cmd == staticAddrPort && old.port == 0) ||
                    !shows(only, old.ip, e.newAddr.ip)) {
                    continue;
                }
                const std::string a = old.ip.toString(), n = e.newAddr.ip.toString();
                if (fragment) {
                    s.row("%-15s   %5d   %11d   %-15s   %8d\n", a.c_str(), egressAclId(e.matchSpec),
                          profileId, n.c_str(), e.refCount);
                } else {
                    s.row("%-15s   %7d   %5d   %11d   %-15s   %8d\n", a.c_str(), old.port,
                          egressAclId(e.matchSpec), profileId, n.c_str(), e.newAddr.port);
                }
            }
        }
    }
}

// The static translations the host holds as not programmed, of one pipeline.
void hostUnprogrammedRows(int fd, const Oma::NatSmStatus* status, bool snat, bool dnat,
                          bool egressPipe) {
    if (!status) {
        return;
    }
    const bool both = !snat && !dnat;
    ShowSection s(fd, "NAT static unprogrammed entries:\n",
                  textf("%30s %30s %15s %7s %8s\n", "Profile", "Acl", "Ip", "Port", "Pipeline"));
    for (const auto& [id, state] : status->staticTranslation) {
        // Egress-target translations are the egress static manager's.
        if (state.programmed || id.key.egressTarget() || state.egressPipe != egressPipe ||
            !(both || (state.dnat ? dnat : snat))) {
            continue;
        }
        s.row("%30s %30s %15s %7d %8s\n", id.intf.c_str(), id.key.aclName.c_str(),
              id.key.local.ip.toString().c_str(), id.key.local.port,
              egressPipe ? "Egress" : "Ingress");
    }
}

bool selects(StaticCliCommand cmd, StaticCliCommand kind) {
    return cmd == staticAll || cmd == kind;
}

template <class Side> uint32_t addrOnlyEntries(const M& m) {
    std::size_t n = 0;
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : Side::entries(p)) {
            n += r.addrOnlyMS.size();
        }
    }
    return uint32_t(n);
}

template <class Side> uint32_t egressEntries(const M& m) {
    std::size_t n = 0;
    for (const auto& [profileId, p] : m.*Side::kProfiles) {
        for (const auto& [key, r] : Side::egressEntries(p)) {
            n += r.entry.size();
        }
    }
    return uint32_t(n);
}

} // namespace

void VyrNatTableMgrStatic::showSummary(int fd) const {
    std::set<uint16_t> vlans;
    for (const auto& [vlan, spec] : hwEgressNatProfileEntries_) {
        vlans.insert(vlan);
    }
    for (const auto& [vlan, spec] : hwDynamicEgressNatProfileEntries_) {
        vlans.insert(vlan);
    }
    uint32_t unprogrammed = 0;
    if (const auto& status = omaNatSmStatus()) {
        for (const auto& [id, state] : status->staticTranslation) {
            unprogrammed += !state.programmed && !id.key.egressTarget();
        }
    }
    const auto& caps = tableMgr()->profileCapabilities();
    const Config* config = vyrNatConfig_.get();
    dprintf(fd, "NAT profiles programmed: %u\n", unsigned(vlans.size()));
    dprintf(fd, "Static NAT\n");
    dprintf(fd, "----------\n");
    dprintf(fd, "Hw tables size:\n");
    dprintf(fd, "   sNAT Acl: %d\n", int(snatAclTableSize_));
    dprintf(fd, "   sNAT AddrOnly: %u\n", snatAddrOnlyTableSize_);
    dprintf(fd, "   sNAT AddrPort: %u\n", caps.snatAddrPortTableSize());
    dprintf(fd, "   dNAT Acl: %d\n", int(dnatAclTableSize_));
    dprintf(fd, "   dNAT AddrOnly: %u\n", dnatAddrOnlyTableSize_);
    dprintf(fd, "   dNAT AddrPort: %u\n", caps.dnatAddrPortTableSize());
    // The fragments beside the address-only entries are those in hardware; the held-back ones
    // have their own line.
    dprintf(fd, "Current tables occupation:\n");
    dprintf(fd, "   sNAT Acl: %u\n", unsigned(snatAcls_.records().size()));
    dprintf(fd, "   sNAT AddrOnly: %u (%u fragments)\n", addrOnlyEntries<SnatSide>(*this),
            addrOnlySnatFragmentEntries_ - addrOnlySnatFragmentUnprogrammedEntries_);
    dprintf(fd, "   sNAT Unprogrammed fragments: %u\n", addrOnlySnatFragmentUnprogrammedEntries_);
    dprintf(fd, "   dNAT Acl: %u\n", unsigned(dnatAcls_.records().size()));
    dprintf(fd, "   dNAT AddrOnly: %u (%u fragments)\n", addrOnlyEntries<DnatSide>(*this),
            addrOnlyDnatFragmentEntries_ - addrOnlyDnatFragmentUnprogrammedEntries_);
    dprintf(fd, "   dNAT Unprogrammed fragments: %u\n", addrOnlyDnatFragmentUnprogrammedEntries_);
    dprintf(fd, "Unprogrammed entries: %u\n", unprogrammed);
    dprintf(fd, "AddrOnly entries reserved for non-fragment: %u sNAT, %u dNAT\n",
            config ? config->addrOnlySnatNonFragmentReserve() : 0u,
            config ? config->addrOnlyDnatNonFragmentReserve() : 0u);
    // The egress part has no line for held-back fragments: its fragment counts are all the
    // fragment entries, in hardware or not.
    dprintf(fd, "Egress Static Unicast NAT\n");
    dprintf(fd, "-------------------------\n");
    dprintf(fd, "   sNAT: %u\n", egressEntries<SnatSide>(*this));
    dprintf(fd, "   dNAT: %u\n", egressEntries<DnatSide>(*this));
    dprintf(fd, "   sNAT Fragments: %u\n", egressSnatFragmentEntries_);
    dprintf(fd, "   dNAT Fragments: %u\n", egressDnatFragmentEntries_);
    dprintf(fd, "Egress entries reserved for non-fragment: %u\n",
            config ? config->egressNonFragmentReserve() : 0u);
}

void VyrNatTableMgrStatic::showProfiles(int fd) const {
    dprintf(fd, "NAT Profile\n");
    dprintf(fd, "------------------\n");
    // Both tables bind the same VLANs to the same profiles; the first one the chip has answers.
    std::map<uint16_t, uint16_t> bindings;
    if (egressNatProfileTable_) {
        for (const auto& [vlan, spec] : hwEgressNatProfileEntries_) {
            if (const auto e = egressNatProfileTable_->entry(spec)) {
                bindings.emplace(vlan, std::get<0>(e->action()).egrNatProfileId());
            }
        }
    }
    if (dynamicEgressNatProfileTable_) {
        for (const auto& [vlan, spec] : hwDynamicEgressNatProfileEntries_) {
            if (const auto e = dynamicEgressNatProfileTable_->entry(spec)) {
                bindings.emplace(vlan, std::get<0>(e->action()).dynEgrNatProfileId());
            }
        }
    }
    for (const auto& [vlan, profile] : bindings) {
        dprintf(fd, "   Vlan: %4u    Profile: %3u\n", unsigned(vlan), unsigned(profile));
    }
}

void VyrNatTableMgrStatic::showEntries(int fd, bool snat, bool dnat, StaticCliCommand cmd) const {
    const Only all;
    if (selects(cmd, staticAcl)) {
        forSides(snat, dnat, [&](auto side) { aclRows<decltype(side)>(fd, *this); });
    }
    if (selects(cmd, staticAddrOnly)) {
        forSides(snat, dnat, [&](auto side) {
            using S = decltype(side);
            addrOnlyRows<S>(fd, *this, Words<S>::kListing.addrOnly, false, all);
        });
    }
    if (selects(cmd, staticFragment)) {
        forSides(snat, dnat, [&](auto side) {
            using S = decltype(side);
            addrOnlyRows<S>(fd, *this, Words<S>::kListing.fragment, true, all);
        });
    }
    if (selects(cmd, staticUnprogrammed)) {
        forSides(snat, dnat, [&](auto side) {
            using S = decltype(side);
            unprogrammedRows<S>(fd, *this, Words<S>::kListing.unprogrammed, S::kEntries,
                                S::kNewAddrs, all);
        });
    }
    if (selects(cmd, staticAddrPort)) {
        forSides(snat, dnat, [&](auto side) {
            using S = decltype(side);
            addrPortRows<S>(fd, *this, Words<S>::kListing.addrPort, all);
        });
    }
    if (selects(cmd, staticUnprogrammed)) {
        hostUnprogrammedRows(fd, omaNatSmStatus().get(), snat, dnat, false);
    }
}

void VyrNatTableMgrStatic::showEgressEntries(int fd, bool snat, bool dnat, StaticCliCommand cmd,
                                             bool egressOnly) const {
    const Only all;
    if (cmd == staticAll || cmd == staticAddrOnly || cmd == staticAddrPort) {
        forSides(snat, dnat,
                 [&](auto side) { egressRows<decltype(side)>(fd, *this, false, cmd, all); });
    }
    if (selects(cmd, staticFragment)) {
        forSides(snat, dnat,
                 [&](auto side) { egressRows<decltype(side)>(fd, *this, true, cmd, all); });
    }
    if (selects(cmd, staticUnprogrammed)) {
        forSides(snat, dnat, [&](auto side) {
            using S = decltype(side);
            unprogrammedRows<S>(fd, *this, Words<S>::kEgressUnprogrammed, S::kEgressEntries,
                                &EgressUnprogFrag::newAddr, all);
        });
    }
    if (egressOnly && selects(cmd, staticAcl)) {
        forSides(snat, dnat, [&](auto side) { aclRows<decltype(side)>(fd, *this); });
    }
    if (selects(cmd, staticUnprogrammed)) {
        hostUnprogrammedRows(fd, omaNatSmStatus().get(), snat, dnat, true);
    }
}

void VyrNatTableMgrStatic::showAddress(int fd, IpAddr addr) const {
    const Only only = addr;
    forSides(true, true, [&](auto side) {
        using S = decltype(side);
        constexpr const IngressTitles& t = Words<S>::kAddress;
        addrPortRows<S>(fd, *this, t.addrPort, only);
        addrOnlyRows<S>(fd, *this, t.addrOnly, false, only);
        addrOnlyRows<S>(fd, *this, t.fragment, true, only);
        unprogrammedRows<S>(fd, *this, t.unprogrammed, S::kEntries, S::kNewAddrs, only);
    });
    forSides(true, true,
             [&](auto side) { egressRows<decltype(side)>(fd, *this, false, staticAll, only); });
    forSides(true, true,
             [&](auto side) { egressRows<decltype(side)>(fd, *this, true, staticAll, only); });
    forSides(true, true, [&](auto side) {
        using S = decltype(side);
        unprogrammedRows<S>(fd, *this, Words<S>::kEgressUnprogrammed, S::kEgressEntries,
                            &EgressUnprogFrag::newAddr, only);
    });
}

} // namespace VyrNat
