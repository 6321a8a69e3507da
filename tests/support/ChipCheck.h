#pragma once
// Compares what a table holds on the chip with what a manager's records say it should hold.

#include <algorithm>
#include <string>
#include <vector>

namespace TestSupport {

// Lines for what `want` has and `have` lacks and the other way round, under `name`.
inline std::string diff(const std::string& name, std::vector<std::string> want,
                        std::vector<std::string> have) {
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    std::vector<std::string> missing;
    std::vector<std::string> extra;
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(),
                        std::back_inserter(missing));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(),
                        std::back_inserter(extra));
    std::string out;
    for (const auto& m : missing) {
        out += name + " missing: " + m + "\n";
    }
    for (const auto& x : extra) {
        out += name + " extra: " + x + "\n";
    }
    return out;
}

// Lines "missing: ENTRY" for expected entries the table lacks and "extra: ENTRY" for entries no
// record accounts for; empty when the table holds exactly `expected`.
template <class Table>
std::string tableDiff(const Table& table, const std::vector<typename Table::Entry>& expected) {
    std::vector<std::string> want;
    std::vector<std::string> have;
    for (const auto& e : expected) {
        want.push_back(e.str());
    }
    for (const auto& e : table.entries()) {
        have.push_back(e.str());
    }
    return diff(table.name(), want, have);
}

// The same for match specs alone, for records that keep no action; a spec expected twice is two
// records sharing one entry. Specs are compared as they are and printed only when they differ,
// so that a randomized run can check after every step.
template <class Table>
std::string keyDiff(const Table& table, std::vector<typename Table::MatchSpec> want) {
    std::vector<typename Table::MatchSpec> have;
    for (const auto& e : table.entries()) {
        have.push_back(e.match());
    }
    std::sort(want.begin(), want.end());
    std::sort(have.begin(), have.end());
    if (want == have) {
        return "";
    }
    std::string out;
    for (auto it = std::adjacent_find(want.begin(), want.end()); it != want.end();
         it = std::adjacent_find(it + 1, want.end())) {
        out += table.name() + " shared by two records: " + it->str() + "\n";
    }
    want.erase(std::unique(want.begin(), want.end()), want.end());
    std::vector<std::string> w, h;
    for (const auto& m : want) {
        w.push_back(m.str());
    }
    for (const auto& m : have) {
        h.push_back(m.str());
    }
    return out + diff(table.name(), w, h);
}

} // namespace TestSupport
