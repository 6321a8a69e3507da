#pragma once
// The records of one direction's dynamic connections: for each connection, where its entry
// lives. Records are keyed by what the chip matches (protocol, source, destination and, where
// the tables carry it, the VRF) rather than by the connection, so that two connections the
// chip cannot tell apart never get two entries: the second finds the first's record and is
// refused. A connection is looked up by its flow and VRF; the match addresses are its flow's
// own, except for a connection created with others, which keeps an alias from its flow to them.
//
// A record is one hash node of 40 bytes (the link, the 24-byte key, the place and the VRF) and
// its share of the bucket array, about 52 bytes in all at a million connections.

#include "host/Assert.h"
#include "tables/dynamic/DynamicNatTypes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace VyrNat {

// `Place` is the table (or the partition id) holding an entry, below 8.
template <class Place> class DynamicConnRecords {
public:
    struct Found {
        Place place;
        MatchAddrs addrs;
    };

    // With `vrfInMatch` the tables' match specs carry the VRF, so connections that differ only in
    // their VRF are told apart.
    explicit DynamicConnRecords(bool vrfInMatch = true) : vrfInMatch_(vrfInMatch) {}

    // The connection's record, or nullopt.
    std::optional<Found> find(const ConnTuple& flow, uint32_t vrfId) const {
        const auto [key, aliased] = keyOf(flow, vrfId);
        auto it = byMatch_.find(key);
        if (it == byMatch_.end() || it->second.vrfId != vrfId || it->second.aliased != aliased) {
            return std::nullopt;
        }
        return Found{it->second.place, MatchAddrs::of(key.flow.src, key.flow.dst)};
    }
    Place place(const ConnTuple& flow, uint32_t vrfId) const {
        const auto f = find(flow, vrfId);
        return f ? f->place : Place{};
    }
    enum class Claim {
        free,
        recorded,      // the connection itself is recorded
        heldByAnother, // another connection holds the match
    };
    // Whether the connection, written with `addrs`, may be recorded. One lookup unless there is
    // a record to tell apart.
    Claim claim(const ConnTuple& flow, MatchAddrs addrs, uint32_t vrfId) const {
        const FlowAndVrfType key = matchKey(flow, addrs, vrfId);
        if (byMatch_.count(key) != 0) {
            return find(flow, vrfId) ? Claim::recorded : Claim::heldByAnother;
        }
        if (key.flow == flow && aliases_.empty()) {
            return Claim::free; // the connection's own key, just looked up
        }
        return find(flow, vrfId) ? Claim::recorded : Claim::free;
    }

    // Records a connection whose claim is free.
    void add(const ConnTuple& flow, MatchAddrs addrs, uint32_t vrfId, Place place) {
        const FlowAndVrfType key = matchKey(flow, addrs, vrfId);
        const bool aliased = key.flow != flow;
        const bool fresh = byMatch_.emplace(key, Record{place, aliased, vrfId}).second;
        VYR_ASSERT(fresh);
        if (aliased) {
            aliases_.emplace(FlowAndVrfType{flow, vrfId}, key);
        }
        ++counts_[std::size_t(place)];
    }
    // Removes the connection's record and returns it; nullopt when it has none.
    std::optional<Found> take(const ConnTuple& flow, uint32_t vrfId) {
        const auto [key, aliased] = keyOf(flow, vrfId);
        auto it = byMatch_.find(key);
        if (it == byMatch_.end() || it->second.vrfId != vrfId || it->second.aliased != aliased) {
            return std::nullopt;
        }
        const Found found{it->second.place, MatchAddrs::of(key.flow.src, key.flow.dst)};
        --counts_[std::size_t(found.place)];
        byMatch_.erase(it);
        if (aliased) {
            aliases_.erase(FlowAndVrfType{flow, vrfId});
        }
        return found;
    }

    std::size_t size() const { return byMatch_.size(); }
    // Records of the entries `place` holds.
    std::size_t count(Place place) const { return counts_[std::size_t(place)]; }

    // Calls f(connection, found) for every record.
    template <class F> void forEach(F&& f) const {
        for (const auto& [key, rec] : byMatch_) {
            FlowAndVrfType conn{key.flow, rec.vrfId};
            if (rec.aliased) {
                for (const auto& [c, k] : aliases_) {
                    if (k == key) {
                        conn = c;
                    }
                }
            }
            f(conn, Found{rec.place, MatchAddrs::of(key.flow.src, key.flow.dst)});
        }
    }

private:
    struct Record {
        Place place{};
        bool aliased = false;
        uint32_t vrfId = 0;
    };
    struct Key {
        FlowAndVrfType key;
        bool aliased;
    };

    FlowAndVrfType matchKey(const ConnTuple& flow, MatchAddrs addrs, uint32_t vrfId) const {
        return {ConnTuple{addrs.src(), addrs.dst(), flow.protocol}, vrfInMatch_ ? vrfId : 0};
    }
    // Where the connection's record would be, and whether through an alias.
    Key keyOf(const ConnTuple& flow, uint32_t vrfId) const {
        if (!aliases_.empty()) {
            if (auto a = aliases_.find(FlowAndVrfType{flow, vrfId}); a != aliases_.end()) {
                return {a->second, true};
            }
        }
        return {FlowAndVrfType{flow, vrfInMatch_ ? vrfId : 0}, false};
    }

    bool vrfInMatch_;
    std::unordered_map<FlowAndVrfType, Record> byMatch_;
    // Connections written with match addresses other than their flow's: to their match key.
    std::unordered_map<FlowAndVrfType, FlowAndVrfType> aliases_;
    std::array<uint32_t, 8> counts_{};
};

} // namespace VyrNat
