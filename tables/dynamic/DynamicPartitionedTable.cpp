#include "tables/dynamic/DynamicPartitionedTable.h"

#include "common/TableWrite.h"
#include "common/TranslationActions.h"
#include "host/Trace.h"
#include "tables/dynamic/DynamicMatchSpecs.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatDynamicPartitions");

// The translation of the untranslated side: the source for SNAT, the destination for DNAT.
template <class Dir, class Action>
Action partitionAction(IpAndPort src, IpAndPort dst, IpAndPort newIp) {
    if constexpr (std::is_same_v<Dir, SnatPartitionDir>) {
        return sipTranslation<Action>(src, newIp);
    } else {
        return translationByPort<VyrP4::SetTranslatedDipActionSpec,
                                 VyrP4::SetTranslatedDipPortActionSpec, Action>(dst, newIp);
    }
}

} // namespace

Ert::Ptr<DynamicSnatPartition> dynamicSnatPartitionFactory(const char* name, uint8_t partitionId,
                                                           uint32_t size) {
    return Ert::make<DynamicSnatPartition>(name, partitionId, size);
}

Ert::Ptr<DynamicDnatPartition> dynamicDnatPartitionFactory(const char* name, uint8_t partitionId,
                                                           uint32_t size) {
    return Ert::make<DynamicDnatPartition>(name, partitionId, size);
}

DynamicNatPartition* DynamicNatPartitionedTable::partition(uint8_t partitionId) const {
    auto it = partition_.find(partitionId);
    return it == partition_.end() ? nullptr : it->second.get();
}

std::optional<DynamicNatPartitionAndMatchSpec>
DynamicNatPartitionedTable::flowToMatchSpecMap(const FlowAndVrfType& key) const {
    const auto found = flowToMatchSpecMap_.find(key.flow, key.vrfId);
    if (!found) {
        return std::nullopt;
    }
    return DynamicNatPartitionAndMatchSpec{found->addrs, found->place};
}

template <class Dir> void DynamicPartitionedTableOf<Dir>::partitionIs(Ert::Ptr<Partition> p) {
    const uint8_t id = p->partitionId();
    partition_.insert_or_assign(id, std::move(p));
}

template <class Dir>
typename DynamicPartitionedTableOf<Dir>::Table::MatchSpec
DynamicPartitionedTableOf<Dir>::matchSpec(uint8_t protocol, const MatchAddrs& addrs) {
    return dynamicMatchSpec<typename Table::MatchSpec>(protocol, addrs, std::nullopt);
}

template <class Dir>
bool DynamicPartitionedTableOf<Dir>::addEntry(const ConnTuple& flow, IpAndPort src, IpAndPort dst,
                                              IpAndPort newIp, uint32_t vrfId) {
    VTRACE(th, 5,
           Dir::kSide << " :: flow: " << flow.toString() << ", src: " << src.toString()
                      << ", dst: " << dst.toString() << ", new ip: " << newIp.toString()
                      << ", vrfId: " << vrfId);
    const MatchAddrs addrs = MatchAddrs::of(src, dst);
    // The match has no VRF: a connection the chip cannot tell from a recorded one would share
    // its entry, and the first delete would take the other's translation with it.
    if (flowToMatchSpecMap_.claim(flow, addrs, vrfId) != Records::Claim::free) {
        VTRACE(th, 1, "Entry exists for flow: " << flow.toString() << ", vrfId: " << vrfId);
        refusal_ = "another connection holds the entry";
        return false;
    }
    Partition* chosen = nullptr;
    for (const auto& [id, p] : partition_) {
        if (!p->full()) {
            chosen = static_cast<Partition*>(p.get());
            break;
        }
    }
    if (!chosen) {
        VTRACE(th, 1, "All " << Dir::kTableName << " tabels are full");
        refusal_ = std::string("every ") + Dir::kTableName + " is full";
        return false;
    }
    VYR_ASSERT(chosen->table());
    const auto ms = matchSpec(flow.protocol, addrs);
    const auto action = partitionAction<Dir, typename Table::Action>(src, dst, newIp);
    if (WriteRefusal refused = tableWriteRefused([&] { chosen->table()->entryAdd(ms, action); })) {
        VTRACE(th, 1, chosen->name() << ": ERROR " << refused.name());
        refusal_ = refused.reason();
        return false;
    }
    flowToMatchSpecMap_.add(flow, addrs, vrfId, chosen->partitionId());
    chosen->entriesInc();
    VTRACE(th, 5, "Entry added to partition " << unsigned(chosen->partitionId()));
    return true;
}

template <class Dir>
bool DynamicPartitionedTableOf<Dir>::deleteEntry(const ConnTuple& flow, uint32_t vrfId) {
    VYR_CHECK(removeEntry(flow, vrfId), "flowToMatchSpecMapHas( key )");
    return true;
}

template <class Dir>
bool DynamicPartitionedTableOf<Dir>::removeEntry(const ConnTuple& flow, uint32_t vrfId) {
    VTRACE(th, 5,
           "deleteEntry"
               << ", flow: " << flow.toString() << ", vrfId: " << vrfId);
    const auto found = flowToMatchSpecMap_.take(flow, vrfId);
    if (!found) {
        return false;
    }
    Partition* p = typedPartition(found->place);
    VYR_ASSERT(p && p->table());
    p->table()->entryDel(matchSpec(flow.protocol, found->addrs));
    p->entriesDec();
    return true;
}

template class DynamicPartitionedTableOf<SnatPartitionDir>;
template class DynamicPartitionedTableOf<DnatPartitionDir>;

Ert::Ptr<DynamicSnatPartitionedTable> dynamicSnatPartitionedTableFactory() {
    return Ert::make<DynamicSnatPartitionedTable>();
}

Ert::Ptr<DynamicDnatPartitionedTable> dynamicDnatPartitionedTableFactory() {
    return Ert::make<DynamicDnatPartitionedTable>();
}

} // namespace VyrNat
