// The static and egress show text on an agent with entries of every static kind, end to end from
// the host's NAT status.

#include "tests/helper/NatTestUtil.h"

#include <gtest/gtest.h>

namespace {

using namespace HelperTest;

class StaticShow : public ::testing::Test {
protected:
    void SetUp() override {
        // Ingress SNAT: address-only, and address-and-port; two translations of 10.0.0.3 to two
        // new addresses share a fragment entry that cannot be in hardware.
        add("NatProfile3", staticKey(ipp("10.0.0.1")), conn(ipp("192.0.2.1"), true));
        add("NatProfile3", staticKey(ipp("10.0.0.2", 80)), conn(ipp("192.0.2.2", 8080), true, 6));
        add("NatProfile3", staticKey(ipp("10.0.0.3", 80)), conn(ipp("192.0.2.3", 8080), true, 6));
        add("NatProfile3", staticKey(ipp("10.0.0.3", 81)), conn(ipp("192.0.2.4", 8081), true, 6));
        // Ingress DNAT: address-only through next hop 5, address-and-port limited to a peer.
        a.nextHops()->nextHop.set(ip("10.0.0.10"), 5);
        add("NatProfile3", staticKey(ipp("10.0.0.10")), conn(ipp("192.0.2.10"), false));
        add("NatProfile3", staticKey(ipp("10.0.0.11", 22)),
            conn(ipp("192.0.2.11", 2222), false, 6, {prefix("198.51.100.0/24")}));
        // Egress unicast: each translation configured on the other side.
        add("NatProfile4", staticKey(ipp("10.0.0.20", 53)),
            conn(ipp("192.0.2.20", 5353), true, 17, {}, true));
        add("NatProfile4", staticKey(ipp("10.0.0.21", 8443)),
            conn(ipp("192.0.2.21", 443), false, 6, {}, false));
        // The egress-pipeline manager's.
        add("NatProfile5", staticKey(ipp("10.0.0.30"), "", true), conn(ipp("192.0.2.30"), true));
        add("NatProfile5", staticKey(ipp("10.0.0.31", 80), "", true),
            conn(ipp("192.0.2.31", 8080), false, 6));
        // A duplicate, which the host holds as not programmed.
        add("NatProfile3", staticKey(ipp("10.0.0.1"), "DUP"), conn(ipp("192.0.2.99"), true));
        a.status()->vlanNatProfile.set(10, {3, ""});
        a.run();
    }
    std::string ask(const std::string& command) {
        return a.booted().runner.environment().commandRequestDirSm->request(command).value_or("");
    }

    void add(const std::string& intf, const Ip::Nat::StaticKey& key,
             const Ip::Nat::NatStaticConnection& c) {
        added.emplace_back(intf, key);
        a.staticIs(intf, key, c);
    }

    NatAgent a{"egressNat"};
    std::vector<std::pair<std::string, Ip::Nat::StaticKey>> added;
};

TEST_F(StaticShow, EachKindIsListedInItsOwnSectionWithTheExactText) {
    const std::string acls = R"(sNAT acl entries:
---------------------------------------------------------------------
Dip                  Protocol    Frag   AclId   RefCount   AddrOnlyRC
---------------------------------------------------------------------
0.0.0.0/0                   0    0/ 0       1          1            1
0.0.0.0/0                   6    0/ 0       2          3            0
0.0.0.0/0                   6    1/ff       3          1            0
0.0.0.0/0                  17    0/ 0       4          1            0
0.0.0.0/0                  17    1/ff       5          1            0

)";
    const std::string hostUnprogrammed = R"(NAT static unprogrammed entries:
----------------------------------------------------------------------------------------------
                       Profile                            Acl              Ip    Port Pipeline
----------------------------------------------------------------------------------------------
                   NatProfile3                            DUP        10.0.0.1       0  Ingress

)";
    // Ingress SNAT of every kind, the host's refused duplicate included.
    EXPECT_EQ(ask("showNatStatic ingress snat all"), acls + R"(sNAT AddrOnly entries (non fragment):
-------------------------------------------------------
Sip               AclId   Egr.Profile   New Sip        
-------------------------------------------------------
10.0.0.1              1             3   192.0.2.1      

sNAT AddrOnly fragment entries (hw programmed)
------------------------------------------------------------------
Sip               AclId   Egr.Profile   New Sip           RefCount
------------------------------------------------------------------
10.0.0.2              3             3   192.0.2.2                1

sNAT AddrOnly fragment entries (unprogrammed)
------------------------------------------------------------------------
Dip                  Protocol   Sip               Egr.Profile   New Sips
------------------------------------------------------------------------
0.0.0.0/0                   6   10.0.0.3                    3          2

sNAT AddrPort entries:
----------------------------------------------------------------------------
Sip               SrcPort   AclId   Egr.Profile   New Sip           New Port
----------------------------------------------------------------------------
10.0.0.2               80       2             3   192.0.2.2             8080
10.0.0.3               80       2             3   192.0.2.3             8080
10.0.0.3               81       2             3   192.0.2.4             8081

)" + hostUnprogrammed);
    // Any other direction word lists ingress and egress entries of the side and kind asked.
    EXPECT_EQ(ask("showNatStatic sideways dnat addr-port"), R"(dnat AddrPort entries:
---------------------------------------------------------------------------------------------
Dip               DstPort   AclId   Ing.Profile   New Dip           New Port   NextHop   Ecmp
---------------------------------------------------------------------------------------------
192.0.2.11           2222       2             3   10.0.0.11               22         3      N

egress dNAT entries (non fragment):
----------------------------------------------------------------------------
Dip               DstPort   AclId   Egr.Profile   New Dip           New Port
----------------------------------------------------------------------------
192.0.2.21            443       4             4   10.0.0.21             8443

)");
    // "unprogrammed" takes no type: the word after it is ignored.
    EXPECT_EQ(ask("showNatStatic ingress unprogrammed ignored"),
              R"(sNAT AddrOnly fragment entries (unprogrammed)
------------------------------------------------------------------------
Dip                  Protocol   Sip               Egr.Profile   New Sips
------------------------------------------------------------------------
0.0.0.0/0                   6   10.0.0.3                    3          2

)" + hostUnprogrammed);
    // The ACL entries, which ingress and egress share, are listed once.
    EXPECT_EQ(ask("showNatStatic egress snat acl"), acls);
    EXPECT_EQ(ask("showNatStatic both snat acl"), acls);
    EXPECT_EQ(ask("showNatStatic ingress snat acl"), acls);
    // Kinds and sides without entries write nothing, not even a title.
    EXPECT_EQ(ask("showNatStatic egress dnat fragment").find("egress dNAT fragment entries"), 0u);
    EXPECT_EQ(ask("showNatStatic egress snat unprogrammed"), "");
    EXPECT_EQ(ask("showNatEgress dnat unprogrammed"), "");
}

