// Prints a ring trace file as text, oldest record first and newest last.

#include "host/Format.h"
#include "host/Ringlog.h"

#include <cstdio>
#include <cstring>

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
        std::printf("%s\n", Ringlog::recordLine(r).c_str());
    }
    return 0;
}
