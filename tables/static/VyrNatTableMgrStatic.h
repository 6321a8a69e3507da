#pragma once
// Table manager of static translations: source (SNAT) and destination (DNAT) translations,
// address-only and address-and-port, optionally limited by an ACL key, on the ingress pipeline
// and, where the profile has them, on the egress pipeline. It owns its ten table objects and a
// record, per NAT profile, of every entry it wrote; the owner and the configuration are not
// owned.

#include "chip/P4Tables.h"
#include "chip/ResourceInfo.h"
#include "common/AclIdTable.h"
#include "common/NatCliCommands.h"
#include "host/NatConfig.h"
#include "host/TableService.h"
#include "tables/NatTableManager.h"
#include "tables/static/StaticNatRecords.h"

#include <map>
#include <memory>

namespace VyrNat {

class VyrNatTableMgrStatic : public NatTableManager {
public:
    VyrNatTableMgrStatic(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                         std::shared_ptr<VyrP4::ResourceInfo> resourceInfo);

    void handleInitialized();
    std::vector<RecordCount> recordCounts() const override;

    // --- Show commands, written to the request socket `fd` ---
    void showSummary(int fd) const override;
    // The VLAN-to-profile bindings of the egress NAT profile tables.
    void showProfiles(int fd) const;
    // The ingress entries of the kinds `cmd` selects, of the sides `snat` and `dnat` select
    // (neither: both).
    void showEntries(int fd, bool snat, bool dnat, StaticCliCommand cmd) const;
    // The egress unicast entries the same way. The ACL entries, which ingress and egress share,
    // are listed here only for a request that named the egress direction (`egressOnly`);
    // otherwise the ingress listing has them.
    void showEgressEntries(int fd, bool snat, bool dnat, StaticCliCommand cmd,
                           bool egressOnly) const;
    // The ingress and egress entries in which `addr` is the old or the new address.
    void showAddress(int fd, IpAddr addr) const;

