// Random twice-NAT translations against a model of what the host asked for: with ports on
// both, one or no side, over few addresses so that address pairs, key ids and rewrites are
// shared, with duplicates, next-hop updates, deletes of what is not there, small tables and
// faults on new entries. After every operation the invariants hold and every translation taken
// is what the chip does to its packets: the address-only lookup, the port lookup and the rewrite,
// followed as the pipeline follows them, give the translated addresses, ports, checksum delta
// and next hop. At the end everything is deleted and only the fixed entries are left.

#include "common/VyrNatUtils.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/support/AgentFixture.h"
#include "tests/support/Invariants.h"
#include "tests/support/RandomRun.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

using namespace VyrNat;
using TestSupport::BootedAgent;

struct Key {
    VrfId vrf;
    IpAndPort srcOld, dstOld;
    auto operator<=>(const Key&) const = default;
};
struct Translation {
    IpAndPort srcNew, dstNew;
    uint8_t proto;
    uint32_t nextHop;
    bool ecmp;
    uint32_t profile;
};

// The fields every hit action has, whichever of its variants the entry holds.
struct Hit {
    uint16_t rewriteId = 0;
    uint8_t protocolType = 0;
    uint32_t nextHop = 0;
    bool ecmp = false;
    bool fragment = false;
};
template <class Variant> Hit hitOf(const Variant& v) {
    return std::visit(
        [](const auto& a) {
            Hit h{a.rewriteId(), a.protocolType()};
            if constexpr (requires { a.ecmpId(); }) {
                h.nextHop = a.ecmpId();
                h.ecmp = true;
            } else {
                h.nextHop = a.nextHopId();
            }
            if constexpr (requires { a.fragment(); }) {
                h.fragment = a.fragment();
            }
            return h;
        },
        v);
}

class RandomTwice {
public:
    RandomTwice(Scenario::Scenario s, uint64_t seed) : rng_(seed), agent_(std::move(s)) {
        agent_.boot();
        mgr_ = agent_.owner()->tableMgrTwice();
        for (const char* t : {"twiceNatAddrOnly", "twiceNatAddrPort", "twiceNatAddrSrcPort",
                              "twiceNatAddrDstPort", "twiceNatRewrite"}) {
            faults_.add(*agent_.chip->table(t));
        }
        resultCheck_ = agent_.chip->table("twiceNatResultCheck")->dump();
    }

    std::string step() {
        if (pick(400) == 0) {
            faults_.change(rng_, 0.1, false);
        }
        const Key key = randomKey();
        auto it = model_.find(key);
        const size_t what = pick(10);
        if (it != model_.end() && what < 3) {
            remove(key);
            return "delete " + keyText(key);
        }
        if (it == model_.end() && what == 0) {
            // Nothing there, though another translation may rewrite alike: nothing may change.
            const Translation t = randomTranslation(key);
            mgr_->deleteTwiceNatTranslation(key.srcOld, t.srcNew, key.dstOld, t.dstNew, t.profile,
                                            key.vrf);
            return "delete of nothing " + keyText(key);
        }
        if (it != model_.end() && what < 5) {
            Translation t = it->second;
            t.nextHop = uint32_t(1 + pick(4));
            t.ecmp = pick(2) == 0;
            EXPECT_EQ(call(key, t, true), NatHwResult::success) << "an update replaces";
            it->second = t;
            return "update " + keyText(key);
        }
        const Translation t = randomTranslation(key);
        const auto counts = mgr_->recordCounts();
        const std::size_t entries = agent_.chip->entryCount();
        const NatHwResult r = call(key, t, false);
        if (it != model_.end()) {
            const bool same = it->second.srcNew == t.srcNew && it->second.dstNew == t.dstNew &&
                              getProtocolType(it->second.proto) == getProtocolType(t.proto);
            EXPECT_EQ(r, same ? NatHwResult::success : NatHwResult::duplicate) << keyText(key);
        } else if (r == NatHwResult::success) {
            model_[key] = t;
        }
        if (r != NatHwResult::success || it != model_.end()) {
            ++refused_;
            EXPECT_EQ(agent_.chip->entryCount(), entries);
            for (std::size_t i = 0; i < counts.size(); ++i) {
                EXPECT_EQ(mgr_->recordCounts()[i].count, counts[i].count) << counts[i].label;
            }
        }
        return "add " + keyText(key);
    }

