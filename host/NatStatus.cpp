#include "host/NatStatus.h"

#include "host/NatConnections.h"

namespace Ip::Nat {

std::string StaticKey::str() const {
    return local.toString() + (aclName.empty() ? "" : " acl " + aclName) +
           (egressTarget() ? " egress" : "");
}

std::string DynamicKey::str() const {
    return "acl " + acl + " group " + std::to_string(group);
}

std::string DynamicConnectionKey::str() const {
    return std::string(sourceTranslation() ? "snat " : "dnat ") + tuple.toString() + " vrf " +
           std::to_string(vrfId);
}

std::string TwiceNatKey::str() const {
    return srcOld.toString() + " > " + dstOld.toString() + " proto " + std::to_string(protocol) +
           " profile " + std::to_string(profile) + " vrf " + std::to_string(vrf);
}

std::string NatFlowKey::str() const {
    return "profile " + std::to_string(profile) + " policy " + policy + " match " + match;
}

} // namespace Ip::Nat
