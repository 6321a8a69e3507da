#pragma once
// The declarative form of the P4 program's tables: the generator turns a Schema into the typed
// match-spec, action-spec and table classes, the factories and the run-time descriptors.

#include <string>
#include <vector>

#include "chip/Layout.h"

namespace VyrP4::Schema {

struct Field {
    std::string name;
    unsigned width;
    MatchKind kind = MatchKind::exact;
    FieldFormat format = FieldFormat::dec;
};

// An action spec class "<name>ActionSpec" with its parameters.
struct Action {
    std::string name;
    std::vector<Field> fields;
};

struct Table {
    std::string name;      // the P4 table name, exactly
    std::string classBase; // "<classBase>Table", "<classBase>MatchSpec"; shared by table families
    std::vector<Field> match;
    PriorityOrder priority; // none for exact tables
    std::vector<std::string> actions;
    std::string capacity; // C++ expression over `const ProfileCapabilities& caps`
    bool hitBits = false;
};

struct Schema {
    std::vector<Action> actions;
    std::vector<Table> tables;
};

// Shorthands for schema lists.
inline Field exact(std::string name, unsigned width, FieldFormat f = FieldFormat::dec) {
    return Field{std::move(name), width, MatchKind::exact, f};
}
inline Field ternary(std::string name, unsigned width, FieldFormat f = FieldFormat::dec) {
    return Field{std::move(name), width, MatchKind::ternary, f};
}
inline Field ipv4(std::string name) {
    return exact(std::move(name), 32, FieldFormat::ipv4);
}
inline Field ipv4Ternary(std::string name) {
    return ternary(std::move(name), 32, FieldFormat::ipv4);
}
inline Field param(std::string name, unsigned width, FieldFormat f = FieldFormat::dec) {
    return exact(std::move(name), width, f);
}

// The NAT program's 53 tables.
const Schema& natSchema();

} // namespace VyrP4::Schema
