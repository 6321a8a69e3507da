#include "tables/static/VyrNatTableMgrStatic.h"

#include "agent/VyrNatTableMgr.h"
#include "tables/TableSetup.h"
#include "tables/static/StaticNatDirection.h"

namespace VyrNat {

Trace::Handle staticTrace("VyrNatTableMgrStatic");

VyrNatTableMgrStatic::VyrNatTableMgrStatic(VyrNatTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                                           std::shared_ptr<VyrP4::ResourceInfo> resourceInfo)
    : tableMgr_(tableMgr), vyrNatConfig_(std::move(vyrNatConfig)),
      resourceInfoIntf_(std::move(resourceInfo)) {
    VYR_ASSERT(tableMgr_);
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

    snatAclIds_ = IdBitmap(snatAclTableSize_);
    dnatAclIds_ = IdBitmap(dnatAclTableSize_);
    initialized_ = true;
}

uint8_t VyrNatTableMgrStatic::updateTableList() {
    uint8_t count = 0;
    auto list = [&](const char* name) {
        hwTableListed(tableMgr(), name);
        ++count;
    };
    for (const char* name : {"staticDnatAcl", "addrOnlyDnat", "addrPortDnat", "staticSnatAcl",
                             "addrOnlySnat", "addrPortSnat"}) {
        list(name);
    }
    for (const char* name : {"egressNatProfile", "dynamicEgressNatProfile"}) {
        if (resourceInfoIntf_ &&
            resourceInfoIntf_->tableIndex(name) != VyrP4::ResourceInfo::kInvalidTableIndex) {
            list(name);
        }
    }
    if (egressTableSize_ != 0) {
        list("egrUcSnat");
        list("egrUcDnat");
    }
    return count;
}

bool VyrNatTableMgrStatic::initializeTable(const VyrP4::TableKey& tableKey,
                                           VyrP4::DeviceHandle handle,
                                           const VyrDriver::VyrDevProfile& profile, uint32_t count,
                                           MbbMirraKey::MirraKeyManager* km,
                                           VyrTableStatusManager::StatusManager* sm) {
    VTRACE(staticTrace, 0, "Initializing table: " << tableKey.name);
    const TableCreation c{tableKey, handle, profile, count, km, sm};
    using namespace VyrP4;
    return c.createIfNamed("staticDnatAcl", staticDnatAclTable_, staticDnatAclTableFactory) ||
           c.createIfNamed("addrOnlyDnat", addrOnlyDnatTable_, addrOnlyDnatTableFactory) ||
           c.createIfNamed("addrPortDnat", addrPortDnatTable_, addrPortDnatTableFactory) ||
           c.createIfNamed("staticSnatAcl", staticSnatAclTable_, staticSnatAclTableFactory) ||
           c.createIfNamed("addrOnlySnat", addrOnlySnatTable_, addrOnlySnatTableFactory) ||
           c.createIfNamed("addrPortSnat", addrPortSnatTable_, addrPortSnatTableFactory) ||
           c.createIfNamed("egressNatProfile", egressNatProfileTable_,
                           egressNatProfileTableFactory) ||
           c.createIfNamed("dynamicEgressNatProfile", dynamicEgressNatProfileTable_,
                           dynamicEgressNatProfileTableFactory) ||
           c.createIfNamed("egrUcSnat", egressSnatTable_, egrUcSnatTableFactory) ||
           c.createIfNamed("egrUcDnat", egressDnatTable_, egrUcDnatTableFactory);
}

Ert::Ptr<VyrNatTableMgrStatic>
vyrNatTableMgrStaticFactory(VyrNatTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                            std::shared_ptr<VyrP4::ResourceInfo> resourceInfo) {
    return Ert::make<VyrNatTableMgrStatic>(tableMgr, std::move(vyrNatConfig),
                                           std::move(resourceInfo));
}

} // namespace VyrNat
