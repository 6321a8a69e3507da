#include "host/Ringlog.h"

#include "host/RinglogLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace Ringlog {

using namespace Layout;

namespace {

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

// Opens `path` for writing only if it is a file of ours: created here (exclusively, owner-only),
// or an earlier one that is a plain file of this user with no other name. A symbolic link, a
// file of another user or a second link to some other file is never opened, let alone
// truncated: the trace runs as root and its default directory is writable by everyone. Returns
// -1 with `why` set otherwise.
int openOwnFile(const std::string& path, std::string& why) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            why = fd >= 0 ? "" : std::strerror(errno);
            return fd;
        }
        // Non-blocking, so that a planted FIFO cannot hold the open.
        fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            continue; // removed in between: create it
        }
        if (fd < 0) {
            why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
            return -1;
        }
        struct stat st;
        if (::fstat(fd, &st) != 0) {
            why = std::strerror(errno);
        } else if (!S_ISREG(st.st_mode)) {
            why = "it is not a regular file";
        } else if (st.st_uid != ::geteuid()) {
            why = "it belongs to another user";
        } else if (st.st_nlink != 1) {
            why = "it has other names (hard links)";
        } else if (::fchmod(fd, 0600) != 0) {
            why = std::strerror(errno);
        } else {
            ::fcntl(fd, F_SETFL, 0);
            return fd;
        }
        ::close(fd);
        return -1;
    }
    why = "it keeps disappearing";
    return -1;
}

// The ring file for `path`, locked against other writers: an earlier process's file is reused,
// one that a running writer holds is left alone. -1 with `why` set when `path` cannot be used.
int openRingFile(const std::string& path, std::string& why) {
    const int fd = openOwnFile(path, why);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? "another running process writes it" : std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// A fresh file beside `path` that only this process writes: "<stem>-<pid>-XXXXXX<suffix>".
int openPrivateRingFile(std::string& path, std::string& why) {
    const std::string suffix = fileSuffix();
    std::string stem = path;
    if (stem.size() > suffix.size() &&
        stem.compare(stem.size() - suffix.size(), std::string::npos, suffix) == 0) {
        stem.resize(stem.size() - suffix.size());
    }
    std::string name = stem + "-" + std::to_string(::getpid()) + "-XXXXXX" + suffix;
    const int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    path = name;
    return fd;
}

// Copies the ring file to the mirror, as safely as the ring file itself is opened.
void writeMirror(const Writer& w, std::string& error) {
    const std::size_t slash = w.path.rfind('/');
    const std::string to = w.path.substr(0, slash + 1) + w.mirror;
    std::string why;
    const int fd = openOwnFile(to, why);
    if (fd < 0) {
        error = "cannot write ring file mirror " + to + ": " + why;
        return;
    }
    bool ok = ::ftruncate(fd, 0) == 0;
    for (std::size_t done = 0; ok && done < w.size;) {
        const ssize_t n = ::write(fd, w.base + done, w.size - done);
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    if (!ok) {
        error = "cannot write ring file mirror " + to + ": " + std::strerror(errno);
    }
    ::close(fd);
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
    w.error.clear();
    for (uint32_t size : ringSizes) {
        if (size > kMaxRingRecords) {
            w.error = "a ring of " + std::to_string(size) + " records is larger than the " +
                      std::to_string(kMaxRingRecords) + " a ring file holds";
            return false;
        }
    }

    std::size_t offset = (sizeof(FileHeader) + 63) / 64 * 64;
    const std::size_t dictOffset = offset;
    offset += kDictCapacity;
    std::array<uint64_t, kRings> ringOffsets{};
    for (int r = 0; r < kRings; ++r) {
        ringOffsets[r] = offset;
        offset += kRingHeader + std::size_t(std::max<uint32_t>(ringSizes[r], 1)) * kRecordSize;
    }

    std::string why;
    w.fd = openRingFile(w.path, why);
    if (w.fd < 0) {
        const std::string refused = w.path;
        w.fd = openPrivateRingFile(w.path, why);
        if (w.fd >= 0) {
            std::fprintf(stderr, "ring trace: not using %s (%s); writing %s\n", refused.c_str(),
                         why.empty() ? "cannot open it" : why.c_str(), w.path.c_str());
        }
    }
    // An earlier run's records go: the file is ours and no running writer holds it.
    if (w.fd < 0 || ::ftruncate(w.fd, 0) != 0 ||
        ::ftruncate(w.fd, static_cast<off_t>(offset)) != 0) {
        w.error =
            "cannot create ring file " + w.path + ": " + (w.fd < 0 ? why : std::strerror(errno));
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
    w.maxArgs = std::min<uint32_t>(maxArgs, 255);
    w.maxString = std::min<uint32_t>(maxStringLength, 255);
    return true;
}

void close() {
    Writer& w = writer();
    if (w.base && !w.mirror.empty()) {
        writeMirror(w, w.error);
    }
    if (w.base) {
        ::munmap(w.base, w.size);
    }
    if (w.fd >= 0) {
        ::close(w.fd); // and with it the lock
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

    // What does not fit is marked, so that the decoder never shows a part as the whole.
    char* payload = slot + sizeof(RecordHeader);
    std::size_t used = 0;
    for (const Host::FmtArg& a : args) {
        const std::size_t need = a.kind == Host::FmtArg::Kind::str ? 2 : 9;
        if (rh.argCount >= w.maxArgs || used + need > kPayload) {
            rh.flags |= kValuesCut;
            break;
        }
        if (a.kind == Host::FmtArg::Kind::str) {
            const std::size_t len =
                std::min({a.s.size(), std::size_t(w.maxString), kPayload - used - 2});
            payload[used] = static_cast<char>(static_cast<uint8_t>(a.kind) |
                                              (len < a.s.size() ? kStringCut : 0));
            payload[used + 1] = static_cast<char>(len);
            std::memcpy(payload + used + 2, a.s.data(), len);
            used += 2 + len;
        } else {
            payload[used] = static_cast<char>(a.kind);
            std::memcpy(payload + used + 1, &a.u, 8);
            used += 9;
        }
        ++rh.argCount;
    }
    rh.payloadLength = static_cast<uint16_t>(used);
    std::memcpy(slot, &rh, sizeof rh);
    ++written;
    std::memcpy(ring, &written, sizeof written);
}

} // namespace Ringlog
