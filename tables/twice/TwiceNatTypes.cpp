#include "tables/twice/TwiceNatTypes.h"

#include "host/Format.h"

namespace VyrNat {

const char* str(ProtocolType t) {
    switch (t) {
    case ProtocolType::protocolInvalid:
        return "protocolInvalid";
    case ProtocolType::protocolAny:
        return "protocolAny";
    case ProtocolType::protocolTcp:
        return "protocolTcp";
    case ProtocolType::protocolUdp:
        return "protocolUdp";
    }
    return "protocolInvalid";
}

ProtocolType getProtocolType(uint8_t proto) {
    return proto == 6    ? ProtocolType::protocolTcp
           : proto == 17 ? ProtocolType::protocolUdp
                         : ProtocolType::protocolAny;
}

namespace {
const char* pyBool(bool b) {
    return b ? "True" : "False";
}
} // namespace

std::string AddrOnlyKey::str() const {
    return Host::format("Value('VyrNat::AddrOnlyKey', ** {'vrf': %u, 'sip': %s, 'dip': %s})", vrf,
                        sip.toString(), dip.toString());
}

std::string AddrOnlyL4Ports::str() const {
    return Host::format("Value('VyrNat::AddrOnlyL4Ports', ** {'sport': %u, 'dport': %u})", sport,
                        dport);
}

std::string AddrOnlyAction::str() const {
    return Host::format("Value('VyrNat::AddrOnlyAction', ** {'proto': %s, 'frag': %s, "
                        "'nextHop': %u, 'ecmp': %s, 'rewriteId': %u})",
                        VyrNat::str(proto), pyBool(frag), nextHop, pyBool(ecmp), rewriteId);
}

std::string AddrPortKey::str() const {
    return Host::format("Value('VyrNat::AddrPortKey', ** {'keyId': %u, 'sport': %u, 'dport': %u})",
                        keyId, sport, dport);
}

std::string AddrPortAction::str() const {
    return Host::format("Value('VyrNat::AddrPortAction', ** {'proto': %s, 'nextHop': %u, "
                        "'ecmp': %s, 'rewriteId': %u})",
                        VyrNat::str(proto), nextHop, pyBool(ecmp), rewriteId);
}

std::string RewriteInfo::str() const {
    return Host::format("Value('VyrNat::RewriteInfo', ** {'src': %s, 'dst': %s, 'delta': %u})",
                        src.toString(), dst.toString(), delta);
}

} // namespace VyrNat
