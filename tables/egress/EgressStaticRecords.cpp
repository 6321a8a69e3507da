#include "tables/egress/EgressStaticRecords.h"

#include "host/Format.h"

namespace VyrNat {

template <class Tag> std::string EgrAddrKey<Tag>::str() const {
    return Host::format("Value('%s', ** {'ip': %s, 'frag': %u})", Tag::kAddrKeyName, ip.toString(),
                        frag);
}

template <class Tag> std::string EgrAddrPortKey<Tag>::str() const {
    return Host::format("Value('%s', ** {'ip': %s, 'proto': %u})", Tag::kAddrPortKeyName,
                        ip.toString(), proto);
}

template struct EgrAddrKey<EgrSnatTag>;
template struct EgrAddrKey<EgrDnatTag>;
template struct EgrAddrPortKey<EgrSnatTag>;
template struct EgrAddrPortKey<EgrDnatTag>;

} // namespace VyrNat
