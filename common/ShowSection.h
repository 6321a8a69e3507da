#pragma once
// What the show commands write to a request socket. A reply is gathered and written in blocks:
// a listing of a million connections is a few hundred writes, not a million. A client that
// went away loses the rest of its reply, nothing else.
//
// A section is a title, a separator of dashes, the column header, the separator again, the rows
// and an empty line. Nothing of it is written until its first row, so a section without rows
// (nothing recorded, or nothing that a filter keeps) leaves no trace in the reply, not even its
// title.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace VyrNat {

class ShowWriter {
public:
    explicit ShowWriter(int fd) : fd_(fd) {}
    // Writes what is left.
    ~ShowWriter() { flush(); }
    ShowWriter(const ShowWriter&) = delete;
    ShowWriter& operator=(const ShowWriter&) = delete;

    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void vprintf(const char* format, va_list ap) __attribute__((format(printf, 2, 0)));
    void dashes(std::size_t n);
    void flush();

private:
    static constexpr std::size_t kFlushAt = 64 * 1024;

    int fd_;
    std::string out_;
    bool notSocket_ = false;
};

// printf into a string, for headers chosen before their section starts.
std::string textf(const char* format, ...) __attribute__((format(printf, 1, 2)));

class ShowSection {
public:
    // `headerFormat` and the labels after it make the column header line.
    ShowSection(int fd, const char* title, std::size_t dashes, const char* headerFormat, ...)
        __attribute__((format(printf, 5, 6)));
    // A header already made, ending with its line end; a separator as wide as the header when
    // `dashes` is 0.
    ShowSection(int fd, const char* title, std::string header, std::size_t dashes = 0);
    // The empty line after the rows, when there were any.
    ~ShowSection();
    ShowSection(const ShowSection&) = delete;
    ShowSection& operator=(const ShowSection&) = delete;

    // One row (or one piece of a row written piecewise), after the head on the first call.
    void row(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    ShowWriter out_;
    const char* title_;
    std::size_t dashes_;
    std::string header_;
    bool opened_ = false;
};

// An address as a dotted quad, for the "%s" columns of a row.
struct ShowIp {
    explicit ShowIp(uint32_t addr);
    const char* c_str() const { return text_; }

private:
    char text_[16];
};

} // namespace VyrNat