    std::string check() const {
        std::string out = TestSupport::twiceInvariants(*mgr_);
        for (const auto& [key, t] : model_) {
            out += followed(key, t);
        }
        if (agent_.chip->table("twiceNatResultCheck")->dump() != resultCheck_) {
            out += "result-check table changed\n";
        }
        return out;
    }

    void removeAll() {
        faults_.clear();
        while (!model_.empty()) {
            remove(model_.begin()->first);
        }
    }
    std::string leftOver() const { return agent_.leftOver(); }
    uint64_t refused() const { return refused_; }
    uint64_t injected() const { return faults_.injected(); }
    std::size_t size() const { return model_.size(); }

private:
    size_t pick(size_t n) { return size_t(rng_() % n); }
    IpAndPort endpoint(uint8_t net, uint16_t port) {
        return {IpAddr(net, 0, 0, uint8_t(1 + pick(2))), pick(3) == 0 ? uint16_t(0) : port};
    }
    Key randomKey() {
        return {uint32_t(1 + pick(2)), endpoint(10, uint16_t(80 + pick(2))), endpoint(20, 443)};
    }
    // Translated ports only where the untranslated side has one: the helper passes pairs so.
    // Ports that one translation keeps and another changes to make rewrites meet.
    Translation randomTranslation(const Key& k) {
        static const uint16_t ports[] = {80, 81, 443, 9000};
        auto translated = [&](uint8_t net, IpAndPort old) {
            const uint16_t port = ports[pick(4)];
            return IpAndPort{IpAddr(net, 1, 1, uint8_t(1 + pick(2))),
                             old.port ? port : uint16_t(0)};
        };
        static const uint8_t protos[] = {6, 17, 1};
        return {translated(1, k.srcOld),
                translated(2, k.dstOld),
                protos[pick(3)],
                uint32_t(1 + pick(4)),
                pick(3) == 0,
                uint32_t(1 + pick(2))};
    }
    static std::string keyText(const Key& k) {
        return std::to_string(k.vrf) + " " + k.srcOld.toString() + " -> " + k.dstOld.toString();
    }
    NatHwResult call(const Key& k, const Translation& t, bool update) {
        return mgr_->updateTwiceNatTranslation(k.srcOld, t.srcNew, k.dstOld, t.dstNew, t.proto,
                                               t.nextHop, t.ecmp, t.profile, k.vrf, update, false);
    }
    void remove(const Key& k) {
        const Translation t = model_.at(k);
        mgr_->deleteTwiceNatTranslation(k.srcOld, t.srcNew, k.dstOld, t.dstNew, t.profile, k.vrf);
        model_.erase(k);
    }

