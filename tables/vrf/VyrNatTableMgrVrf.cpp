#include "tables/vrf/VyrNatTableMgrVrf.h"

#include "common/TranslationActions.h"
#include "common/VyrNatLogMessages.h"
#include "host/Assert.h"
#include "host/Trace.h"
#include "host/VyrVrfIdHelper.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatTableMgrVrf");

// Deletes the entry recorded under `key`; false when there is none.
template <class Table>
bool deleteVrfEntry(Table& table, std::map<Ip::IpAddr, typename Table::MatchSpec>& specs,
                    Ip::IpAddr key) {
    auto it = specs.find(key);
    if (it == specs.end()) {
        return false;
    }
    table.entryDel(it->second);
    specs.erase(it);
    return true;
}

} // namespace

VyrNatTableMgrVrf::VyrNatTableMgrVrf(VyrAgentLib::VyrTableMgr* tableMgr,
                                     Ert::Ptr<VyrSharedState::MeterTableConfig> meterTableConfig)
    : NatTableManager(tableMgr, th), meterTableConfig_(std::move(meterTableConfig)) {
    VYR_ASSERT(meterTableConfig_);
    using namespace VyrP4;
    tables_.add("ingressNatAclVrf", ingressNatAclVrfTable_, ingressNatAclVrfTableFactory);
    tables_.add("addrAndVrfDnat", addrAndVrfDnatTable_, addrAndVrfDnatTableFactory);
    tables_.add("defaultVrfSnat", defaultVrfSnatTable_, defaultVrfSnatTableFactory);
    tables_.add("natPolicer", natPolicerTable_, natPolicerTableFactory);
    tables_.onCreated("ingressNatAclVrf", [this](const TableCreation&) {
        // The table service, not the NAT helper, is the caller here: a refused fixed entry is
        // traced rather than thrown into the service's start-up.
        try {
            initIngressNatAclVrfTable();
        } catch (const VyrP4::TableError& e) {
            VTRACE(th, 0,
                   "initIngressNatAclVrfTable"
                       << ": ERROR " << e.name());
        }
    });
    tables_.onCreated("natPolicer", [this](const TableCreation& c) {
        meterTableConfig_->configIs(VyrSharedState::DeviceTarget{c.tableKey.key8}, true,
                                    kMeterTableName, 0);
    });
    handleInitialized();
}

void VyrNatTableMgrVrf::handleInitialized() {
    const auto& caps = tableMgr()->profileCapabilities();
    vrfSnatTableSize_ = caps.vrfSnatTableSize();
    vrfDnatTableSize_ = caps.vrfDnatTableSize();
    vrfIdHelperFlags_ = uint8_t(caps.vrfIdHelperFlags());
    initialized_ = true;
}

std::vector<RecordCount> VyrNatTableMgrVrf::recordCounts() const {
    return {{" tmv->hwSnatEntriess() ", hwSnatEntries_.size()}};
}

void VyrNatTableMgrVrf::initIngressNatAclVrfTable() {
    VYR_ASSERT(ingressNatAclVrfTable());
    // VRF 0 under the full mask; every other field at its default.
    VyrP4::IngressNatAclVrfMatchSpec ms;
    ms.l3InfoVrfIdIs(0, 0xffff);
    VyrP4::IngressNatAclVrfBaseActionSpec action;
    action.natVrfEnableIs(1);
    ingressNatAclVrfTable_->entryIs(ms, action);
}

bool VyrNatTableMgrVrf::updateVrfSnatTable(Ip::IpAddr oldSip, Ip::IpAddr newSip, uint16_t vrfId,
                                           bool del) {
    VTRACE(th, 5,
           "updateVrfSnatTable"
               << ", vrf: " << vrfId << ", old sip: " << oldSip.toString()
               << ", new sip: " << newSip.toString() << ", delete: " << del);
    VYR_ASSERT(defaultVrfSnatTable());
    if (del) {
        auto vrf = hwSnatEntries_.find(vrfId);
        if (vrf == hwSnatEntries_.end() ||
            !deleteVrfEntry(*defaultVrfSnatTable_, vrf->second.matchSpec, oldSip)) {
            VTRACE(th, 1, "Entry not in the snat table");
            return false;
        }
        if (vrf->second.matchSpec.empty()) {
            hwSnatEntries_.erase(vrf);
        }
        return true;
    }
    VyrP4::DefaultVrfSnatMatchSpec ms;
    ms.outerIpv4HdrSipIs(oldSip.value);
    ms.l3InfoVrfIdIs(vrfId);
    const auto action = addrTranslation<VyrP4::SetIpv4SnatActionSpec>(oldSip, newSip);
    // The VRF's record is made only once the chip took the entry.
    defaultVrfSnatTable_->entryIs(ms, action);
    auto& vrf = hwSnatEntries_[vrfId];
    vrf.vrfId = vrfId;
    vrf.matchSpec.insert_or_assign(oldSip, ms);
    return true;
}

