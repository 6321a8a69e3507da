// The NAT helper's dynamic, twice-NAT and flow operations called directly on a booted agent:
// which entries each call leaves in the chip, and the statistics it raises.

#include "tables/dynamic/VyrNatTableMgrDynamic.h"
#include "tables/flow/VyrNatTableMgrNatFlow.h"
#include "tables/static/VyrNatTableMgrStatic.h"
#include "tables/twice/VyrNatTableMgrTwice.h"
#include "tests/helper/NatTestUtil.h"

#include <set>
#include <tuple>

namespace {

using namespace HelperTest;
using Ip::Nat::NatHwResult;
using VyrNat::NatNextHopInfo;

Ip::ConnTuple tuple(Ip::IpAndPort src, Ip::IpAndPort dst, uint8_t proto = 6) {
    return {src, dst, proto};
}

// The fragment entries of the static ACL table: (address, mask) of each entry with the
// fragment bit set.
template <class Table> std::set<std::pair<std::string, uint32_t>> fragmentAcls(const Table& t) {
    std::set<std::pair<std::string, uint32_t>> out;
    for (const auto& e : t.entries()) {
        const auto& m = e.match();
        if (m.ingMdIpv4Fragment() == 1) {
            if constexpr (requires { m.outerIpv4HdrSip(); }) {
                out.emplace(Ip::IpAddr(m.outerIpv4HdrSip()).toString(), m.outerIpv4HdrSipMask());
            } else {
                out.emplace(Ip::IpAddr(m.outerIpv4HdrDip()).toString(), m.outerIpv4HdrDipMask());
            }
        }
    }
    return out;
}

TEST(NatHelperDynamic, SourceTranslationsWriteAFragmentEntryOnlyWithPortsAndOnlyWhenProgrammed) {
    NatAgent a("default");
    auto& h = a.helper();
    auto& st = *a.owner().tableMgrStatic();
    auto& dyn = *a.owner().tableMgrDynamic();
    const auto peer = ipp("198.51.100.7", 443);

    // Address-only: the dynamic address-only entry and nothing in the static tables.
    const auto anyPeer = tuple(ipp("10.0.0.9"), ipp("0.0.0.0"), 0);
    EXPECT_TRUE(h.addDynamicSrcIpTranslation(anyPeer, ipp("10.0.0.9"), ipp("0.0.0.0"),
                                             ipp("192.0.2.9"), 1, false, 0));
    EXPECT_EQ(a.entries("dynamicAddrOnlySnat"), 1u);
    EXPECT_EQ(a.entries("addrOnlySnat"), 0u);
    EXPECT_EQ(a.entries("staticSnatAcl"), 0u);

    // With ports: the connection's entry, and the fragment entry under the peer's address.
    const auto flow = tuple(ipp("10.0.0.5", 1024), peer);
    EXPECT_TRUE(
        h.addDynamicSrcIpTranslation(flow, flow.src, peer, ipp("192.0.2.1", 3000), 1, false, 0));
    EXPECT_EQ(a.entries("addrOnlySnat"), 1u);
    EXPECT_EQ(fragmentAcls(*st.staticSnatAclTable()),
              (std::set<std::pair<std::string, uint32_t>>{{"198.51.100.7", 0xFFFFFFFF}}));

    // A refused connection writes no fragment entry, and still counts.
    dyn.forceHwErrorIs(true);
    const auto refused = tuple(ipp("10.0.0.6", 1024), ipp("198.51.100.8", 443));
    EXPECT_FALSE(h.addDynamicSrcIpTranslation(refused, refused.src, refused.dst,
                                              ipp("192.0.2.1", 3001), 1, false, 0));
    dyn.forceHwErrorIs(false);
    EXPECT_EQ(a.entries("addrOnlySnat"), 1u);
    EXPECT_EQ(fragmentAcls(*st.staticSnatAclTable()).size(), 1u);
    // Its delete finds nothing and leaves the other connection's fragment entry alone.
    EXPECT_TRUE(h.deleteDynamicSrcIpTranslation(refused, refused.src, refused.dst,
                                                ipp("192.0.2.1", 3001), 1, false, 0));
    EXPECT_EQ(a.entries("addrOnlySnat"), 1u);

    EXPECT_EQ(h.dynSrcAdd(), 3u);
    EXPECT_EQ(h.dynAdd(), 3u);
    EXPECT_EQ(h.dynSrcDel(), 1u);
    EXPECT_EQ(h.dynDstAdd() + h.dynDstUpd() + h.dynDstDel(), 0u);

    EXPECT_TRUE(
        h.deleteDynamicSrcIpTranslation(flow, flow.src, peer, ipp("192.0.2.1", 3000), 1, false, 0));
    EXPECT_TRUE(h.deleteDynamicSrcIpTranslation(anyPeer, ipp("10.0.0.9"), ipp("0.0.0.0"),
                                                ipp("192.0.2.9"), 1, false, 0));
    EXPECT_EQ(h.dynDel(), 3u);
    EXPECT_EQ(a.leftOver(), "");

    // A NAT profile the chip does not have reaches no table.
    const uint16_t beyond = uint16_t(a.owner().profileCapabilities().natProfileTableSize());
    EXPECT_FALSE(h.addDynamicSrcIpTranslation(flow, flow.src, peer, ipp("192.0.2.1", 3000), beyond,
                                              false, 0));
    EXPECT_NE(h.refusal().find("NAT profile"), std::string::npos) << h.refusal();
    EXPECT_EQ(a.leftOver(), "");
}

TEST(NatHelperDynamic, DestinationTranslationsFullConeFragmentsUpdatesAndAddressOnlyDeletes) {
    // Full-cone DNAT in the dynamic tables, not in the full-cone DNAT table.
    NatAgent a(
        TestSupport::BootedAgent::scenarioFor("default", {{"dynFullConeDnatSupported", "false"}}));
    auto& h = a.helper();
    auto& st = *a.owner().tableMgrStatic();
    const NatNextHopInfo hop(7);
    const NatNextHopInfo ecmpGroup(0x80000009);

    // A full-cone UDP destination translation answers every peer: so does its fragment entry.
    const auto cone = tuple(ipp("198.51.100.7", 5000), ipp("192.0.2.1", 4000), 17);
    ASSERT_TRUE(h.addDynamicDstIpTranslation(cone, cone.src, cone.dst, ipp("10.0.0.5", 53), &hop, 1,
                                             true, 0));
    EXPECT_EQ(fragmentAcls(*st.staticDnatAclTable()),
              (std::set<std::pair<std::string, uint32_t>>{{"0.0.0.0", 0}}));

    const auto flow = tuple(ipp("198.51.100.8", 5001), ipp("192.0.2.2", 80));
    ASSERT_TRUE(h.addDynamicDstIpTranslation(flow, flow.src, flow.dst, ipp("10.0.0.6", 8080), &hop,
                                             1, false, 0));
    EXPECT_EQ(fragmentAcls(*st.staticDnatAclTable()).count({"198.51.100.8", 0xFFFFFFFF}), 1u);
    const auto before = Scenario::snapshot(a.chip());
    // An update moves the connection to an ECMP group, counted as an update only.
    ASSERT_TRUE(h.updateDynamicDstIpTranslation(flow, flow.src, flow.dst, ipp("10.0.0.6", 8080),
                                                &ecmpGroup, 1, false, 0));
    EXPECT_NE(Scenario::changes(before, Scenario::snapshot(a.chip())), "");
    EXPECT_EQ(h.dynDstAdd(), 2u);
    EXPECT_EQ(h.dynDstUpd(), 1u);
    EXPECT_EQ(h.dynSrcAdd() + h.dynAdd(), 0u) << "destination translations count apart";

    // Address-only from every peer; the delete passes the peer's tuple, whose destination is
    // the public address, and still reaches the address-only entry.
    const auto anyPeer = tuple(ipp("0.0.0.0"), ipp("192.0.2.3"), 0);
    ASSERT_TRUE(h.addDynamicDstIpTranslation(anyPeer, ipp("0.0.0.0"), ipp("192.0.2.3"),
                                             ipp("10.0.0.7"), &hop, 1, false, 0));
    EXPECT_EQ(a.entries("dynamicAddrOnlyDnat"), 1u);
    h.deleteDynamicDstIpTranslation(anyPeer, ipp("0.0.0.0"), ipp("192.0.2.3"), ipp("10.0.0.7"), 1,
                                    false, 0);
    EXPECT_EQ(a.entries("dynamicAddrOnlyDnat"), 0u);

    h.deleteDynamicDstIpTranslation(flow, flow.src, flow.dst, ipp("10.0.0.6", 8080), 1, false, 0);
    h.deleteDynamicDstIpTranslation(cone, cone.src, cone.dst, ipp("10.0.0.5", 53), 1, true, 0);
    EXPECT_EQ(h.dynDstDel(), 3u);
    EXPECT_EQ(a.leftOver(), "");
}

TEST(NatHelperTwice, PortsAreEvenedOutInPairsBeforeTheManagerSeesThem) {
    NatAgent a("default");
    auto& h = a.helper();
    auto& twice = *a.owner().tableMgrTwice();
    // The source side names a port on one end only: both ends are address-only.
    EXPECT_EQ(h.addTwiceNatTranslation(ipp("10.0.0.1"), ipp("192.0.2.1", 80), ipp("198.51.100.1"),
                                       ipp("10.9.0.1"), 6, 1, nullptr, nullptr, true, 0, true, 0,
                                       false),
              NatHwResult::success);
    EXPECT_EQ(twice.lookupEntry(ipp("10.0.0.1"), ipp("192.0.2.1"), ipp("198.51.100.1"),
                                ipp("10.9.0.1"), 6, 1, 0),
              VyrNat::LookupResult::lookupMatchActionHit);
    EXPECT_EQ(a.entries("twiceNatAddrPort") + a.entries("twiceNatAddrSrcPort") +
                  a.entries("twiceNatAddrDstPort"),
              0u)
        << "no port entry for an address-only translation";

    // A translation with ports on both ends of a side keeps them.
    EXPECT_EQ(h.addTwiceNatTranslation(ipp("10.0.0.2", 1000), ipp("192.0.2.2", 2000),
                                       ipp("198.51.100.2"), ipp("10.9.0.2"), 6, 1, nullptr, nullptr,
                                       true, 0, true, 0, false),
              NatHwResult::success);
    EXPECT_EQ(a.entries("twiceNatAddrSrcPort"), 1u);
    // The same untranslated side to another address is a conflicting duplicate.
    EXPECT_EQ(h.addTwiceNatTranslation(ipp("10.0.0.2", 1000), ipp("192.0.2.3", 2000),
                                       ipp("198.51.100.2"), ipp("10.9.0.2"), 6, 1, nullptr, nullptr,
                                       true, 0, true, 0, false),
              NatHwResult::duplicate);
    EXPECT_FALSE(h.refusal().empty());

    // The delete evens out the same way, so it finds what the add wrote.
    h.delTwiceNatTranslation(ipp("10.0.0.1"), ipp("192.0.2.1", 80), ipp("198.51.100.1"),
                             ipp("10.9.0.1"), 6, 1, true, 0, true, 0, false);
    h.delTwiceNatTranslation(ipp("10.0.0.2", 1000), ipp("192.0.2.2", 2000), ipp("198.51.100.2"),
                             ipp("10.9.0.2"), 6, 1, true, 0, true, 0, false);
    EXPECT_EQ(a.leftOver(), "");
}

TEST(NatHelperFlow, GroupsChooseTheUnicastAndMulticastBitsAndAFlowIsReplacedWhole) {
    NatAgent a("default");
    auto& h = a.helper();
    const auto* table = a.owner().tableMgrNatFlow()->natFlowTable().get();
    // (uc, mc, uc/mc mask, result) of every entry but the default one.
    auto written = [&] {
        std::multiset<std::tuple<int, int, int, int>> out;
        for (const auto& e : table->entries()) {
            const auto* r = e.actionIf<VyrP4::SetNatFlowResultActionSpec>();
            if (r && e.match().ingMdNatProfileIdMask() != 0) {
                const auto& m = e.match();
                out.emplace(m.l3InfoUnicast(), m.l3InfoMulticast(),
                            m.l3InfoUnicastMask() | m.l3InfoMulticastMask(), r->natFlowResult());
            }
        }
        return out;
    };
    using W = std::multiset<std::tuple<int, int, int, int>>;
    Ip::Nat::NatFlow any;
    any.src = *Ip::Prefix::parse("10.0.0.0/8");
    any.dst = *Ip::Prefix::parse("0.0.0.0/0");
    any.dstPortStart = 80;
    any.dstPortEnd = 80;
    any.protocol = 6;
    any.priority = 10;

    // To any destination with two groups: a unicast entry and a multicast one.
    ASSERT_TRUE(h.addNatFlowEntry("p", "m", 1, any, 5, 6));
    EXPECT_EQ(written(), (W{{1, 0, 1, 5}, {0, 1, 1, 6}}));
    // Added again with one group: replaced by one entry blind to the bits.
    ASSERT_TRUE(h.addNatFlowEntry("p", "m", 1, any, 5, 5));
    EXPECT_EQ(written(), (W{{0, 0, 0, 5}}));

    // A multicast destination.
    Ip::Nat::NatFlow mcast = any;
    mcast.dst = *Ip::Prefix::parse("239.1.0.0/16");
    ASSERT_TRUE(h.addNatFlowEntry("p", "mc", 1, mcast, 7, 7));
    EXPECT_EQ(written().count({0, 1, 1, 7}), 1u);
    // A unicast destination with two groups would write one match twice: refused, none left.
    Ip::Nat::NatFlow ucast = any;
    ucast.dst = *Ip::Prefix::parse("198.51.100.0/24");
    EXPECT_FALSE(h.addNatFlowEntry("p", "uc", 1, ucast, 8, 9));
    EXPECT_EQ(written().size(), 2u);

    EXPECT_TRUE(h.delNatFlowEntry("p", "m", 1, 5, 5));
    EXPECT_TRUE(h.delNatFlowEntry("p", "mc", 1, 7, 7));
    EXPECT_FALSE(h.delNatFlowEntry("p", "uc", 1, 8, 9));
    EXPECT_EQ(a.leftOver(), "");
}

} // namespace
