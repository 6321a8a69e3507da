#pragma once
// Entries shared by reference count, each holding an id from a bitmap that the chip matches or
// an action writes (ACL ids, rewrite ids). The first user takes the lowest free id and writes the
// entry; later users of the same key only count; the last one deletes the entry and gives the id
// back. Id 0 is never handed out. A record has `aclKey`, `aclId`, `refCount` and the `matchSpec`
// it was written with; a record of another kind names its key and id fields as `keyField` and
// `idField`. `Map` is the container of the records by key.

#include "common/IdBitmap.h"
#include "common/TableWrite.h"
#include "host/Assert.h"

#include <cstdint>
#include <limits>
#include <map>
#include <type_traits>
#include <utility>

namespace VyrNat {

template <class Key, class Record, class Map = std::map<Key, Record>> class AclIdTable {
    static constexpr auto idField() {
        if constexpr (requires { Record::idField; }) {
            return Record::idField;
        } else {
            return &Record::aclId;
        }
    }
    static constexpr auto keyField() {
        if constexpr (requires { Record::keyField; }) {
            return Record::keyField;
        } else {
            return &Record::aclKey;
        }
    }
    using Id = std::remove_cvref_t<decltype(std::declval<Record&>().*idField())>;

public:
    // What became of a request for a reference.
    enum class Outcome : uint8_t {
        shared,    // the key's entry existed: one more user
        created,   // a new entry was written under a new id
        idsFull,   // no id left
        countFull, // the entry's count cannot take another user
        refused,   // the table refused the new entry (`refusal` says why); the id went back
    };
    struct Acquired {
        Outcome outcome;
        Record* record = nullptr; // null unless shared or created
        WriteRefusal refusal;
    };

    explicit AclIdTable(uint32_t size = 0) : ids_(size) {}

    // A reference on the entry of `key`. A new entry gets `key`, its id and one user; `write`
    // builds and writes it for that id and returns the match spec it wrote, or throws the table
    // service's refusal.
    template <class Write> Acquired acquire(const Key& key, Write&& write) {
        if (auto it = records_.find(key); it != records_.end()) {
            Record& rec = it->second;
            using Count = decltype(rec.refCount);
            if (rec.refCount == std::numeric_limits<Count>::max()) {
                return {Outcome::countFull, nullptr, {}};
            }
            rec.refCountInc(1);
            return {Outcome::shared, &rec, {}};
        }
        const auto id = static_cast<Id>(ids_.allocate());
        if (id == 0) {
            return {Outcome::idsFull, nullptr, {}};
        }
        decltype(Record::matchSpec) spec;
        if (WriteRefusal refused = tableWriteRefused([&] { spec = write(id); })) {
            // Kept, the id would never be handed out again: the table would shrink for good.
            ids_.clear(id);
            return {Outcome::refused, nullptr, refused};
        }
        Record& rec = records_[key];
        rec.*keyField() = key;
        rec.*idField() = id;
        rec.refCount = 1;
        rec.matchSpec = spec;
        return {Outcome::created, &rec, {}};
    }

    // Drops one user of the entry of `key`; false when there is no such entry. `onRelease(record,
    // last)` runs first, `last` telling that this is the last user: the caller then deletes the
    // table entry, and the record and its id go.
    template <class OnRelease> bool release(const Key& key, OnRelease&& onRelease) {
        auto it = records_.find(key);
        if (it == records_.end()) {
            return false;
        }
        Record& rec = it->second;
        const bool last = rec.refCount <= 1;
        onRelease(rec, last);
        if (!last) {
            rec.refCountDec(1);
            return true;
        }
        ids_.clear(rec.*idField());
        records_.erase(it);
        return true;
    }

    Record* find(const Key& key) {
        auto it = records_.find(key);
        return it == records_.end() ? nullptr : &it->second;
    }
    const Record* find(const Key& key) const {
        auto it = records_.find(key);
        return it == records_.end() ? nullptr : &it->second;
    }
    const Map& records() const { return records_; }
    const IdBitmap& ids() const { return ids_; }

private:
    Map records_;
    IdBitmap ids_;
};

} // namespace VyrNat
