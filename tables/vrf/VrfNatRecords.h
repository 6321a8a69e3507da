#pragma once
// The VRF manager's records: the match spec of every entry written, so that it can be deleted.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"

#include <cstdint>
#include <map>

namespace VyrNat {

// The source translations of one VRF, by untranslated source address.
struct HwSnatEntries {
    uint16_t vrfId = 0;
    std::map<Ip::IpAddr, VyrP4::DefaultVrfSnatMatchSpec> matchSpec;
};

// The destination translations, by untranslated destination address whatever their VRF, and
// the VRF each address translates into.
struct HwDnatEntries {
    std::map<Ip::IpAddr, VyrP4::AddrAndVrfDnatMatchSpec> matchSpec;
    std::map<Ip::IpAddr, uint16_t> vrfId;
};

// The policers, by VRF id.
struct HwPolicerEntries {
    std::map<uint16_t, VyrP4::NatPolicerMatchSpec> matchSpec;
};

} // namespace VyrNat