    // Translations, as the NAT helper asks for them. True when the translation is in hardware
    // (its own entry, or a fragment entry it shares).
    bool updateStaticSnat(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldSrc,
                          IpAndPort newSrc, bool dynamicNat, bool egress);
    bool updateStaticDnat(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldDst,
                          IpAndPort newDst, uint32_t nextHop, bool ecmp, bool update,
                          bool dynamicNat, bool egress);
    void deleteStaticSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldSrc,
                               IpAndPort newSrc);
    void deleteStaticDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldDst,
                               IpAndPort newDst);
    // The fragment entry of one user; the key has `fragment` set.
    void deleteStaticSnatFragment(uint16_t profileId, const HwStaticNatAclKey& key, IpAddr oldSip,
                                  IpAddr newSip);
    void deleteStaticDnatFragment(uint16_t profileId, const HwStaticNatAclKey& key, IpAddr oldDip,
                                  IpAddr newDip);

    // Entries of each kind; results as above.
    bool createStaticSnatAddrOnlyTable(uint16_t profileId, const HwStaticNatAclKey& key,
                                       IpAddr oldSip, IpAddr newSip);
    bool createStaticDnatAddrOnlyTable(uint16_t profileId, const HwStaticNatAclKey& key,
                                       IpAddr oldDip, IpAddr newDip, uint32_t nextHop, bool ecmp,
                                       bool update);
    bool createStaticSnatAddrPortTable(uint16_t profileId, const HwStaticNatAclKey& key,
                                       IpAndPort oldSrc, IpAndPort newSrc);
    bool createStaticDnatAddrPortTable(uint16_t profileId, const HwStaticNatAclKey& key,
                                       IpAndPort oldDst, IpAndPort newDst, uint32_t nextHop,
                                       bool ecmp, bool update);

    // A reference on the static ACL entry of `key`: its ACL id, or 0 when there is none to be
    // had (no id left, the table refused the entry, or a rule of the key's prefix forbids it).
    uint16_t createStaticSnatAclTable(const HwStaticNatAclKey& key, bool addrOnly, bool egress);
    uint16_t createStaticDnatAclTable(const HwStaticNatAclKey& key, bool addrOnly, bool egress);
    void deleteStaticSnatAclTable(const HwStaticNatAclKey& key, bool addrOnly);
    void deleteStaticDnatAclTable(const HwStaticNatAclKey& key, bool addrOnly);
    // Moves every programmed fragment entry of the fragment key to the unprogrammed lists.
    void removeSnatFragmentEntries(const HwStaticNatAclKey& key);
    void removeDnatFragmentEntries(const HwStaticNatAclKey& key);

    // Egress unicast entries.
    bool createEgressSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldSrc,
                               IpAndPort newSrc);
    bool createEgressDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldDst,
                               IpAndPort newDst);
    void deleteEgressSnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldSrc,
                               IpAndPort newSrc);
    void deleteEgressDnatEntry(uint16_t profileId, const HwStaticNatAclKey& key, IpAndPort oldDst,
                               IpAndPort newDst);
    void deleteEgressSnatFragment(uint16_t profileId, const HwStaticNatAclKey& key,
                                  IpAndPort oldSrc, IpAndPort newSrc);
    void deleteEgressDnatFragment(uint16_t profileId, const HwStaticNatAclKey& key,
                                  IpAndPort oldDst, IpAndPort newDst);
    void removeEgressSnatFragmentEntries(const HwStaticNatAclKey& key);
    void removeEgressDnatFragmentEntries(const HwStaticNatAclKey& key);

    // The VLAN-to-profile bindings of the egress NAT profile tables. False when a table refused
    // the binding; the VLAN keeps what that table had.
    bool updateEgressNatProfileTable(uint16_t vlan, uint16_t profile);
    void deleteEgressNatProfileTable(uint16_t vlan);

    const Ert::Ptr<Config>& vyrNatConfig() const { return vyrNatConfig_; }
    bool initialized() const { return initialized_; }

    const std::shared_ptr<VyrP4::StaticDnatAclTable>& staticDnatAclTable() const {
        return staticDnatAclTable_;
    }
    const std::shared_ptr<VyrP4::AddrOnlyDnatTable>& addrOnlyDnatTable() const {
        return addrOnlyDnatTable_;
    }
    const std::shared_ptr<VyrP4::AddrPortDnatTable>& addrPortDnatTable() const {
        return addrPortDnatTable_;
    }
    const std::shared_ptr<VyrP4::StaticSnatAclTable>& staticSnatAclTable() const {
        return staticSnatAclTable_;
    }
    const std::shared_ptr<VyrP4::AddrOnlySnatTable>& addrOnlySnatTable() const {
        return addrOnlySnatTable_;
    }
    const std::shared_ptr<VyrP4::AddrPortSnatTable>& addrPortSnatTable() const {
        return addrPortSnatTable_;
    }
    const std::shared_ptr<VyrP4::EgressNatProfileTable>& egressNatProfileTable() const {
        return egressNatProfileTable_;
    }
    const std::shared_ptr<VyrP4::DynamicEgressNatProfileTable>&
    dynamicEgressNatProfileTable() const {
        return dynamicEgressNatProfileTable_;
    }
    const std::shared_ptr<VyrP4::EgrUcSnatTable>& egressSnatTable() const {
        return egressSnatTable_;
    }
    const std::shared_ptr<VyrP4::EgrUcDnatTable>& egressDnatTable() const {
        return egressDnatTable_;
    }

    uint32_t snatAclTableSize() const { return snatAclTableSize_; }
    uint32_t dnatAclTableSize() const { return dnatAclTableSize_; }
    uint32_t snatAddrOnlyTableSize() const { return snatAddrOnlyTableSize_; }
    uint32_t dnatAddrOnlyTableSize() const { return dnatAddrOnlyTableSize_; }
    uint32_t egressTableSize() const { return egressTableSize_; }

    const IdBitmap& snatAclIds() const { return snatAcls_.ids(); }
    const IdBitmap& dnatAclIds() const { return dnatAcls_.ids(); }

    uint32_t addrOnlySnatFragmentEntries() const { return addrOnlySnatFragmentEntries_; }
    uint32_t addrOnlySnatFragmentUnprogrammedEntries() const {
        return addrOnlySnatFragmentUnprogrammedEntries_;
    }
    uint32_t addrOnlyDnatFragmentEntries() const { return addrOnlyDnatFragmentEntries_; }
    uint32_t addrOnlyDnatFragmentUnprogrammedEntries() const {
        return addrOnlyDnatFragmentUnprogrammedEntries_;
    }
    uint32_t egressSnatFragmentEntries() const { return egressSnatFragmentEntries_; }
    uint32_t egressSnatFragmentUnprogrammedEntries() const {
        return egressSnatFragmentUnprogrammedEntries_;
    }
    uint32_t egressDnatFragmentEntries() const { return egressDnatFragmentEntries_; }
    uint32_t egressDnatFragmentUnprogrammedEntries() const {
        return egressDnatFragmentUnprogrammedEntries_;
    }

    const std::map<HwStaticNatAclKey, HwStaticSnatAclEntry>& hwStaticSnatAclEntries() const {
        return snatAcls_.records();
    }
    const std::map<HwStaticNatAclKey, HwStaticDnatAclEntry>& hwStaticDnatAclEntries() const {
        return dnatAcls_.records();
    }
    const std::map<uint16_t, HwStaticSnat>& hwStaticSnatEntries() const {
        return hwStaticSnatEntries_;
    }
    const std::map<uint16_t, HwStaticDnat>& hwStaticDnatEntries() const {
        return hwStaticDnatEntries_;
    }
    const std::map<uint16_t, VyrP4::EgressNatProfileMatchSpec>& hwEgressNatProfileEntries() const {
        return hwEgressNatProfileEntries_;
    }
    const std::map<uint16_t, VyrP4::DynamicEgressNatProfileMatchSpec>&
    hwDynamicEgressNatProfileEntries() const {
        return hwDynamicEgressNatProfileEntries_;
    }

