// Twice-NAT rewrite entries, shared by reference, and the port entries of port translations.

#include "common/TableWrite.h"
#include "common/VyrNatUtils.h"
#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/twice/VyrNatTableMgrTwice.h"

namespace VyrNat {

RewriteInfo rewriteInfo(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew, IpAndPort dstNew) {
    return {srcNew, dstNew,
            calculateChecksumDeltaAddrPortSrcDst(srcOld.ip.value, srcNew.ip.value, srcOld.port,
                                                 srcNew.port, dstOld.ip.value, dstNew.ip.value,
                                                 dstOld.port, dstNew.port)};
}

VyrP4::TwiceNatRewriteTable::Action VyrNatTableMgrTwice::rewriteActionSpec(const RewriteInfo& info,
                                                                           uint8_t ports) {
    auto fill = [&](auto spec) {
        spec.translatedSipIs(info.src.ip.value);
        spec.translatedDipIs(info.dst.ip.value);
        spec.checksumDeltaIs(info.delta);
        return spec;
    };
    switch (ports) {
    case kRewriteSport | kRewriteDport: {
        auto spec = fill(VyrP4::SetTranslatedSipDipPortActionSpec());
        spec.translatedSportIs(info.src.port);
        spec.translatedDportIs(info.dst.port);
        return spec;
    }
    case kRewriteSport: {
        auto spec = fill(VyrP4::SetTranslatedSipDipSportActionSpec());
        spec.translatedSportIs(info.src.port);
        return spec;
    }
    case kRewriteDport: {
        auto spec = fill(VyrP4::SetTranslatedSipDipDportActionSpec());
        spec.translatedDportIs(info.dst.port);
        return spec;
    }
    default:
        return fill(VyrP4::SetTranslatedSipDipActionSpec());
    }
}

uint16_t VyrNatTableMgrTwice::createRewriteEntry(IpAndPort srcOld, IpAndPort dstOld,
                                                 IpAndPort srcNew, IpAndPort dstNew) {
    VYR_ASSERT(rewriteTable());
    const RewriteInfo info = rewriteInfo(srcOld, dstOld, srcNew, dstNew);
    const uint8_t ports = rewritePorts(srcOld, dstOld, srcNew, dstNew);
    const auto got = rewrites_.acquire(info, [&](uint16_t id) {
        VyrP4::TwiceNatRewriteMatchSpec ms;
        ms.twiceMdRewriteIdIs(id);
        rewrite_->entryAdd(ms, rewriteActionSpec(info, ports));
        return ms;
    });
    using Outcome = RewriteTable::Outcome;
    switch (got.outcome) {
    case Outcome::shared: {
        RewriteEntry& e = *got.record;
        // Two translations rewrite alike while one changes a port the other keeps: the action
        // writes both users' ports, which leaves the kept one as it is.
        if (const uint8_t both = e.ports | ports; both != e.ports) {
            if (WriteRefusal refused = tableWriteRefused(
                    [&] { rewrite_->entryIs(e.matchSpec, rewriteActionSpec(info, both)); })) {
                VTRACE(twiceTrace, 1, refused.text());
                refusalIs(refused);
                e.refCountDec(1);
                return 0;
            }
            e.ports = both;
        }
        VTRACE(twiceTrace, 5, "Found an existing rewrite entry. RefCount: " << e.refCount);
        return e.rewriteId;
    }
    case Outcome::created:
        got.record->ports = ports;
        VTRACE(twiceTrace, 5,
               "Twice NAT rewrite entry created, rewriteId: " << got.record->rewriteId);
        return got.record->rewriteId;
    case Outcome::refused:
        VTRACE(twiceTrace, 1, got.refusal.text());
        refusalIs(got.refusal);
        return 0;
    case Outcome::idsFull:
    case Outcome::countFull:
        VTRACE(twiceTrace, 1, "Twice NAT rewrite table full");
        refusalIs("Twice NAT rewrite table full");
        return 0;
    }
    return 0;
}

uint16_t VyrNatTableMgrTwice::deleteRewriteEntry(IpAndPort srcOld, IpAndPort dstOld,
                                                 IpAndPort srcNew, IpAndPort dstNew) {
    uint16_t id = 0;
    const bool found = rewrites_.release(
        rewriteInfo(srcOld, dstOld, srcNew, dstNew), [&](RewriteEntry& e, bool last) {
            id = e.rewriteId;
            if (last) {
                rewrite_->entryDel(e.matchSpec);
                VTRACE(twiceTrace, 5, "Rewrite entry deleted, rwId: " << id);
            } else {
                VTRACE(twiceTrace, 5,
                       "Rewrite entry refCount is still " << e.refCount - 1 << ", rwId: " << id);
            }
        });
    if (!found) {
        VTRACE(twiceTrace, 1, "Rewrite entry not found");
    }
    return id;
}

// --- Port entries ---

template <class Spec> Spec VyrNatTableMgrTwice::portMatchSpec(const AddrPortKey& key) {
    Spec ms;
    ms.twiceMdKeyIdIs(key.keyId);
    if constexpr (requires { ms.l4PortHdrSrcPortIs(0); }) {
        ms.l4PortHdrSrcPortIs(key.sport);
    }
    if constexpr (requires { ms.l4PortHdrDstPortIs(0); }) {
        ms.l4PortHdrDstPortIs(key.dport);
    }
    return ms;
}

template <class Action>
Action VyrNatTableMgrTwice::portActionSpec(const AddrPortAction& a, bool dynamic) {
    VYR_ASSERT(a.nextHop <= 0xffff);
    auto fill = [&](auto spec) {
        spec.rewriteIdIs(a.rewriteId);
        spec.protocolTypeIs(uint32_t(a.proto));
        if constexpr (requires { spec.ecmpIdIs(0); }) {
            spec.ecmpIdIs(a.nextHop);
        } else {
            spec.nextHopIdIs(a.nextHop);
        }
        return Action(spec);
    };
    if (a.ecmp) {
        return dynamic ? fill(VyrP4::TwiceNatAddrPortHitEcmpDynamicActionSpec())
                       : fill(VyrP4::TwiceNatAddrPortHitEcmpActionSpec());
    }
    return dynamic ? fill(VyrP4::TwiceNatAddrPortHitDynamicActionSpec())
                   : fill(VyrP4::TwiceNatAddrPortHitActionSpec());
}

const AddrPortEntry* VyrNatTableMgrTwice::portEntry(const AddrPortKey& key) const {
    auto it = addrPortEntry_.find(key);
    return it == addrPortEntry_.end() ? nullptr : &it->second;
}

template <class Table>
bool VyrNatTableMgrTwice::createPortEntry(Table* table, const AddrPortKey& key, const char* kind,
                                          uint16_t rewriteId, uint8_t proto, uint32_t nextHop,
                                          bool ecmp, uint32_t profile, bool update, bool dynamic) {
    VYR_CHECK(table, "the port table exists");
    // One lookup: a new key's record is made here and dropped again if the chip refuses it.
    auto [it, fresh] = addrPortEntry_.try_emplace(key);
    if (!fresh) {
        if (!update) {
            VTRACE(twiceTrace, 1, "Addr" << kind << " entry exists");
            return false;
        }
        rewriteId = it->second.action.rewriteId;
        VTRACE(twiceTrace, 5, "Updating Addr" << kind << " entry, rwId " << rewriteId);
    } else if (update) {
        VTRACE(twiceTrace, 1, "Addr" << kind << " entry not found");
        addrPortEntry_.erase(it);
        return false;
    }
    const AddrPortAction action{getProtocolType(proto), nextHop, ecmp, rewriteId};
    const auto ms = portMatchSpec<typename Table::MatchSpec>(key);
    const auto spec = portActionSpec<typename Table::Action>(action, dynamic);
    if (WriteRefusal refused = tableWriteRefused([&] {
            if (update) {
                table->entryIs(ms, spec);
            } else {
                table->entryAdd(ms, spec);
            }
        })) {
        VTRACE(twiceTrace, 1, refused.text());
        refusalIs(refused);
        if (fresh) {
            addrPortEntry_.erase(it);
        }
        return false;
    }
    AddrPortEntry& e = it->second;
    if (!update) {
        e.profiles.insert(profile);
    }
    e.action = action;
    e.dynamic = dynamic;
    VTRACE(twiceTrace, 5, "Added entry for Twice Nat Addr" << kind << " table");
    return true;
}

bool VyrNatTableMgrTwice::createAddrPortEntry(uint16_t keyId, uint16_t sport, uint16_t dport,
                                              uint16_t rewriteId, uint8_t proto, uint32_t nextHop,
                                              bool ecmp, uint32_t profile, bool update,
                                              bool dynamic) {
    return createPortEntry(addrPort_.get(), {keyId, sport, dport}, "Port", rewriteId, proto,
                           nextHop, ecmp, profile, update, dynamic);
}

bool VyrNatTableMgrTwice::createAddrSrcPortEntry(uint16_t keyId, uint16_t sport, uint16_t rewriteId,
                                                 uint8_t proto, uint32_t nextHop, bool ecmp,
                                                 uint32_t profile, bool update, bool dynamic) {
    return createPortEntry(srcPort_.get(), {keyId, sport, 0}, "SrcPort", rewriteId, proto, nextHop,
                           ecmp, profile, update, dynamic);
}

bool VyrNatTableMgrTwice::createAddrDstPortEntry(uint16_t keyId, uint16_t dport, uint16_t rewriteId,
                                                 uint8_t proto, uint32_t nextHop, bool ecmp,
                                                 uint32_t profile, bool update, bool dynamic) {
    return createPortEntry(dstPort_.get(), {keyId, 0, dport}, "DstPort", rewriteId, proto, nextHop,
                           ecmp, profile, update, dynamic);
}

bool VyrNatTableMgrTwice::createPortEntryFor(const AddrPortKey& key, uint16_t rewriteId,
                                             uint8_t proto, uint32_t nextHop, bool ecmp,
                                             uint32_t profile, bool update, bool dynamic) {
    if (key.sport != 0 && key.dport != 0) {
        return createAddrPortEntry(key.keyId, key.sport, key.dport, rewriteId, proto, nextHop, ecmp,
                                   profile, update, dynamic);
    }
    if (key.sport != 0) {
        return createAddrSrcPortEntry(key.keyId, key.sport, rewriteId, proto, nextHop, ecmp,
                                      profile, update, dynamic);
    }
    return createAddrDstPortEntry(key.keyId, key.dport, rewriteId, proto, nextHop, ecmp, profile,
                                  update, dynamic);
}

template <class Table>
void VyrNatTableMgrTwice::deletePortEntry(Table* table, const AddrPortKey& key, const char* kind) {
    auto it = addrPortEntry_.find(key);
    if (it == addrPortEntry_.end()) {
        VTRACE(twiceTrace, 1, "AddrPort entry not found");
        return;
    }
    VYR_CHECK(table, "the port table exists");
    table->entryDel(portMatchSpec<typename Table::MatchSpec>(key));
    addrPortEntry_.erase(it);
    VTRACE(twiceTrace, 5, "Addr" << kind << " entry deleted");
}

void VyrNatTableMgrTwice::deleteAddrPortEntry(uint16_t keyId, uint16_t sport, uint16_t dport) {
    deletePortEntry(addrPort_.get(), {keyId, sport, dport}, "Port");
}

void VyrNatTableMgrTwice::deleteAddrSrcPortEntry(uint16_t keyId, uint16_t sport) {
    deletePortEntry(srcPort_.get(), {keyId, sport, 0}, "SrcPort");
}

void VyrNatTableMgrTwice::deleteAddrDstPortEntry(uint16_t keyId, uint16_t dport) {
    deletePortEntry(dstPort_.get(), {keyId, 0, dport}, "DstPort");
}

template VyrP4::TwiceNatAddrPortMatchSpec
VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrPortMatchSpec>(const AddrPortKey&);
template VyrP4::TwiceNatAddrSrcPortMatchSpec
VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrSrcPortMatchSpec>(const AddrPortKey&);
template VyrP4::TwiceNatAddrDstPortMatchSpec
VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrDstPortMatchSpec>(const AddrPortKey&);
template VyrP4::TwiceNatAddrPortTable::Action
VyrNatTableMgrTwice::portActionSpec<VyrP4::TwiceNatAddrPortTable::Action>(const AddrPortAction&,
                                                                          bool);

bool VyrNatTableMgrTwice::getTwiceNatHitBit(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                                            IpAndPort dstNew) const {
    const RewriteEntry* e = rewrites_.find(rewriteInfo(srcOld, dstOld, srcNew, dstNew));
    if (!e) {
        VTRACE(twiceTrace, 4, "Entry not found");
        return false;
    }
    const auto handle = rewrite_ ? rewrite_->entryHandle(e->matchSpec) : VyrP4::VyrSdkEntryHandle{};
    if (!handle.valid() || !hitBitSm()) {
        return false;
    }
    const bool hit = hitBitSm()->getTwiceNatHitBit(handle);
    VTRACE(twiceTrace, 4, "Handle: " << handle.str() << ", hitBit: " << hit);
    return hit;
}

} // namespace VyrNat
