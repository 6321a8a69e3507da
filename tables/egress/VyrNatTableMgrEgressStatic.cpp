#include "tables/egress/VyrNatTableMgrEgressStatic.h"

#include "common/TableWrite.h"
#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "host/Ringlog.h"
#include "host/Trace.h"
#include "tables/egress/EgressStaticSides.h"

namespace VyrNat {

namespace {
Trace::Handle th("VyrNatTableMgrEgressStatic");
} // namespace

using EgressStatic::recordOf;

VyrNatTableMgrEgressStatic::VyrNatTableMgrEgressStatic(VyrAgentLib::VyrTableMgr* tableMgr,
                                                       Ert::Ptr<Config> vyrNatConfig)
    : NatTableManager(tableMgr, th), vyrNatConfig_(std::move(vyrNatConfig)) {
    using namespace VyrP4;
    tables_.add("egrAddrDnat", egrAddrDnatTable_, egrAddrDnatTableFactory);
    tables_.add("egrAddrPortDnat", egrAddrPortDnatTable_, egrAddrPortDnatTableFactory);
    tables_.add("egrAddrSnat", egrAddrSnatTable_, egrAddrSnatTableFactory);
    tables_.add("egrAddrPortSnat", egrAddrPortSnatTable_, egrAddrPortSnatTableFactory);
    tables_.add("ingressNatProfileEgressPipe", ingNatProfileTable_,
                ingressNatProfileEgressPipeTableFactory,
                [this] { return this->tableMgr()->profileCapabilities().egrUcNatSupported(); });
    tables_.add("egressNatProfileEgressPipe", egrNatProfileTable_,
                egressNatProfileEgressPipeTableFactory);
    handleInitialized();
}

VyrNatTableMgrEgressStatic::~VyrNatTableMgrEgressStatic() = default;

void VyrNatTableMgrEgressStatic::handleInitialized() {
    retrySm_ = Ert::make<RetrySm>(this, Tasking::EventLoop::current().scheduler("root"));
    initialized_ = true;
}

std::vector<RecordCount> VyrNatTableMgrEgressStatic::recordCounts() const {
    return {{" tmes->hwStaticSnatEntriess() ", hwStaticSnatEntries_.size()},
            {" tmes->hwStaticDnatEntriess() ", hwStaticDnatEntries_.size()},
            {" tmes->hwEgrNatProfileEntriess() ", hwEgrNatProfileEntries_.size()}};
}

void VyrNatTableMgrEgressStatic::forceEntryFail() {
    if (forceEntryInstallFail_ == 0) {
        return;
    }
    VTRACE(th, 1,
           "forceEntryFail"
               << " forceEntryInstallFail " << forceEntryInstallFail_);
    --forceEntryInstallFail_;
    throw VyrP4::TableFull("forceEntryInstallFail");
}

// --- Translations ---

bool VyrNatTableMgrEgressStatic::updateStaticSnat(uint16_t profileId, IpAndPort oldSrc,
                                                  IpAndPort newSrc, uint8_t proto, bool update) {
    return updateStatic<EgrSnatTraits>(profileId, oldSrc, newSrc, proto, update);
}

bool VyrNatTableMgrEgressStatic::updateStaticDnat(uint16_t profileId, IpAndPort oldDst,
                                                  IpAndPort newDst, uint8_t proto, bool update) {
    // An address-only DNAT to 0.0.0.0 drops the address. With ports there is no such action:
    // the entry would send the packets to 0.0.0.0.
    if (newDst.ip.isZero() && oldDst.port != 0) {
        VTRACE(th, 0,
               "updateStaticDnat"
                   << ", refused translation to 0.0.0.0, profile:" << profileId
                   << ",old:" << oldDst.toString());
        refusalIs("a port translated to 0.0.0.0");
        return false;
    }
    return updateStatic<EgrDnatTraits>(profileId, oldDst, newDst, proto, update);
}

void VyrNatTableMgrEgressStatic::deleteStaticSnat(uint16_t profileId, IpAndPort oldSrc,
                                                  uint8_t proto) {
    deleteStatic<EgrSnatTraits>(profileId, oldSrc, proto);
}

void VyrNatTableMgrEgressStatic::deleteStaticDnat(uint16_t profileId, IpAndPort oldDst,
                                                  uint8_t proto) {
    deleteStatic<EgrDnatTraits>(profileId, oldDst, proto);
}

template <class T>
bool VyrNatTableMgrEgressStatic::updateStatic(uint16_t profileId, IpAndPort oldIp, IpAndPort newIp,
                                              uint8_t proto, bool update) {
    if (oldIp.port == 0) {
        return updateAddr<T>(profileId, oldIp.ip, newIp.ip, update, AddrUse::translation);
    }
    // The companions count their users: a translation that is already recorded holds its
    // references, whatever the host says about `update`.
    auto& records = T::records(*this);
    auto hw = records.find(profileId);
    const bool recorded = hw != records.end() && hw->second.addrPortMS.count({oldIp, proto}) != 0;
    if (!updateAddrPort<T>(profileId, oldIp, newIp, proto)) {
        return false;
    }
    auto failed = [&](const char* what) {
        VTRACE(th, 1,
               T::kUpdate << what << profileId << ",old:" << oldIp.toString()
                          << ", new:" << newIp.toString() << ", proto:" << unsigned(proto)
                          << ", update:" << update);
        RINGLOG(1, "%s%s%u old %x new %x", T::kUpdate, what, profileId, oldIp.ip.value,
                newIp.ip.value);
    };
    if constexpr (T::kDnat) {
        if (!updateAddr<T>(profileId, oldIp.ip, IpAddr(), recorded, AddrUse::drop)) {
            failed(", failed drop, profile:");
        }
    }
    if (!updateAddr<T>(profileId, oldIp.ip, newIp.ip, recorded, AddrUse::fragment)) {
        failed(", failed frag, profile:");
    }
    return true;
}

template <class T>
void VyrNatTableMgrEgressStatic::deleteStatic(uint16_t profileId, IpAndPort oldIp, uint8_t proto) {
    auto& records = T::records(*this);
    auto hw = records.find(profileId);
    if (hw == records.end()) {
        VTRACE(th, 3, T::kDelete << ", no entries in profile " << profileId);
        return;
    }
    if (oldIp.port != 0) {
        auto it = hw->second.addrPortMS.find({oldIp, proto});
        if (it == hw->second.addrPortMS.end()) {
            VTRACE(th, 3, T::kDelete << ", not found: " << oldIp.toString());
            return;
        }
        if (it->second.programmed) {
            T::addrPortTable(*this).entryDel(it->second.matchSpec);
        }
        hw->second.addrPortMS.erase(it);
    }
    T::cleanup(*this, profileId, oldIp.ip, oldIp.port != 0);
}

// --- Address entries ---

bool VyrNatTableMgrEgressStatic::updateStaticAddrSnat(uint16_t profileId, IpAddr oldIp,
                                                      IpAddr newIp, bool update, bool frag) {
    return updateAddr<EgrSnatTraits>(profileId, oldIp, newIp, update,
                                     frag ? AddrUse::fragment : AddrUse::translation);
}

bool VyrNatTableMgrEgressStatic::updateStaticAddrDnat(uint16_t profileId, IpAddr oldIp,
                                                      IpAddr newIp, bool update, bool frag) {
    // New address 0 asks for the drop entry.
    return updateAddr<EgrDnatTraits>(
        profileId, oldIp, newIp, update,
        frag ? AddrUse::fragment : (newIp.isZero() ? AddrUse::drop : AddrUse::translation));
}

template <class T>
bool VyrNatTableMgrEgressStatic::updateAddr(uint16_t profileId, IpAddr oldIp, IpAddr newIp,
                                            bool update, AddrUse use) {
    typename T::Hw& hw = recordOf(T::records(*this), profileId);
    const bool frag = use == AddrUse::fragment;
    const typename T::AddrKey key{oldIp, uint8_t(frag ? 1 : 0)};
    auto [it, added] = hw.addrOnlyMS.try_emplace(key);
    typename T::AddrEntry& entry = it->second;
    if (added) {
        entry.matchSpec = T::addrMatch(profileId, key.frag, oldIp);
    }
    bool addRef = !update || entry.refCount == 0;
    switch (use) {
    case AddrUse::translation:
        // The address-only translations of an address share its entry only while they agree:
        // the chip holds one new address, and a status of programmed must mean that one. An
        // update may move the address when it comes from the only one.
        if (entry.addressUsers != 0 && entry.newIp != newIp &&
            !(update && entry.addressUsers == 1)) {
            VTRACE(th, 1,
                   T::kUpdateAddr << ", duplicate translation of " << oldIp.toString() << " to "
                                  << newIp.toString() << ", profile:" << profileId);
            Log::raise(natDuplicateEntry(), oldIp.toString());
            refusalIs("duplicate of another translation");
            return false;
        }
        // An update comes from a translation that holds its reference already.
        addRef = !update || entry.addressUsers == 0;
        entry.newIp = newIp;
        programAddr<T>(hw, key, entry);
        if (addRef) {
            ++entry.addressUsers;
        }
        break;
    case AddrUse::drop:
        // A drop entry never displaces a translation of the address, and a user of an entry in
        // use only counts, whether the entry is in hardware yet or waits for a retry.
        if (entry.refCount != 0) {
            entry.refCount += addRef;
            return true;
        }
        entry.newIp = IpAddr();
        programAddr<T>(hw, key, entry);
        break;
    case AddrUse::fragment:
        // A DNAT fragment entry keeps the address of its first user.
        if (T::kDnat && entry.refCount != 0 && !update) {
            ++entry.refCount;
            return true;
        }
        entry.newIp = newIp;
        programAddr<T>(hw, key, entry);
        break;
    }
    if (addRef) {
        ++entry.refCount;
    }
    RINGLOG(5, T::kRingAddr, profileId, oldIp.value, newIp.value, update, frag, entry.programmed);
    VTRACE(th, 5,
           T::kUpdateAddr << ", Committed profile:" << profileId << ",old:" << oldIp.toString()
                          << ", new:" << newIp.toString() << ", update:" << update
                          << ", frag:" << frag << ", programmed " << entry.programmed
                          << ", ref: " << entry.refCount);
    return entry.programmed;
}

template <class T>
bool VyrNatTableMgrEgressStatic::writeAddr(uint16_t profileId, const typename T::AddrKey& key,
                                           typename T::AddrEntry& entry) {
    if (WriteRefusal refused = tableWriteRefused([&] {
            forceEntryFail();
            T::addrTable(*this).entryIs(entry.matchSpec, T::addrAction(key.ip, entry.newIp));
        })) {
        // A refused rewrite leaves the chip with the entry's earlier address (inHardware): the
        // translation keeps working with it until the retry writes the new one.
        entry.programmed = false;
        VTRACE(th, 1,
               T::kUpdateAddr << ": " << refused.text() << ", profile:" << profileId
                              << ", key: " << key.str());
        RINGLOG(1, "%s: ERROR %s profile %u old %x", T::kUpdateAddr, refused.name(), profileId,
                key.ip.value);
        refusalIs(refused.reason() + ", retried every second");
        return false;
    }
    entry.programmed = true;
    entry.inHardware = true;
    return true;
}

template <class T>
bool VyrNatTableMgrEgressStatic::programAddr(typename T::Hw& hw, const typename T::AddrKey& key,
                                             typename T::AddrEntry& entry) {
    if (writeAddr<T>(hw.profile, key, entry)) {
        hw.retryList.erase(key);
        return true;
    }
    if (hw.retryList.insert(key).second && T::kDnat) {
        VTRACE(th, 3, T::kUpdateAddr << ", Adding retry " << key.str());
    }
    return false;
}

template <class T>
bool VyrNatTableMgrEgressStatic::updateAddrPort(uint16_t profileId, IpAndPort oldIp,
                                                IpAndPort newIp, uint8_t proto) {
    typename T::Hw& hw = recordOf(T::records(*this), profileId);
    auto [it, added] = hw.addrPortMS.try_emplace({oldIp, proto});
    auto& entry = it->second;
    if (added) {
        entry.matchSpec = T::addrPortMatch(profileId, oldIp, proto);
    }
    if (WriteRefusal refused = tableWriteRefused([&] {
            forceEntryFail();
            T::addrPortTable(*this).entryIs(entry.matchSpec, T::addrPortAction(oldIp, newIp));
        })) {
        VTRACE(th, 1,
               T::kUpdateAddrPort << ": " << refused.text() << ", profile:" << profileId
                                  << ",old:" << oldIp.toString() << ", new:" << newIp.toString());
        RINGLOG(1, "%s: ERROR %s profile %u old %x", T::kUpdateAddrPort, refused.name(), profileId,
                oldIp.ip.value);
        refusalIs(refused);
        // The chip is unchanged: a rewritten entry keeps its old translation and record, a new
        // one leaves nothing behind.
        if (added) {
            hw.addrPortMS.erase(it);
            eraseIfEmpty<T>(profileId);
        }
        return false;
    }
    entry.newIpPort = newIp;
    entry.programmed = true;
    return true;
}

bool VyrNatTableMgrEgressStatic::updateStaticAddrPortSnat(uint16_t profileId, IpAndPort oldSrc,
                                                          IpAndPort newSrc, uint8_t proto) {
    return updateAddrPort<EgrSnatTraits>(profileId, oldSrc, newSrc, proto);
}

bool VyrNatTableMgrEgressStatic::updateStaticAddrPortDnat(uint16_t profileId, IpAndPort oldDst,
                                                          IpAndPort newDst, uint8_t proto,
                                                          bool update) {
    VTRACE(th, 5,
           "updateStaticAddrPortDnat"
               << ", update:" << update);
    return updateAddrPort<EgrDnatTraits>(profileId, oldDst, newDst, proto);
}

// --- Releasing address entries ---

template <class T>
bool VyrNatTableMgrEgressStatic::releaseAddr(typename T::Hw& hw, const typename T::AddrKey& key,
                                             AddrUse use) {
    auto it = hw.addrOnlyMS.find(key);
    if (it == hw.addrOnlyMS.end() ||
        (use == AddrUse::translation && it->second.addressUsers == 0)) {
        return false;
    }
    auto& entry = it->second;
    VYR_ASSERT(entry.refCount > 0);
    --entry.refCount;
    if (use == AddrUse::translation) {
        --entry.addressUsers;
    }
    if (entry.refCount == 0) {
        if (entry.inHardware) {
            T::addrTable(*this).entryDel(entry.matchSpec);
        }
        hw.retryList.erase(key);
        hw.addrOnlyMS.erase(it);
    } else if (T::kDnat && use == AddrUse::translation && entry.addressUsers == 0 &&
               !entry.newIp.isZero()) {
        // The address-and-port DNATs of the address still need their drop entry back.
        entry.newIp = IpAddr();
        programAddr<T>(hw, key, entry);
    }
    return true;
}

template <class T> void VyrNatTableMgrEgressStatic::eraseIfEmpty(uint16_t profileId) {
    auto& records = T::records(*this);
    auto hw = records.find(profileId);
    if (hw != records.end() && hw->second.addrOnlyMS.empty()) {
        // Every address-and-port translation holds a reference on its fragment companion.
        VYR_ASSERT(hw->second.addrPortMS.empty());
        records.erase(hw);
    }
}

void VyrNatTableMgrEgressStatic::cleanupAddrSnat(uint16_t profileId, IpAddr oldIp, bool frag) {
    auto hw = hwStaticSnatEntries_.find(profileId);
    if (hw == hwStaticSnatEntries_.end()) {
        return;
    }
    if (!releaseAddr<EgrSnatTraits>(hw->second, {oldIp, uint8_t(frag ? 1 : 0)},
                                    frag ? AddrUse::fragment : AddrUse::translation)) {
        VTRACE(th, 3,
               "cleanupAddrSnat"
                   << ", not found: " << oldIp.toString() << ", frag:" << frag);
    }
    eraseIfEmpty<EgrSnatTraits>(profileId);
}

void VyrNatTableMgrEgressStatic::cleanupAddrDnat(uint16_t profileId, IpAddr oldIp,
                                                 bool fromAddrPortDnat) {
    auto hw = hwStaticDnatEntries_.find(profileId);
    if (hw == hwStaticDnatEntries_.end()) {
        return;
    }
    auto& ms = hw->second.addrOnlyMS;
    const EgrDnatAddrKey key{oldIp, 0};
    const EgrDnatAddrKey fragKey{oldIp, 1};
    auto entry = ms.find(key);
    auto fragEntry = ms.find(fragKey);
    VTRACE(th, 5,
           "cleanupAddrDnat"
               << ", old:" << oldIp.toString()
               << ", ref: " << (entry == ms.end() ? 0 : entry->second.refCount)
               << ", frag ref: " << (fragEntry == ms.end() ? 0 : fragEntry->second.refCount)
               << ", addrPortDnat:" << fromAddrPortDnat);
    if (fromAddrPortDnat) {
        releaseAddr<EgrDnatTraits>(hw->second, key, AddrUse::drop);
        releaseAddr<EgrDnatTraits>(hw->second, fragKey, AddrUse::fragment);
    } else if (!releaseAddr<EgrDnatTraits>(hw->second, key, AddrUse::translation)) {
        VTRACE(th, 3,
               "cleanupAddrDnat"
                   << ", not found: " << oldIp.toString());
    }
    eraseIfEmpty<EgrDnatTraits>(profileId);
}

// --- Retry ---

uint16_t VyrNatTableMgrEgressStatic::retrySnatPass(uint16_t bookmark,
                                                   Tasking::TaskScheduler& scheduler) {
    return retryPass<EgrSnatTraits>(bookmark, scheduler);
}

uint16_t VyrNatTableMgrEgressStatic::retryDnatPass(uint16_t bookmark,
                                                   Tasking::TaskScheduler& scheduler) {
    return retryPass<EgrDnatTraits>(bookmark, scheduler);
}

template <class T>
uint16_t VyrNatTableMgrEgressStatic::retryPass(uint16_t bookmark,
                                               Tasking::TaskScheduler& scheduler) {
    auto& records = T::records(*this);
    for (auto hw = records.lower_bound(bookmark); hw != records.end();) {
        retryProfile<T>(hw->second);
        ++hw;
        if (hw != records.end() && scheduler.shouldYield()) {
            VTRACE(th, 5, T::kRetry << ", yielding, next profile:" << hw->first);
            return hw->first;
        }
    }
    return 0;
}

template <class T> void VyrNatTableMgrEgressStatic::retryProfile(typename T::Hw& hw) {
    if (hw.retryList.empty()) {
        return;
    }
    // Keys that fail again go back into the list as the same nodes: a table that stays full
    // costs no allocation per pass.
    std::set<typename T::AddrKey> pending;
    pending.swap(hw.retryList);
    while (!pending.empty()) {
        auto node = pending.extract(pending.begin());
        auto it = hw.addrOnlyMS.find(node.value());
        if (it == hw.addrOnlyMS.end() || it->second.programmed) {
            continue;
        }
        // A retry writes what the users already asked for and takes no reference of its own.
        const bool ok = writeAddr<T>(hw.profile, node.value(), it->second);
        if (ok && it->second.addressUsers != 0 && omaNatSmStatus()) {
            // Address-only translations were reported not programmed: now they are.
            omaNatSmStatus()->egressAddrRetried.set({T::kDnat, hw.profile, node.value().ip}, true);
        }
        VTRACE(th, 5,
               T::kRetry << ", profile:" << hw.profile << ", key: " << node.value().str()
                         << ", programmed " << ok);
        if (!ok) {
            hw.retryList.insert(std::move(node));
        }
    }
}

// --- NAT profile tables ---

Ert::Ptr<VyrNatTableMgrEgressStatic>
vyrNatTableMgrEgressStaticFactory(VyrAgentLib::VyrTableMgr* tableMgr,
                                  Ert::Ptr<Config> vyrNatConfig) {
    return Ert::make<VyrNatTableMgrEgressStatic>(tableMgr, std::move(vyrNatConfig));
}

} // namespace VyrNat
