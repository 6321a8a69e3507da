#pragma once
// Shorthands for the values tests write: addresses from text, ACL keys and the match specs of
// the address-only tables.

#include "chip/P4Tables.h"
#include "host/IpTypes.h"
#include "tables/static/StaticNatRecords.h"

namespace TestSupport {

inline Ip::IpAddr ip(const char* text) {
    return *Ip::IpAddr::parse(text);
}
inline Ip::IpAndPort ipp(const char* text, uint16_t port = 0) {
    return {ip(text), port};
}
inline Ip::IpAddrWithFullMask prefix(const char* text) {
    return *Ip::IpAddrWithFullMask::parse(text);
}
inline VyrNat::HwStaticNatAclKey aclKey(const char* pfx = "0.0.0.0/0", uint16_t proto = 0,
                                        bool frag = false) {
    return {prefix(pfx), proto, frag};
}

inline VyrP4::AddrOnlySnatMatchSpec addrOnlySnat(uint16_t profile, uint16_t aclId,
                                                 const char* sip) {
    VyrP4::AddrOnlySnatMatchSpec m;
    m.ingMdNatProfileIdIs(profile);
    m.ingMdSnatAclIdIs(aclId);
    m.outerIpv4HdrSipIs(ip(sip).value);
    return m;
}

inline VyrP4::AddrOnlyDnatMatchSpec addrOnlyDnat(uint16_t profile, uint16_t aclId,
                                                 const char* dip) {
    VyrP4::AddrOnlyDnatMatchSpec m;
    m.ingMdDnatAclIdIs(aclId);
    m.ingMdNatProfileIdIs(profile);
    m.outerIpv4HdrDipIs(ip(dip).value);
    return m;
}

} // namespace TestSupport