    // The chip's lookups for a packet of the translation, as the pipeline chains them.
    std::string followed(const Key& k, const Translation& t) const {
        const std::string what = keyText(k) + ": ";
        VyrP4::TwiceNatAddrOnlyMatchSpec ao;
        ao.l3InfoVrfIdIs(k.vrf);
        ao.outerIpv4HdrSipIs(k.srcOld.ip.value);
        ao.outerIpv4HdrDipIs(k.dstOld.ip.value);
        const auto aoHit = mgr_->addrOnlyTable()->lookup(ao);
        if (!aoHit) {
            return what + "address-only miss\n";
        }
        Hit hit = hitOf(aoHit->action());
        if (k.srcOld.port != 0 || k.dstOld.port != 0) {
            const uint16_t keyId =
                std::visit([](const auto& a) { return a.keyId(); }, aoHit->action());
            const AddrPortKey pk{keyId, k.srcOld.port, k.dstOld.port};
            std::optional<Hit> port;
            if (pk.sport && pk.dport) {
                const auto e = mgr_->addrPortTable()->lookup(
                    VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrPortMatchSpec>(pk));
                port = e ? std::optional(hitOf(e->action())) : std::nullopt;
            } else if (pk.sport) {
                const auto e = mgr_->addrSrcPortTable()->lookup(
                    VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrSrcPortMatchSpec>(pk));
                port = e ? std::optional(hitOf(e->action())) : std::nullopt;
            } else {
                const auto e = mgr_->addrDstPortTable()->lookup(
                    VyrNatTableMgrTwice::portMatchSpec<VyrP4::TwiceNatAddrDstPortMatchSpec>(pk));
                port = e ? std::optional(hitOf(e->action())) : std::nullopt;
            }
            if (!port) {
                return what + "port miss\n";
            }
            hit = *port;
        } else if (hit.fragment) {
            return what + "the address-only action is a fragment's\n";
        }
        if (hit.protocolType != uint8_t(getProtocolType(t.proto)) || hit.nextHop != t.nextHop ||
            hit.ecmp != t.ecmp) {
            return what + "protocol or next hop wrong\n";
        }
        VyrP4::TwiceNatRewriteMatchSpec rw;
        rw.twiceMdRewriteIdIs(hit.rewriteId);
        const auto rewrite = mgr_->rewriteTable()->lookup(rw);
        if (!rewrite) {
            return what + "rewrite miss\n";
        }
        // The packet as the rewrite leaves it.
        IpAndPort src = k.srcOld, dst = k.dstOld;
        uint16_t delta = 0;
        std::visit(
            [&](const auto& a) {
                src.ip = IpAddr(a.translatedSip());
                dst.ip = IpAddr(a.translatedDip());
                delta = a.checksumDelta();
                if constexpr (requires { a.translatedSport(); }) {
                    src.port = a.translatedSport();
                }
                if constexpr (requires { a.translatedDport(); }) {
                    dst.port = a.translatedDport();
                }
            },
            rewrite->action());
        const uint16_t want = calculateChecksumDeltaAddrPortSrcDst(
            k.srcOld.ip.value, t.srcNew.ip.value, k.srcOld.port, t.srcNew.port, k.dstOld.ip.value,
            t.dstNew.ip.value, k.dstOld.port, t.dstNew.port);
        if (src != t.srcNew || dst != t.dstNew || delta != want) {
            return what + "rewritten to " + src.toString() + " -> " + dst.toString() + "\n";
        }
        return "";
    }

    std::mt19937_64 rng_;
    BootedAgent agent_;
    VyrNatTableMgrTwice* mgr_ = nullptr;
    TestSupport::Faults faults_;
    std::string resultCheck_;
    std::map<Key, Translation> model_;
    uint64_t refused_ = 0;
};

TEST(TwiceMgrRandom, TranslationsAreWhatTheChipDoesToTheirPackets) {
    auto small = BootedAgent::scenarioFor("default", {{"twiceNatAddrOnlyTableSize", "6"},
                                                      {"twiceNatAddrPortTableSize", "5"},
                                                      {"twiceNatAddrSrcPortTableSize", "3"},
                                                      {"twiceNatAddrDstPortTableSize", "3"},
                                                      {"twiceNatRewriteTableSize", "8"}});
    small.vyrNatConfig.twiceNatAddrOnlyNonFragmentReserve = 3;
    const unsigned first = TestSupport::testSeed(1);
    for (unsigned seed = first; seed < first + 5; ++seed) {
        SCOPED_TRACE(TestSupport::seedNote(seed));
        RandomTwice r(small, seed);
        std::size_t most = 0;
        TestSupport::randomSteps(
            10000,
            [&] {
                most = std::max(most, r.size());
                return r.step();
            },
            [&] { return r.check(); });
        EXPECT_GT(r.injected(), 0u);
        EXPECT_GT(r.refused(), 500u);
        EXPECT_GE(most, 6u);
        r.removeAll();
        ASSERT_EQ(r.check(), "");
        EXPECT_EQ(r.leftOver(), "");
    }
}

} // namespace
