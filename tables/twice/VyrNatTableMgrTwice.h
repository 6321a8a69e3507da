#pragma once
// Table manager of twice-NAT translations, which rewrite the source and the destination of a
// packet together. Each translation is an address-only entry that yields a key id, for port
// translations a port entry under that key id, and a rewrite entry shared by every translation
// that rewrites alike; the fixed result-check table combines the lookups. Key ids and rewrite ids
// come from bitmaps; 0 is never handed out and means none.
//
// It owns its table objects and records; the owner and the configuration are not owned. The
// CPU trap ACLs of twice-NAT rules are two stages: an ACL-id entry per rule classifies one side
// into the id of the rule's ACL, a trap entry per (ACL, group, profile) matches the other side.

#include "chip/P4Tables.h"
#include "common/AclIdTable.h"
#include "common/IdBitmap.h"
#include "common/NatCliCommands.h"
#include "host/HitBit.h"
#include "host/Hubdb.h"
#include "host/NatConfig.h"
#include "host/TableService.h"
#include "tables/HitBitTables.h"
#include "tables/NatTableManager.h"
#include "tables/twice/TwiceCpuTrapAcl.h"
#include "tables/twice/TwiceNatTypes.h"
#include "tables/twice/VyrTwiceNatHitBitSm.h"

#include <map>
#include <memory>
#include <string>
#include <unordered_map>

namespace VyrNat {

// The manager's trace handle, shared by its source files.
extern Trace::Handle twiceTrace;

class VyrNatTableMgrTwice : public NatTableManager {
public:
    using RewriteTable =
        AclIdTable<RewriteInfo, RewriteEntry, std::unordered_map<RewriteInfo, RewriteEntry>>;

    VyrNatTableMgrTwice(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                        Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                        Ert::Ptr<Ert::Dir> hitBitStatusDir,
                        Ert::Ptr<Hubdb::EntityManager> entityManager, bool natDpdk);

    void handleInitialized();

    // Whether the translation's rewrite entry was hit by the time of the last scan; false for a
    // translation without one.
    bool getTwiceNatHitBit(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                           IpAndPort dstNew) const;
    // The hit-bit state machine and the watcher of its scans, made in handleInitialized.
    const Ert::Ptr<VyrTwiceNatHitBitSm>& hitBitSm() const { return hitBit_.sm(); }
    const Ert::Ptr<VyrTwiceNatHitBitSm>& hitBitSmIs(const std::string& name,
                                                    Ert::Ptr<VyrSystem::HitBitConfig> config,
                                                    std::shared_ptr<VyrP4::ResourceInfo> info) {
        return hitBit_.smIs(name, std::move(config), std::move(info), tableMgr()->sharedMemory());
    }
    void hitBitSmDel() { hitBit_.smDel(); }
    const VyrSystem::VyrHitBitStatusWatcherSm* hitBitStatusWatcherSm() const {
        return hitBit_.watcher();
    }
    const VyrSystem::VyrHitBitStatusWatcherSm*
    hitBitStatusWatcherSmIs(const std::string& name, Ert::Ptr<Ert::Dir> statusDir,
                            Ert::Ptr<Hubdb::EntityManager> entityManager) {
        return hitBit_.watcherIs(name, std::move(statusDir), std::move(entityManager));
    }
    void hitBitStatusWatcherSmDel() { hitBit_.watcherDel(); }
    std::vector<RecordCount> recordCounts() const override;

    // --- Show commands, written to the request socket `fd` ---
    void showSummary(int fd) const override;
    void showEntries(int fd, TwiceCliCommand cmd) const;
    void showAddress(int fd, Ip::IpAddr addr) const;

    // --- Translations, as the NAT helper asks for them ---
    NatHwResult updateTwiceNatTranslation(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                                          IpAndPort dstNew, uint8_t proto, uint32_t nextHop,
                                          bool ecmp, uint32_t profile, VrfId vrf, bool update,
                                          bool dynamic);
    void deleteTwiceNatTranslation(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                                   IpAndPort dstNew, uint32_t profile, VrfId vrf);
    // Whether the translation (or another of its untranslated side) is recorded; the profile
    // takes no part.
    LookupResult lookupEntry(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld, IpAndPort dstNew,
                             uint8_t proto, uint32_t profile, VrfId vrf) const;

