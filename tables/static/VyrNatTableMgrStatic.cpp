#include "tables/static/VyrNatTableMgrStatic.h"

#include "agent/VyrNatTableMgr.h"
#include "host/Trace.h"

namespace VyrNat {

namespace {

Trace::Handle th("VyrNatTableMgrStatic");

// Builds the table into `slot` when `name` is its table's name.
template <class T, class Factory, class... Args>
bool createIfNamed(const std::string& name, const char* tableName, std::shared_ptr<T>& slot,
                   Factory factory, Args&&... args) {
    if (name != tableName) {
        return false;
    }
    slot = factory(std::forward<Args>(args)...);
    return true;
}

} // namespace

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
    const VyrAgentLib::HwTableScope wholeChip{true, 0};
    uint8_t count = 0;
    auto list = [&](const char* name) {
        tableMgr()->hwTablesIs(name, wholeChip, true, true, false, tableMgr());
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
                                           const VyrDriver::VyrDevProfile& profile,
                                           uint32_t count, MbbMirraKey::MirraKeyManager* km,
                                           VyrTableStatusManager::StatusManager* sm) {
    const std::string& name = tableKey.name;
    VTRACE(th, 0, "Initializing table: " << name);
    const auto k8 = tableKey.key8;
    const auto k16 = tableKey.key16;
    const std::string& p = profile.name;
    using namespace VyrP4;
    return createIfNamed(name, "staticDnatAcl", staticDnatAclTable_, staticDnatAclTableFactory,
                         km, sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "addrOnlyDnat", addrOnlyDnatTable_, addrOnlyDnatTableFactory, km,
                         sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "addrPortDnat", addrPortDnatTable_, addrPortDnatTableFactory, km,
                         sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "staticSnatAcl", staticSnatAclTable_, staticSnatAclTableFactory,
                         km, sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "addrOnlySnat", addrOnlySnatTable_, addrOnlySnatTableFactory, km,
                         sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "addrPortSnat", addrPortSnatTable_, addrPortSnatTableFactory, km,
                         sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "egressNatProfile", egressNatProfileTable_,
                         egressNatProfileTableFactory, km, sm, handle, count, k8, k16, p) ||
           createIfNamed(name, "dynamicEgressNatProfile", dynamicEgressNatProfileTable_,
                         dynamicEgressNatProfileTableFactory, km, sm, handle, count, k8, k16,
                         p) ||
           createIfNamed(name, "egrUcSnat", egressSnatTable_, egrUcSnatTableFactory, km, sm,
                         handle, count, k8, k16, p) ||
           createIfNamed(name, "egrUcDnat", egressDnatTable_, egrUcDnatTableFactory, km, sm,
                         handle, count, k8, k16, p);
}

Ert::Ptr<VyrNatTableMgrStatic>
vyrNatTableMgrStaticFactory(VyrNatTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                            std::shared_ptr<VyrP4::ResourceInfo> resourceInfo) {
    return Ert::make<VyrNatTableMgrStatic>(tableMgr, std::move(vyrNatConfig),
                                           std::move(resourceInfo));
}

} // namespace VyrNat
