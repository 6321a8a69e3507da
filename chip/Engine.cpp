#include "chip/Engine.h"

#include <algorithm>
#include <cstring>

#include "chip/Check.h"

namespace VyrP4 {

const char* chipErrorStr(ChipError e) {
    switch (e) {
    case ChipError::ok:
        return "ok";
    case ChipError::tableFull:
        return "tableFull";
    case ChipError::noSysResources:
        return "noSysResources";
    case ChipError::invalidHandle:
        return "invalidHandle";
    case ChipError::staleHandle:
        return "staleHandle";
    case ChipError::noHitBits:
        return "noHitBits";
    case ChipError::entryExists:
        return "entryExists";
    }
    return "unknown";
}

TableError::TableError(ChipError error, const char* table)
    : std::runtime_error(std::string(table) + ": " + chipErrorStr(error)), error_(error),
      table_(table) {}

void throwTableError(ChipError error, const char* table) {
    if (error == ChipError::noSysResources) {
        throw NoSysResources(table);
    }
    if (error == ChipError::entryExists) {
        throw EntryExists(table);
    }
    VYR_CHIP_CHECK(error == ChipError::tableFull);
    throw TableFull(table);
}

std::string VyrSdkEntryHandle::str() const {
    return valid() ? std::to_string(slot) + "v" + std::to_string(version) : "none";
}

TableEngine::TableEngine(const TableDesc& desc, std::uint32_t capacity, std::uint32_t pipes)
    : desc_(desc), capacity_(capacity), pipes_(pipes), keyWords_(desc.match->keyWords()),
      dataWords_(desc.actionWords()), stride_(keyWords_ + 2 + dataWords_),
      index_(0, SlotHash{this}, SlotEq{this}) {
    VYR_CHIP_CHECK(pipes >= 1 && pipes <= kMaxPipes);
    if (desc.match->ternary) {
        exactBits_.assign(desc.match->valueWords, 0);
        for (const FieldDesc& f : desc.match->fields) {
            if (f.kind == MatchKind::exact) {
                exactBits_[f.word] |= Bits::mask(f.width) << f.shift;
            }
        }
    }
}

std::size_t TableEngine::SlotHash::operator()(std::uint32_t slot) const noexcept {
    return Bits::hashWords(engine->keyOf(slot), engine->keyWords_);
}

bool TableEngine::SlotEq::operator()(std::uint32_t a, std::uint32_t b) const noexcept {
    return std::memcmp(engine->keyOf(a), engine->keyOf(b),
                       engine->keyWords_ * sizeof(std::uint64_t)) == 0;
}

EntryView TableEngine::view(std::uint32_t slot) const {
    const std::uint64_t* p = slotPtr(slot);
    const std::uint64_t m = p[keyWords_];
    const auto hits = std::uint8_t(m >> kHitShift);
    return EntryView{p,
                     std::uint16_t(m & 0xffff),
                     p + keyWords_ + 2,
                     VyrSdkEntryHandle{slot, std::uint32_t(m >> 32)},
                     hits != 0,
                     hits};
}

std::optional<std::uint32_t> TableEngine::findSlot(const std::uint64_t* key) const {
    probe_ = key;
    auto it = index_.find(kProbe);
    probe_ = nullptr;
    if (it == index_.end()) {
        return std::nullopt;
    }
    return *it;
}

ChipError TableEngine::injectedFault() {
    if (failNext_ > 0) {
        --failNext_;
        ++injectedFaults_;
        return failNextKind_;
    }
    if (failProbability_ > 0) {
        // splitmix64: the same seed gives the same faults on every platform.
        std::uint64_t z = (rng_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        if (double(z >> 11) * 0x1.0p-53 < failProbability_) {
            ++injectedFaults_;
            return failProbabilityKind_;
        }
    }
    return ChipError::ok;
}

ChipError TableEngine::refused(ChipError e) {
    if (observer_) {
        observer_(*this, EntryChange::refused, nullptr, nullptr);
    }
    return e;
}

ChipError TableEngine::install(const std::uint64_t* key, std::uint16_t action,
                               const std::uint64_t* data, bool addOnly) {
    VYR_CHIP_CHECK(action < desc_.actions.size());
    const std::size_t words = desc_.actions[action]->words;
    const std::optional<std::uint32_t> found = findSlot(key);
    if (found && addOnly) {
        return refused(ChipError::entryExists);
    }
    if (!found || replaceFaults_) {
        if (ChipError e = injectedFault(); e != ChipError::ok) {
            return refused(e);
        }
    }
    std::uint32_t slot;
    // A replaced entry as it was, for the observer.
    std::optional<EntryView> before;
    std::vector<std::uint64_t> oldData;
    if (found) {
        slot = *found;
        if (observer_) {
            before = view(slot);
            oldData.assign(before->data, before->data + dataWords_);
            before->data = oldData.data();
        }
    } else {
        const std::uint32_t limit = reportFullAt_ ? std::min(*reportFullAt_, capacity_) : capacity_;
        if (index_.size() >= limit) {
            return refused(ChipError::tableFull);
        }
        std::uint32_t version = 1;
        if (!freeSlots_.empty()) {
            slot = freeSlots_.back();
            freeSlots_.pop_back();
            version = std::uint32_t(meta(slot) >> 32);
        } else {
            slot = slotCount_++;
            slots_.resize(std::size_t(slotCount_) * stride_);
        }
        std::uint64_t* p = slotPtr(slot);
        std::memcpy(p, key, keyWords_ * sizeof(std::uint64_t));
        p[keyWords_] = (std::uint64_t(version) << 32) | kLiveBit;
        p[keyWords_ + 1] = nextSeq_++;
        index_.insert(slot);
        if (desc_.match->ternary) {
            groupAdd(slot);
        }
    }
    std::uint64_t* p = slotPtr(slot);
    p[keyWords_] = (p[keyWords_] & ~std::uint64_t{0xffff}) | action;
    std::uint64_t* d = p + keyWords_ + 2;
    std::fill(d, d + dataWords_, 0);
    if (words) {
        std::memcpy(d, data, words * sizeof(std::uint64_t));
    }
    if (observer_) {
        const EntryView after = view(slot);
        observer_(*this, found ? EntryChange::replaced : EntryChange::added,
                  before ? &*before : nullptr, &after);
    }
    return ChipError::ok;
}

bool TableEngine::remove(const std::uint64_t* key) {
    const std::optional<std::uint32_t> found = findSlot(key);
    if (!found) {
        return false;
    }
    const std::uint32_t slot = *found;
    // The slot's words stay as they are until it is reused, so the view outlives the removal.
    const EntryView before = view(slot);
    if (desc_.match->ternary) {
        groupRemove(slot);
    }
    index_.erase(slot);
    std::uint32_t version = std::uint32_t(meta(slot) >> 32) + 1;
    meta(slot) = std::uint64_t(version ? version : 1) << 32;
    freeSlots_.push_back(slot);
    if (observer_) {
        observer_(*this, EntryChange::removed, &before, nullptr);
    }
    return true;
}

std::uint8_t TableEngine::pipeBits(std::uint32_t pipe) const {
    if (pipe == kAllPipes) {
        return std::uint8_t((1u << pipes_) - 1);
    }
    VYR_CHIP_CHECK(pipe < pipes_);
    return std::uint8_t(1u << pipe);
}

void TableEngine::hitPipesIs(std::uint32_t slot, std::uint8_t pipes) {
    const EntryView before = view(slot);
    if (before.hitPipes == pipes) {
        return;
    }
    meta(slot) =
        (meta(slot) & ~(std::uint64_t{0xff} << kHitShift)) | (std::uint64_t{pipes} << kHitShift);
    if (observer_) {
        const EntryView after = view(slot);
        observer_(*this, EntryChange::hit, &before, &after);
    }
}

std::optional<EntryView> TableEngine::find(const std::uint64_t* key) const {
    const std::optional<std::uint32_t> slot = findSlot(key);
    return slot ? std::optional<EntryView>(view(*slot)) : std::nullopt;
}

void TableEngine::effectiveMask(const std::uint64_t* key, std::uint64_t* out) const {
    const std::size_t vw = desc_.match->valueWords;
    for (std::size_t i = 0; i < vw; ++i) {
        out[i] = key[vw + i] | exactBits_[i];
    }
}

std::size_t TableEngine::maskedHash(const std::uint64_t* values, const std::uint64_t* mask) const {
    const std::size_t vw = desc_.match->valueWords;
    std::uint64_t masked[16];
    VYR_CHIP_CHECK(vw <= 16);
    for (std::size_t i = 0; i < vw; ++i) {
        masked[i] = values[i] & mask[i];
    }
    return Bits::hashWords(masked, vw);
}

void TableEngine::groupAdd(std::uint32_t slot) {
    const std::size_t vw = desc_.match->valueWords;
    std::vector<std::uint64_t> mask(vw);
    effectiveMask(keyOf(slot), mask.data());
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const MaskGroup& g) { return g.mask == mask; });
    if (it == groups_.end()) {
        groups_.push_back(MaskGroup{std::move(mask), {}});
        it = groups_.end() - 1;
    }
    it->byHash.emplace(maskedHash(keyOf(slot), it->mask.data()), slot);
}

