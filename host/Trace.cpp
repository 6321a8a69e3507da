#include "host/Trace.h"

#include "host/Format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <vector>

namespace Trace {

namespace {

struct Rule {
    std::string pattern;
    uint16_t mask;
};

struct Registry {
    std::vector<Handle*> handles;
    std::vector<Rule> rules;
    std::ostream* out = nullptr;
    std::unique_ptr<std::ofstream> file;
    bool environmentRead = false;
    bool unmatchedReported = false;

    uint16_t maskFor(const char* name) const;
};

// '*' matches any run of characters. Greedy, going back only to the last star: a star
// followed by more stars or text never retries what an earlier star has consumed, so the cost
// stays within the product of the two lengths however many stars the pattern holds.
bool globMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0; // where the text the last star covers ends
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool parseLevel(std::string_view s, int& level) {
    if (s.size() != 1 || s[0] < '0' || s[0] > '9') {
        return false;
    }
    level = s[0] - '0';
    return true;
}

std::string parseItem(std::string_view item, std::vector<Rule>& rules) {
    std::string_view pattern = item;
    uint16_t mask = 0x3ff;
    if (std::size_t slash = item.find('/'); slash != std::string_view::npos) {
        pattern = item.substr(0, slash);
        std::string_view levels = item.substr(slash + 1);
        std::size_t dash = levels.find('-');
        int lo = 0;
        int hi = 0;
        bool ok = dash == std::string_view::npos ? parseLevel(levels, lo) && parseLevel(levels, hi)
                                                 : parseLevel(levels.substr(0, dash), lo) &&
                                                       parseLevel(levels.substr(dash + 1), hi);
        if (!ok || lo > hi) {
            return "bad levels '" + std::string(levels) + "' in trace item '" + std::string(item) +
                   "': give a level 0 to 9 or a range such as 0-3";
        }
        mask = static_cast<uint16_t>(((1u << (hi + 1)) - 1) & ~((1u << lo) - 1));
    }
    if (pattern.empty()) {
        return "missing handle name in trace item '" + std::string(item) + "'";
    }
    rules.push_back({std::string(pattern), mask});
    return {};
}

std::string parse(std::string_view setting, std::vector<Rule>& rules) {
    if (setting.empty()) {
        return {};
    }
    for (std::size_t start = 0;;) {
        std::size_t end = setting.find(',', start);
        std::string_view item = setting.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (item.empty()) {
            return "empty item in trace setting '" + std::string(setting) + "'";
        }
        if (std::string error = parseItem(item, rules); !error.empty()) {
            return error;
        }
        if (end == std::string_view::npos) {
            return {};
        }
        start = end + 1;
    }
}

Registry& registry() {
    static Registry r;
    if (!r.environmentRead) {
        r.environmentRead = true;
        applyEnvironment();
    }
    return r;
}

uint16_t Registry::maskFor(const char* name) const {
    uint16_t mask = 0;
    for (const Rule& r : rules) {
        if (globMatch(r.pattern, name)) {
            mask |= r.mask;
        }
    }
    return mask;
}

} // namespace

Handle::Handle(const char* name) : name_(name) {
    Registry& r = registry();
    r.handles.push_back(this);
    mask_ = r.maskFor(name);
}

Handle::~Handle() {
    auto& hs = registry().handles;
    hs.erase(std::remove(hs.begin(), hs.end(), this), hs.end());
}

std::string applyEnvironment() {
    std::string error;
    if (const char* path = std::getenv("VYRNAT_TRACE_FILE"); path && *path) {
        if (std::string e = fileIs(path); !e.empty()) {
            error = "VYRNAT_TRACE_FILE: " + e + "; tracing to stderr";
        }
    }
    if (const char* setting = std::getenv("VYRNAT_TRACE")) {
        if (std::string e = configure(setting); !e.empty()) {
            error = "VYRNAT_TRACE: " + e + "; trace setting unchanged";
        }
    }
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
    }
    return error;
}

std::string configure(std::string_view setting) {
    std::vector<Rule> parsed;
    std::string error = parse(setting, parsed);
    if (!error.empty()) {
        return error;
    }
    Registry& r = registry();
    r.rules = std::move(parsed);
    r.unmatchedReported = false;
    for (Handle* h : r.handles) {
        h->maskIs(r.maskFor(h->name()));
    }
    return {};
}

std::vector<std::string> unmatched() {
    const Registry& r = registry();
    std::vector<std::string> out;
    for (const Rule& rule : r.rules) {
        const bool matched = std::any_of(r.handles.begin(), r.handles.end(), [&](const Handle* h) {
            return globMatch(rule.pattern, h->name());
        });
        if (!matched && std::find(out.begin(), out.end(), rule.pattern) == out.end()) {
            out.push_back(rule.pattern);
        }
    }
    return out;
}

void reportUnmatched() {
    Registry& r = registry();
    if (r.unmatchedReported) {
        return;
    }
    r.unmatchedReported = true;
    const std::vector<std::string> names = unmatched();
    if (names.empty()) {
        return;
    }
    std::set<std::string_view> known;
    for (const Handle* h : r.handles) {
        known.insert(h->name());
    }
    std::string text = "trace: no trace handle is named ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i ? ", '" : "'") + Host::printable(names[i]) + "'";
    }
    text += " (handles: ";
    for (auto it = known.begin(); it != known.end(); ++it) {
        text += (it == known.begin() ? "" : ", ") + std::string(*it);
    }
    std::fprintf(stderr, "%s)\n", text.c_str());
}

void streamIs(std::ostream* os) {
    Registry& r = registry();
    r.out = os;
    r.file.reset();
}

std::string fileIs(const std::string& path) {
    auto f = std::make_unique<std::ofstream>(path, std::ios::app);
    if (!*f) {
        return "cannot open trace file '" + path + "'";
    }
    Registry& r = registry();
    r.file = std::move(f);
    r.out = r.file.get();
    return {};
}

void write(int, const char* function, std::string_view text) {
    Registry& r = registry();
    std::ostream& os = r.out ? *r.out : std::cerr;
    // Traced values may come from outside (names in the configuration): no control sequence
    // reaches the terminal.
    os << function << ": " << Host::printable(text) << '\n';
    os.flush();
}

} // namespace Trace
