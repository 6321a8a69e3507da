#pragma once
// The table engine under every generated table: entries of one P4 table, keyed by their packed
// match key, with exact and ternary lookup, a capacity, entry handles, hit bits and fault
// injection.
//
// Storage: each entry lives in a fixed-size slot of one flat array (key words, a meta word, an
// install sequence number and the action data); a hash set of slot numbers, hashed over the key
// words, finds an entry by its match key, so an install or a delete costs one hash-set operation
// and one node. Ternary tables also index their entries by effective mask (tuple space search):
// a lookup probes one hash table per distinct mask.
//
// Identity: an entry is identified by all its key words, values as given (bits outside the mask
// included), masks and priority. Ternary matching compares only the bits under the mask.
//
// Precedence: among matching ternary entries the table's priority order decides (the larger
// value wins, or the smaller for tables that say so); equal priorities go to the entry installed
// first. A replace keeps the entry's place in that order.
//
// Replace: installing under a match key that is present replaces the action in place. The entry
// keeps its handle and its hit bits, since it is the same hardware entry; it never fails for lack
// of room, but injected faults apply to it like to any write unless replaceFaultsIs(false). An
// add-only install refuses a key that is present (entryExists), as the chip's add call does.
//
// Hit bits: one per pipe, since each pipe's forwarding path marks the entries its packets hit.
//
// Handles: a slot number and a version. Deleting an entry bumps its slot's version, so a handle
// kept past the delete is reported stale rather than reading whatever reuses the slot.
//
// Single-threaded, like the event loop that drives it: even the const reads use a probe member.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chip/Layout.h"

namespace VyrP4 {

// The most pipes a chip has, each with its own hit bit per entry.
constexpr std::uint32_t kMaxPipes = 8;
// A pipe argument meaning every pipe (marking, clearing) or any pipe (reading).
constexpr std::uint32_t kAllPipes = 0xffffffffu;

// Every failure the engine reports.
enum class ChipError : std::uint8_t {
    ok,
    tableFull,
    noSysResources,
    invalidHandle,
    staleHandle,
    noHitBits,
    entryExists, // an add-only install under a key that is present
};
const char* chipErrorStr(ChipError e);

// The faults a write raises. name() is the fault's short name: "tableFull", "noSysResources".
class TableError : public std::runtime_error {
public:
    // `table` names the table; it lives as long as the program (table names are static).
    TableError(ChipError error, const char* table);
    ChipError error() const { return error_; }
    const char* name() const { return chipErrorStr(error_); }
    // The table that refused the write.
    const char* table() const { return table_; }

private:
    ChipError error_;
    const char* table_;
};
class TableFull : public TableError {
public:
    explicit TableFull(const char* table) : TableError(ChipError::tableFull, table) {}
};
class NoSysResources : public TableError {
public:
    explicit NoSysResources(const char* table) : TableError(ChipError::noSysResources, table) {}
};
class EntryExists : public TableError {
public:
    explicit EntryExists(const char* table) : TableError(ChipError::entryExists, table) {}
};
[[noreturn]] void throwTableError(ChipError error, const char* table);

// The chip's handle of one entry of one table; version 0 is no entry.
struct VyrSdkEntryHandle {
    std::uint32_t slot = 0;
    std::uint32_t version = 0;
    bool valid() const { return version != 0; }
    bool operator==(const VyrSdkEntryHandle&) const = default;
    auto operator<=>(const VyrSdkEntryHandle&) const = default;
    std::string str() const;
};

// A read-only view of one entry; valid until the next write to its table.
struct EntryView {
    const std::uint64_t* key;
    std::uint16_t action; // index into the table's action list
    const std::uint64_t* data;
    VyrSdkEntryHandle handle;
    bool hit;              // on any pipe
    std::uint8_t hitPipes; // bit p: hit on pipe p
};

// How an entry changed, as told to a table's observer.
enum class EntryChange : std::uint8_t {
    added,
    replaced, // a write over an entry with the same key
    removed,
    hit,     // a hit bit was set or cleared
    refused, // a write failed (table full, no system resources, injected)
};

class TableEngine;
// Told of every change after it is made: `before` is the entry as it was (null when added),
// `after` as it is (null when removed); a refused write gives neither. Views live for the call.
using EntryObserver = std::function<void(const TableEngine& table, EntryChange change,
                                         const EntryView* before, const EntryView* after)>;

class TableEngine {
public:
    TableEngine(const TableDesc& desc, std::uint32_t capacity, std::uint32_t pipes = 1);
    TableEngine(const TableEngine&) = delete;
    TableEngine& operator=(const TableEngine&) = delete;

