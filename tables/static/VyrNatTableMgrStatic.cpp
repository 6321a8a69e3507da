#include "tables/static/VyrNatTableMgrStatic.h"

#include "tables/static/StaticNatDirection.h"

namespace VyrNat {

Trace::Handle staticTrace("VyrNatTableMgrStatic");

VyrNatTableMgrStatic::VyrNatTableMgrStatic(VyrAgentLib::VyrTableMgr* tableMgr,
                                           Ert::Ptr<Config> vyrNatConfig,
                                           std::shared_ptr<VyrP4::ResourceInfo> resourceInfo)
    : NatTableManager(tableMgr, staticTrace), vyrNatConfig_(std::move(vyrNatConfig)),
      resourceInfoIntf_(std::move(resourceInfo)) {
    using namespace VyrP4;
    // The egress NAT profile tables exist where the chip's program has them.
    auto onChip = [this](const char* name) {
        return [this, name] {
            return resourceInfoIntf_ &&
                   resourceInfoIntf_->tableIndex(name) != ResourceInfo::kInvalidTableIndex;
        };
    };
    auto egressUnicast = [this] { return egressTableSize_ != 0; };
    tables_.add("staticDnatAcl", staticDnatAclTable_, staticDnatAclTableFactory);
    tables_.add("addrOnlyDnat", addrOnlyDnatTable_, addrOnlyDnatTableFactory);
    tables_.add("addrPortDnat", addrPortDnatTable_, addrPortDnatTableFactory);
    tables_.add("staticSnatAcl", staticSnatAclTable_, staticSnatAclTableFactory);
    tables_.add("addrOnlySnat", addrOnlySnatTable_, addrOnlySnatTableFactory);
    tables_.add("addrPortSnat", addrPortSnatTable_, addrPortSnatTableFactory);
    tables_.add("egressNatProfile", egressNatProfileTable_, egressNatProfileTableFactory,
                onChip("egressNatProfile"));
    tables_.add("dynamicEgressNatProfile", dynamicEgressNatProfileTable_,
                dynamicEgressNatProfileTableFactory, onChip("dynamicEgressNatProfile"));
    tables_.add("egrUcSnat", egressSnatTable_, egrUcSnatTableFactory, egressUnicast);
    tables_.add("egrUcDnat", egressDnatTable_, egrUcDnatTableFactory, egressUnicast);
    handleInitialized();
}

void VyrNatTableMgrStatic::handleInitialized() {
    addrOnlySnatFragmentEntries_ = 0;
    addrOnlySnatFragmentUnprogrammedEntries_ = 0;
    addrOnlyDnatFragmentEntries_ = 0;
    addrOnlyDnatFragmentUnprogrammedEntries_ = 0;

    const auto& caps = tableMgr()->profileCapabilities();
    snatAclTableSize_ = caps.snatAclTableSize();
    dnatAclTableSize_ = caps.dnatAclTableSize();
    snatAddrOnlyTableSize_ = caps.snatAddrOnlyTableSize();
    dnatAddrOnlyTableSize_ = caps.dnatAddrOnlyTableSize();
    if (caps.egrUcNatSupported()) {
        VYR_ASSERT(tableMgr()->profileCapabilities().egrUcNatTableSize() > 0);
    } else {
        VYR_ASSERT(tableMgr()->profileCapabilities().egrUcNatTableSize() == 0);
    }
    egressTableSize_ = caps.egrUcNatTableSize();

    snatAcls_ = AclIdTable<HwStaticNatAclKey, HwStaticSnatAclEntry>(snatAclTableSize_);
    dnatAcls_ = AclIdTable<HwStaticNatAclKey, HwStaticDnatAclEntry>(dnatAclTableSize_);
    initialized_ = true;
}

std::vector<RecordCount> VyrNatTableMgrStatic::recordCounts() const {
    return {{" tms->hwStaticSnatEntriess() ", hwStaticSnatEntries_.size()},
            {" tms->hwStaticDnatEntriess() ", hwStaticDnatEntries_.size()},
            {" tms->hwStaticSnatAclEntriess() ", snatAcls_.records().size()},
            {" tms->hwStaticDnatAclEntriess() ", dnatAcls_.records().size()},
            {" tms->hwEgressNatProfileEntriess() ", hwEgressNatProfileEntries_.size()}};
}

Ert::Ptr<VyrNatTableMgrStatic>
vyrNatTableMgrStaticFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                            std::shared_ptr<VyrP4::ResourceInfo> resourceInfo) {
    return Ert::make<VyrNatTableMgrStatic>(tableMgr, std::move(vyrNatConfig),
                                           std::move(resourceInfo));
}

} // namespace VyrNat
