// vyr_chip_gen HEADER SOURCE: writes the generated table classes of the NAT program. A file whose
// content is unchanged is left alone, so that its dependents are not rebuilt.

#include <fstream>
#include <iostream>
#include <sstream>

#include "chip/Generator.h"

namespace {

bool writeIfChanged(const char* path, const std::string& text) {
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream old;
        old << in.rdbuf();
        if (in && old.str() == text) {
            return true;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: vyr_chip_gen HEADER SOURCE\n";
        return 2;
    }
    try {
        const auto out = VyrP4::Generator::generate(VyrP4::Schema::natSchema(), {});
        if (!writeIfChanged(argv[1], out.header) || !writeIfChanged(argv[2], out.source)) {
            std::cerr << "vyr_chip_gen: cannot write the output files\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "vyr_chip_gen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
