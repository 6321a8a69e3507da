#pragma once
// An entry that several users share while they agree on what it does (its wish, such as the new
// address of a fragment entry). A user with another wish parks the entry: it leaves the
// hardware, and from then on every user, present and later, only counts under its own wish
// until the last one goes. A parked entry never returns to hardware, even when the users left
// agree again: which of them wins would depend on the order of deletes.
//
// `T` describes one family of records:
//   Records                  what holds the two maps;
//   entries(r), parked(r)    the programmed entries (each with `refCount`) and the parked ones,
//                            keyed by what `entryKey(addr)` and `parkedKey(addr)` give;
//   wishOf(entry)            what a programmed entry does;
//   users(parked)            a parked entry's count of users by wish;
//   parkFrom(parked, entry)  records a programmed entry's users in a parked one;
//   trace(), kAddrWord, kParkedCount
//                            the trace handle, the address word of messages ("sip", "dip"),
//                            and whether a further parked user's message gives its count.

#include "host/IpTypes.h"
#include "host/Trace.h"

#include <cstdint>
#include <string>

namespace VyrNat {

// How a user joined.
enum class ShareJoin : uint8_t {
    absent,     // no entry of the address: the caller writes a new one
    shared,     // the entry is in hardware with the user's wish: one more user
    parkedNow,  // the user's wish parked the entry
    parkedMore, // the entry was parked already: the user counts there
};

// How a user left.
enum class ShareLeave : uint8_t {
    notFound,    // no entry of the address, or none with the user's wish
    stillShared, // other users remain
    lastEntry,   // the programmed entry went with its last user
    lastParked,  // the parked entry went with its last user
};

template <class T> struct SharedEntries {
    using Records = typename T::Records;
    using Wish = typename T::Wish;

    // A user asking for `wish` joins the entry of `addr`. `unwrite(entry)` takes a programmed
    // entry out of hardware when the user parks it; `noteUser(parked)` records what else the
    // user asks for (a next hop) in a parked entry it counts in.
    template <class Unwrite, class NoteUser>
    static ShareJoin join(Records& r, Ip::IpAddr addr, const Wish& wish, Unwrite&& unwrite,
                          NoteUser&& noteUser) {
        auto& entries = T::entries(r);
        if (auto it = entries.find(T::entryKey(addr)); it != entries.end()) {
            auto& entry = it->second;
            if (T::wishOf(entry) == wish) {
                ++entry.refCount;
                VTRACE(T::trace(), 3, "Increased refCount for fragment entry: " << entry.refCount);
                return ShareJoin::shared;
            }
            VTRACE(T::trace(), 1, "Detected duplicate fragment rules with different actions");
            auto& park = T::parked(r)[T::parkedKey(addr)];
            park.addr = addr;
            T::parkFrom(park, entry);
            ++T::users(park)[wish];
            noteUser(park);
            unwrite(entry);
            entries.erase(it);
            return ShareJoin::parkedNow;
        }
        auto& parked = T::parked(r);
        if (auto it = parked.find(T::parkedKey(addr)); it != parked.end()) {
            const uint16_t count = ++T::users(it->second)[wish];
            noteUser(it->second);
            VTRACE(T::trace(), 2,
                   "Detected another duplicate fragment entry with a different action"
                       << (T::kParkedCount ? ". RefCount: " + std::to_string(count) : ""));
            return ShareJoin::parkedMore;
        }
        return ShareJoin::absent;
    }

    // The user asking for `wish` leaves the entry of `addr`; the last user of a programmed
    // entry takes it out of hardware with `unwrite(entry)`.
    template <class Unwrite>
    static ShareLeave leave(Records& r, Ip::IpAddr addr, const Wish& wish, Unwrite&& unwrite) {
        auto& entries = T::entries(r);
        if (auto it = entries.find(T::entryKey(addr)); it != entries.end()) {
            auto& entry = it->second;
            if (!(T::wishOf(entry) == wish)) {
                VTRACE(T::trace(), 1, "New " << T::kAddrWord << " not found in fragment entry");
                return ShareLeave::notFound;
            }
            if (entry.refCount > 1) {
                --entry.refCount;
                VTRACE(T::trace(), 3, "Frag entry ref count is still " << entry.refCount);
                return ShareLeave::stillShared;
            }
            VTRACE(T::trace(), 3, "Deleting the frag entry from hw");
            unwrite(entry);
            entries.erase(it);
            return ShareLeave::lastEntry;
        }
        auto& parked = T::parked(r);
        auto it = parked.find(T::parkedKey(addr));
        if (it == parked.end()) {
            return ShareLeave::notFound;
        }
        auto& users = T::users(it->second);
        auto user = users.find(wish);
        if (user == users.end()) {
            VTRACE(T::trace(), 2,
                   "New " << T::kAddrWord << " not found in unprogrammed fragment entry");
            return ShareLeave::notFound;
        }
        if (user->second > 1) {
            --user->second;
            VTRACE(T::trace(), 3, "Frag entry ref count is still " << user->second);
            return ShareLeave::stillShared;
        }
        users.erase(user);
        if (!users.empty()) {
            VTRACE(T::trace(), 3, "Frag entry still shared by " << users.size() << " addresses");
            return ShareLeave::stillShared;
        }
        VTRACE(T::trace(), 3, "Removing the frag entry from the unprogrammed list");
        parked.erase(it);
        return ShareLeave::lastParked;
    }

    // Parks every programmed entry of `r` with its users; returns how many.
    template <class Unwrite> static uint32_t parkAll(Records& r, Unwrite&& unwrite) {
        uint32_t moved = 0;
        auto& entries = T::entries(r);
        while (!entries.empty()) {
            auto it = entries.begin();
            const Ip::IpAddr addr = T::addrOf(it->first);
            VTRACE(T::trace(), 3,
                   "Removing fragment for " << T::kAddrWord << " " << addr.toString());
            auto& park = T::parked(r)[T::parkedKey(addr)];
            park.addr = addr;
            T::parkFrom(park, it->second);
            unwrite(it->second);
            entries.erase(it);
            ++moved;
        }
        return moved;
    }
};

} // namespace VyrNat
