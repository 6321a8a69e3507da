#pragma once
// One section of a show command's reply: a title, a separator of dashes, the column header, the
// separator again, the rows and an empty line. Nothing is written until the first row, so a
// section without rows (nothing recorded, or nothing that a filter keeps) leaves no trace in
// the reply, not even its title.

#include <cstddef>
#include <cstdint>
#include <string>

namespace VyrNat {

class ShowSection {
public:
    // `headerFormat` and the labels after it make the column header line.
    ShowSection(int fd, const char* title, std::size_t dashes, const char* headerFormat, ...)
        __attribute__((format(printf, 5, 6)));
    // The empty line after the rows, when there were any.
    ~ShowSection();
    ShowSection(const ShowSection&) = delete;
    ShowSection& operator=(const ShowSection&) = delete;

    // One row (or one piece of a row written piecewise), after the head on the first call.
    void row(const char* format, ...) __attribute__((format(printf, 2, 3)));
    bool empty() const { return !opened_; }

private:
    void open();

    int fd_;
    const char* title_;
    std::size_t dashes_;
    std::string header_;
    bool opened_ = false;
};

// A line of `n` dashes.
void showDashes(int fd, std::size_t n);
// An address as a dotted quad, for the "%s" columns of a row.
struct ShowIp {
    explicit ShowIp(uint32_t addr);
    const char* c_str() const { return text_; }

private:
    char text_[16];
};

} // namespace VyrNat
