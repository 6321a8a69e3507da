#pragma once
// What the CLI passes to the managers' show operations. The numeric values are part of the
// interface between the dispatcher and the managers.

#include <cstdint>

namespace VyrNat {

enum StaticCliCommand : uint32_t {
    staticAll = 0,
    staticAcl = 1,
    staticAddrOnly = 2,
    staticAddrPort = 3,
    staticFragment = 4,
    staticUnprogrammed = 5,
};

enum DynamicCliCommand : uint32_t {
    dynamicAll = 0,
    dynamicCpu = 1,
    dynamicSnat = 2,
    dynamicDnat = 3,
    dynamicUnprogrammed = 4,
};

// The table argument of "showNatDynamic snat".
enum DynamicSnatCliTable : uint32_t {
    snatTableAll = 0,
    snatTableDynamicDnat1 = 1,
    snatTableDynamicSnat1 = 2,
    snatTableDynamicSnat2 = 3,
    snatTableDynamicAddrOnlySnat = 4,
    snatTableDynamicSnatPartition = 5,
};

// The table argument of "showNatDynamic dnat".
enum DynamicDnatCliTable : uint32_t {
    dnatTableAll = 0,
    dnatTableDynamicDnat1 = 1,
    dnatTableDynamicDnat2 = 2,
    dnatTableDynamicAddrOnlyDnat = 3,
    dnatTableDynamicDnatPartition = 4,
};

enum TwiceCliCommand : uint32_t {
    twiceAll = 0,
    twiceAddrOnly = 1,
    twiceAddrPort = 2,
    twiceRewrite = 3,
    twiceFragment = 4,
    twiceUnprogrammed = 5,
};

} // namespace VyrNat
