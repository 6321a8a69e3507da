#include "chip/Generator.h"

#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

namespace VyrP4::Generator {

namespace {

using Schema::Action;
using Schema::Field;
using Schema::Table;

const char* const kBanner = "// Generated from the table schema by vyr_chip_gen; do not edit.\n";

struct Placed {
    const Field* field;
    unsigned word;
    unsigned shift;
};

struct Packed {
    std::vector<Placed> fields;
    unsigned words = 0;
};

// Most significant bit first; a field that does not fit in the rest of a word starts the next.
Packed pack(const std::vector<Field>& fields, const std::string& owner) {
    Packed p;
    unsigned word = 0;
    unsigned left = 64;
    for (const Field& f : fields) {
        if (f.width == 0 || f.width > 64) {
            throw std::invalid_argument(owner + "." + f.name + ": width must be 1 to 64");
        }
        if (f.width > left) {
            ++word;
            left = 64;
        }
        left -= f.width;
        p.fields.push_back({&f, word, left});
    }
    p.words = fields.empty() ? 0 : word + 1;
    return p;
}

std::string capitalized(std::string s) {
    if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') {
        s[0] = char(s[0] - 'a' + 'A');
    }
    return s;
}

std::string valueType(unsigned width) {
    if (width <= 8) {
        return "std::uint8_t";
    }
    if (width <= 16) {
        return "std::uint16_t";
    }
    if (width <= 32) {
        return "std::uint32_t";
    }
    return "std::uint64_t";
}

std::string argType(unsigned width) {
    return width <= 32 ? "std::uint32_t" : "std::uint64_t";
}

const char* kindName(MatchKind k) {
    return k == MatchKind::exact ? "MatchKind::exact" : "MatchKind::ternary";
}

const char* formatName(FieldFormat f) {
    switch (f) {
    case FieldFormat::dec:
        return "FieldFormat::dec";
    case FieldFormat::hex:
        return "FieldFormat::hex";
    case FieldFormat::ipv4:
        return "FieldFormat::ipv4";
    }
    return "";
}

const char* orderName(PriorityOrder o) {
    switch (o) {
    case PriorityOrder::none:
        return "PriorityOrder::none";
    case PriorityOrder::higherWins:
        return "PriorityOrder::higherWins";
    case PriorityOrder::lowerWins:
        return "PriorityOrder::lowerWins";
    }
    return "";
}

bool isTernary(const Table& t) {
    for (const Field& f : t.match) {
        if (f.kind == MatchKind::ternary) {
            return true;
        }
    }
    return false;
}

bool sameFields(const std::vector<Field>& a, const std::vector<Field>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].width != b[i].width || a[i].kind != b[i].kind ||
            a[i].format != b[i].format) {
            return false;
        }
    }
    return true;
}

// The tables that define each class, in first-use order.
struct Model {
    std::vector<const Action*> actions;
    std::map<std::string, const Action*> actionByName;
    std::vector<const Table*> classes; // first table of each class base
};

Model check(const Schema::Schema& schema) {
    Model m;
    for (const Action& a : schema.actions) {
        if (!m.actionByName.emplace(a.name, &a).second) {
            throw std::invalid_argument("duplicate action " + a.name);
        }
        std::set<std::string> names;
        for (const Field& f : a.fields) {
            if (!names.insert(f.name).second) {
                throw std::invalid_argument(a.name + ": duplicate field " + f.name);
            }
        }
        pack(a.fields, a.name);
        m.actions.push_back(&a);
    }
    std::set<std::string> tableNames;
    std::map<std::string, const Table*> classByName;
    for (const Table& t : schema.tables) {
        if (!tableNames.insert(t.name).second) {
            throw std::invalid_argument("duplicate table " + t.name);
        }
        if (isTernary(t) != (t.priority != PriorityOrder::none)) {
            throw std::invalid_argument(t.name + ": a table has a priority order exactly when it "
                                                 "has a ternary field");
        }
        if (t.actions.empty()) {
            throw std::invalid_argument(t.name + ": no actions");
        }
        std::set<std::string> fieldNames;
        for (const Field& f : t.match) {
            if (!fieldNames.insert(f.name).second || f.name == "priority") {
                throw std::invalid_argument(t.name + ": duplicate or reserved field " + f.name);
            }
        }
        std::set<std::string> actionNames;
        for (const std::string& a : t.actions) {
            if (!m.actionByName.count(a)) {
                throw std::invalid_argument(t.name + ": unknown action " + a);
            }
            if (!actionNames.insert(a).second) {
                throw std::invalid_argument(t.name + ": duplicate action " + a);
            }
        }
        pack(t.match, t.name);
        auto [it, added] = classByName.emplace(t.classBase, &t);
        if (added) {
            m.classes.push_back(&t);
        } else if (!sameFields(it->second->match, t.match) || it->second->actions != t.actions ||
                   it->second->priority != t.priority) {
            throw std::invalid_argument(t.name + ": class " + t.classBase +
                                        " is shared with a table of another layout");
        }
    }
    return m;
}