    // --- The entries of one translation ---
    // The key id of the entry, 0 when it could not be written.
    uint16_t createAddrOnlyEntry(IpAndPort src, IpAndPort dst, uint8_t proto, bool fragment,
                                 uint16_t rewriteId, uint32_t nextHop, bool ecmp, uint32_t profile,
                                 VrfId vrf, bool update);
    // The entry's key id when the caller goes on deleting the translation's other entries, else 0.
    uint16_t deleteAddrOnlyEntry(IpAndPort src, IpAndPort dst, uint32_t profile, VrfId vrf);
    // A reference on the rewrite entry; its id, 0 when none could be had.
    uint16_t createRewriteEntry(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew,
                                IpAndPort dstNew);
    uint16_t deleteRewriteEntry(IpAndPort srcOld, IpAndPort dstOld, IpAndPort srcNew,
                                IpAndPort dstNew);
    bool createAddrPortEntry(uint16_t keyId, uint16_t sport, uint16_t dport, uint16_t rewriteId,
                             uint8_t proto, uint32_t nextHop, bool ecmp, uint32_t profile,
                             bool update, bool dynamic);
    bool createAddrSrcPortEntry(uint16_t keyId, uint16_t sport, uint16_t rewriteId, uint8_t proto,
                                uint32_t nextHop, bool ecmp, uint32_t profile, bool update,
                                bool dynamic);
    bool createAddrDstPortEntry(uint16_t keyId, uint16_t dport, uint16_t rewriteId, uint8_t proto,
                                uint32_t nextHop, bool ecmp, uint32_t profile, bool update,
                                bool dynamic);
    void deleteAddrPortEntry(uint16_t keyId, uint16_t sport, uint16_t dport);
    void deleteAddrSrcPortEntry(uint16_t keyId, uint16_t sport);
    void deleteAddrDstPortEntry(uint16_t keyId, uint16_t dport);
    // The rewrite id of the fragment element of these ports, 0 for none or a dummy.
    uint16_t getFragmentRewriteId(IpAndPort src, IpAndPort dst, VrfId vrf) const;

    // --- CPU trap rules, as the NAT helper asks for them ---
    // The id of the rule's ACL with the rule's ACL-id entry written; 0 when it could not be had.
    uint16_t getTwiceNatAclId(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                              uint8_t protocol, Ip::IpAddrWithFullMask src,
                              Ip::IpAddrWithFullMask dst, uint16_t sport, uint16_t sportMask,
                              uint16_t dport, uint16_t dportMask, int32_t priority, bool deny,
                              bool reverse);
    bool createNatCpuTrapAcl(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                             uint8_t protocol, Ip::IpAddrWithFullMask src,
                             Ip::IpAddrWithFullMask dst, uint16_t sport, uint16_t sportMask,
                             uint16_t dport, uint16_t dportMask, int32_t priority, bool deny,
                             bool reverse);
    void deleteNatCpuTrapAcl(const HwTwiceNatCpuTrapAclKey& key);
    // Drops the key's (group, profile) from its ACL; the last one takes the ACL's entries and id.
    void delTwiceNatAclId(const HwTwiceNatCpuTrapAclKey& key);
    // Queues a new priority block for the ACL's entries; natCpuTrapAclRedistribute applies it.
    void cpuTrapAclToUpdateIs(const std::string& acl, uint32_t priority) {
        cpuTrapAclToUpdate_[acl] = priority;
    }
    // A hardware priority is a block times the slots of a block plus the rule's slot in it: the
    // queued blocks replace the entries' blocks, and each entry keeps its slot.
    void natCpuTrapAclRedistribute(uint32_t slotsPerBlock);

    // The entries a rule becomes.
    static VyrP4::TwiceNatAclIdMatchSpec aclIdMatchSpec(const TwiceNatAclRule& rule,
                                                        int32_t priority);
    static VyrP4::TwiceNatAclIdTable::Action aclIdActionSpec(uint16_t aclId, bool deny);
    static VyrP4::TwiceNatCpuTrapAclMatchSpec cpuTrapAclMatchSpec(const TwiceNatAclRule& rule,
                                                                  uint16_t profile, uint16_t aclId);
    // The trap action of an entry; the direction flags tell which profile field it matches.
    VyrP4::SetNatCpuTrapActionSpec
    cpuTrapActionSpec(const VyrP4::TwiceNatCpuTrapAclMatchSpec& ms) const;