bool VyrNatTableMgrVrf::updateVrfDnatTable(Ip::IpAddr oldDip, Ip::IpAddr newDip, uint16_t vrfId,
                                           bool del) {
    VTRACE(th, 5,
           "updateVrfDnatTable"
               << ", vrf: " << vrfId << ", old dip: " << oldDip.toString()
               << ", new dip: " << newDip.toString() << ", delete: " << del);
    VYR_ASSERT(addrAndVrfDnatTable());
    // The chip has one entry per untranslated address, so it translates into one VRF only: a
    // second VRF's translation of the address is refused rather than taking the entry from the
    // first, whose translation would still be reported programmed.
    auto owner = hwDnatEntries_.vrfId.find(oldDip);
    if (owner != hwDnatEntries_.vrfId.end() && owner->second != vrfId) {
        if (!del) {
            VTRACE(th, 1, "Entry of " << oldDip.toString() << " belongs to vrf " << owner->second);
            Log::raise(natDuplicateEntry(), oldDip.toString());
            refusalIs("the address translates into vrf " + std::to_string(owner->second));
        } else {
            VTRACE(th, 1, "Entry not in the dnat table");
        }
        return false;
    }
    if (del) {
        if (!deleteVrfEntry(*addrAndVrfDnatTable_, hwDnatEntries_.matchSpec, oldDip)) {
            VTRACE(th, 1, "Entry not in the dnat table");
            return false;
        }
        hwDnatEntries_.vrfId.erase(oldDip);
        return true;
    }
    VyrP4::AddrAndVrfDnatMatchSpec ms;
    ms.outerIpv4HdrDipIs(oldDip.value);
    auto action = addrTranslation<VyrP4::SetTranslatedVrfDipActionSpec>(oldDip, newDip);
    action.dipAndVrfIs(VyrVrfIdHelper_ipv4DipAndVrf(vrfId, newDip.value, vrfIdHelperFlags_));
    action.vrfIdIs(vrfId);
    addrAndVrfDnatTable_->entryIs(ms, action);
    hwDnatEntries_.matchSpec.insert_or_assign(oldDip, ms);
    hwDnatEntries_.vrfId.insert_or_assign(oldDip, vrfId);
    return true;
}

bool VyrNatTableMgrVrf::updateSnatPolicerTable(uint16_t vrfId, uint32_t rate, uint32_t burst,
                                               bool del) {
    VTRACE(th, 5,
           "updateSnatPolicerTable"
               << ", vrf: " << vrfId << ", rate: " << rate << ", burst: " << burst
               << ", delete: " << del);
    VYR_ASSERT(natPolicerTable());
    auto& specs = hwPolicerEntries_.matchSpec;
    auto it = specs.find(vrfId);
    if (del) {
        if (it == specs.end()) {
            return true;
        }
        natPolicerTable_->entryDel(it->second);
        specs.erase(it);
        for (const auto& [pipe, config] : meterTableConfig_->pipeConfig) {
            config->configDel(vrfId);
        }
        return true;
    }
    VyrP4::NatPolicerMatchSpec ms;
    if (it != specs.end()) {
        ms = it->second;
    } else {
        ms.l3InfoVrfIdIs(vrfId);
    }
    VyrP4::SetNatMeterActionSpec action;
    action.meterIndexIs(vrfId);
    natPolicerTable_->entryIs(ms, action);
    specs.insert_or_assign(vrfId, ms);
    for (const auto& [pipe, config] : meterTableConfig_->pipeConfig) {
        config->configIs(vrfId, rate, burst, false);
    }
    return true;
}

Ert::Ptr<VyrNatTableMgrVrf>
vyrNatTableMgrVrfFactory(VyrAgentLib::VyrTableMgr* tableMgr,
                         Ert::Ptr<VyrSharedState::MeterTableConfig> meterTableConfig) {
    return Ert::make<VyrNatTableMgrVrf>(tableMgr, std::move(meterTableConfig));
}

} // namespace VyrNat