    const TableDesc& desc() const { return desc_; }
    const char* name() const { return desc_.name; }
    std::uint32_t capacity() const { return capacity_; }
    std::uint32_t pipes() const { return pipes_; }
    std::size_t entryCount() const { return index_.size(); }

    // Installs or, unless `addOnly`, replaces the entry with this key (keyWords() words). Returns
    // ok, tableFull, noSysResources or (addOnly) entryExists; on failure nothing changed.
    ChipError install(const std::uint64_t* key, std::uint16_t action, const std::uint64_t* data,
                      bool addOnly = false);
    // Removes the entry with this key; false when there was none.
    bool remove(const std::uint64_t* key);

    std::optional<EntryView> find(const std::uint64_t* key) const;
    // The entry a packet with these field values (valueWords() words) hits, without marking it.
    std::optional<EntryView> lookup(const std::uint64_t* packet) const;
    // As lookup, and sets the entry's hit bit of the pipe the packet came through, as that
    // pipe's forwarding path would.
    std::optional<EntryView> packetIs(const std::uint64_t* packet, std::uint32_t pipe = 0);
    // Every entry: ternary tables in precedence order, then by key; exact tables by key.
    std::vector<EntryView> entries() const;

    // Hit bits (tables with desc().hitBits only; others report noHitBits). `pipe` is below
    // pipes(), or kAllPipes: every pipe when setting or clearing, any pipe when reading.
    ChipError hitBitIs(VyrSdkEntryHandle handle, bool hit, std::uint32_t pipe);
    ChipError hitBit(VyrSdkEntryHandle handle, bool& hit, std::uint32_t pipe) const;
    // Without a pipe, as a single-pipe caller means it: a hit marks pipe 0, a clear clears
    // every pipe, a read answers for any pipe.
    ChipError hitBitIs(VyrSdkEntryHandle handle, bool hit) {
        return hitBitIs(handle, hit, hit ? 0 : kAllPipes);
    }
    ChipError hitBit(VyrSdkEntryHandle handle, bool& hit) const {
        return hitBit(handle, hit, kAllPipes);
    }
    void hitBitsClear(std::uint32_t pipe = kAllPipes);
    // The chip's scan of the hit bits, in memory order: appends the handle of each entry hit on
    // pipe p to perPipe[p] (handles come ascending) and clears the entry's bits. `perPipe` has
    // pipes() lists.
    void hitBitsScan(std::vector<std::vector<VyrSdkEntryHandle>>& perPipe);

    // Fault injection. An injected fault fails the write with `kind` and changes nothing.
    void failNextWritesIs(std::uint32_t writes, ChipError kind = ChipError::tableFull);
    void failProbabilityIs(double probability, std::uint64_t seed,
                           ChipError kind = ChipError::tableFull);
    // Reports table full once the table holds this many entries (below its capacity).
    void reportFullAtIs(std::optional<std::uint32_t> entries) { reportFullAt_ = entries; }
    // Whether injected faults also fail replaces of present entries (they do by default).
    void replaceFaultsIs(bool on) { replaceFaults_ = on; }
    // Injected faults off, replaces included again.
    void faultsClear();
    std::uint64_t injectedFaults() const { return injectedFaults_; }

    // Lets a tool follow the table's contents change by change instead of reading them whole.
    void entryObserverIs(EntryObserver observer) { observer_ = std::move(observer); }

