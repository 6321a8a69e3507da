#include "host/Ringlog.h"
#include "host/RinglogLayout.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

bool ownerOnly(const fs::path& path) {
    return fs::status(path).permissions() == (fs::perms::owner_read | fs::perms::owner_write);
}

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
    // Opens `name` with `ringSize` records a level and the rest as the agent has it.
    static bool openRing(const std::string& name, uint32_t ringSize = 4, bool timestamps = false,
                         uint32_t lowestLevel = 0, uint32_t maxArgs = 24,
                         uint32_t maxString = 512) {
        std::array<uint32_t, Ringlog::kRings> sizes;
        sizes.fill(ringSize);
        return Ringlog::initialize(name, sizes, nullptr, lowestLevel, maxArgs,
                                   Ringlog::ThreadMode::singleThreaded, timestamps, maxString);
    }
    std::vector<Ringlog::Record> read(const std::string& path) {
        std::string error;
        auto records = Ringlog::readFile(path, error);
        EXPECT_TRUE(records) << error;
        return records ? *records : std::vector<Ringlog::Record>{};
    }
};

TEST_F(RinglogFixture, RingsWrapKeepingTheNewestAndDecodeInWriteOrder) {
    ASSERT_TRUE(openRing("Test-%d.rlog", 4, true));
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

// Values that do not fit are marked cut and levels below the lowest dropped. A format in the
// file's dictionary may be anything: widths beyond the writer's are printed as written (they used
// to make the decoder format gigabytes), broken conversions as text.
TEST_F(RinglogFixture, WhatDoesNotFitIsMarkedCutAndOnlyTheWritersConversionsAreTaken) {
    ASSERT_TRUE(openRing("Cut.rlog", 8, false, 2, 2, 16));
    RINGLOG(1, "dropped %d", 1);
    RINGLOG(3, "%s|%d|%d", std::string(300, 'x'), 5, 6);
    auto records = read(Ringlog::path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].timeNs, 0u);
    // At most 16 bytes of the string and two values; neither cut looks complete.
    EXPECT_EQ(records[0].text, std::string(16, 'x') + "[...]|5|[...]");

    // Regression: a full record used to end in a raw "%u" and a shortened address.
    ASSERT_TRUE(openRing("Full.rlog"));
    // Each string takes a kind and a length byte: this name leaves 8 bytes for the address.
    const std::string name(Ringlog::Layout::kPayload - 12, 'n');
    RINGLOG(0, "%s key: %s proto: %u", name, "10.0.0.21:8443", 6u);
    const std::string full(Ringlog::Layout::kPayload - 4, 'n');
    RINGLOG(0, "%s key: %s", full, "10.0.0.21:8443");
    RINGLOG(0, "%999999999d|%.99999999s|%-6s|%04x|%.5.5d|%y|%u%%", 1, "two", "ab", 0xbeu, 7u);
    records = read(Ringlog::path());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].text, name + " key: 10.0.0.2[...] proto: [...]");
    EXPECT_EQ(records[1].text, full + " key: [...]");
    EXPECT_EQ(records[2].text, "%999999999d|%.99999999s|ab    |00be|%.5.5d|%y|7%");
}

