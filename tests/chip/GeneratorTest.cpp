#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "chip/Generator.h"

namespace VyrP4 {
namespace {

using namespace Schema;

// Small, but with every kind of thing the generator emits: an exact table with hit bits and a
// field-less action, a ternary family shared by two tables, ipv4 and hex fields, a field that
// starts a new word.
Schema::Schema testSchema() {
    Schema::Schema s;
    s.actions = {
        {"SetPort", {param("port", 16), ipv4("addr"), param("flags", 8, FieldFormat::hex)}},
        {"Drop", {}}};
    s.tables = {{"portMap",
                 "PortMap",
                 {exact("vlanId", 12), ipv4("dip"), exact("wide", 40)},
                 PriorityOrder::none,
                 {"SetPort", "Drop"},
                 "16u",
                 true},
                {"aclA",
                 "Acl",
                 {ternary("proto", 8), ipv4Ternary("sip")},
                 PriorityOrder::lowerWins,
                 {"Drop"},
                 "caps.natFlowTableSize()"},
                {"aclB",
                 "Acl",
                 {ternary("proto", 8), ipv4Ternary("sip")},
                 PriorityOrder::lowerWins,
                 {"Drop"},
                 "4u"}};
    return s;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Set VYR_UPDATE_GOLDEN=1 to rewrite the expected files after a deliberate generator change.
TEST(Generator, OutputMatchesTheGoldenFiles) {
    const Generator::Options options{"TestTables.h", "testTables"};
    const Generator::Output out = Generator::generate(testSchema(), options);
    const std::string dir = VYR_CHIP_GOLDEN_DIR;
    if (std::getenv("VYR_UPDATE_GOLDEN")) {
        std::ofstream(dir + "/TestTables.h.expected", std::ios::binary) << out.header;
        std::ofstream(dir + "/TestTables.cpp.expected", std::ios::binary) << out.source;
    }
    EXPECT_EQ(out.header, readFile(dir + "/TestTables.h.expected"));
    EXPECT_EQ(out.source, readFile(dir + "/TestTables.cpp.expected"));
    // A pure function: the same schema gives the same text.
    EXPECT_EQ(Generator::generate(testSchema(), options).header, out.header);
}

TEST(Generator, RefusesInconsistentSchemas) {
    using Change = void (*)(Schema::Schema&);
    const std::pair<Change, std::string> cases[] = {
        {[](Schema::Schema& s) { s.tables[0].actions.push_back("Nope"); }, "unknown action Nope"},
        {[](Schema::Schema& s) { s.tables[2].match[0].width = 9; }, "class Acl is shared"},
        {[](Schema::Schema& s) { s.tables[0].match[2].width = 65; }, "width must be 1 to 64"},
        {[](Schema::Schema& s) { s.tables[0].priority = PriorityOrder::higherWins; },
         "priority order"},
        {[](Schema::Schema& s) { s.tables[2].name = "aclA"; }, "duplicate table aclA"},
    };
    for (const auto& [change, why] : cases) {
        Schema::Schema s = testSchema();
        change(s);
        try {
            Generator::generate(s, {});
            ADD_FAILURE() << "accepted; expected: " << why;
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace VyrP4
