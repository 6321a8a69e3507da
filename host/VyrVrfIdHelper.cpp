#include "host/VyrVrfIdHelper.h"

uint32_t VyrVrfIdHelper_ipv4DipAndVrf(uint32_t vrfId, uint32_t newDip, uint8_t flags) {
    const uint32_t low = (flags & 1u) ? (newDip & 0xffffu) : 0u;
    return (vrfId & 0xffffu) << 16 | low;
}