    // --- The fixed result-check content ---
    void initTwiceNatResultCheckTable();
    void programTwiceNatResultCheckTable(VyrP4::TwiceNatResultCheckMatchSpec matchSpec,
                                         bool addrOnly, bool ecmp);

    // --- What the chip holds for the records ---
    // The action of an address-only entry: the native one, a lone fragment element's with a
    // rewrite id, else the dummy (key id only).
    static AddrOnlyAction hwAction(const AddrOnlyEntry& e);
    static bool validFragment(const AddrOnlyEntry& e);
    static VyrP4::TwiceNatAddrOnlyTable::Action addrOnlyActionSpec(uint16_t keyId,
                                                                   const AddrOnlyAction& a);
    template <class Action> static Action portActionSpec(const AddrPortAction& a, bool dynamic);
    static VyrP4::TwiceNatRewriteTable::Action rewriteActionSpec(const RewriteInfo& info,
                                                                 uint8_t ports);
    // Which table a port entry goes to follows from its ports: both, the source only, or the
    // destination only.
    template <class Spec> static Spec portMatchSpec(const AddrPortKey& key);

    // --- Records and configuration ---
    const std::unordered_map<AddrOnlyKey, AddrOnlyEntry>& addrOnlyEntry() const {
        return addrOnlyEntry_;
    }
    const std::unordered_map<AddrPortKey, AddrPortEntry>& addrPortEntry() const {
        return addrPortEntry_;
    }
    const RewriteTable& rewriteEntry() const { return rewrites_; }
    const IdBitmap& keyIds() const { return keyIds_; }
    const IdBitmap& rewriteIds() const { return rewrites_.ids(); }
    const IdBitmap& aclIds() const { return aclIds_; }
    const std::map<std::string, HwTwiceNatAclId>& natAclId() const { return natAclId_; }
    const std::map<HwTwiceNatCpuTrapAclKey, HwTwiceNatCpuTrapAcl>& cpuTrapAcl() const {
        return cpuTrapAcls_;
    }
    const std::map<std::string, uint32_t>& cpuTrapAclToUpdate() const {
        return cpuTrapAclToUpdate_;
    }
    uint32_t addrOnlyFragmentEntries() const { return addrOnlyFragmentEntries_; }
    bool vrfSupported() const { return vrfSupported_; }
    bool natDpdk() const { return natDpdk_; }
    uint32_t twiceNatAddrOnlyTableSize() const { return addrOnlySize_; }
    uint32_t twiceNatAddrPortTableSize() const { return addrPortSize_; }
    uint32_t twiceNatAddrSrcPortTableSize() const { return srcPortSize_; }
    uint32_t twiceNatAddrDstPortTableSize() const { return dstPortSize_; }
    uint32_t twiceNatRewriteTableSize() const { return rewriteSize_; }
    uint32_t twiceNatCpuTrapAclTableSize() const { return trapAclSize_; }