void TableEngine::groupRemove(std::uint32_t slot) {
    const std::size_t vw = desc_.match->valueWords;
    std::vector<std::uint64_t> mask(vw);
    effectiveMask(keyOf(slot), mask.data());
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const MaskGroup& g) { return g.mask == mask; });
    VYR_CHIP_CHECK(it != groups_.end());
    auto [first, last] = it->byHash.equal_range(maskedHash(keyOf(slot), it->mask.data()));
    auto entry = std::find_if(first, last, [slot](const auto& kv) { return kv.second == slot; });
    VYR_CHIP_CHECK(entry != last);
    it->byHash.erase(entry);
    if (it->byHash.empty()) {
        groups_.erase(it);
    }
}

bool TableEngine::better(std::uint32_t a, std::uint32_t b) const {
    const std::size_t pw = desc_.match->priorityWord();
    const std::int32_t pa = Bits::priorityOf(keyOf(a)[pw]);
    const std::int32_t pb = Bits::priorityOf(keyOf(b)[pw]);
    if (pa != pb) {
        return desc_.priorityOrder == PriorityOrder::lowerWins ? pa < pb : pa > pb;
    }
    return seq(a) < seq(b);
}

std::optional<std::uint32_t> TableEngine::lookupSlot(const std::uint64_t* packet) const {
    if (!desc_.match->ternary) {
        return findSlot(packet);
    }
    const std::size_t vw = desc_.match->valueWords;
    std::optional<std::uint32_t> best;
    for (const MaskGroup& g : groups_) {
        auto [first, last] = g.byHash.equal_range(maskedHash(packet, g.mask.data()));
        for (auto it = first; it != last; ++it) {
            const std::uint64_t* k = keyOf(it->second);
            bool match = true;
            for (std::size_t i = 0; i < vw && match; ++i) {
                match = ((k[i] ^ packet[i]) & g.mask[i]) == 0;
            }
            if (match && (!best || better(it->second, *best))) {
                best = it->second;
            }
        }
    }
    return best;
}

