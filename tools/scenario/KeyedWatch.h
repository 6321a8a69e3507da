#pragma once
// Follows one kind of translation that the NAT status and its hardware status key alike: one
// collection holds what the control plane asks for, two others whether the hardware holds it
// and why not. Reactors on all three mark the keys that changed, so that a report costs what
// changed; dynamic connections, twice-NAT translations and NAT flows are each one of these.

#include "host/Entity.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace Scenario {

// "programmed", "NOT programmed" or "NOT programmed (WHY)".
std::string hwStateText(bool programmed, const std::string& reason);

// The lines of one report. Beyond `most` lines of one group the rest are counted; the lines
// listed are the first by key, then by text.
struct StatusLines {
    explicit StatusLines(std::size_t most) : most(most) {}
    std::size_t most;
    std::vector<std::pair<std::string, bool>> shown; // a line, and whether it says programmed
    std::vector<std::string> withdrawn;
    std::size_t moreProgrammed = 0;
    std::size_t moreNotProgrammed = 0;
    std::size_t moreWithdrawn = 0;

    bool roomToShow() const { return shown.size() < most; }
    bool roomToWithdraw() const { return withdrawn.size() < most; }
    // Sorted, cut to `most` per group, with a line counting what was cut.
    std::string str();
};

class KeyedWatchBase {
public:
    virtual ~KeyedWatchBase() = default;
    // Adds what changed since the last call to `lines`.
    virtual void take(StatusLines& lines) = 0;
    virtual bool changed() const = 0;

    std::size_t held() const { return held_; } // keys the hardware status holds
    std::size_t programmed() const { return programmed_; }
    // Keys the hardware status held programmed at some point, and those it only ever held not
    // programmed.
    std::size_t everProgrammed() const { return ever_; }
    std::size_t neverProgrammed() const { return seen_ - ever_; }

protected:
    std::size_t held_ = 0;
    std::size_t programmed_ = 0;
    std::size_t seen_ = 0;
    std::size_t ever_ = 0;
};

// S holds the asked-for collection of K to V; H the hardware's programmed flag and reason.
// The collections are ordered ones unless given.
template <class S, class H, class K, class V, class WantC = Ert::Collection<K, V>,
          class HeldC = Ert::Collection<K, bool>, class WhyC = Ert::Collection<K, std::string>>
class KeyedWatch final : public KeyedWatchBase {
public:
    // Describes a translation; `value` is null when the status does not hold it.
    using Describe = std::string (*)(const K& key, const V* value);
    using Want = WantC S::*;
    using Held = HeldC H::*;
    using Why = WhyC H::*;

    KeyedWatch(Ert::Ptr<S> status, Want want, Ert::Ptr<H> hw, Held held, Why why, Describe describe)
        : status_(std::move(status)), hw_(std::move(hw)), want_(want), heldBy_(held), why_(why),
          describe_(describe), statusReactor_(*this, status_, want),
          hwReactor_(*this, hw_, held, why) {
        for (const auto& entry : (*hw_).*heldBy_) {
            dirty_.insert(entry.first);
        }
    }

    bool changed() const override { return !dirty_.empty(); }

    void take(StatusLines& lines) override {
        for (const K& key : dirty_) {
            auto it = entries_.find(key);
            const Known* was =
                it != entries_.end() && it->second.known ? &*it->second.known : nullptr;
            std::optional<Known> is = now(key);
            const bool sameLine = was && is && was->value == is->value;
            if (was && !sameLine) {
                if (lines.roomToWithdraw()) {
                    lines.withdrawn.push_back("  " + text(key, was->value) + ": withdrawn\n");
                } else {
                    ++lines.moreWithdrawn;
                }
            }
            if (is &&
                (!sameLine || was->programmed != is->programmed || was->reason != is->reason)) {
                if (lines.roomToShow()) {
                    lines.shown.emplace_back("  " + text(key, is->value) + ": " +
                                                 hwStateText(is->programmed, is->reason) + "\n",
                                             is->programmed);
                } else {
                    ++(is->programmed ? lines.moreProgrammed : lines.moreNotProgrammed);
                }
            }
            if (was) {
                --held_;
                programmed_ -= was->programmed;
            }
            if (!is) {
                if (was) {
                    it->second.known.reset();
                }
                continue;
            }
            if (it == entries_.end()) {
                it = entries_.try_emplace(key).first;
                ++seen_;
            }
            ++held_;
            programmed_ += is->programmed;
            if (is->programmed && !it->second.everProgrammed) {
                it->second.everProgrammed = true;
                ++ever_;
            }
            it->second.known = std::move(is);
        }
        dirty_.clear();
    }

private:
    // What was last reported of a key.
    struct Known {
        std::optional<V> value;
        bool programmed = false;
        std::string reason;
    };
    struct Entry {
        std::optional<Known> known; // none while the hardware status does not hold the key
        bool everProgrammed = false;
    };

    class StatusReactor : public Ert::Reactor<S> {
    public:
        StatusReactor(KeyedWatch& w, Ert::Ptr<S> s, Want want) {
            this->onEntry(want, [&w](const K& k) { w.dirty_.insert(k); });
            this->follow(std::move(s));
        }
    };
    class HwReactor : public Ert::Reactor<H> {
    public:
        HwReactor(KeyedWatch& w, Ert::Ptr<H> h, Held held, Why why) {
            this->onEntry(held, [&w](const K& k) { w.dirty_.insert(k); });
            this->onEntry(why, [&w](const K& k) { w.dirty_.insert(k); });
            this->follow(std::move(h));
        }
    };

    std::optional<Known> now(const K& key) const {
        const bool* programmed = ((*hw_).*heldBy_).find(key);
        if (!programmed) {
            return std::nullopt;
        }
        const V* value = ((*status_).*want_).find(key);
        const std::string* why = ((*hw_).*why_).find(key);
        return Known{value ? std::optional<V>(*value) : std::nullopt, *programmed,
                     why ? *why : std::string()};
    }

    std::string text(const K& key, const std::optional<V>& value) const {
        return describe_(key, value ? &*value : nullptr);
    }

    Ert::Ptr<S> status_;
    Ert::Ptr<H> hw_;
    Want want_;
    Held heldBy_;
    Why why_;
    Describe describe_;
    std::set<K> dirty_;
    std::map<K, Entry> entries_; // every key the hardware status held, kept for the totals
    StatusReactor statusReactor_;
    HwReactor hwReactor_;
};

} // namespace Scenario
