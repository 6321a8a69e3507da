#include "tables/static/StaticNatRecords.h"

#include "host/Format.h"

namespace VyrNat {

std::string HwStaticNatAclKey::str() const {
    return Host::format("Value('VyrNat::HwStaticNatAclKey', ** {'ipAndMask': %s, 'protocol': %u, "
                        "'fragment': %s})",
                        ipAndMask.toString(), protocol, fragment ? "True" : "False");
}

} // namespace VyrNat
