// Dynamic connections with ports: the choice of table, the entries of the five-tuple tables and
// the partitions, and their deletes.

#include "common/TableWrite.h"
#include "common/TranslationActions.h"
#include "host/Assert.h"
#include "host/Trace.h"
#include "tables/dynamic/VyrNatTableMgrDynamic.h"

#include <array>
#include <utility>

namespace VyrNat {

namespace {

using S = DynamicSnatTable;
using D = DynamicDnatTable;
using A = DynamicTableAction;

// The action spec of `action`, checked against its arguments: SNAT actions translate `src` and
// carry no next hop, DNAT actions translate `dst` through one.
template <class Action>
Action connAction(DynamicTableAction action, IpAndPort src, IpAndPort dst, IpAndPort newIp,
                  uint32_t nextHop) {
    const bool withPort =
        action == A::setSipPort || action == A::setDipPortNextHop || action == A::setDipPortEcmp;
    if (withPort) {
        VYR_CHECK(newIp.port > 0, "newIp.port() > 0");
    } else {
        VYR_CHECK(newIp.port == 0, "newIp.port() == 0");
    }
    if (action == A::setSip || action == A::setSipPort) {
        VYR_CHECK(nextHop == 0, "nextHop == 0");
        if constexpr (std::is_constructible_v<Action, VyrP4::SetTranslatedSipActionSpec>) {
            return sipTranslation<Action>(src, newIp);
        } else {
            VYR_FAIL("DNAT2 takes DNAT actions only");
        }
    }
    VYR_CHECK(nextHop != 0, "nextHop != 0");
    const bool ecmp = action == A::setDipEcmp || action == A::setDipPortEcmp;
    return dipPortTranslation<Action>(dst, newIp, NextHop{nextHop, ecmp});
}

} // namespace

bool VyrNatTableMgrDynamic::vrfFits(uint32_t vrfId) {
    if (!natInVrfSupported_ || vrfId <= 0xffff) {
        return true;
    }
    VTRACE(dynamicTrace, 1, "VRF id " << vrfId << " does not fit the tables' 16-bit VRF field");
    refusalIs("VRF id " + std::to_string(vrfId) + " beyond the tables' 16-bit VRF field");
    return false;
}

template <class Table, class Action>
bool VyrNatTableMgrDynamic::writeConnEntry(Table& table, const typename Table::MatchSpec& ms,
                                           const Action& action, bool update, const char* op) {
    if (forceHwError_) {
        VYR_ASSERT(!update);
        return false;
    }
    // A new connection is added, never written over another's entry.
    const WriteRefusal refused = tableWriteRefused([&] {
        if (update) {
            table.entryIs(ms, action);
        } else {
            table.entryAdd(ms, action);
        }
    });
    if (!refused) {
        return true;
    }
    VYR_ASSERT(!update);
    VTRACE(dynamicTrace, 1, op << ": " << refused.text() << " in " << table.name());
    refusalIs(refused);
    return false;
}

template <class Table>
void VyrNatTableMgrDynamic::eraseEntry(Table* table, const ConnTuple& flow, const MatchAddrs& addrs,
                                       uint32_t vrfId) {
    VYR_CHECK(table, "the table of a recorded connection exists");
    table->entryDel(matchSpec<typename Table::MatchSpec>(flow.protocol, addrs, vrfId));
}

bool VyrNatTableMgrDynamic::partitionAdd(DynamicNatPartitionedTable& parts, const ConnTuple& flow,
                                         IpAndPort src, IpAndPort dst, IpAndPort newIp,
                                         uint32_t vrfId) {
    if (parts.addEntry(flow, src, dst, newIp, vrfId)) {
        return true;
    }
    refusalIs(parts.refusal());
    return false;
}

// --- One entry in one table ---

bool VyrNatTableMgrDynamic::createDynamicSnat1Table(const ConnTuple& flow, IpAndPort src,
                                                    IpAndPort dst, IpAndPort newIp,
                                                    uint32_t vrfId) {
    return createSnatInto(S::dynSnat1, flow, src, dst, newIp, vrfId);
}

bool VyrNatTableMgrDynamic::createDynamicSnat2Table(const ConnTuple& flow, IpAndPort src,
                                                    IpAndPort dst, IpAndPort newIp,
                                                    uint32_t vrfId) {
    return createSnatInto(S::dynSnat2, flow, src, dst, newIp, vrfId);
}

bool VyrNatTableMgrDynamic::createDynamicDnat1TableForSnat(const ConnTuple& flow, IpAndPort src,
                                                           IpAndPort dst, IpAndPort newIp,
                                                           uint32_t vrfId) {
    return createDynamicDnat1Table(flow, newIp.port ? A::setSipPort : A::setSip, src, dst, newIp, 0,
                                   false, vrfId);
}

bool VyrNatTableMgrDynamic::createSnatInto(DynamicSnatTable table, const ConnTuple& flow,
                                           IpAndPort src, IpAndPort dst, IpAndPort newSrc,
                                           uint32_t vrfId) {
    const MatchAddrs addrs = MatchAddrs::of(src, dst);
    bool written;
    if (table == S::dynSnat1) {
        VYR_ASSERT(dynamicSnat1Table());
        written = writeConnEntry(
            *snat1_, matchSpec<VyrP4::DynamicSnat1MatchSpec>(flow.protocol, addrs, vrfId),
            sipTranslation<VyrP4::DynamicSnat1Table::Action>(src, newSrc), false,
            "createDynamicSnat1Table");
    } else {
        VYR_ASSERT(dynamicSnat2Table());
        written = writeConnEntry(
            *snat2_, matchSpec<VyrP4::DynamicSnat2MatchSpec>(flow.protocol, addrs, vrfId),
            sipTranslation<VyrP4::DynamicSnat2Table::Action>(src, newSrc), false,
            "createDynamicSnat2Table");
    }
    if (written) {
        dynamicSnatTable_.add(flow, addrs, vrfId, table);
    }
    return written;
}

bool VyrNatTableMgrDynamic::createDynamicDnat1Table(const ConnTuple& flow,
                                                    DynamicTableAction action, IpAndPort src,
                                                    IpAndPort dst, IpAndPort newIp,
                                                    uint32_t nextHop, bool update, uint32_t vrfId) {
    return createDnatInto(D::dynDnat1Dnat, flow, action, src, dst, newIp, nextHop, update, vrfId);
}

bool VyrNatTableMgrDynamic::createDynamicDnat2Table(const ConnTuple& flow,
                                                    DynamicTableAction action, IpAndPort src,
                                                    IpAndPort dst, IpAndPort newIp,
                                                    uint32_t nextHop, bool update, uint32_t vrfId) {
    return createDnatInto(D::dynDnat2, flow, action, src, dst, newIp, nextHop, update, vrfId);
}

// DNAT1 takes DNAT entries (with a next hop) and SNAT entries (without) up to their quotas.
bool VyrNatTableMgrDynamic::createDnatInto(DynamicDnatTable table, const ConnTuple& flow,
                                           DynamicTableAction action, IpAndPort src, IpAndPort dst,
                                           IpAndPort newIp, uint32_t nextHop, bool update,
                                           uint32_t vrfId) {
    const bool dnat1 = table == D::dynDnat1Dnat;
    const bool snatEntry = dnat1 && nextHop == 0;
    MatchAddrs addrs = MatchAddrs::of(src, dst);
    if (update) {
        // The entry is rewritten under the match spec it was written with.
        const auto found = dynamicDnatTable_.find(flow, vrfId);
        VYR_CHECK(found && found->place == table && !snatEntry,
                  dnat1 ? "dnat1Dnat match spec" : "dnat2 match spec");
        addrs = found->addrs;
    }
    bool written;
    if (dnat1) {
        VYR_ASSERT(dynamicDnat1Table());
        if (!update && snatEntry && dnat1SnatEntries_ >= dnat1SnatEntriesMax_) {
            VTRACE(dynamicTrace, 1, "No space left in DynamicDnat1 for snat entries");
            return false;
        }
        if (!update && !snatEntry && dnat1DnatEntries_ >= dnat1DnatEntriesMax_) {
            VTRACE(dynamicTrace, 1, "No space left in DynamicDnat1 for dnat entries");
            return false;
        }
        written = writeConnEntry(
            *dnat1_, matchSpec<VyrP4::DynamicDnat1MatchSpec>(flow.protocol, addrs, vrfId),
            connAction<VyrP4::DynamicDnat1Table::Action>(action, src, dst, newIp, nextHop), update,
            "createDynamicDnat1Table");
    } else {
        VYR_ASSERT(dynamicDnat2Table());
        written = writeConnEntry(
            *dnat2_, matchSpec<VyrP4::DynamicDnat2MatchSpec>(flow.protocol, addrs, vrfId),
            connAction<VyrP4::DynamicDnat2Table::Action>(action, src, dst, newIp, nextHop), update,
            "createDynamicDnat2Table");
    }
    if (!written || update) {
        return written;
    }
    if (snatEntry) {
        dynamicSnatTable_.add(flow, addrs, vrfId, S::dynDnat1Snat);
        ++dnat1SnatEntries_;
    } else {
        dynamicDnatTable_.add(flow, addrs, vrfId, table);
        if (dnat1) {
            ++dnat1DnatEntries_;
        }
    }
    return true;
}

// --- Connections ---

bool VyrNatTableMgrDynamic::createDynamicSnat(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                              IpAndPort newSrc, uint16_t profile, bool fullCone,
                                              uint32_t vrfId) {
    VTRACE(dynamicTrace, 5,
           "createDynamicSnat"
               << " flow: " << flow.toString() << ", src: " << src.toString()
               << ", dst: " << dst.toString() << ", newSrc: " << newSrc.toString()
               << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    ConnTuple f = flow;
    const bool sharedKey = fullCone && snatDynFullConeSupported_;
    if (sharedKey) {
        f.dst = dst = fullConePeer(profile);
    }
    const bool forced = forceSnatTable_ != S::dynSnatUnknown;
    if (!forced && snat1TableSize_ == 0) {
        auto& parts = *dynamicSnatPartitionedTable_;
        return !parts.partition().empty() && partitionAdd(parts, f, src, dst, newSrc, vrfId);
    }
    if (!vrfFits(vrfId)) {
        return false;
    }
    switch (dynamicSnatTable_.claim(f, MatchAddrs::of(src, dst), vrfId)) {
    case SnatRecords::Claim::free:
        break;
    case SnatRecords::Claim::recorded:
        // A full-cone key is one for every peer: a second connection to another peer finds the
        // first's entry. Any other connection is created once.
        VYR_CHECK(sharedKey, "table == dynSnatUnknown()");
        [[fallthrough]];
    case SnatRecords::Claim::heldByAnother:
        VTRACE(dynamicTrace, 1, "Flow already programmed: " << f.toString());
        refusalIs("another connection holds the entry");
        return false;
    }
    if (forced) {
        switch (forceSnatTable_) {
        case S::dynDnat1Snat:
            return createDynamicDnat1TableForSnat(f, src, dst, newSrc, vrfId);
        case S::dynSnat1:
            return createDynamicSnat1Table(f, src, dst, newSrc, vrfId);
        case S::dynSnat2:
            return createDynamicSnat2Table(f, src, dst, newSrc, vrfId);
        default:
            VYR_FAIL("forceSnatTable out of range");
        }
    }
    if (snatDynFullConeSupported_) {
        return createDynamicSnat1Table(f, src, dst, newSrc, vrfId);
    }
    struct Candidate {
        int64_t free;
        DynamicSnatTable table;
    };
    std::array<Candidate, 3> candidates{{
        {int64_t(snat1TableSize_) - int64_t(dynamicSnatTable_.count(S::dynSnat1)), S::dynSnat1},
        {int64_t(snat2TableSize_) - int64_t(dynamicSnatTable_.count(S::dynSnat2)), S::dynSnat2},
        {int64_t(dnat1TableSize_) - int64_t(dynamicSnatTable_.count(S::dynDnat1Snat)) -
             int64_t(dynamicDnatTable_.count(D::dynDnat1Dnat)),
         S::dynDnat1Snat},
    }};
    // Largest free count first; the listed order on a tie (an insertion sort, stable).
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        for (std::size_t j = i; j > 0 && candidates[j - 1].free < candidates[j].free; --j) {
            std::swap(candidates[j - 1], candidates[j]);
        }
    }
    bool ok = false;
    for (const Candidate& c : candidates) {
        ok = c.table == S::dynDnat1Snat ? createDynamicDnat1TableForSnat(f, src, dst, newSrc, vrfId)
                                        : createSnatInto(c.table, f, src, dst, newSrc, vrfId);
        if (ok) {
            break;
        }
    }
    return ok;
}

bool VyrNatTableMgrDynamic::createDynamicDnat(uint16_t profile, const ConnTuple& flow,
                                              IpAndPort src, IpAndPort dstOld, IpAndPort dstNew,
                                              uint32_t nextHop, bool ecmp, bool update,
                                              bool fullCone, uint32_t vrfId) {
    VTRACE(dynamicTrace, 5,
           "createDynamicDnat"
               << " flow: " << flow.toString() << ", src: " << src.toString()
               << ", dstOld: " << dstOld.toString() << ", dstNew: " << dstNew.toString()
               << ", nextHop: " << nextHop << ", ecmp: " << ecmp << ", update: " << update
               << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    if (fullCone && dynFullConeDnatSupported_) {
        // One entry answers every peer: the helper keys it without the source.
        if (dynamicFullConeDnatHelper_->createDynamicFullConeDnatEntry(
                profile, dstOld, flow.protocol, dstNew, update)) {
            return true;
        }
        refusalIs(dynamicFullConeDnatHelper_->refusal());
        return false;
    }
    const DynamicTableAction action = ecmp
                                          ? (dstNew.port ? A::setDipPortEcmp : A::setDipEcmp)
                                          : (dstNew.port ? A::setDipPortNextHop : A::setDipNextHop);
    ConnTuple f = flow;
    const bool sharedKey = fullCone && dynFullConeSupported_;
    if (sharedKey) {
        f.src = src = fullConePeer(profile);
    }
    const bool forced = forceDnatTable_ != D::dynDnatUnknown;
    if (!forced && dnat1TableSize_ == 0) {
        if (dynamicDnatPartitionedTable_->partition().empty()) {
            return false;
        }
        // Partition entries carry no next hop: an update has nothing to rewrite.
        return update || partitionAdd(*dynamicDnatPartitionedTable_, f, src, dstOld, dstNew, vrfId);
    }
    if (!vrfFits(vrfId)) {
        return false;
    }
    if (!update) {
        switch (dynamicDnatTable_.claim(f, MatchAddrs::of(src, dstOld), vrfId)) {
        case DnatRecords::Claim::free:
            break;
        case DnatRecords::Claim::recorded:
            VYR_CHECK(sharedKey, "table == dynDnatUnknown()");
            [[fallthrough]];
        case DnatRecords::Claim::heldByAnother:
            VTRACE(dynamicTrace, 1, "Flow already programmed: " << f.toString());
            refusalIs("another connection holds the entry");
            return false;
        }
    }
    if (forced) {
        if (forceDnatTable_ == D::dynDnat1Dnat) {
            return createDynamicDnat1Table(f, action, src, dstOld, dstNew, nextHop, update, vrfId);
        }
        VYR_CHECK(forceDnatTable_ == D::dynDnat2, "forceDnatTable() == dynDnat2()");
        return createDynamicDnat2Table(f, action, src, dstOld, dstNew, nextHop, update, vrfId);
    }
    if (update) {
        const DynamicDnatTable table = dynamicDnatTable_.place(f, vrfId);
        VYR_CHECK(table != D::dynDnatUnknown, "table != dynDnatUnknown()");
        if (table == D::dynDnat1Dnat) {
            return createDynamicDnat1Table(f, action, src, dstOld, dstNew, nextHop, true, vrfId);
        }
        VYR_CHECK(table == D::dynDnat2, "table == dynDnat2()");
        return createDynamicDnat2Table(f, action, src, dstOld, dstNew, nextHop, true, vrfId);
    }
    const int64_t dnat1Free = int64_t(dnat1TableSize_) -
                              int64_t(dynamicSnatTable_.count(S::dynDnat1Snat)) -
                              int64_t(dynamicDnatTable_.count(D::dynDnat1Dnat));
    const int64_t dnat2Free =
        int64_t(dnat2TableSize_) - int64_t(dynamicDnatTable_.count(D::dynDnat2));
    // DNAT1 first on a tie.
    const DynamicDnatTable order[2] = {dnat1Free >= dnat2Free ? D::dynDnat1Dnat : D::dynDnat2,
                                       dnat1Free >= dnat2Free ? D::dynDnat2 : D::dynDnat1Dnat};
    bool ok = false;
    for (DynamicDnatTable table : order) {
        ok = createDnatInto(table, f, action, src, dstOld, dstNew, nextHop, false, vrfId);
        if (ok) {
            break;
        }
    }
    return ok;
}

bool VyrNatTableMgrDynamic::deleteDynamicSnat(uint16_t profile, const ConnTuple& flow,
                                              IpAndPort dst, bool fullCone, uint32_t vrfId) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicSnat"
               << " flow: " << flow.toString() << ", dst: " << dst.toString()
               << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    ConnTuple f = flow;
    if (fullCone && snatDynFullConeSupported_) {
        f.dst = fullConePeer(profile);
    }
    if (snat1TableSize_ == 0) {
        // Only what was added is deleted: a connection the partitions refused has no entry.
        return dynamicSnatPartitionedTable_->removeEntry(f, vrfId);
    }
    const auto found = dynamicSnatTable_.take(f, vrfId);
    if (!found) {
        return false;
    }
    switch (found->place) {
    case S::dynDnat1Snat:
        eraseEntry(dnat1_.get(), f, found->addrs, vrfId);
        --dnat1SnatEntries_;
        break;
    case S::dynSnat1:
        eraseEntry(snat1_.get(), f, found->addrs, vrfId);
        break;
    case S::dynSnat2:
        eraseEntry(snat2_.get(), f, found->addrs, vrfId);
        break;
    default:
        VYR_FAIL("dynamicSnatTable holds an entry of no five-tuple table");
    }
    return true;
}

bool VyrNatTableMgrDynamic::deleteDynamicDnat(uint16_t profile, const ConnTuple& flow,
                                              IpAndPort dst, bool fullCone, uint32_t vrfId) {
    VTRACE(dynamicTrace, 5,
           "deleteDynamicDnat"
               << " flow: " << flow.toString() << ", dst: " << dst.toString()
               << ", profile: " << profile << ", fullCone: " << fullCone << ", vrfId: " << vrfId);
    if (fullCone && dynFullConeDnatSupported_) {
        dynamicFullConeDnatHelper_->deleteDynamicFullConeDnatEntry(profile, dst, flow.protocol);
        return true;
    }
    ConnTuple f = flow;
    if (fullCone && dynFullConeSupported_) {
        f.src = fullConePeer(profile);
    }
    if (dnat1TableSize_ == 0) {
        return dynamicDnatPartitionedTable_->removeEntry(f, vrfId);
    }
    const auto found = dynamicDnatTable_.take(f, vrfId);
    if (!found) {
        return false;
    }
    switch (found->place) {
    case D::dynDnat1Dnat:
        eraseEntry(dnat1_.get(), f, found->addrs, vrfId);
        --dnat1DnatEntries_;
        break;
    case D::dynDnat2:
        eraseEntry(dnat2_.get(), f, found->addrs, vrfId);
        break;
    default:
        VYR_FAIL("dynamicDnatTable holds an entry of no five-tuple table");
    }
    return true;
}

} // namespace VyrNat