void emitAccessors(std::ostream& o, const Packed& p, unsigned maskOffset) {
    for (const Placed& pl : p.fields) {
        const Field& f = *pl.field;
        const std::string vt = valueType(f.width);
        const std::string at = argType(f.width);
        const std::string pos = std::to_string(pl.word) + ", " + std::to_string(pl.shift) + ", " +
                                std::to_string(f.width);
        const std::string maskPos = std::to_string(pl.word + maskOffset) + ", " +
                                    std::to_string(pl.shift) + ", " + std::to_string(f.width);
        if (f.kind == MatchKind::ternary) {
            o << "    void " << f.name << "Is(" << at << " value, " << at << " mask) {\n"
              << "        Bits::put(w_.data(), " << pos << ", value);\n"
              << "        Bits::put(w_.data(), " << maskPos << ", mask);\n"
              << "    }\n";
            o << "    " << vt << " " << f.name << "Mask() const {\n"
              << "        return " << vt << "(Bits::get(w_.data(), " << maskPos << "));\n"
              << "    }\n";
        } else {
            o << "    void " << f.name << "Is(" << at << " value) {\n"
              << "        Bits::put(w_.data(), " << pos << ", value);\n"
              << "    }\n";
        }
        o << "    " << vt << " " << f.name << "() const {\n"
          << "        return " << vt << "(Bits::get(w_.data(), " << pos << "));\n"
          << "    }\n";
    }
}

void emitAction(std::ostream& o, const Action& a) {
    const Packed p = pack(a.fields, a.name);
    const std::string cls = a.name + "ActionSpec";
    o << "class " << cls << " : public SpecBase<" << cls << ", " << p.words << "> {\n"
      << "public:\n"
      << "    static const ActionLayout& layout();\n";
    emitAccessors(o, p, 0);
    o << "    bool operator==(const " << cls << "&) const = default;\n"
      << "    auto operator<=>(const " << cls << "&) const = default;\n"
      << "};\n\n";
}

void emitMatch(std::ostream& o, const Table& t) {
    const Packed p = pack(t.match, t.name);
    const bool ternary = isTernary(t);
    const unsigned words = ternary ? 2 * p.words + 1 : p.words;
    const std::string cls = t.classBase + "MatchSpec";
    o << "class " << cls << " : public SpecBase<" << cls << ", " << words << "> {\n"
      << "public:\n"
      << "    static const MatchLayout& layout();\n";
    emitAccessors(o, p, p.words);
    if (ternary) {
        o << "    void priorityIs(std::int32_t value) { w_[" << 2 * p.words
          << "] = Bits::priorityWord(value); }\n"
          << "    std::int32_t priority() const { return Bits::priorityOf(w_[" << 2 * p.words
          << "]); }\n";
    }
    o << "    bool operator==(const " << cls << "&) const = default;\n"
      << "    auto operator<=>(const " << cls << "&) const = default;\n"
      << "};\n\n";
}

std::string tableClass(const Table& t) {
    return t.classBase + "Table";
}
std::string factoryName(const Table& t) {
    return t.name + "TableFactory";
}

const char* const kFactoryParams =
    "(MbbMirraKey::MirraKeyManager* keyManager, VyrTableStatusManager::StatusManager* "
    "statusManager, DeviceHandle handle, std::uint32_t count, std::uint8_t key8, std::uint16_t "
    "key16, const std::string& name)";

std::string header(const Schema::Schema& schema, const Model& m, const Options& opt) {
    std::ostringstream o;
    o << kBanner << "#pragma once\n\n"
      << "#include <cstdint>\n#include <functional>\n#include <memory>\n#include <span>\n"
      << "#include <string>\n\n"
      << "#include \"chip/Table.h\"\n\n"
      << "namespace VyrP4 {\n\n"
      << "// Action specs.\n\n";
    for (const Action* a : m.actions) {
        emitAction(o, *a);
    }
    o << "// Match specs.\n\n";
    for (const Table* t : m.classes) {
        emitMatch(o, *t);
    }
    o << "// Tables.\n\n";
    for (const Table* t : m.classes) {
        o << "class " << tableClass(*t) << " : public TypedTable<" << t->classBase << "MatchSpec";
        for (const std::string& a : t->actions) {
            o << ", " << a << "ActionSpec";
        }
        o << "> {\n"
          << "public:\n"
          << "    using TypedTable::TypedTable;\n"
          << "};\n"
          << "using " << t->classBase << "Entry = " << tableClass(*t) << "::Entry;\n\n";
    }
    for (const Table& t : schema.tables) {
        const std::string own = capitalized(t.name);
        if (own != t.classBase) {
            o << "using " << own << "Table = " << tableClass(t) << ";\n";
            o << "using " << own << "MatchSpec = " << t.classBase << "MatchSpec;\n";
        }
    }
    o << "\n// Factories, one per table.\n\n";
    for (const Table& t : schema.tables) {
        o << "std::shared_ptr<" << tableClass(t) << "> " << factoryName(t) << kFactoryParams
          << ";\n";
    }
    o << "\n// The descriptors of every table, in schema order.\n"
      << "std::span<const TableDesc> " << opt.registry << "();\n\n"
      << "} // namespace VyrP4\n\n";
    auto hashOf = [&o](const std::string& cls) {
        o << "template <> struct std::hash<VyrP4::" << cls << "> {\n"
          << "    std::size_t operator()(const VyrP4::" << cls
          << "& s) const noexcept { return s.hash(); }\n"
          << "};\n";
    };
    for (const Action* a : m.actions) {
        hashOf(a->name + "ActionSpec");
    }
    for (const Table* t : m.classes) {
        hashOf(t->classBase + "MatchSpec");
    }
    return o.str();
}

