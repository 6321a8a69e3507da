#pragma once
// What a show operation writes to its request socket, as text: the operation writes to a memory
// file that stands in for the socket.

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace TestSupport {

template <class Show> std::string showText(Show&& show) {
    const int fd = memfd_create("show", 0);
    EXPECT_GE(fd, 0);
    show(fd);
    std::string out;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        out.append(buf, std::size_t(n));
    }
    close(fd);
    return out;
}

// The rows of each section of a reply, by title (without its line end): the lines between the
// second separator and the empty line, split into words.
using ShowRows = std::vector<std::vector<std::string>>;
inline std::map<std::string, ShowRows> showSections(const std::string& text) {
    std::map<std::string, ShowRows> out;
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) {
        lines.push_back(l);
    }
    for (std::size_t i = 0; i + 3 < lines.size(); ++i) {
        const bool head = !lines[i].empty() &&
                          lines[i + 1].find_first_not_of('-') == std::string::npos &&
                          !lines[i + 1].empty() && lines[i + 3] == lines[i + 1];
        if (!head) {
            continue;
        }
        ShowRows& rows = out[lines[i]];
        EXPECT_TRUE(rows.empty()) << "section written twice: " << lines[i];
        std::size_t j = i + 4;
        for (; j < lines.size() && !lines[j].empty(); ++j) {
            std::istringstream words(lines[j]);
            rows.emplace_back();
            for (std::string w; words >> w;) {
                rows.back().push_back(w);
            }
        }
        i = j;
    }
    return out;
}

} // namespace TestSupport
