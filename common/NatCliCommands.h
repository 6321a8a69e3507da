#pragma once
// What the CLI passes to the managers' show operations. The numeric values are part of the
// interface between the dispatcher and the managers.

#include <cstdint>
#include <utility>

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

// The agent's two answers to a request it cannot serve at all, written without a line end.
inline constexpr const char* kCliNotInitialized = "Agent not initialized yet";
inline constexpr const char* kCliNotSupported = "Command not supported in this profile";

// The words of each argument with their values, for the dispatcher and for clients that check
// a request before sending it.
inline constexpr std::pair<const char*, StaticCliCommand> kStaticCliTypes[] = {
    {"all", staticAll},
    {"acl", staticAcl},
    {"addr-only", staticAddrOnly},
    {"addr-port", staticAddrPort},
    {"fragment", staticFragment},
};
inline constexpr std::pair<const char*, StaticCliCommand> kEgressCliTypes[] = {
    {"all", staticAll},
    {"addr-only", staticAddrOnly},
    {"addr-port", staticAddrPort},
    {"unprogrammed", staticUnprogrammed},
};
inline constexpr std::pair<const char*, TwiceCliCommand> kTwiceCliTypes[] = {
    {"all", twiceAll},         {"addr-only", twiceAddrOnly}, {"addr-port", twiceAddrPort},
    {"rewrite", twiceRewrite}, {"fragment", twiceFragment},  {"unprogrammed", twiceUnprogrammed},
};
// "snat" and "dnat" take a table word after them.
inline constexpr std::pair<const char*, DynamicCliCommand> kDynamicCliTypes[] = {
    {"all", dynamicAll},
    {"cpu", dynamicCpu},
    {"unprogrammed", dynamicUnprogrammed},
};
inline constexpr std::pair<const char*, DynamicSnatCliTable> kSnatCliTables[] = {
    {"all", snatTableAll},
    {"dynamicDnat1", snatTableDynamicDnat1},
    {"dynamicSnat1", snatTableDynamicSnat1},
    {"dynamicSnat2", snatTableDynamicSnat2},
    {"dynamicAddrOnlySnat", snatTableDynamicAddrOnlySnat},
    {"dynamicSnatPartition", snatTableDynamicSnatPartition},
};
inline constexpr std::pair<const char*, DynamicDnatCliTable> kDnatCliTables[] = {
    {"all", dnatTableAll},
    {"dynamicDnat1", dnatTableDynamicDnat1},
    {"dynamicDnat2", dnatTableDynamicDnat2},
    {"dynamicAddrOnlyDnat", dnatTableDynamicAddrOnlyDnat},
    {"dynamicDnatPartition", dnatTableDynamicDnatPartition},
};

} // namespace VyrNat
