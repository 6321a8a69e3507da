#include "common/ShowSection.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace VyrNat {

ShowSection::ShowSection(int fd, const char* title, std::size_t dashes, const char* headerFormat,
                         ...)
    : fd_(fd), title_(title), dashes_(dashes) {
    va_list ap;
    va_start(ap, headerFormat);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, headerFormat, ap);
    va_end(ap);
    if (n > 0) {
        header_.resize(std::size_t(n) + 1);
        std::vsnprintf(header_.data(), header_.size(), headerFormat, again);
        header_.pop_back();
    }
    va_end(again);
}

ShowSection::~ShowSection() {
    if (opened_) {
        dprintf(fd_, "\n");
    }
}

void ShowSection::open() {
    opened_ = true;
    dprintf(fd_, "%s", title_);
    showDashes(fd_, dashes_);
    dprintf(fd_, "%s", header_.c_str());
    showDashes(fd_, dashes_);
}

void ShowSection::row(const char* format, ...) {
    if (!opened_) {
        open();
    }
    va_list ap;
    va_start(ap, format);
    vdprintf(fd_, format, ap);
    va_end(ap);
}

void showDashes(int fd, std::size_t n) {
    const std::string line = std::string(n, '-') + "\n";
    dprintf(fd, "%s", line.c_str());
}

ShowIp::ShowIp(uint32_t addr) {
    std::snprintf(text_, sizeof text_, "%u.%u.%u.%u", addr >> 24, addr >> 16 & 0xff,
                  addr >> 8 & 0xff, addr & 0xff);
}

} // namespace VyrNat
