// The ring trace reader. The file may be anything a user names, so every size it claims is
// checked against the writer's limits and the file's real size before anything is read.

#include "host/Ringlog.h"
#include "host/RinglogLayout.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Ringlog {

using namespace Layout;

namespace {

// An open file and its size, read only at checked places.
class Input {
public:
    explicit Input(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~Input() { ::close(fd_); }
    uint64_t size() const { return size_; }
    bool inside(uint64_t off, uint64_t len) const { return off <= size_ && len <= size_ - off; }
    bool read(uint64_t off, std::size_t len, char* out) const {
        for (std::size_t done = 0; done < len;) {
            const ssize_t n = ::pread(fd_, out + done, len - done, static_cast<off_t>(off + done));
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

// The values of one record slot; strings the writer cut short carry the cut mark. Returns
// whether values are missing after them.
bool readValues(const char* p, const RecordHeader& rh, std::deque<std::string>& strings,
                std::vector<Host::FmtArg>& args) {
    const char* end = p + rh.payloadLength;
    bool cut = (rh.flags & kValuesCut) != 0;
    for (int a = 0; a < rh.argCount && p < end; ++a) {
        const auto kindByte = static_cast<uint8_t>(*p);
        const auto kind = static_cast<Host::FmtArg::Kind>(kindByte & ~kStringCut);
        if (kind == Host::FmtArg::Kind::str) {
            std::size_t len = static_cast<unsigned char>(p[1]);
            if (p + 2 + len > end) {
                cut = true;
                break;
            }
            std::string& s = strings.emplace_back(p + 2, len);
            if (kindByte & kStringCut) {
                s += kCutMark;
            }
            args.emplace_back(std::string_view(s));
            p += 2 + len;
        } else if (kind != Host::FmtArg::Kind::str && kind <= Host::FmtArg::Kind::ip4Port &&
                   p + 9 <= end) {
            uint64_t v;
            std::memcpy(&v, p + 1, 8);
            Host::FmtArg arg(v);
            arg.kind = kind;
            args.push_back(arg);
            p += 9;
        } else {
            cut = true;
            break;
        }
    }
    return cut;
}

} // namespace

std::optional<std::vector<Record>> readFile(const std::string& path, std::string& error) {
    // Non-blocking, so that naming a FIFO does not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + (S_ISDIR(st.st_mode) ? " is a directory" : " is not a regular file") +
                ", not a ring file";
        ::close(fd);
        return std::nullopt;
    }
    const Input in(fd, static_cast<uint64_t>(st.st_size));

    FileHeader h;
    if (in.size() < sizeof h || !in.read(0, sizeof h, reinterpret_cast<char*>(&h))) {
        error = path + " is too short to be a ring file";
        return std::nullopt;
    }
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.version != kVersion ||
        h.recordSize != kRecordSize || h.ringCount != kRings) {
        error = path + " is not a ring file of this version";
        return std::nullopt;
    }
    if (h.dictCapacity > kDictCapacity || h.dictUsed > h.dictCapacity ||
        !in.inside(h.dictOffset, h.dictCapacity)) {
        error = path + " is truncated or damaged (format dictionary)";
        return std::nullopt;
    }
    std::vector<char> dict(h.dictUsed);
    if (!in.read(h.dictOffset, dict.size(), dict.data())) {
        error = path + " cannot be read (format dictionary)";
        return std::nullopt;
    }
    std::vector<std::string_view> formats;
    for (std::size_t at = 0; at + 2 <= dict.size() && formats.size() < h.dictCount;) {
        uint16_t len;
        std::memcpy(&len, &dict[at], 2);
        if (at + 2 + len > dict.size()) {
            break;
        }
        formats.emplace_back(&dict[at + 2], len);
        at += 2 + len;
    }

    std::vector<Record> out;
    std::deque<std::string> strings;
    std::vector<Host::FmtArg> args;
    constexpr uint64_t kChunk = 1024; // records read at a time
    std::vector<char> slots(kChunk * kRecordSize);
    for (int r = 0; r < kRings; ++r) {
        const uint64_t size = h.ringSizes[r];
        if (size == 0 || size > kMaxRingRecords ||
            !in.inside(h.ringOffsets[r], kRingHeader + size * kRecordSize)) {
            error = path + " is truncated or damaged (ring " + std::to_string(r) + ")";
            return std::nullopt;
        }
        uint64_t written;
        if (!in.read(h.ringOffsets[r], sizeof written, reinterpret_cast<char*>(&written))) {
            error = path + " cannot be read (ring " + std::to_string(r) + ")";
            return std::nullopt;
        }
        const uint64_t used = std::min(written, size);
        for (uint64_t first = 0; first < used; first += kChunk) {
            const uint64_t count = std::min(kChunk, used - first);
            if (!in.read(h.ringOffsets[r] + kRingHeader + first * kRecordSize, count * kRecordSize,
                         slots.data())) {
                error = path + " cannot be read (ring " + std::to_string(r) + ")";
                return std::nullopt;
            }
            for (uint64_t i = 0; i < count; ++i) {
                const char* slot = slots.data() + i * kRecordSize;
                RecordHeader rh;
                std::memcpy(&rh, slot, sizeof rh);
                if (rh.seq == 0 || rh.payloadLength > kPayload) {
                    continue;
                }
                strings.clear();
                args.clear();
                const bool cut = readValues(slot + sizeof rh, rh, strings, args);
                const std::string_view format = rh.formatId < formats.size()
                                                    ? formats[rh.formatId]
                                                    : std::string_view("<format not kept>");
                if (cut) {
                    // Every conversion left without a value shows that it was cut off.
                    args.insert(args.end(), std::count(format.begin(), format.end(), '%'),
                                Host::FmtArg(kCutMark));
                }
                out.push_back({rh.seq, rh.timeNs, rh.level, Host::formatPrintf(format, args)});
            }
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Record& a, const Record& b) { return a.seq < b.seq; });
    return out;
}

std::string recordLine(const Record& r) {
    char when[64] = "-";
    if (r.timeNs != 0) {
        const auto secs = static_cast<std::time_t>(r.timeNs / 1000000000u);
        std::tm tm;
        std::size_t n = 0;
        if (::gmtime_r(&secs, &tm)) {
            n = std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
        }
        std::snprintf(when + n, sizeof when - n, ".%06u",
                      static_cast<unsigned>(r.timeNs % 1000000000u / 1000u));
    }
    return std::string(when) + " " + std::to_string(r.level) + " " + Host::printable(r.text);
}

} // namespace Ringlog
