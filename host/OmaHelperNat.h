#pragma once
// What the host's NAT state machine asks of the hardware: the helper interface that the NAT
// agent implements, and the next-hop information handed over with destination translations.

#include "host/Entity.h"
#include "host/IpTypes.h"
#include "host/NatStatus.h"

#include <cstdint>
#include <string>

namespace Oma {

// Next-hop information handed to the helper with a destination translation.
class NatNextHopInfo {
public:
    virtual ~NatNextHopInfo() = default;
};

// Multicast data of a destination translation (the hardware helper does not use it).
struct NatMulticastData {};

} // namespace Oma

namespace VyrNat {

// The platform's next-hop information: bit 31 of the word marks an ECMP group.
class NatNextHopInfo : public Oma::NatNextHopInfo {
public:
    explicit NatNextHopInfo(uint32_t word) : nextHop(word) {}
    uint32_t nextHop;
};

} // namespace VyrNat

namespace OmaHelper {

// What the NAT state machine asks of the hardware. Results are true when the translation is
// in hardware.
class OmaHelperNat : public Ert::RefCounted {
public:
    explicit OmaHelperNat(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }

    virtual bool addStaticSrcIpTranslation(Ip::IpAndPort oldSrc, Ip::IpAndPort newSrc,
                                           Ip::IpAddrWithFullMask dst, uint8_t protocol,
                                           uint16_t profileId, const Ip::Nat::StaticKey& key,
                                           bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual bool addStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                           Ip::IpAddrWithFullMask src, uint8_t protocol,
                                           uint16_t profileId, const Ip::Nat::StaticKey& key,
                                           const Oma::NatNextHopInfo* nextHopInfo,
                                           const Oma::NatMulticastData* multicastData,
                                           bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual bool updateStaticDstIpTranslation(Ip::IpAndPort oldDst, Ip::IpAndPort newDst,
                                              Ip::IpAddrWithFullMask src, uint8_t protocol,
                                              uint16_t profileId, const Ip::Nat::StaticKey& key,
                                              const Oma::NatNextHopInfo* nextHopInfo,
                                              const Oma::NatMulticastData* multicastData,
                                              bool egressPipe, Ip::VrfId vrfId) = 0;
    virtual void deleteStaticIpTranslations(const std::string& intfId,
                                            const Ip::Nat::NatStaticConnection& conn,
                                            uint16_t profileId, const Ip::Nat::StaticKey& key,
                                            Ip::VrfId vrfId) = 0;

    virtual bool addStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                              uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool deleteStaticVrfSrcIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                 uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool addStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                              uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool deleteStaticVrfDstIpTranslation(Ip::IpAddr oldIp, Ip::IpAddr newIp,
                                                 uint32_t insideVrf, uint32_t outsideVrf) = 0;
    virtual bool updateVrfSourcePolicer(uint32_t insideVrfId, uint32_t rate, uint32_t burst) = 0;

    // Why the last call that returned false did not program its translation; empty when no
    // reason is known.
    virtual const std::string& refusal() const = 0;

    // False when a table refused the binding; what was written of it stays until cleared.
    virtual bool setNatProfile(uint16_t vlan, uint16_t profile, const std::string& vrfName) = 0;
    virtual void clearNatProfile(uint16_t vlan) = 0;
    virtual void commitHwTranslations() = 0;

    // Dynamic connections. Deletes report true whatever they found.
    virtual bool addDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                            Ip::IpAndPort dst, Ip::IpAndPort srcNew,
                                            uint16_t profileId, bool fullCone, Ip::VrfId vrfId) = 0;
    virtual bool deleteDynamicSrcIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort srcOld,
                                               Ip::IpAndPort dst, Ip::IpAndPort srcNew,
                                               uint16_t profileId, bool fullCone,
                                               Ip::VrfId vrfId) = 0;
    virtual bool addDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                            Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                            const Oma::NatNextHopInfo* nextHopInfo,
                                            uint16_t profileId, bool fullCone, Ip::VrfId vrfId) = 0;
    virtual bool updateDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                               Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                               const Oma::NatNextHopInfo* nextHopInfo,
                                               uint16_t profileId, bool fullCone,
                                               Ip::VrfId vrfId) = 0;
    virtual bool deleteDynamicDstIpTranslation(const Ip::ConnTuple& flow, Ip::IpAndPort src,
                                               Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                               uint16_t profileId, bool fullCone,
                                               Ip::VrfId vrfId) = 0;

    // Activity since the last poll, for aging: non-zero when the connection's entry was hit
    // since the previous scan of its table. 0 for a connection that is not programmed.
    virtual uint64_t getDynamicSrcCountersSinceLastPoll(uint16_t profileId,
                                                        const Ip::ConnTuple& flow, bool fullCone,
                                                        Ip::VrfId vrfId) = 0;
    virtual uint64_t getDynamicDstCountersSinceLastPoll(uint16_t profileId,
                                                        const Ip::ConnTuple& flow, bool fullCone,
                                                        Ip::IpAndPort dst, Ip::VrfId vrfId) = 0;
    // Whether a dynamic twice-NAT translation was used since the last scan.
    virtual bool dynamicTwiceActive(uint16_t profileId, uint8_t protocol, Ip::IpAndPort srcOld,
                                    Ip::IpAndPort srcNew, Ip::IpAndPort dstOld,
                                    Ip::IpAndPort dstNew) = 0;

    // Twice-NAT translations.
    virtual Ip::Nat::NatHwResult addTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                                        Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                                        uint8_t protocol, uint16_t profileId,
                                                        const Oma::NatNextHopInfo* nextHopInfo,
                                                        const Oma::NatMulticastData* multicastData,
                                                        bool forward, uint16_t group, bool ingress,
                                                        Ip::VrfId vrf, bool dynamic) = 0;
    virtual Ip::Nat::NatHwResult
    updateTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew, Ip::IpAndPort dstOld,
                              Ip::IpAndPort dstNew, uint8_t protocol, uint16_t profileId,
                              const Oma::NatNextHopInfo* nextHopInfo,
                              const Oma::NatMulticastData* multicastData, bool forward,
                              uint16_t group, bool ingress, Ip::VrfId vrf, bool dynamic) = 0;
    virtual bool delTwiceNatTranslation(Ip::IpAndPort srcOld, Ip::IpAndPort srcNew,
                                        Ip::IpAndPort dstOld, Ip::IpAndPort dstNew,
                                        uint8_t protocol, uint16_t profileId, bool forward,
                                        uint16_t group, bool ingress, Ip::VrfId vrf,
                                        bool dynamic) = 0;

    // CPU trap rules: the first packets of dynamic NAT and twice-NAT connections go to the CPU.
    // A rule's ACL entries are gathered under its key and NAT profile; false when the hardware
    // refused the entry (what was written of the ACL stays until its delete).
    virtual bool addTrapRule(const Ip::Nat::DynamicKey& key, const Ip::Nat::NatTrapInfo& trapInfo,
                             uint32_t seqNum, Ip::IpAddrWithFullMask src,
                             Ip::IpAddrWithFullMask dst, bool deny, bool reverse) = 0;
    virtual bool addProtocolTrapRule(const Ip::Nat::DynamicKey& key,
                                     const Ip::Nat::NatTrapInfo& trapInfo, uint32_t seqNum,
                                     uint8_t protocol, Ip::IpAddrWithFullMask src,
                                     Ip::IpAddrWithFullMask dst, uint16_t srcPortStart,
                                     uint16_t srcPortEnd, uint16_t dstPortStart,
                                     uint16_t dstPortEnd, bool deny, bool reverse) = 0;
    virtual bool addTrapAllRule(const Ip::Nat::DynamicKey& key,
                                const Ip::Nat::NatTrapInfo& trapInfo) = 0;
    virtual void delTrapRule(uint32_t profileId, const Ip::Nat::DynamicKey& key,
                             Ip::VrfId vrfId) = 0;
    virtual void commitTrapRules() = 0;

    // NAT flows.
    virtual bool addNatFlowEntry(const std::string& policy, const std::string& match,
                                 uint16_t profile, const Ip::Nat::NatFlow& flow, uint32_t groupUc,
                                 uint32_t groupMc) = 0;
    virtual bool delNatFlowEntry(const std::string& policy, const std::string& match,
                                 uint16_t profile, uint32_t groupUc, uint32_t groupMc) = 0;

private:
    std::string name_;
};

} // namespace OmaHelper
