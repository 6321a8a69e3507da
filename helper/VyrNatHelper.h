#pragma once
// The NAT helper: the host's NAT state machine calls it once per translation to add, update or
// delete, and it hands each call to the table manager that owns the translation's tables,
// reached through the table-manager owner (not owned).

#include "common/Rebuild.h"
#include "helper/NatHelperSm.h"
#include "helper/TrapRulePriorities.h"
#include "host/OmaNatSm.h"
#include "tables/NatTableManager.h"
#include "tables/dynamic/NatCpuTrapAcl.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace VyrNat {

class VyrNatTableMgr;
class VyrNatTableMgrStatic;
class VyrNatTableMgrDynamic;

// A counter attribute with its setter and increment.
#define VYR_NAT_COUNTER(type, name)                                                                \
public:                                                                                            \
    type name() const {                                                                            \
        return name##_;                                                                            \
    }                                                                                              \
    void name##Is(type v) {                                                                        \
        name##_ = v;                                                                               \
    }                                                                                              \
    void name##Inc() {                                                                             \
        ++name##_;                                                                                 \
    }                                                                                              \
                                                                                                   \
private:                                                                                           \
    type name##_ = 0;

class NatHelper
    : public OmaHelper::OmaHelperNat,
      public BuiltFrom<Ert::Ptr<Ip::Nat::Status>, Ert::Ptr<Ip::Status>, VyrNatTableMgr*> {
public:
    NatHelper(Ert::Ptr<Ip::Nat::Status> natStatus, Ert::Ptr<Ip::Status> ipStatus,
              VyrNatTableMgr* tableMgr);
    ~NatHelper() override;

    void handleInitialized();
    bool initialized() const { return initialized_; }
    NatHelperSm* natHelperSm() const { return natHelperSm_.get(); }
    VyrNatTableMgr* tableMgr() const { return tableMgr_; }

    // Settings written by the agent state machine.
    bool hwNatProfileSupported() const { return hwNatProfileSupported_; }
    void hwNatProfileSupportedIs(bool v) { hwNatProfileSupported_ = v; }
    double staticCounterPollingInterval() const { return staticCounterPollingInterval_; }
    void staticCounterPollingIntervalIs(double s) { staticCounterPollingInterval_ = s; }
    double dynamicCounterPollingInterval() const { return dynamicCounterPollingInterval_; }
    void dynamicCounterPollingIntervalIs(double s) { dynamicCounterPollingInterval_ = s; }
    bool globalHwDynamicEntries() const { return globalHwDynamicEntries_; }
    void globalHwDynamicEntriesIs(bool v) { globalHwDynamicEntries_ = v; }
    bool fullConeHwDnatUdpEntries() const { return fullConeHwDnatUdpEntries_; }
    void fullConeHwDnatUdpEntriesIs(bool v) { fullConeHwDnatUdpEntries_ = v; }
    bool fullConeHwSnatUdpEntries() const { return fullConeHwSnatUdpEntries_; }
    void fullConeHwSnatUdpEntriesIs(bool v) { fullConeHwSnatUdpEntries_ = v; }

    // The next-hop id of a destination translation; `ecmp` tells whether it is an ECMP group.
    // A missing or null next hop falls back to id 3.
    uint32_t getNextHopId(const Oma::NatNextHopInfo* info, bool& ecmp) const;

    bool addStaticSrcIpTranslation(Ip::IpAndPort oldSrc, Ip::IpAndPort newSrc,
                                   Ip::IpAddrWithFullMask dst, uint8_t protocol, uint16_t profileId,
                                   const Ip::Nat::StaticKey& key, bool egressPipe,
                                   Ip::VrfId vrfId) override;
    bool addStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                   Ip::IpAddrWithFullMask src, uint8_t protocol, uint16_t profileId,
                                   const Ip::Nat::StaticKey& key,
                                   const Oma::NatNextHopInfo* nextHopInfo,
                                   const Oma::NatMulticastData* multicastData, bool egressPipe,
                                   Ip::VrfId vrfId) override;
    bool updateStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                      Ip::IpAddrWithFullMask src, uint8_t protocol,
                                      uint16_t profileId, const Ip::Nat::StaticKey& key,
                                      const Oma::NatNextHopInfo* nextHopInfo,
                                      const Oma::NatMulticastData* multicastData, bool egressPipe,
                                      Ip::VrfId vrfId) override;
    void deleteStaticIpTranslations(const std::string& intfId,
                                    const Ip::Nat::NatStaticConnection& conn, uint16_t profileId,
                                    const Ip::Nat::StaticKey& key, Ip::VrfId vrfId) override;

    bool addStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                      uint32_t outsideVrf) override;
    bool deleteStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                         uint32_t outsideVrf) override;
    bool addStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                      uint32_t outsideVrf) override;
    bool deleteStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                                         uint32_t outsideVrf) override;
    bool updateVrfSourcePolicer(uint32_t insideVrfId, uint32_t rate, uint32_t burst) override;

    bool setNatProfile(uint16_t vlan, uint16_t profile, const std::string& vrfName) override;
    void clearNatProfile(uint16_t vlan) override;
    void commitHwTranslations() override;
    const std::string& refusal() const override { return refusal_; }

    bool addDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                    Ip::IpAndPort dst, Ip::IpAndPort srcNew, uint16_t profileId,
                                    bool fullCone, Ip::VrfId vrfId) override;
    bool deleteDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                       Ip::IpAndPort dst, Ip::IpAndPort srcNew, uint16_t profileId,
                                       bool fullCone, Ip::VrfId vrfId) override;
    bool addDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                    Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                    const Oma::NatNextHopInfo* nextHopInfo, uint16_t profileId,
                                    bool fullCone, Ip::VrfId vrfId) override;
    bool updateDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                       Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                       const Oma::NatNextHopInfo* nextHopInfo, uint16_t profileId,
                                       bool fullCone, Ip::VrfId vrfId) override;
    bool deleteDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                       Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                       uint16_t profileId, bool fullCone, Ip::VrfId vrfId) override;

    uint64_t getDynamicSrcCountersSinceLastPoll(uint16_t profileId, const Ip::ConnTuple& flow,
                                                bool fullCone, Ip::VrfId vrfId) override;
    uint64_t getDynamicDstCountersSinceLastPoll(uint16_t profileId, const Ip::ConnTuple& flow,
                                                bool fullCone, Ip::IpAndPort dst,
                                                Ip::VrfId vrfId) override;
    bool dynamicTwiceActive(uint16_t profileId, uint8_t protocol, Ip::IpAndPort srcOld,
                            Ip::IpAndPort srcNew, Ip::IpAndPort dstOld,
                            Ip::IpAndPort dstNew) override;

    Ip::Nat::NatHwResult addTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                                Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                                uint8_t protocol, uint16_t profileId,
                                                const Oma::NatNextHopInfo* nextHopInfo,
                                                const Oma::NatMulticastData* multicastData,
                                                bool forward, uint16_t group, bool ingress,
                                                Ip::VrfId vrf, bool dynamic) override;
    Ip::Nat::NatHwResult updateTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                                   Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                                   uint8_t protocol, uint16_t profileId,
                                                   const Oma::NatNextHopInfo* nextHopInfo,
                                                   const Oma::NatMulticastData* multicastData,
                                                   bool forward, uint16_t group, bool ingress,
                                                   Ip::VrfId vrf, bool dynamic) override;
    bool delTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew, Ip::IpAndPort dstOld,
                                Ip::IpAndPort dstNew, uint8_t protocol, uint16_t profileId,
                                bool forward, uint16_t group, bool ingress, Ip::VrfId vrf,
                                bool dynamic) override;

    bool addNatFlowEntry(const std::string& policy, const std::string& match, uint16_t profile,
                         const Ip::Nat::NatFlow& flow, uint32_t groupUc, uint32_t groupMc) override;
    bool delNatFlowEntry(const std::string& policy, const std::string& match, uint16_t profile,
                         uint32_t groupUc, uint32_t groupMc) override;

    // Twice-NAT translations keep no counters of their own: the host ages them by hit bits.
    uint64_t getTwiceNatSrcCountersSinceLastPoll(uint16_t profile, uint8_t protocol, uint16_t group,
                                                 Ip::IpAndPort a, Ip::IpAndPort b,
                                                 Ip::VrfId vrf) const;
    uint64_t getTwiceNatDstCountersSinceLastPoll(uint16_t profile, uint8_t protocol, uint16_t group,
                                                 Ip::IpAndPort a, Ip::IpAndPort b,
                                                 Ip::VrfId vrf) const;
    void updateCounterStatus(bool on);

    // Static translations keep no per-entry counters.
    uint64_t getStaticSrcCountersSinceLastPoll(const Ip::Nat::StaticKey&) const { return 0; }
    uint64_t getStaticDstCountersSinceLastPoll(const Ip::Nat::StaticKey&) const { return 0; }

    // --- CPU trap rules ---
    // A trap rule of an ACL: its entries get the hardware priority of the ACL priority
    // `trapInfo.prio` and slot `seqNum`. False, refused, when no priority is left or a table
    // refuses an entry.
    bool addTrapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                     uint32_t seqNum, Ip::IpAddrWithFullMask src, Ip::IpAddrWithFullMask dst,
                     bool deny, bool reverse) override;
    // The same for a protocol, with port ranges (0 to 0: any port).
    bool addProtocolTrapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                             uint32_t seqNum, uint8_t protocol, Ip::IpAddrWithFullMask src,
                             Ip::IpAddrWithFullMask dst, uint16_t srcPortStart, uint16_t srcPortEnd,
                             uint16_t dstPortStart, uint16_t dstPortEnd, bool deny,
                             bool reverse) override;
    // Everything, in the last slot of the priority's block.
    bool addTrapAllRule(const Ip::Nat::DynamicKey& key,
                        const Ip::Nat::NatTrapInfo& trapInfo) override;
    void delTrapRule(uint32_t profileId, const Ip::Nat::DynamicKey& key, Ip::VrfId vrfId) override;
    void commitTrapRules() override;

    int32_t getHwPriority(const std::string& aclName, uint32_t priority, uint32_t seqNum,
                          uint16_t group);
    PrevAndNextHwPrio getPrevAndNextHwPrio(uint32_t priority) const {
        return trapPrio_.getPrevAndNextHwPrio(priority);
    }
    void redistributeTrapRulesHwPriority(uint16_t group);
    bool checkHwPriorityResourcesFull() const { return trapPrio_.checkHwPriorityResourcesFull(); }
    const TrapRulePriorities& trapRulePriorities() const { return trapPrio_; }
    TrapRulePriorities& trapRulePriorities() { return trapPrio_; }
    const std::map<HwNatCpuTrapAclKey, uint32_t>& hwNatCpuTrapAclKeyToPrio() const {
        return hwNatCpuTrapAclKeyToPrio_;
    }
    uint32_t redistributeTrapRulesHwPriorityCount() const {
        return redistributeTrapRulesHwPriorityCount_;
    }

    // Reverse traps of interface-overload NAT, per NAT profile.
    struct NatOverloadRvsEntries {
        int32_t hwPriority = 0;
        uint32_t prio = 0; // the ACL priority the hardware priority came from
        std::set<std::string> acls;
        std::map<std::string, Ip::IpAddr> dstIp; // interface -> its address, trapped
    };
    const std::map<uint32_t, NatOverloadRvsEntries>& overloadRvsEntries() const {
        return overloadRvsEntries_;
    }
    void addOverloadRvsTrap(uint32_t profileId, const std::string& aclName, int32_t hwPriority,
                            uint32_t prio);
    void delOverloadRvsTrap(uint32_t profileId, const std::string& aclName);
    void updateOverloadRvsTrapIntf(uint32_t profileId, const std::string& intfId, bool add);

    // --- CLI and the clean-state check ---
    // The helper's part of "showNatSummary": its dynamic counts, trap rules and learning rates.
    void showSummary(int fd) const;
    // The helper's collections that hold programmed state, as the managers' recordCounts.
    std::vector<RecordCount> recordCounts() const;

    VYR_NAT_COUNTER(uint64_t, dynSrcAdd)
    VYR_NAT_COUNTER(uint64_t, dynDstAdd)
    VYR_NAT_COUNTER(uint64_t, dynDstUpd)
    VYR_NAT_COUNTER(uint64_t, dynSrcDel)
    VYR_NAT_COUNTER(uint64_t, dynDstDel)
    VYR_NAT_COUNTER(uint32_t, dynAdd)
    VYR_NAT_COUNTER(uint32_t, dynDel)