std::optional<EntryView> TableEngine::lookup(const std::uint64_t* packet) const {
    const std::optional<std::uint32_t> slot = lookupSlot(packet);
    return slot ? std::optional<EntryView>(view(*slot)) : std::nullopt;
}

std::optional<EntryView> TableEngine::packetIs(const std::uint64_t* packet, std::uint32_t pipe) {
    const std::uint8_t bit = pipeBits(pipe);
    const std::optional<std::uint32_t> slot = lookupSlot(packet);
    if (!slot) {
        return std::nullopt;
    }
    if (desc_.hitBits) {
        hitPipesIs(*slot, std::uint8_t(view(*slot).hitPipes | bit));
    }
    return view(*slot);
}

std::vector<EntryView> TableEngine::entries() const {
    std::vector<std::uint32_t> live(index_.begin(), index_.end());
    const bool ternary = desc_.match->ternary;
    std::sort(live.begin(), live.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (ternary) {
            const std::size_t pw = desc_.match->priorityWord();
            if (keyOf(a)[pw] != keyOf(b)[pw]) {
                return better(a, b);
            }
        }
        return std::lexicographical_compare(keyOf(a), keyOf(a) + keyWords_, keyOf(b),
                                            keyOf(b) + keyWords_);
    });
    std::vector<EntryView> out;
    out.reserve(live.size());
    for (std::uint32_t slot : live) {
        out.push_back(view(slot));
    }
    return out;
}