TEST_F(StaticShow, EgressManagerAddressProfilesAndSummary) {
    EXPECT_EQ(ask("showNatEgress x all"), R"(dNAT AddrPort entries
------------------------------------------------------------------------
Profile                       Old                    New   Proto    Prog
------------------------------------------------------------------------
5                 192.0.2.31:8080           10.0.0.31:80       6       1

dNAT AddrOnly entries
------------------------------------------------------------------------
Profile                  Old    Frag               New    Prog     Ref
------------------------------------------------------------------------
5                 192.0.2.31       0           0.0.0.0       1       1
5                 192.0.2.31       1         10.0.0.31       1       1

sNAT AddrOnly entries
------------------------------------------------------------------------
Profile                  Old    Frag               New    Prog     Ref
------------------------------------------------------------------------
5                  10.0.0.30       0        192.0.2.30       1       1

)");
    EXPECT_EQ(ask("showNatAddress 192.0.2.2"), R"(sNAT AddrPort:
----------------------------------------------------------------------------
Sip               SrcPort   AclId   Egr.Profile   New Sip           New Port
----------------------------------------------------------------------------
10.0.0.2               80       2             3   192.0.2.2             8080

sNAT AddrOnly fragment (hw programmed):
------------------------------------------------------------------
Sip               AclId   Egr.Profile   New Sip           RefCount
------------------------------------------------------------------
10.0.0.2              3             3   192.0.2.2                1

)");
    EXPECT_EQ(ask("showNatProfiles"), R"(NAT Profile
------------------
   Vlan:   10    Profile:   3
Ingress NAT Profile (egress pipeline)
-------------------------------------
   Vlan:   10    Profile:   3
Egress NAT Profile (egress pipeline)
------------------------------------
   Vlan:   10    Profile:   3
)");
    const std::string summary = ask("showNatSummary");
    // The static part comes first; the other managers' parts follow it.
    EXPECT_EQ(summary.substr(0, summary.find("Egress entries reserved for non-fragment: 0\n") +
                                    sizeof("Egress entries reserved for non-fragment: 0\n") - 1),
              R"(NAT profiles programmed: 1
Static NAT
----------
Hw tables size:
   sNAT Acl: 1024
   sNAT AddrOnly: 8192
   sNAT AddrPort: 8192
   dNAT Acl: 1024
   dNAT AddrOnly: 8192
   dNAT AddrPort: 8192
Current tables occupation:
   sNAT Acl: 5
   sNAT AddrOnly: 2 (1 fragments)
   sNAT Unprogrammed fragments: 1
   dNAT Acl: 5
   dNAT AddrOnly: 2 (1 fragments)
   dNAT Unprogrammed fragments: 0
Unprogrammed entries: 1
AddrOnly entries reserved for non-fragment: 0 sNAT, 0 dNAT
Egress Static Unicast NAT
-------------------------
   sNAT: 2
   dNAT: 2
   sNAT Fragments: 1
   dNAT Fragments: 1
Egress entries reserved for non-fragment: 0
)");
    EXPECT_NE(summary.find("   egrAddrDnat: 2\n"), std::string::npos) << summary;
}

TEST_F(StaticShow, NothingIsListedOnceTheTranslationsAreGone) {
    for (const auto& [intf, key] : added) {
        a.staticDel(intf, key);
    }
    a.status()->vlanNatProfile.clear();
    a.run();
    EXPECT_EQ(a.leftOver(), "");
    EXPECT_EQ(ask("showNatStatic all snat all") + ask("showNatStatic all dnat all") +
                  ask("showNatEgress x all") + ask("showNatAddress 192.0.2.2"),
              "");
}

} // namespace
