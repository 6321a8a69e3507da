#include "common/ShowSection.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace VyrNat {

namespace {

// Appends the formatted text to `out`.
__attribute__((format(printf, 2, 0))) void appendf(std::string& out, const char* format,
                                                   va_list ap) {
    char line[256];
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(line, sizeof line, format, ap);
    if (n >= int(sizeof line)) {
        const std::size_t at = out.size();
        out.resize(at + std::size_t(n) + 1);
        std::vsnprintf(out.data() + at, std::size_t(n) + 1, format, again);
        out.pop_back();
    } else if (n > 0) {
        out.append(line, std::size_t(n));
    }
    va_end(again);
}

} // namespace

void ShowWriter::printf(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vprintf(format, ap);
    va_end(ap);
}

void ShowWriter::vprintf(const char* format, va_list ap) {
    appendf(out_, format, ap);
    if (out_.size() >= kFlushAt) {
        flush();
    }
}

void ShowWriter::dashes(std::size_t n) {
    out_.append(n, '-');
    out_ += '\n';
}

void ShowWriter::flush() {
    // No SIGPIPE from a socket whose client is gone; anything else (a file, a pipe) is written
    // plainly.
    for (std::size_t done = 0; done < out_.size();) {
        const char* at = out_.data() + done;
        const std::size_t left = out_.size() - done;
        ssize_t n = notSocket_ ? -1 : ::send(fd_, at, left, MSG_NOSIGNAL);
        if (n < 0 && !notSocket_ && errno == ENOTSOCK) {
            notSocket_ = true;
        }
        if (notSocket_) {
            n = ::write(fd_, at, left);
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += std::size_t(n);
    }
    out_.clear();
}

ShowSection::ShowSection(int fd, const char* title, std::size_t dashes, const char* headerFormat,
                         ...)
    : out_(fd), title_(title), dashes_(dashes) {
    va_list ap;
    va_start(ap, headerFormat);
    appendf(header_, headerFormat, ap);
    va_end(ap);
}

ShowSection::ShowSection(int fd, const char* title, std::string header, std::size_t dashes)
    : out_(fd), title_(title), dashes_(dashes           ? dashes
                                       : header.empty() ? 0
                                                        : header.size() - 1),
      header_(std::move(header)) {}

std::string textf(const char* format, ...) {
    std::string out;
    va_list ap;
    va_start(ap, format);
    appendf(out, format, ap);
    va_end(ap);
    return out;
}

ShowSection::~ShowSection() {
    if (opened_) {
        out_.printf("\n");
    }
}

void ShowSection::row(const char* format, ...) {
    if (!opened_) {
        opened_ = true;
        out_.printf("%s", title_);
        out_.dashes(dashes_);
        out_.printf("%s", header_.c_str());
        out_.dashes(dashes_);
    }
    va_list ap;
    va_start(ap, format);
    out_.vprintf(format, ap);
    va_end(ap);
}

ShowIp::ShowIp(uint32_t addr) {
    std::snprintf(text_, sizeof text_, "%u.%u.%u.%u", addr >> 24, addr >> 16 & 0xff,
                  addr >> 8 & 0xff, addr & 0xff);
}

} // namespace VyrNat