private:
    // Runs a manager's operation; a false result takes the manager's reason as the refusal.
    template <class Call> bool managed(NatTableManager& mgr, Call&& call);
    // A VRF manager's operation, whose table refusals come as exceptions.
    template <class Call> bool vrfWrite(const char* op, NatTableManager& mgr, Call&& call);
    // Refuses with the reason given; returns false.
    bool refused(std::string why);
    // False, refused, for a NAT profile id the chip does not have.
    bool profileFits(uint16_t profileId);
    // What no table can hold: a NAT profile the chip does not have, or an address-only side
    // translated to a port.
    bool staticChecks(Ip::IpAndPort oldAddr, Ip::IpAndPort newAddr, uint16_t profileId);
    bool egrMcNat() const;
    // The static manager; null, with a trace, on a chip without it.
    VyrNatTableMgrStatic* staticMgr() const;
    bool vrfTranslation(const char* op, Ip::IpAddr oldIp, Ip::IpAddr newIp, uint32_t insideVrf,
                        uint32_t outsideVrf, bool source, bool del);
    // The dynamic manager; null, with the refusal set, on a chip without dynamic NAT.
    VyrNatTableMgrDynamic* dynamicMgr();
    bool dynamicDst(const char* op, const Ip::ConnTuple& flow, Ip::IpAndPort src,
                    Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                    const Oma::NatNextHopInfo* nextHopInfo, uint16_t profileId, bool fullCone,
                    Ip::VrfId vrfId, bool update);
    Ip::Nat::NatHwResult twiceNat(const char* op, Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                  Ip::IpAndPort dstOld, Ip::IpAndPort dstNew, uint8_t protocol,
                                  uint16_t profileId, const Oma::NatNextHopInfo* nextHopInfo,
                                  bool forward, uint16_t group, bool ingress, Ip::VrfId vrf,
                                  bool dynamic, bool update);
    bool staticDst(const char* op, Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                   Ip::IpAddrWithFullMask src, uint8_t protocol, uint16_t profileId,
                   const Ip::Nat::StaticKey& key, const Oma::NatNextHopInfo* nextHopInfo,
                   bool egressPipe, Ip::VrfId vrfId, bool update);

    struct TrapMatch {
        uint8_t protocol;
        Ip::IpAddrWithFullMask src, dst;
        uint16_t srcPortStart, srcPortEnd, dstPortStart, dstPortEnd;
    };
    bool trapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                  uint32_t seqNum, const TrapMatch& match, bool deny, bool reverse);
    // trapRule; a refused rule is listed as not programmed in the NAT state machine's status.
    bool trapRuleRecorded(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                          uint32_t seqNum, const TrapMatch& match, bool deny, bool reverse);
    void trapRuleUnprogrammedIs(uint32_t profileId, const Ip::Nat::DynamicKey& key,
                                bool unprogrammed);
    static HwNatCpuTrapAclKey trapAclKey(const Ip::Nat::DynamicKey& key, uint32_t profileId) {
        return {key.acl, key.group, uint16_t(profileId)};
    }
    const uint32_t* findBlock(uint32_t prio) const;

    TrapRulePriorities trapPrio_;
    std::map<HwNatCpuTrapAclKey, uint32_t> hwNatCpuTrapAclKeyToPrio_;
    std::map<uint32_t, NatOverloadRvsEntries> overloadRvsEntries_;
    uint32_t redistributeTrapRulesHwPriorityCount_ = 0;

    Ert::Ptr<Ip::Nat::Status> natStatus_;
    Ert::Ptr<Ip::Status> ipStatus_;
    VyrNatTableMgr* tableMgr_;
    std::unique_ptr<NatHelperSm> natHelperSm_;
    bool hwNatProfileSupported_ = false;
    double staticCounterPollingInterval_ = 0;
    double dynamicCounterPollingInterval_ = 0;
    bool globalHwDynamicEntries_ = false;
    bool fullConeHwDnatUdpEntries_ = false;
    bool fullConeHwSnatUdpEntries_ = false;
    bool initialized_ = false;
    uint32_t natProfiles_ = 0; // NAT profile ids the chip has, 0 to natProfiles_ - 1
    std::string refusal_;
};

#undef VYR_NAT_COUNTER

template <class Call> bool NatHelper::managed(NatTableManager& mgr, Call&& call) {
    mgr.refusalDel();
    const bool ok = call();
    if (ok) {
        refusal_.clear();
    } else {
        refusal_ = mgr.refusal();
    }
    return ok;
}

} // namespace VyrNat
