#pragma once
// Compares what a table holds on the chip with what a manager's records say it should hold.

#include <algorithm>
#include <string>
#include <vector>

namespace TestSupport {

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
        out += table.name() + " missing: " + m + "\n";
    }
    for (const auto& x : extra) {
        out += table.name() + " extra: " + x + "\n";
    }
    return out;
}

} // namespace TestSupport
