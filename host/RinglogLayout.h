#pragma once
// The ring trace file as it lies on disk, shared by the writer and the reader: a header, the
// format dictionary, then one ring per level, each a write count and fixed-size record slots.

#include "host/Ringlog.h"

#include <cstdint>

namespace Ringlog::Layout {

constexpr char kMagic[8] = {'V', 'Y', 'R', 'R', 'I', 'N', 'G', '2'};
constexpr uint32_t kVersion = 2;
constexpr uint32_t kDictCapacity = 64 * 1024;
constexpr uint16_t kNoFormat = 0xFFFF;
constexpr std::size_t kRingHeader = 64; // the ring's write count, padded to a cache line
// The most records a ring may hold: 128 MiB of slots. A reader trusts no header beyond it.
constexpr uint32_t kMaxRingRecords = 1u << 20;

struct FileHeader {
    char magic[8];
    uint32_t version;
    uint32_t recordSize;
    uint32_t ringCount;
    uint32_t timestamps;
    uint32_t ringSizes[kRings];
    uint64_t ringOffsets[kRings];
    uint64_t dictOffset;
    uint32_t dictCapacity;
    uint32_t dictUsed;
    uint32_t dictCount;
    uint32_t reserved;
    uint64_t nextSeq;
};

// A record's values follow its header, each a kind byte (Host::FmtArg::Kind) and either 8 bytes
// of number or a length byte and the string's bytes.
struct RecordHeader {
    uint64_t seq; // 0: the slot was never written
    uint64_t timeNs;
    uint16_t formatId;
    uint8_t level;
    uint8_t argCount;
    uint16_t payloadLength;
    uint8_t flags;
    uint8_t reserved;
};
static_assert(sizeof(RecordHeader) == 24);
constexpr std::size_t kPayload = kRecordSize - sizeof(RecordHeader);

// flags: values after the last one kept did not fit the record.
constexpr uint8_t kValuesCut = 1;
// Set in a string's kind byte when only its beginning fit.
constexpr uint8_t kStringCut = 0x80;

} // namespace Ringlog::Layout
