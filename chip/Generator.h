#pragma once
// Turns a schema into the text of the generated header and source. A pure function: the same
// schema and options always give the same text.

#include <string>

#include "chip/Schema.h"

namespace VyrP4::Generator {

struct Options {
    std::string headerInclude = "chip/P4Tables.h"; // how the source includes the header
    std::string registry = "natTables";            // function that lists the table descriptors
};

struct Output {
    std::string header;
    std::string source;
};

// Throws std::invalid_argument for an inconsistent schema (unknown action, duplicate names,
// a field wider than 64 bits, a ternary field in a table without priority order).
Output generate(const Schema::Schema& schema, const Options& options);

} // namespace VyrP4::Generator
