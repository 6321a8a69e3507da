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
