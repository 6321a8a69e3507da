#pragma once
// The typed layer over the table engine, shared by every generated class: the base of match and
// action specs, the entry type, and the table class template whose small non-virtual API the
// table managers use (entryIs, entryDel, entry).

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "chip/Check.h"
#include "chip/Engine.h"
#include "chip/Layout.h"
#include "chip/TableKey.h"

namespace VyrP4 {

// The packed words of a match or action spec; specs compare, order and hash field by field
// (the words hold the fields in order, unused bits zero).
template <class Derived, std::size_t Words> class SpecBase {
public:
    static constexpr std::size_t kWords = Words;
    const std::array<std::uint64_t, Words>& words() const { return w_; }
    static Derived fromWords(const std::uint64_t* w) {
        Derived d;
        std::copy_n(w, Words, static_cast<SpecBase&>(d).w_.begin());
        return d;
    }
    std::size_t hash() const { return Bits::hashWords(w_.data(), Words); }
    std::string str() const {
        if constexpr (requires { Derived::layout().valueWords; }) {
            return std::string(Derived::layout().className) + "(" +
                   formatMatch(Derived::layout(), w_.data()) + ")";
        } else {
            return formatAction(Derived::layout(), w_.data());
        }
    }
    bool operator==(const SpecBase&) const = default;
    auto operator<=>(const SpecBase&) const = default;

protected:
    std::array<std::uint64_t, Words> w_{};
};

// A match spec with one action spec of the table's actions.
template <class M, class A> class TableEntry {
public:
    TableEntry() = default;
    TableEntry(M match, A action) : match_(std::move(match)), action_(std::move(action)) {}
    const M& match() const { return match_; }
    const A& action() const { return action_; }
    void matchIs(const M& m) { match_ = m; }
    void actionIs(const A& a) { action_ = a; }
    // The action as the given spec class, or null when the entry holds another action.
    template <class T> const T* actionIf() const { return std::get_if<T>(&action_); }
    std::string str() const {
        return match_.str() + " => " + std::visit([](const auto& a) { return a.str(); }, action_);
    }
    std::size_t hash() const {
        const std::size_t h = std::visit([](const auto& a) { return a.hash(); }, action_);
        return match_.hash() ^ (h + 0x9e3779b97f4a7c15ull + action_.index());
    }
    bool operator==(const TableEntry&) const = default;

private:
    M match_;
    A action_;
};

// One P4 table as the managers see it. Not owning the entries: they live in the chip's engine,
// which outlives every table object made for it.
template <class M, class... As> class TypedTable {
public:
    using MatchSpec = M;
    using Action = std::variant<As...>;
    using Entry = TableEntry<M, Action>;

    explicit TypedTable(std::shared_ptr<TableEngine> engine) : engine_(std::move(engine)) {
        VYR_CHIP_CHECK(engine_ && engine_->desc().match == &M::layout());
        VYR_CHIP_CHECK(engine_->desc().actions.size() == sizeof...(As));
        const ActionLayout* const expected[] = {&As::layout()...};
        for (std::size_t i = 0; i < sizeof...(As); ++i) {
            VYR_CHIP_CHECK(engine_->desc().actions[i] == expected[i]);
        }
    }

    std::string name() const { return engine_->name(); }
    std::uint32_t capacity() const { return engine_->capacity(); }
    std::size_t entryCount() const { return engine_->entryCount(); }

    // Installs the entry, or replaces the action of the entry with the same match spec.
    // Throws TableFull (no room) or NoSysResources; the table is then unchanged.
    void entryIs(const Entry& e) { entryIs(e.match(), e.action()); }
    void entryIs(const M& match, const Action& action) { write(match, action, false); }
    // Installs a new entry only: throws EntryExists when the match spec is present, TableFull
    // or NoSysResources as entryIs does.
    void entryAdd(const M& match, const Action& action) { write(match, action, true); }
    // Removes the entry with this match spec, if any.
    void entryDel(const M& match) { engine_->remove(match.words().data()); }
    std::optional<Entry> entry(const M& match) const {
        return toEntry(engine_->find(match.words().data()));
    }
    // The entry that a packet with the field values of `packet` hits (masks and priority of
    // `packet` are ignored); packetIs also sets that entry's hit bit of the packet's pipe.
    std::optional<Entry> lookup(const M& packet) const {
        return toEntry(engine_->lookup(packet.words().data()));
    }
    std::optional<Entry> packetIs(const M& packet, std::uint32_t pipe = 0) {
        return toEntry(engine_->packetIs(packet.words().data(), pipe));
    }
    // The chip's handle of the entry; invalid when there is none.
    VyrSdkEntryHandle entryHandle(const M& match) const {
        const auto v = engine_->find(match.words().data());
        return v ? v->handle : VyrSdkEntryHandle{};
    }
    // See TableEngine: without a pipe, a hit marks pipe 0, a clear clears every pipe and a read
    // answers for any pipe.
    ChipError hitBitIs(VyrSdkEntryHandle h, bool hit) { return engine_->hitBitIs(h, hit); }
    ChipError hitBitIs(VyrSdkEntryHandle h, bool hit, std::uint32_t pipe) {
        return engine_->hitBitIs(h, hit, pipe);
    }
    ChipError hitBit(VyrSdkEntryHandle h, bool& hit) const { return engine_->hitBit(h, hit); }
    ChipError hitBit(VyrSdkEntryHandle h, bool& hit, std::uint32_t pipe) const {
        return engine_->hitBit(h, hit, pipe);
    }
    // Every entry, in the engine's stable order.
    std::vector<Entry> entries() const {
        std::vector<Entry> out;
        for (const EntryView& v : engine_->entries()) {
            out.push_back(*toEntry(v));
        }
        return out;
    }
    TableEngine& engine() const { return *engine_; }

private:
    void write(const M& match, const Action& action, bool addOnly) {
        const ChipError e = std::visit(
            [&](const auto& a) {
                return engine_->install(match.words().data(), std::uint16_t(action.index()),
                                        a.words().data(), addOnly);
            },
            action);
        if (e != ChipError::ok) {
            throwTableError(e, engine_->name());
        }
    }

    using Maker = Action (*)(const std::uint64_t*);
    template <std::size_t... I>
    static constexpr std::array<Maker, sizeof...(I)> makers(std::index_sequence<I...>) {
        return {[](const std::uint64_t* d) -> Action {
            return Action(std::in_place_index<I>,
                          std::variant_alternative_t<I, Action>::fromWords(d));
        }...};
    }
    static std::optional<Entry> toEntry(const std::optional<EntryView>& v) {
        if (!v) {
            return std::nullopt;
        }
        static constexpr auto kMakers = makers(std::index_sequence_for<As...>{});
        return Entry(M::fromWords(v->key), kMakers[v->action](v->data));
    }

    std::shared_ptr<TableEngine> engine_;
};

template <class D, std::size_t W>
std::ostream& operator<<(std::ostream& o, const SpecBase<D, W>& s) {
    return o << s.str();
}
template <class M, class A> std::ostream& operator<<(std::ostream& o, const TableEntry<M, A>& e) {
    return o << e.str();
}

} // namespace VyrP4

template <class M, class A> struct std::hash<VyrP4::TableEntry<M, A>> {
    std::size_t operator()(const VyrP4::TableEntry<M, A>& e) const noexcept { return e.hash(); }
};
