#pragma once
// The ring-buffer trace file: compact binary records in a fixed-size file, one ring per level,
// the oldest record of a ring overwritten when it is full. A record holds the id of its format
// string (kept once in the file's dictionary) and its values, never formatted text, so writing
// one costs a few stores. tools/vyr-ringlog-decode prints a file as text.

#include "host/Format.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Ringlog {

constexpr int kRings = 10;
constexpr uint32_t kRecordSize = 256; // room for the values of a translation's record

enum class ThreadMode : uint8_t { singleThreaded, multiThreaded };

// Appended by callers to the file-name prefix they pass to initialize().
const char* fileSuffix();

// Opens the ring file. `fileName` may hold "%d", replaced by the process id; the file goes into
// the directory named by RINGLOGDIR, or /tmp. The file is created owner-only and locked while
// open: an earlier run's file of this user is reused, but one that another running process
// writes, a symbolic link or a file planted by someone else is left untouched, and a fresh file
// "<name>-<pid>-XXXXXX.rlog" beside it is used instead (said on stderr; path() names it).
// `ringSizes` gives the records of each level's ring (at most 2^20 each). `mirrorFileName`, when
// given, receives a copy of the file on close(). Records keep at most `maxArgs` values, strings
// at most `maxStringLength` bytes (and 255, and what fits the record); a value cut short or
// left out is marked, and the decoder shows it as "[...]". Returns false, with the reason in
// lastError(), when no file can be made.
bool initialize(const std::string& fileName, const std::array<uint32_t, kRings>& ringSizes,
                const char* mirrorFileName, uint32_t lowestLevel, uint32_t maxArgs, ThreadMode mode,
                bool timestamps, uint32_t maxStringLength);
void close();
bool enabled();
const std::string& path();
const std::string& lastError();

void writeRecord(int level, const char* format, std::span<const Host::FmtArg> args);

template <class... A> void log(int level, const char* format, const A&... args) {
    if (enabled()) {
        const Host::FmtArg list[] = {Host::FmtArg(args)..., Host::FmtArg(0)};
        writeRecord(level, format, std::span<const Host::FmtArg>(list, sizeof...(A)));
    }
}

constexpr const char* kCutMark = "[...]";

// A decoded record.
struct Record {
    uint64_t seq;
    uint64_t timeNs; // wall-clock time, 0 when the file was written without time stamps
    int level;
    std::string text;
};

// Reads a ring file; records come oldest first. Returns nullopt with `error` set when the file
// is missing, truncated, not a regular file or not a ring file. It reads only what the header
// describes, within the file's real size and the writer's limits. A value the writer cut short
// prints followed by kCutMark, a value it left out as kCutMark.
std::optional<std::vector<Record>> readFile(const std::string& path, std::string& error);
// A record as the decoder prints it, "TIME LEVEL TEXT" ("-" for no time), its text escaped so
// that no value reaches a terminal as a control sequence.
std::string recordLine(const Record& r);

} // namespace Ringlog

// The values are evaluated only when the ring trace is open: callers may pass text built on the
// spot without paying for it otherwise.
#define RINGLOG(level, ...)                                                                        \
    do {                                                                                           \
        if (::Ringlog::enabled()) {                                                                \
            ::Ringlog::log((level), __VA_ARGS__);                                                  \
        }                                                                                          \
    } while (0)
