#pragma once
// The NAT configuration and capabilities the agent reads: the NAT configuration of the
// configuration agent, the NAT hardware capabilities, and the agent's own hardware configuration.

#include "host/Entity.h"

#include <cstdint>

namespace Ip::Nat {

// NAT configuration published by the configuration agent.
class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::Config")
    // Whether TCP SYN-ACK packets of new connections are trapped to the CPU too.
    Ert::Attr<bool> natTcpSynAckRequired{this, "natTcpSynAckRequired"};
    // Seconds a translated connection may stay idle before connection tracking removes it, by
    // protocol: TCP, UDP, and every other protocol (ICMP included).
    Ert::Attr<uint32_t> tcpTimeout{this, "tcpTimeout", 86400};
    Ert::Attr<uint32_t> udpTimeout{this, "udpTimeout", 300};
    Ert::Attr<uint32_t> otherTimeout{this, "otherTimeout", 60};
    // Seconds between two reads of the connections' activity in hardware; longer than the
    // hit-bit scan period, so that each read sees a fresh scan.
    Ert::Attr<uint32_t> connectionPollInterval{this, "connectionPollInterval", 10};

    uint32_t timeoutOf(uint8_t protocol) const {
        return protocol == 6 ? tcpTimeout() : protocol == 17 ? udpTimeout() : otherTimeout();
    }
};

class HwCapabilities : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("Ip::Nat::HwCapabilities")
    // Size of the shared-memory dynamic-connection tables; 0 when there are none.
    Ert::Attr<uint32_t> dynamicConnectionTableSize{this, "dynamicConnectionTableSize"};
    // NAT runs in a software data plane.
    Ert::Attr<bool> natDpdk{this, "natDpdk"};
    // With no NAT left configured, the agent's next start is to be hitfull.
    Ert::Attr<bool> natHitfullRestart{this, "natHitfullRestart"};
    // Reverse static translations (source on ingress, destination on egress) can be programmed.
    Ert::Attr<bool> reverseStaticNatSupported{this, "reverseStaticNatSupported"};
    // Translations between VRFs, through next hops, can be programmed.
    Ert::Attr<bool> vrfNatSupported{this, "vrfNatSupported"};
};

} // namespace Ip::Nat

namespace VyrNat {

// The NAT agent's own hardware configuration.
class Config : public Ert::Entity {
public:
    using Entity::Entity;
    ERT_ENTITY_TYPE("VyrNat::Config")
    // Entries of each table kept for non-fragment translations: fragment companions may use
    // only what is left above them.
    Ert::Attr<uint32_t> addrOnlySnatNonFragmentReserve{this, "addrOnlySnatNonFragmentReserve"};
    Ert::Attr<uint32_t> addrOnlyDnatNonFragmentReserve{this, "addrOnlyDnatNonFragmentReserve"};
    Ert::Attr<uint32_t> egressNonFragmentReserve{this, "egressNonFragmentReserve"};
    Ert::Attr<uint32_t> twiceNatAddrOnlyNonFragmentReserve{this,
                                                           "twiceNatAddrOnlyNonFragmentReserve"};
};

} // namespace VyrNat
