#pragma once
// The agent's log messages, registered once when the library is loaded.

#include "host/LogMessage.h"

namespace VyrNat {

Log::Message& natDuplicateEntry();
Log::Message& natTwiceDuplicateEntry();
Log::Message& natFullConeRangeOverlap();
Log::Message& natUnsupportedFullConeSnatAcl();
Log::Message& natFlowRangeOverlap();

} // namespace VyrNat
