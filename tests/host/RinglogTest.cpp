#include "host/Ringlog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct RinglogFixture : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("ringlog-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        ::setenv("RINGLOGDIR", dir.c_str(), 1);
    }
    void TearDown() override {
        Ringlog::close();
        ::unsetenv("RINGLOGDIR");
        fs::remove_all(dir);
    }
    std::vector<Ringlog::Record> read(const std::string& path) {
        std::string error;
        auto records = Ringlog::readFile(path, error);
        EXPECT_TRUE(records) << error;
        return records ? *records : std::vector<Ringlog::Record>{};
    }
};

TEST_F(RinglogFixture, RingsWrapKeepingTheNewestAndDecodeInWriteOrder) {
    std::array<uint32_t, Ringlog::kRings> sizes;
    sizes.fill(4);
    ASSERT_TRUE(Ringlog::initialize("Test-%d.rlog", sizes, nullptr, 0, 24,
                                    Ringlog::ThreadMode::singleThreaded, true, 512));
    EXPECT_EQ(Ringlog::path(), (dir / ("Test-" + std::to_string(::getpid()) + ".rlog")).string());
    for (int i = 0; i < 10; ++i) {
        RINGLOG(1, "NextHop: %d", i);
        if (i % 3 == 0) {
            RINGLOG(7, "addStaticSrcIpTranslation old src: %s profileId: %u", "10.0.0.5", 3u + i);
        }
    }
    auto records = read(Ringlog::path());
    std::vector<std::string> texts;
    for (const auto& r : records) {
        texts.push_back(std::to_string(r.level) + " " + r.text);
        EXPECT_NE(r.timeNs, 0u);
    }
    // Level 1 kept its last four records, level 7 all four of its own, merged in write order.
    const std::string p = "7 addStaticSrcIpTranslation old src: 10.0.0.5 profileId: ";
    EXPECT_EQ(texts,
              (std::vector<std::string>{p + "3", p + "6", "1 NextHop: 6", p + "9", "1 NextHop: 7",
                                        "1 NextHop: 8", "1 NextHop: 9", p + "12"}));
}

TEST_F(RinglogFixture, LongStringsAreCutToTheRecordAndLowLevelsDropped) {
    std::array<uint32_t, Ringlog::kRings> sizes;
    sizes.fill(8);
    ASSERT_TRUE(Ringlog::initialize("Cut.rlog", sizes, nullptr, 2, 2,
                                    Ringlog::ThreadMode::singleThreaded, false, 16));
    RINGLOG(1, "dropped %d", 1);
    RINGLOG(3, "%s|%d|%d", std::string(300, 'x'), 5, 6);
    auto records = read(Ringlog::path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].timeNs, 0u);
    // At most 16 bytes of the string, at most two values; the third conversion stays as written.
    EXPECT_EQ(records[0].text, std::string(16, 'x') + "|5|%d");
}

TEST_F(RinglogFixture, DecoderRefusesFilesThatAreNotRingFiles) {
    std::string error;
    EXPECT_FALSE(Ringlog::readFile((dir / "missing.rlog").string(), error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);

    std::ofstream(dir / "text.rlog") << "hello, not a ring file";
    EXPECT_FALSE(Ringlog::readFile((dir / "text.rlog").string(), error));
    EXPECT_NE(error.find("too short"), std::string::npos);

    std::array<uint32_t, Ringlog::kRings> sizes;
    sizes.fill(16);
    ASSERT_TRUE(Ringlog::initialize("Cut.rlog", sizes, nullptr, 0, 24,
                                    Ringlog::ThreadMode::singleThreaded, true, 512));
    RINGLOG(0, "x");
    Ringlog::close();
    fs::resize_file(dir / "Cut.rlog", fs::file_size(dir / "Cut.rlog") / 2);
    EXPECT_FALSE(Ringlog::readFile((dir / "Cut.rlog").string(), error));
    EXPECT_NE(error.find("truncated"), std::string::npos);
}

TEST_F(RinglogFixture, DecoderToolPrintsNewestLastAndFailsCleanlyOnBadFiles) {
    std::array<uint32_t, Ringlog::kRings> sizes;
    sizes.fill(512);
    ASSERT_TRUE(Ringlog::initialize("Tool.rlog", sizes, nullptr, 0, 24,
                                    Ringlog::ThreadMode::singleThreaded, true, 512));
    RINGLOG(0, "Nat not supported in this profile. Going down.");
    RINGLOG(4, "NextHop: %u", 0x80000005u);
    Ringlog::close();

    auto run = [](const std::string& args, int& status) {
        std::string out;
        FILE* p = ::popen((std::string(RINGLOG_DECODER) + " " + args + " 2>&1").c_str(), "r");
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) {
            out += buf;
        }
        status = ::pclose(p);
        return out;
    };
    int status = 0;
    std::string out = run((dir / "Tool.rlog").string(), status);
    EXPECT_EQ(status, 0);
    std::size_t first = out.find("0 Nat not supported in this profile. Going down.\n");
    std::size_t second = out.find("4 NextHop: 2147483653\n");
    EXPECT_NE(first, std::string::npos) << out;
    EXPECT_NE(second, std::string::npos) << out;
    EXPECT_LT(first, second);

    out = run((dir / "missing.rlog").string(), status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("vyr-ringlog-decode: cannot open"), std::string::npos) << out;
}

TEST_F(RinglogFixture, UnwritableDirectoryIsReportedAndLoggingStaysOff) {
    ::setenv("RINGLOGDIR", (dir / "no" / "such" / "dir").c_str(), 1);
    std::array<uint32_t, Ringlog::kRings> sizes;
    sizes.fill(4);
    EXPECT_FALSE(Ringlog::initialize("X.rlog", sizes, nullptr, 0, 24,
                                     Ringlog::ThreadMode::singleThreaded, true, 512));
    EXPECT_FALSE(Ringlog::enabled());
    EXPECT_NE(Ringlog::lastError().find("cannot create ring file"), std::string::npos);
    RINGLOG(0, "nowhere %d", 1); // harmless
}

} // namespace
