#include <gtest/gtest.h>

#include <numeric>

#include "chip/Profile.h"

namespace VyrP4 {
namespace {

TEST(Profile, NamedProfilesAreConsistentChips) {
    ASSERT_EQ(namedProfileNames().size(), 5u);
    for (const std::string& name : namedProfileNames()) {
        SCOPED_TRACE(name);
        const std::optional<ProfileCapabilities> p = namedProfile(name);
        ASSERT_TRUE(p);
        EXPECT_EQ(p->name(), name);
        // The checks the table managers make at start.
        EXPECT_FALSE(p->intfNat() && p->vrfNatHop());
        EXPECT_EQ(p->natSupported(), p->intfNat() || p->vrfNatHop());
        EXPECT_EQ(p->egrUcNatSupported(), p->egrUcNatTableSize() > 0);
        const auto& dnat = p->dnatPartitionBankSize();
        const auto& snat = p->snatPartitionBankSize();
        EXPECT_EQ(std::accumulate(dnat.begin(), dnat.end(), 0ull),
                  std::accumulate(snat.begin(), snat.end(), 0ull));
        EXPECT_GE(p->dnat1TableSize() + p->dnat2TableSize(),
                  p->snat1TableSize() + p->snat2TableSize());
        EXPECT_EQ(p->natFlowSupported(), p->natFlowTableSize() > 0);
        EXPECT_EQ(p->twiceNatSupported(), p->twiceNatAddrOnlyTableSize() > 0);
        EXPECT_EQ(p->snatDynFullConeSupported(), p->dynamicSnatAclTableSize() > 0);
    }
    EXPECT_FALSE(namedProfile("Default"));
}

TEST(Profile, EveryFieldRoundTripsThroughText) {
    for (const std::string& name : namedProfileNames()) {
        const ProfileCapabilities p = *namedProfile(name);
        ProfileCapabilities q;
        std::string error;
        for (const std::string& f : ProfileCapabilities::fieldNames()) {
            ASSERT_TRUE(q.fieldIs(f, *p.field(f), error)) << f << ": " << error;
        }
        EXPECT_EQ(q, p) << name;
    }
}

TEST(Profile, BadFieldsAreRefusedAndChangeNothing) {
    const ProfileCapabilities original = *namedProfile("default");
    struct Case {
        const char* field;
        const char* value;
        const char* message;
    };
    const Case cases[] = {
        {"snatAclTableSiz", "10", "unknown profile field 'snatAclTableSiz'"},
        {"snatAclTableSize", "70000",
         "profile field 'snatAclTableSize': 70000 is out of range (at most 65536)"},
        {"snatAclTableSize", "99999999999999999999",
         "profile field 'snatAclTableSize': 99999999999999999999 is out of range"},
        {"snatAclTableSize", "12ab", "profile field 'snatAclTableSize': '12ab' is not a number"},
        {"snatAclTableSize", "-1", "profile field 'snatAclTableSize': '-1' is not a number"},
        {"snatAclTableSize", "", "profile field 'snatAclTableSize': '' is not a number"},
        {"intfNat", "yes", "profile field 'intfNat': 'yes' is not true, false, 1 or 0"},
        {"snatPartitionBankSize", "1,2,3,4,5,6",
         "profile field 'snatPartitionBankSize': 6 banks are out of range (at most 5)"},
        {"dnatPartitionBankSize", "1,2,3,4,5",
         "profile field 'dnatPartitionBankSize': 5 banks are out of range (at most 4)"},
        {"dnatPartitionBankSize", "1,", "a bank size is missing"},
        {"dnatPartitionBankSize", "1,x", "'x' is not a number"},
    };
    for (const Case& c : cases) {
        ProfileCapabilities p = original;
        std::string error;
        EXPECT_FALSE(p.fieldIs(c.field, c.value, error)) << c.field << "=" << c.value;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(p, original) << c.field << "=" << c.value;
    }

    ProfileCapabilities p = original;
    std::string error;
    EXPECT_TRUE(p.fieldIs("snatAclTableSize", "0x400", error));
    EXPECT_EQ(p.snatAclTableSize(), 1024u);
    EXPECT_TRUE(p.fieldIs("snatAclTableSize", "65536", error));
    EXPECT_TRUE(p.fieldIs("intfNat", "0", error));
    EXPECT_FALSE(p.intfNat());
    EXPECT_TRUE(p.fieldIs("dnatPartitionBankSize", "8, 0, 16", error));
    EXPECT_EQ(p.dnatPartitionBankSize(), (std::vector<std::uint32_t>{8, 0, 16}));
    EXPECT_EQ(p.dnatPartitionSize(3), 0u); // past the last bank
    EXPECT_FALSE(p.field("nope"));
    EXPECT_NE(p.str().find("snatAclTableSize: 65536\n"), std::string::npos);
}

} // namespace
} // namespace VyrP4
