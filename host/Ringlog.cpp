#include "host/Ringlog.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <unistd.h>
#include <unordered_map>

namespace Ringlog {

namespace {

constexpr char kMagic[8] = {'V', 'Y', 'R', 'R', 'I', 'N', 'G', '1'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kDictCapacity = 64 * 1024;
constexpr uint16_t kNoFormat = 0xFFFF;
constexpr std::size_t kRingHeader = 64; // the ring's write count, padded to a cache line

struct FileHeader {
    char magic[8];
    uint32_t version;
    uint32_t recordSize;
    uint32_t ringCount;
    uint32_t timestamps;
    uint32_t ringSizes[kRings];
    uint64_t ringOffsets[kRings];
    uint64_t dictOffset;
    uint32_t dictCapacity;
    uint32_t dictUsed;
    uint32_t dictCount;
    uint32_t reserved;
    uint64_t nextSeq;
};

struct RecordHeader {
    uint64_t seq; // 0: the slot was never written
    uint64_t timeNs;
    uint16_t formatId;
    uint8_t level;
    uint8_t argCount;
    uint32_t payloadLength;
};
constexpr std::size_t kPayload = kRecordSize - sizeof(RecordHeader);
static_assert(sizeof(RecordHeader) == 24);

struct Writer {
    int fd = -1;
    char* base = nullptr;
    std::size_t size = 0;
    FileHeader* header = nullptr;
    std::unordered_map<const char*, uint16_t> formatIds;
    uint32_t lowestLevel = 0;
    uint32_t maxArgs = 0;
    uint32_t maxString = 0;
    std::string path;
    std::string mirror;
    std::string error;
};

Writer& writer() {
    static Writer w;
    return w;
}

uint16_t formatId(Writer& w, const char* format) {
    auto it = w.formatIds.find(format);
    if (it != w.formatIds.end()) {
        return it->second;
    }
    FileHeader& h = *w.header;
    std::size_t len = std::min<std::size_t>(std::strlen(format), 0xFFFF);
    uint16_t id = kNoFormat;
    if (h.dictCount < kNoFormat && h.dictUsed + 2 + len <= h.dictCapacity) {
        char* at = w.base + h.dictOffset + h.dictUsed;
        uint16_t l = static_cast<uint16_t>(len);
        std::memcpy(at, &l, 2);
        std::memcpy(at + 2, format, len);
        h.dictUsed += static_cast<uint32_t>(2 + len);
        id = static_cast<uint16_t>(h.dictCount++);
    }
    w.formatIds.emplace(format, id);
    return id;
}

std::string substitutePid(const std::string& name) {
    std::string out = name;
    if (std::size_t at = out.find("%d"); at != std::string::npos) {
        out.replace(at, 2, std::to_string(::getpid()));
    }
    return out;
}

} // namespace

const char* fileSuffix() {
    return ".rlog";
}

bool initialize(const std::string& fileName, const std::array<uint32_t, kRings>& ringSizes,
                const char* mirrorFileName, uint32_t lowestLevel, uint32_t maxArgs, ThreadMode,
                bool timestamps, uint32_t maxStringLength) {
    close();
    Writer& w = writer();
    const char* dir = std::getenv("RINGLOGDIR");
    w.path = std::string(dir && *dir ? dir : "/tmp") + "/" + substitutePid(fileName);
    w.mirror = mirrorFileName ? substitutePid(mirrorFileName) : "";

    std::size_t offset = (sizeof(FileHeader) + 63) / 64 * 64;
    const std::size_t dictOffset = offset;
    offset += kDictCapacity;
    std::array<uint64_t, kRings> ringOffsets{};
    for (int r = 0; r < kRings; ++r) {
        ringOffsets[r] = offset;
        offset += kRingHeader + std::size_t(std::max<uint32_t>(ringSizes[r], 1)) * kRecordSize;
    }

    w.fd = ::open(w.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (w.fd < 0 || ::ftruncate(w.fd, static_cast<off_t>(offset)) != 0) {
        w.error = "cannot create ring file " + w.path + ": " + std::strerror(errno);
        close();
        return false;
    }
    void* m = ::mmap(nullptr, offset, PROT_READ | PROT_WRITE, MAP_SHARED, w.fd, 0);
    if (m == MAP_FAILED) {
        w.error = "cannot map ring file " + w.path + ": " + std::strerror(errno);
        close();
        return false;
    }
    w.base = static_cast<char*>(m);
    w.size = offset;
    w.header = reinterpret_cast<FileHeader*>(w.base);
    FileHeader& h = *w.header;
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.recordSize = kRecordSize;
    h.ringCount = kRings;
    h.timestamps = timestamps ? 1 : 0;
    for (int r = 0; r < kRings; ++r) {
        h.ringSizes[r] = std::max<uint32_t>(ringSizes[r], 1);
        h.ringOffsets[r] = ringOffsets[r];
    }
    h.dictOffset = dictOffset;
    h.dictCapacity = kDictCapacity;
    w.lowestLevel = lowestLevel;
    w.maxArgs = maxArgs;
    w.maxString = maxStringLength;
    w.error.clear();
    return true;
}

void close() {
    Writer& w = writer();
    if (w.base) {
        ::munmap(w.base, w.size);
    }
    if (w.fd >= 0) {
        ::close(w.fd);
        if (!w.mirror.empty()) {
            std::error_code ec;
            std::filesystem::copy_file(w.path,
                                       std::filesystem::path(w.path).parent_path() / w.mirror,
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
    }
    w.fd = -1;
    w.base = nullptr;
    w.header = nullptr;
    w.size = 0;
    w.formatIds.clear();
}

bool enabled() {
    return writer().header != nullptr;
}
const std::string& path() {
    return writer().path;
}
const std::string& lastError() {
    return writer().error;
}

void writeRecord(int level, const char* format, std::span<const Host::FmtArg> args) {
    Writer& w = writer();
    if (!w.header) {
        return;
    }
    level = std::clamp(level, 0, kRings - 1);
    if (static_cast<uint32_t>(level) < w.lowestLevel) {
        return;
    }
    FileHeader& h = *w.header;
    char* ring = w.base + h.ringOffsets[level];
    uint64_t written;
    std::memcpy(&written, ring, sizeof written);
    char* slot = ring + kRingHeader + (written % h.ringSizes[level]) * kRecordSize;

    RecordHeader rh{};
    rh.seq = ++h.nextSeq;
    if (h.timestamps) {
        timespec ts;
        ::clock_gettime(CLOCK_REALTIME, &ts);
        rh.timeNs = uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
    }
    rh.formatId = formatId(w, format);
    rh.level = static_cast<uint8_t>(level);

    char* payload = slot + sizeof(RecordHeader);
    std::size_t used = 0;
    for (const Host::FmtArg& a : args) {
        if (rh.argCount >= w.maxArgs) {
            break;
        }
        if (a.kind == Host::FmtArg::Kind::str) {
            if (used + 2 > kPayload) {
                break;
            }
            std::size_t len = std::min(
                {a.s.size(), std::size_t(w.maxString), std::size_t(255), kPayload - used - 2});
            payload[used] = static_cast<char>(a.kind);
            payload[used + 1] = static_cast<char>(len);
            std::memcpy(payload + used + 2, a.s.data(), len);
            used += 2 + len;
        } else {
            if (used + 9 > kPayload) {
                break;
            }
            payload[used] = static_cast<char>(a.kind);
            std::memcpy(payload + used + 1, &a.u, 8);
            used += 9;
        }
        ++rh.argCount;
    }
    rh.payloadLength = static_cast<uint32_t>(used);
    std::memcpy(slot, &rh, sizeof rh);
    ++written;
    std::memcpy(ring, &written, sizeof written);
}

std::optional<std::vector<Record>> readFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FileHeader h;
    if (data.size() < sizeof h) {
        error = path + " is too short to be a ring file";
        return std::nullopt;
    }
    std::memcpy(&h, data.data(), sizeof h);
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.version != kVersion ||
        h.recordSize != kRecordSize || h.ringCount != kRings) {
        error = path + " is not a ring file of this version";
        return std::nullopt;
    }
    auto inside = [&](uint64_t off, uint64_t len) {
        return off <= data.size() && len <= data.size() - off;
    };
    if (!inside(h.dictOffset, h.dictCapacity) || h.dictUsed > h.dictCapacity) {
        error = path + " is truncated (format dictionary)";
        return std::nullopt;
    }
    std::vector<std::string_view> formats;
    for (std::size_t at = 0; at + 2 <= h.dictUsed && formats.size() < h.dictCount;) {
        uint16_t len;
        std::memcpy(&len, &data[h.dictOffset + at], 2);
        if (at + 2 + len > h.dictUsed) {
            break;
        }
        formats.emplace_back(&data[h.dictOffset + at + 2], len);
        at += 2 + len;
    }

    std::vector<Record> out;
    for (int r = 0; r < kRings; ++r) {
        const uint64_t size = h.ringSizes[r];
        if (size == 0 || !inside(h.ringOffsets[r], kRingHeader + size * kRecordSize)) {
            error = path + " is truncated (ring " + std::to_string(r) + ")";
            return std::nullopt;
        }
        const char* ring = &data[h.ringOffsets[r]];
        uint64_t written;
        std::memcpy(&written, ring, sizeof written);
        for (uint64_t i = 0; i < std::min(written, size); ++i) {
            const char* slot = ring + kRingHeader + i * kRecordSize;
            RecordHeader rh;
            std::memcpy(&rh, slot, sizeof rh);
            if (rh.seq == 0 || rh.payloadLength > kPayload) {
                continue;
            }
            std::vector<Host::FmtArg> args;
            const char* p = slot + sizeof rh;
            const char* end = p + rh.payloadLength;
            for (int a = 0; a < rh.argCount && p < end; ++a) {
                auto kind = static_cast<Host::FmtArg::Kind>(*p);
                if (kind == Host::FmtArg::Kind::str) {
                    std::size_t len = static_cast<unsigned char>(p[1]);
                    if (p + 2 + len > end) {
                        break;
                    }
                    args.emplace_back(std::string_view(p + 2, len));
                    p += 2 + len;
                } else {
                    if (p + 9 > end) {
                        break;
                    }
                    uint64_t v;
                    std::memcpy(&v, p + 1, 8);
                    Host::FmtArg arg(v);
                    arg.kind = kind;
                    args.push_back(arg);
                    p += 9;
                }
            }
            std::string_view format = rh.formatId < formats.size()
                                          ? formats[rh.formatId]
                                          : std::string_view("<format not kept>");
            out.push_back({rh.seq, rh.timeNs, rh.level, Host::formatPrintf(format, args)});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Record& a, const Record& b) { return a.seq < b.seq; });
    return out;
}

} // namespace Ringlog
