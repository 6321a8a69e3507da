#pragma once
// One section of a show command's reply: a title, a separator of dashes, the column header, the
// separator again, the rows and an empty line. Nothing of it is written until its first row, so
// a kind without entries writes nothing at all.

#include <cstdarg>
#include <cstdio>
#include <string>

namespace VyrNat {

// printf into a string, for headers built once per section.
[[gnu::format(printf, 1, 2)]] inline std::string textf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out(n > 0 ? std::size_t(n) : 0, '\0');
    if (n > 0) {
        std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    }
    va_end(again);
    return out;
}

class ShowSection {
public:
    // `header` ends with its line end; the separator has `dashes` dashes, or as many as the
    // header is wide when 0.
    ShowSection(int fd, const char* title, std::string header, std::size_t dashes = 0)
        : fd_(fd), title_(title), header_(std::move(header)), dashes_(dashes) {}
    ~ShowSection() {
        if (open_) {
            dprintf(fd_, "\n");
        }
    }
    ShowSection(const ShowSection&) = delete;
    ShowSection& operator=(const ShowSection&) = delete;

    // Call before writing each row; the first call writes the section's head.
    void row() {
        if (open_) {
            return;
        }
        open_ = true;
        const std::size_t width = header_.empty() ? 0 : header_.size() - 1;
        const std::string separator(dashes_ ? dashes_ : width, '-');
        dprintf(fd_, "%s%s\n%s%s\n", title_, separator.c_str(), header_.c_str(), separator.c_str());
    }
    bool written() const { return open_; }

private:
    int fd_;
    const char* title_;
    std::string header_;
    std::size_t dashes_;
    bool open_ = false;
};

} // namespace VyrNat
