#include "host/NatStatus.h"

namespace Ip::Nat {

std::string StaticKey::str() const {
    return local.toString() + (aclName.empty() ? "" : " acl " + aclName) +
           (egressTarget() ? " egress" : "");
}

} // namespace Ip::Nat