TEST_F(RinglogFixture, DecoderRefusesFilesThatAreNotRingFilesReadingOnlyWhatTheyHold) {
    ASSERT_TRUE(openRing("Cut.rlog", 16));
    RINGLOG(0, "x");
    Ringlog::close();
    const fs::path cut = dir / "Cut.rlog";
    // Headers claiming rings beyond the writer's limit, or within it but beyond the file.
    for (const uint32_t size : {0xFFFFFFFFu, Ringlog::Layout::kMaxRingRecords}) {
        const fs::path copy = dir / ("Ring" + std::to_string(size) + ".rlog");
        fs::copy_file(cut, copy);
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(offsetof(Ringlog::Layout::FileHeader, ringSizes));
        f.write(reinterpret_cast<const char*>(&size), sizeof size);
    }
    fs::resize_file(cut, fs::file_size(cut) / 2);
    std::ofstream(dir / "text.rlog") << "hello, not a ring file";
    // Regressions: a directory crashed the decoder, /dev/zero filled the memory; a damaged
    // header must be refused before anything is read.
    for (const auto& [path, says] : std::vector<std::pair<fs::path, std::string>>{
             {dir / "text.rlog", "too short"},
             {dir, "is a directory"},
             {"/dev/zero", "not a regular file"},
             {cut, "truncated"},
             {dir / "Ring4294967295.rlog", "damaged (ring 0)"},
             {dir / "Ring1048576.rlog", "damaged (ring 0)"}}) {
        std::string error;
        EXPECT_FALSE(Ringlog::readFile(path.string(), error)) << path;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

TEST_F(RinglogFixture, ARingFileIsOwnerOnlyAndLockedAndAnEarlierRunsIsReused) {
    const mode_t umask = ::umask(0); // no help from the umask
    ASSERT_TRUE(openRing("Mine.rlog"));
    ::umask(umask);
    EXPECT_EQ(Ringlog::path(), (dir / "Mine.rlog").string());
    EXPECT_TRUE(ownerOnly(Ringlog::path()));
    // The writer holds its file: another process's writer would leave it alone.
    const int other = ::open(Ringlog::path().c_str(), O_RDONLY);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);

    // Once its writer is gone, the file of an earlier run is reused, owner-only.
    Ringlog::close();
    std::ofstream(dir / "Old.rlog") << "an earlier run's records";
    ASSERT_TRUE(openRing("Old.rlog"));
    EXPECT_EQ(Ringlog::path(), (dir / "Old.rlog").string());
    EXPECT_TRUE(ownerOnly(Ringlog::path()));

    // A directory that cannot hold the file leaves the trace off.
    Ringlog::close();
    ::setenv("RINGLOGDIR", (dir / "no" / "such" / "dir").c_str(), 1);
    EXPECT_FALSE(openRing("X.rlog"));
    EXPECT_FALSE(Ringlog::enabled());
    EXPECT_NE(Ringlog::lastError().find("cannot create ring file"), std::string::npos);
    RINGLOG(0, "nowhere %d", 1); // harmless
}

// The default directory is writable by everyone, and the agent runs as root: a link or a file
// planted at the predictable name must neither be followed nor truncated. Regression: a second
// writer on the same RINGLOGDIR truncated the first one's file, which then died of SIGBUS; a
// lock held here stands in for the other process.
TEST_F(RinglogFixture, FilesNotOursAreLeftUntouchedForAFreshFileBeside) {
    const fs::path victim = dir / "victim";
    for (const fs::path& file : {victim, dir / "linked", dir / "Busy.rlog"}) {
        std::ofstream(file) << "precious";
    }
    fs::create_symlink(victim, dir / "Sym.rlog");
    fs::create_hard_link(dir / "linked", dir / "Hard.rlog");
    const int other = ::open((dir / "Busy.rlog").c_str(), O_RDWR);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    std::vector<std::string> planted = {"Busy", "Sym", "Hard"};
    if (::geteuid() == 0) {
        std::ofstream(dir / "Theirs.rlog") << "precious";
        ASSERT_EQ(::chown((dir / "Theirs.rlog").c_str(), 65534, 65534), 0);
        planted.push_back("Theirs");
    }
    for (const std::string& name : planted) {
        SCOPED_TRACE(name);
        const fs::path path = dir / (name + ".rlog");
        testing::internal::CaptureStderr();
        ASSERT_TRUE(openRing(path.filename()));
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string used = Ringlog::path();
        EXPECT_EQ(used.rfind((dir / (name + "-" + std::to_string(::getpid()) + "-")).string(), 0),
                  0u)
            << used;
        EXPECT_NE(said.find("not using " + path.string()), std::string::npos) << said;
        EXPECT_NE(said.find("writing " + used), std::string::npos) << said;
        EXPECT_TRUE(ownerOnly(used));
        RINGLOG(0, "kept %d", 1);
        EXPECT_EQ(read(used).at(0).text, "kept 1");
        Ringlog::close();
        EXPECT_EQ(fs::file_size(path), 8u);
    }
    ::close(other);
    EXPECT_TRUE(fs::is_symlink(dir / "Sym.rlog"));
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
}

TEST_F(RinglogFixture, DecoderToolPrintsNewestLastAndFailsCleanlyOnBadFiles) {
    ASSERT_TRUE(openRing("Tool.rlog", 4, true));
    RINGLOG(0, "Nat not supported in this profile. Going down.");
    RINGLOG(4, "NextHop: %u", 0x80000005u);
    Ringlog::close();

    auto run = [&](const fs::path& file, int& status) {
        status = std::system((std::string(RINGLOG_DECODER) + " '" + file.string() + "' >'" +
                              (dir / "out").string() + "' 2>&1")
                                 .c_str());
        std::ifstream in(dir / "out");
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    int status = 0;
    std::string out = run(dir / "Tool.rlog", status);
    EXPECT_EQ(status, 0);
    const std::size_t newest = out.find(" 4 NextHop: 2147483653\n");
    EXPECT_NE(newest, std::string::npos) << out;
    EXPECT_LT(out.find(" 0 Nat not supported in this profile. Going down.\n"), newest) << out;

    out = run(dir / "missing.rlog", status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("vyr-ringlog-decode: cannot open"), std::string::npos) << out;
}

} // namespace