    const std::shared_ptr<VyrP4::TwiceNatAddrOnlyTable>& addrOnlyTable() const { return addrOnly_; }
    const std::shared_ptr<VyrP4::TwiceNatAddrPortTable>& addrPortTable() const { return addrPort_; }
    const std::shared_ptr<VyrP4::TwiceNatAddrSrcPortTable>& addrSrcPortTable() const {
        return srcPort_;
    }
    const std::shared_ptr<VyrP4::TwiceNatAddrDstPortTable>& addrDstPortTable() const {
        return dstPort_;
    }
    const std::shared_ptr<VyrP4::TwiceNatResultCheckTable>& resultCheckTable() const {
        return resultCheck_;
    }
    const std::shared_ptr<VyrP4::TwiceNatRewriteTable>& rewriteTable() const { return rewrite_; }
    const std::shared_ptr<VyrP4::TwiceNatAclIdTable>& aclIdTable() const { return aclId_; }
    const std::shared_ptr<VyrP4::TwiceNatCpuTrapAclTable>& cpuTrapAclTable() const {
        return cpuTrapAcl_;
    }

private:
    // The record key of an address pair: without the VRF in the match, one pair is one entry.
    AddrOnlyKey addrOnlyKey(IpAddr sip, IpAddr dip, VrfId vrf) const {
        return {vrfSupported_ ? vrf : 0, sip, dip};
    }
    // Writes the entry's action when it changed from `before`; keeps the valid-fragment count.
    bool reprogram(AddrOnlyEntry& e, const AddrOnlyAction& before);
    uint16_t newAddrOnlyEntry(const AddrOnlyKey& key, IpAndPort src, IpAndPort dst,
                              const AddrOnlyAction& action, uint32_t profile);
    template <class Table>
    bool createPortEntry(Table* table, const AddrPortKey& key, const char* kind, uint16_t rewriteId,
                         uint8_t proto, uint32_t nextHop, bool ecmp, uint32_t profile, bool update,
                         bool dynamic);
    template <class Table>
    void deletePortEntry(Table* table, const AddrPortKey& key, const char* kind);
    // The fragment rewrite entry and the address-only element of a port translation, then its
    // port entry; undoes this call's part of it when a step fails.
    NatHwResult addPortTranslation(IpAndPort srcOld, IpAndPort srcNew, IpAndPort dstOld,
                                   IpAndPort dstNew, uint8_t proto, uint32_t nextHop, bool ecmp,
                                   uint32_t profile, VrfId vrf, bool update, bool dynamic);
    bool createPortEntryFor(const AddrPortKey& key, uint16_t rewriteId, uint8_t proto,
                            uint32_t nextHop, bool ecmp, uint32_t profile, bool update,
                            bool dynamic);
    const AddrPortEntry* portEntry(const AddrPortKey& key) const;
    // The two trap ACL sections of "showNatTwice".
    void showTrapAcls(int fd) const;
    // Moves one ACL-id entry to `priority`, the new entry first; false leaves it where it was.
    bool moveAclIdEntry(const std::string& acl, const VyrP4::TwiceNatAclIdMatchSpec& old,
                        const VyrP4::TwiceNatAclIdMatchSpec& moved);

    Ert::Ptr<Config> vyrNatConfig_;
    Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig_;
    Ert::Ptr<Ert::Dir> hitBitStatusDir_;
    Ert::Ptr<Hubdb::EntityManager> entityManager_;
    bool natDpdk_;

    uint32_t addrOnlySize_ = 0;
    uint32_t addrPortSize_ = 0;
    uint32_t srcPortSize_ = 0;
    uint32_t dstPortSize_ = 0;
    uint32_t rewriteSize_ = 0;
    uint32_t trapAclSize_ = 0;
    bool vrfSupported_ = false;

    IdBitmap keyIds_;
    IdBitmap aclIds_;
    RewriteTable rewrites_;
    std::unordered_map<AddrOnlyKey, AddrOnlyEntry> addrOnlyEntry_;
    std::unordered_map<AddrPortKey, AddrPortEntry> addrPortEntry_;
    uint32_t addrOnlyFragmentEntries_ = 0;
    std::map<std::string, HwTwiceNatAclId> natAclId_;
    std::map<HwTwiceNatCpuTrapAclKey, HwTwiceNatCpuTrapAcl> cpuTrapAcls_;
    std::map<std::string, uint32_t> cpuTrapAclToUpdate_;

    HitBitMachines<VyrTwiceNatHitBitSm> hitBit_;

    std::shared_ptr<VyrP4::TwiceNatAddrOnlyTable> addrOnly_;
    std::shared_ptr<VyrP4::TwiceNatAddrPortTable> addrPort_;
    std::shared_ptr<VyrP4::TwiceNatAddrSrcPortTable> srcPort_;
    std::shared_ptr<VyrP4::TwiceNatAddrDstPortTable> dstPort_;
    std::shared_ptr<VyrP4::TwiceNatResultCheckTable> resultCheck_;
    std::shared_ptr<VyrP4::TwiceNatRewriteTable> rewrite_;
    std::shared_ptr<VyrP4::TwiceNatAclIdTable> aclId_;
    std::shared_ptr<VyrP4::TwiceNatCpuTrapAclTable> cpuTrapAcl_;
};

Ert::Ptr<VyrNatTableMgrTwice>
vyrNatTableMgrTwiceFactory(VyrAgentLib::VyrTableMgr* tableMgr, Ert::Ptr<Config> vyrNatConfig,
                           Ert::Ptr<VyrSystem::HitBitConfig> hitBitConfig,
                           Ert::Ptr<Ert::Dir> hitBitStatusDir,
                           Ert::Ptr<Hubdb::EntityManager> entityManager, bool natDpdk);

} // namespace VyrNat
