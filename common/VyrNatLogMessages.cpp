#include "common/VyrNatLogMessages.h"

namespace VyrNat {

namespace {

constexpr double kFurther = 1.0;
constexpr const char* kDuplicateExplanation =
    "Found an unexpected duplicate NAT rule for address, which could be caused by a "
    "misconfiguration";

Log::Message& duplicateEntry = Log::registerMessage(
    {"VYR_NAT_DUPLICATE_ENTRY", 6, "Found unexpected duplicate NAT rules for address %s",
     kDuplicateExplanation, Log::kNoActionRequired, 60, kFurther});

Log::Message& twiceDuplicateEntry =
    Log::registerMessage({"VYR_NAT_TWICE_DUPLICATE_ENTRY", 6,
                          "Found unexpected duplicate NAT rules for entry %s:%d, %s:%d, vrf %d",
                          kDuplicateExplanation, Log::kNoActionRequired, 60, kFurther});

Log::Message& fullConeRangeOverlap = Log::registerMessage(
    {"VYR_NAT_FULL_CONE_RANGE_OVERLAP", 6,
     "Detected two overlapping full cone NAT pool ranges, %s and %s",
     "There are two NAT pool ranges configured for full cone entries with overlapping range. The "
     "configuration must be modified in order for the NAT forwarding to work correctly",
     Log::kNoActionRequired, 0, kFurther});

Log::Message& unsupportedFullConeSnatAcl = Log::registerMessage(
    {"VYR_NAT_UNSUPPORTED_FULL_CONE_SNAT_ACL", 3,
     "Unsupported protocol %d used in dynamic SNAT ACL : Source:%s Destination:%s Protocol:%d "
     "Source Port:%s Destination Port %s",
     "The dynamic SNAT ACL configuration contains protocol rules that are unsupported for "
     "fullcone operation. The configuration must be fixed for it to take effect.",
     "Remove the described access rules. Only UDP protocol access list rules are allowed with "
     "this feature.",
     0, kFurther});

Log::Message& flowRangeOverlap = Log::registerMessage(
    {"VYR_NAT_FLOW_RANGE_OVERLAP", 6,
     "Detected two overlapping NAT flow entries in profile %s between profile/match %s/%s and "
     "%s/%s. NAT flow entry: %s.",
     "There are two overlapping NAT flow entries defined in two separate policies. Packet traffic "
     "cannot be forwarded as expected because only one of the two entries can be hit. The NAT "
     "flow configuration should be modified to avoid the overlap.",
     Log::kNoActionRequired, 0, kFurther});

} // namespace

Log::Message& natDuplicateEntry() {
    return duplicateEntry;
}
Log::Message& natTwiceDuplicateEntry() {
    return twiceDuplicateEntry;
}
Log::Message& natFullConeRangeOverlap() {
    return fullConeRangeOverlap;
}
Log::Message& natUnsupportedFullConeSnatAcl() {
    return unsupportedFullConeSnatAcl;
}
Log::Message& natFlowRangeOverlap() {
    return flowRangeOverlap;
}

} // namespace VyrNat