    // Readable forms.
    std::string entryStr(const EntryView& e) const;
    std::string dump() const; // header line, then one line per entry

    std::size_t keyWords() const { return keyWords_; }
    std::size_t valueWords() const { return desc_.match->valueWords; }
    std::size_t dataWords() const { return dataWords_; }

private:
    static constexpr std::uint32_t kProbe = 0xffffffffu;
    // Meta word: action in bits 0-15, one hit bit per pipe from bit 16, live bit, version on top.
    static constexpr unsigned kHitShift = 16;
    static constexpr std::uint64_t kLiveBit = 1ull << (kHitShift + kMaxPipes);

    struct SlotHash {
        const TableEngine* engine;
        std::size_t operator()(std::uint32_t slot) const noexcept;
    };
    struct SlotEq {
        const TableEngine* engine;
        bool operator()(std::uint32_t a, std::uint32_t b) const noexcept;
    };
    struct MaskGroup {
        std::vector<std::uint64_t> mask;
        std::unordered_multimap<std::size_t, std::uint32_t> byHash;
    };

    const std::uint64_t* keyOf(std::uint32_t slot) const {
        return slot == kProbe ? probe_ : &slots_[std::size_t(slot) * stride_];
    }
    std::uint64_t* slotPtr(std::uint32_t slot) { return &slots_[std::size_t(slot) * stride_]; }
    const std::uint64_t* slotPtr(std::uint32_t slot) const {
        return &slots_[std::size_t(slot) * stride_];
    }
    std::uint64_t& meta(std::uint32_t slot) { return slotPtr(slot)[keyWords_]; }
    std::uint64_t meta(std::uint32_t slot) const { return slotPtr(slot)[keyWords_]; }
    std::uint64_t seq(std::uint32_t slot) const { return slotPtr(slot)[keyWords_ + 1]; }
    EntryView view(std::uint32_t slot) const;
    std::optional<std::uint32_t> findSlot(const std::uint64_t* key) const;
    std::optional<std::uint32_t> lookupSlot(const std::uint64_t* packet) const;
    bool better(std::uint32_t a, std::uint32_t b) const; // a takes precedence over b
    ChipError injectedFault();
    ChipError refused(ChipError e);
    void hitPipesIs(std::uint32_t slot, std::uint8_t pipes);
    // The hit bits `pipe` names (one pipe, or all of them).
    std::uint8_t pipeBits(std::uint32_t pipe) const;
    ChipError checkHandle(VyrSdkEntryHandle handle) const;
    void effectiveMask(const std::uint64_t* key, std::uint64_t* out) const;
    std::size_t maskedHash(const std::uint64_t* values, const std::uint64_t* mask) const;
    void groupAdd(std::uint32_t slot);
    void groupRemove(std::uint32_t slot);

    const TableDesc& desc_;
    std::uint32_t capacity_;
    std::uint32_t pipes_;
    std::size_t keyWords_;
    std::size_t dataWords_;
    std::size_t stride_;
    std::vector<std::uint64_t> exactBits_; // ternary tables: the bits of exact fields
    std::vector<std::uint64_t> slots_;
    std::vector<std::uint32_t> freeSlots_;
    std::uint32_t slotCount_ = 0;
    std::uint64_t nextSeq_ = 1;
    mutable const std::uint64_t* probe_ = nullptr;
    std::unordered_set<std::uint32_t, SlotHash, SlotEq> index_;
    std::vector<MaskGroup> groups_;

    std::uint32_t failNext_ = 0;
    ChipError failNextKind_ = ChipError::tableFull;
    double failProbability_ = 0;
    ChipError failProbabilityKind_ = ChipError::tableFull;
    std::uint64_t rng_ = 0;
    std::optional<std::uint32_t> reportFullAt_;
    bool replaceFaults_ = true;
    std::uint64_t injectedFaults_ = 0;
    EntryObserver observer_;
};

} // namespace VyrP4
