// Prints a ring trace file as text, oldest record first and newest last.

#include "host/Format.h"
#include "host/Ringlog.h"

#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: vyr-ringlog-decode FILE\n"
                     "Prints the records of a ring trace file (VyrNat*.rlog), newest last, as\n"
                     "  TIME LEVEL TEXT\n"
                     "A value the writer had to cut short ends in [...]; one it had no room for\n"
                     "shows as [...].\n");
        return argc == 2 ? 0 : 2;
    }
    std::string error;
    auto records = Ringlog::readFile(argv[1], error);
    if (!records) {
        std::fprintf(stderr, "vyr-ringlog-decode: %s\n", Host::printable(error).c_str());
        return 1;
    }
    for (const Ringlog::Record& r : *records) {
        char when[32] = "-";
        if (r.timeNs != 0) {
            std::time_t secs = static_cast<std::time_t>(r.timeNs / 1000000000u);
            std::tm tm;
            ::gmtime_r(&secs, &tm);
            std::size_t n = std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
            std::snprintf(when + n, sizeof when - n, ".%06u",
                          static_cast<unsigned>(r.timeNs % 1000000000u / 1000u));
        }
        // Values may hold any bytes; none reaches the terminal as a control sequence.
        std::printf("%s %d %s\n", when, r.level, Host::printable(r.text).c_str());
    }
    return 0;
}