ChipError TableEngine::checkHandle(VyrSdkEntryHandle h) const {
    if (!desc_.hitBits) {
        return ChipError::noHitBits;
    }
    if (!h.valid() || h.slot >= slotCount_) {
        return ChipError::invalidHandle;
    }
    const std::uint64_t m = meta(h.slot);
    if (!(m & kLiveBit) || std::uint32_t(m >> 32) != h.version) {
        return ChipError::staleHandle;
    }
    return ChipError::ok;
}

ChipError TableEngine::hitBitIs(VyrSdkEntryHandle h, bool hit, std::uint32_t pipe) {
    const std::uint8_t bits = pipeBits(pipe);
    const ChipError e = checkHandle(h);
    if (e == ChipError::ok) {
        const std::uint8_t was = view(h.slot).hitPipes;
        hitPipesIs(h.slot, std::uint8_t(hit ? was | bits : was & ~bits));
    }
    return e;
}

ChipError TableEngine::hitBit(VyrSdkEntryHandle h, bool& hit, std::uint32_t pipe) const {
    const std::uint8_t bits = pipeBits(pipe);
    const ChipError e = checkHandle(h);
    hit = e == ChipError::ok && (view(h.slot).hitPipes & bits) != 0;
    return e;
}

void TableEngine::hitBitsClear(std::uint32_t pipe) {
    const std::uint8_t bits = pipeBits(pipe);
    for (std::uint32_t slot : index_) {
        hitPipesIs(slot, std::uint8_t(view(slot).hitPipes & ~bits));
    }
}

void TableEngine::hitBitsScan(std::vector<std::vector<VyrSdkEntryHandle>>& perPipe) {
    VYR_CHIP_CHECK(perPipe.size() == pipes_);
    for (std::uint32_t slot = 0; slot < slotCount_; ++slot) {
        const std::uint64_t m = meta(slot);
        const auto hits = std::uint8_t(m >> kHitShift);
        if (!(m & kLiveBit) || hits == 0) {
            continue;
        }
        const VyrSdkEntryHandle handle{slot, std::uint32_t(m >> 32)};
        for (std::uint32_t p = 0; p < pipes_; ++p) {
            if (hits >> p & 1) {
                perPipe[p].push_back(handle);
            }
        }
        hitPipesIs(slot, 0);
    }
}

void TableEngine::failNextWritesIs(std::uint32_t writes, ChipError kind) {
    VYR_CHIP_CHECK(kind == ChipError::tableFull || kind == ChipError::noSysResources);
    failNext_ = writes;
    failNextKind_ = kind;
}

void TableEngine::failProbabilityIs(double probability, std::uint64_t seed, ChipError kind) {
    VYR_CHIP_CHECK(kind == ChipError::tableFull || kind == ChipError::noSysResources);
    VYR_CHIP_CHECK(probability >= 0 && probability <= 1);
    failProbability_ = probability;
    failProbabilityKind_ = kind;
    rng_ = seed;
}

void TableEngine::faultsClear() {
    failNext_ = 0;
    failProbability_ = 0;
    reportFullAt_.reset();
    replaceFaults_ = true;
}

std::string TableEngine::entryStr(const EntryView& e) const {
    std::string s = formatMatch(*desc_.match, e.key);
    s += " => ";
    s += formatAction(*desc_.actions[e.action], e.data);
    if (desc_.hitBits) {
        s += " handle=" + e.handle.str() + (e.hit ? " hit" : "");
        // A single-pipe chip prints as it always has; others also say which pipes hit.
        if (e.hit && pipes_ > 1) {
            std::string which;
            for (std::uint32_t p = 0; p < pipes_; ++p) {
                if (e.hitPipes >> p & 1) {
                    which += (which.empty() ? "" : ",") + std::to_string(p);
                }
            }
            s += "(pipes " + which + ")";
        }
    }
    return s;
}

std::string TableEngine::dump() const {
    std::string s = std::string(desc_.name) + ": " + std::to_string(entryCount()) + " of " +
                    std::to_string(capacity_) + " entries\n";
    for (const EntryView& e : entries()) {
        s += "  " + entryStr(e) + "\n";
    }
    return s;
}

} // namespace VyrP4