private:
    friend struct SnatSide;
    friend struct DnatSide;
    template <class Self> friend struct StaticSideBase;
    template <class Side> friend struct StaticNatOps;

    Ert::Ptr<Config> vyrNatConfig_;
    std::shared_ptr<VyrP4::ResourceInfo> resourceInfoIntf_;

    std::shared_ptr<VyrP4::StaticDnatAclTable> staticDnatAclTable_;
    std::shared_ptr<VyrP4::AddrOnlyDnatTable> addrOnlyDnatTable_;
    std::shared_ptr<VyrP4::AddrPortDnatTable> addrPortDnatTable_;
    std::shared_ptr<VyrP4::StaticSnatAclTable> staticSnatAclTable_;
    std::shared_ptr<VyrP4::AddrOnlySnatTable> addrOnlySnatTable_;
    std::shared_ptr<VyrP4::AddrPortSnatTable> addrPortSnatTable_;
    std::shared_ptr<VyrP4::EgressNatProfileTable> egressNatProfileTable_;
    std::shared_ptr<VyrP4::DynamicEgressNatProfileTable> dynamicEgressNatProfileTable_;
    std::shared_ptr<VyrP4::EgrUcSnatTable> egressSnatTable_;
    std::shared_ptr<VyrP4::EgrUcDnatTable> egressDnatTable_;

    uint32_t snatAclTableSize_ = 0;
    uint32_t dnatAclTableSize_ = 0;
    uint32_t snatAddrOnlyTableSize_ = 0;
    uint32_t dnatAddrOnlyTableSize_ = 0;
    uint32_t egressTableSize_ = 0;

    // The static ACL entries by key, with their ids.
    AclIdTable<HwStaticNatAclKey, HwStaticSnatAclEntry> snatAcls_;
    AclIdTable<HwStaticNatAclKey, HwStaticDnatAclEntry> dnatAcls_;

    uint32_t addrOnlySnatFragmentEntries_ = 0;
    uint32_t addrOnlySnatFragmentUnprogrammedEntries_ = 0;
    uint32_t addrOnlyDnatFragmentEntries_ = 0;
    uint32_t addrOnlyDnatFragmentUnprogrammedEntries_ = 0;
    uint32_t egressSnatFragmentEntries_ = 0;
    uint32_t egressSnatFragmentUnprogrammedEntries_ = 0;
    uint32_t egressDnatFragmentEntries_ = 0;
    uint32_t egressDnatFragmentUnprogrammedEntries_ = 0;

    std::map<uint16_t, HwStaticSnat> hwStaticSnatEntries_;
    std::map<uint16_t, HwStaticDnat> hwStaticDnatEntries_;
    std::map<uint16_t, VyrP4::EgressNatProfileMatchSpec> hwEgressNatProfileEntries_;
    std::map<uint16_t, VyrP4::DynamicEgressNatProfileMatchSpec> hwDynamicEgressNatProfileEntries_;

    bool initialized_ = false;
};

Ert::Ptr<VyrNatTableMgrStatic>
vyrNatTableMgrStaticFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                            std::shared_ptr<VyrP4::ResourceInfo> resourceInfo);

} // namespace VyrNat