void emitFieldArray(std::ostream& o, const std::string& name, const Packed& p) {
    if (p.fields.empty()) {
        return;
    }
    o << "constexpr FieldDesc " << name << "[] = {\n";
    for (const Placed& pl : p.fields) {
        o << "    {\"" << pl.field->name << "\", " << pl.word << ", " << pl.shift << ", "
          << pl.field->width << ", " << kindName(pl.field->kind) << ", "
          << formatName(pl.field->format) << "},\n";
    }
    o << "};\n";
}

std::string fieldSpan(const std::string& name, const Packed& p) {
    return p.fields.empty() ? "{}" : "std::span<const FieldDesc>(" + name + ")";
}

std::string source(const Schema::Schema& schema, const Model& m, const Options& opt) {
    std::ostringstream o;
    o << kBanner << "#include \"" << opt.headerInclude << "\"\n\n"
      << "#include \"chip/Chip.h\"\n#include \"chip/Profile.h\"\n\n"
      << "namespace VyrP4 {\n\n"
      << "namespace {\n\n";
    for (const Action* a : m.actions) {
        const Packed p = pack(a->fields, a->name);
        emitFieldArray(o, "kFields" + a->name, p);
        o << "constexpr ActionLayout kAction" << a->name << "{\"" << a->name << "ActionSpec\", \""
          << a->name << "\", " << fieldSpan("kFields" + a->name, p) << ", " << p.words << "};\n\n";
    }
    for (const Table* t : m.classes) {
        const Packed p = pack(t->match, t->name);
        emitFieldArray(o, "kMatchFields" + t->classBase, p);
        o << "constexpr MatchLayout kMatch" << t->classBase << "{\"" << t->classBase
          << "MatchSpec\", " << fieldSpan("kMatchFields" + t->classBase, p) << ", " << p.words
          << ", " << (isTernary(*t) ? "true" : "false") << "};\n";
        o << "constexpr const ActionLayout* kActions" << t->classBase << "[] = {";
        for (std::size_t i = 0; i < t->actions.size(); ++i) {
            o << (i ? ", " : "") << "&kAction" << t->actions[i];
        }
        o << "};\n\n";
    }
    o << "const TableDesc kTables[] = {\n";
    std::uint32_t position = 0;
    for (const Table& t : schema.tables) {
        o << "    {\"" << t.name << "\", " << position++ << ", &kMatch" << t.classBase
          << ", kActions" << t.classBase << ", " << orderName(t.priority) << ", "
          << (t.hitBits ? "true" : "false") << ",\n"
          << "     [](const ProfileCapabilities& caps [[maybe_unused]]) -> std::uint32_t {\n"
          << "         return " << t.capacity << ";\n"
          << "     }},\n";
    }
    o << "};\n\n} // namespace\n\n";
    for (const Action* a : m.actions) {
        o << "const ActionLayout& " << a->name << "ActionSpec::layout() { return kAction" << a->name
          << "; }\n";
    }
    for (const Table* t : m.classes) {
        o << "const MatchLayout& " << t->classBase << "MatchSpec::layout() { return kMatch"
          << t->classBase << "; }\n";
    }
    o << "\nstd::span<const TableDesc> " << opt.registry << "() { return kTables; }\n\n";
    position = 0;
    for (const Table& t : schema.tables) {
        o << "std::shared_ptr<" << tableClass(t) << "> " << factoryName(t) << kFactoryParams
          << " {\n"
          << "    return std::make_shared<" << tableClass(t) << ">(openTable(kTables[" << position++
          << "], keyManager, statusManager, handle, count, key8, key16, name));\n"
          << "}\n";
    }
    o << "\n} // namespace VyrP4\n";
    return o.str();
}

} // namespace

Output generate(const Schema::Schema& schema, const Options& options) {
    const Model model = check(schema);
    return Output{header(schema, model, options), source(schema, model, options)};
}

} // namespace VyrP4::Generator
