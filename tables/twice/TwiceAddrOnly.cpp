// Twice-NAT address-only entries: one per address pair, holding the pair's native translation
// and one fragment element per port translation of the pair; the chip holds the one action that
// serves them all.

#include "common/TableWrite.h"
#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

#include <optional>
#include <utility>

namespace VyrNat {

AddrOnlyAction VyrNatTableMgrTwice::hwAction(const AddrOnlyEntry& e) {
    if (e.action.proto != ProtocolType::protocolInvalid) {
        return e.action;
    }
    if (validFragment(e)) {
        return e.fragEntry.begin()->second;
    }
    return {}; // the dummy: the key id alone
}

bool VyrNatTableMgrTwice::validFragment(const AddrOnlyEntry& e) {
    return e.action.proto == ProtocolType::protocolInvalid && e.fragEntry.size() == 1 &&
           e.fragEntry.begin()->second.rewriteId != 0;
}

VyrP4::TwiceNatAddrOnlyTable::Action
VyrNatTableMgrTwice::addrOnlyActionSpec(uint16_t keyId, const AddrOnlyAction& a) {
    VYR_ASSERT(a.nextHop <= 0xffff);
    auto fill = [&](auto spec) {
        spec.keyIdIs(keyId);
        spec.fragmentIs(a.frag);
        spec.protocolTypeIs(uint32_t(a.proto));
        spec.rewriteIdIs(a.rewriteId);
        return spec;
    };
    if (a.ecmp) {
        auto spec = fill(VyrP4::TwiceNatAddrOnlyHitEcmpActionSpec());
        spec.ecmpIdIs(a.nextHop);
        return spec;
    }
    auto spec = fill(VyrP4::TwiceNatAddrOnlyHitActionSpec());
    spec.nextHopIdIs(a.nextHop);
    return spec;
}

bool VyrNatTableMgrTwice::reprogram(AddrOnlyEntry& e, const AddrOnlyAction& before) {
    const AddrOnlyAction now = hwAction(e);
    if (now != before) {
        if (WriteRefusal refused = tableWriteRefused(
                [&] { addrOnly_->entryIs(e.matchSpec, addrOnlyActionSpec(e.keyId, now)); })) {
            VTRACE(twiceTrace, 1, refused.text());
            refusalIs(refused);
            return false;
        }
    }
    const bool valid = validFragment(e);
    if (valid != e.validFragmentInHw) {
        addrOnlyFragmentEntries_ += valid ? 1 : -1;
        e.validFragmentInHw = valid;
    }
    return true;
}

uint16_t VyrNatTableMgrTwice::createAddrOnlyEntry(IpAndPort src, IpAndPort dst, uint8_t proto,
                                                  bool fragment, uint16_t rewriteId,
                                                  uint32_t nextHop, bool ecmp, uint32_t profile,
                                                  VrfId vrf, bool update) {
    VYR_ASSERT(addrOnlyTable());
    const AddrOnlyKey key = addrOnlyKey(src.ip, dst.ip, vrf);
    const AddrOnlyAction action{getProtocolType(proto), fragment, nextHop, ecmp, rewriteId};
    auto it = addrOnlyEntry_.find(key);
    if (it == addrOnlyEntry_.end()) {
        if (update) {
            VTRACE(twiceTrace, 1, "No key found");
            return 0;
        }
        return newAddrOnlyEntry(key, src, dst, action, profile);
    }
    AddrOnlyEntry& e = it->second;
    VTRACE(twiceTrace, 5, "Found existing entry, keyId: " << e.keyId);
    const AddrOnlyAction before = hwAction(e);
    const AddrOnlyL4Ports ports{src.port, dst.port};
    if (fragment && !update) {
        auto [elem, added] = e.fragEntry.try_emplace(ports, action);
        const AddrOnlyAction replaced = elem->second;
        elem->second = action;
        if (e.action.proto != ProtocolType::protocolInvalid) {
            VTRACE(twiceTrace, 5, "Found a native AddrOnly entry, added a fragment entry");
        } else if (!added) {
            VTRACE(twiceTrace, 1, "Detected duplicate fragment rules");
        } else {
            if (e.validFragmentInHw) {
                VTRACE(twiceTrace, 5, "Found a valid fragment in hw before update");
            }
            VTRACE(twiceTrace, 5,
                   "Found multiple fragments (" << e.fragEntry.size()
                                                << ") in the entry, added another one");
        }
        if (!reprogram(e, before)) {
            added ? void(e.fragEntry.erase(elem)) : void(elem->second = replaced);
            return 0;
        }
        return e.keyId;
    }
    if (fragment) {
        auto elem = e.fragEntry.find(ports);
        if (elem == e.fragEntry.end()) {
            VTRACE(twiceTrace, 1, "Fragment entry not found");
            return 0;
        }
        const AddrOnlyAction old = elem->second;
        VTRACE(twiceTrace, 5, "Updating fragment entry, rwId " << old.rewriteId);
        elem->second.nextHop = nextHop;
        elem->second.ecmp = ecmp;
        if (before == old) {
            if (!reprogram(e, before)) {
                elem->second = old;
                return 0;
            }
        } else {
            VTRACE(twiceTrace, 5, "Unallowed (dummy) fragment entries, hw not updated");
        }
        VTRACE(twiceTrace, 5, "Updated fragment entry sw state, rwId " << old.rewriteId);
        return e.keyId;
    }
    const AddrOnlyAction oldNative = e.action;
    if (!update) {
        if (oldNative.proto != ProtocolType::protocolInvalid) {
            VTRACE(twiceTrace, 1, "Found a native AddrOnly entry already");
            return 0;
        }
        VTRACE(twiceTrace, 5, "Adding a non fragment AddrOnly entry");
        e.action = action;
    } else {
        if (oldNative.proto == ProtocolType::protocolInvalid) {
            VTRACE(twiceTrace, 1, "No non fragment entry to update");
            return 0;
        }
        VTRACE(twiceTrace, 5,
               "Non fragment entry update, found match spec, rwId " << oldNative.rewriteId);
        e.action.nextHop = nextHop;
        e.action.ecmp = ecmp;
    }
    if (!reprogram(e, before)) {
        e.action = oldNative;
        return 0;
    }
    if (!update) {
        e.profiles.insert(profile);
    }
    return e.keyId;
}

uint16_t VyrNatTableMgrTwice::newAddrOnlyEntry(const AddrOnlyKey& key, IpAndPort src, IpAndPort dst,
                                               const AddrOnlyAction& action, uint32_t profile) {
    VYR_CHECK(action.frag || action.rewriteId != 0, "a native action needs a rewrite id");
    if (action.frag && action.rewriteId == 0) {
        VTRACE(twiceTrace, 5, "Null rewriteId, adding a dummy entry");
    }
    const uint16_t keyId = uint16_t(keyIds_.allocate());
    if (keyId == 0) {
        VTRACE(twiceTrace, 1, "Twice NAT addr only table full");
        refusalIs("Twice NAT addr only table full");
        return 0;
    }
    VTRACE(twiceTrace, 5, "Allocated keyId " << keyId);
    AddrOnlyEntry e;
    e.keyId = keyId;
    if (vrfSupported_) {
        e.matchSpec.l3InfoVrfIdIs(key.vrf);
    }
    e.matchSpec.outerIpv4HdrSipIs(key.sip.value);
    e.matchSpec.outerIpv4HdrDipIs(key.dip.value);
    if (action.frag) {
        e.fragEntry.emplace(AddrOnlyL4Ports{src.port, dst.port}, action);
    } else {
        e.action = action;
        e.profiles.insert(profile);
    }
    if (WriteRefusal refused = tableWriteRefused(
            [&] { addrOnly_->entryAdd(e.matchSpec, addrOnlyActionSpec(keyId, hwAction(e))); })) {
        VTRACE(twiceTrace, 1, refused.text());
        refusalIs(refused);
        keyIds_.clear(keyId);
        return 0;
    }
    e.validFragmentInHw = validFragment(e);
    addrOnlyFragmentEntries_ += e.validFragmentInHw ? 1 : 0;
    VTRACE(twiceTrace, 5, "Valid fragments count: " << addrOnlyFragmentEntries_);
    VTRACE(twiceTrace, 5, "Twice NAT addr only entry created, keyId: " << keyId);
    addrOnlyEntry_.emplace(key, std::move(e));
    return keyId;
}

uint16_t VyrNatTableMgrTwice::deleteAddrOnlyEntry(IpAndPort src, IpAndPort dst, uint32_t profile,
                                                  VrfId vrf) {
    auto it = addrOnlyEntry_.find(addrOnlyKey(src.ip, dst.ip, vrf));
    if (it == addrOnlyEntry_.end()) {
        VTRACE(twiceTrace, 1, "No key found");
        return 0;
    }
    AddrOnlyEntry& e = it->second;
    const uint16_t keyId = e.keyId;
    const AddrOnlyAction before = hwAction(e);
    const bool withPorts = src.port != 0 || dst.port != 0;
    // What the delete takes from the records, given back when the chip refuses the change.
    std::optional<std::pair<AddrOnlyL4Ports, AddrOnlyAction>> element;
    AddrPortEntry* portUser = nullptr;
    const AddrOnlyAction native = e.action;
    if (withPorts) {
        auto port = addrPortEntry_.find({keyId, src.port, dst.port});
        if (port != addrPortEntry_.end()) {
            port->second.profiles.erase(profile);
            if (!port->second.profiles.empty()) {
                VTRACE(twiceTrace, 1,
                       "Found more profiles (" << port->second.profiles.size()
                                               << ") using the AddrPort entry, can't delete it");
                return 0;
            }
            portUser = &port->second;
        } else {
            VTRACE(twiceTrace, 1, "AddrPort entry not found");
        }
        auto elem = e.fragEntry.find({src.port, dst.port});
        if (elem == e.fragEntry.end() && !portUser) {
            // Not a translation of this pair: going on would release another's rewrite.
            VTRACE(twiceTrace, 1, "No key found");
            return 0;
        }
        if (elem != e.fragEntry.end()) {
            element = *elem;
            e.fragEntry.erase(elem);
        }
    } else {
        const bool installed = e.profiles.erase(profile) != 0;
        if (!e.profiles.empty()) {
            VTRACE(twiceTrace, 1,
                   "Found more profiles (" << e.profiles.size()
                                           << ") using the AddrOnly entry, can't delete it");
            return 0;
        }
        if (!installed) {
            // No native translation: going on would release another's rewrite.
            VTRACE(twiceTrace, 1, "No key found");
            return 0;
        }
        e.action = {};
    }
    if (e.action.proto == ProtocolType::protocolInvalid && e.fragEntry.empty()) {
        addrOnly_->entryDel(e.matchSpec);
        addrOnlyFragmentEntries_ -= e.validFragmentInHw ? 1 : 0;
        keyIds_.clear(keyId);
        addrOnlyEntry_.erase(it);
        VTRACE(twiceTrace, 5, "AddrOnly entry deleted");
        VTRACE(twiceTrace, 5, "Released keyId " << keyId);
        return keyId;
    }
    VTRACE(twiceTrace, 5,
           "AddrOnly still used. Frags: " << e.fragEntry.size()
                                          << ", proto: " << str(e.action.proto));
    if (e.action.proto == ProtocolType::protocolInvalid && e.fragEntry.size() == 1) {
        VTRACE(twiceTrace, 5, "Only 1 fragment left, reprogramming the hw");
    } else if (!withPorts && e.fragEntry.size() > 1) {
        VTRACE(twiceTrace, 5, "Deleted the action, multiple fragments. Add a dummy entry");
    }
    if (!reprogram(e, before)) {
        // The chip keeps the action the translation's entries stand behind: so do the records.
        if (element) {
            e.fragEntry.insert(*element);
        }
        if (portUser) {
            portUser->profiles.insert(profile);
        }
        if (!withPorts) {
            e.action = native;
            e.profiles.insert(profile);
        }
        return 0;
    }
    return keyId;
}

uint16_t VyrNatTableMgrTwice::getFragmentRewriteId(IpAndPort src, IpAndPort dst, VrfId vrf) const {
    auto it = addrOnlyEntry_.find(addrOnlyKey(src.ip, dst.ip, vrf));
    if (it == addrOnlyEntry_.end()) {
        return 0;
    }
    auto elem = it->second.fragEntry.find({src.port, dst.port});
    return elem == it->second.fragEntry.end() ? 0 : elem->second.rewriteId;
}

} // namespace VyrNat
