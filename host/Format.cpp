#include "host/Format.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace Host {

namespace {

// One conversion as written: "%-8s" is flags "-", width 8, conversion 's'.
struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    char conv = 0;
    std::size_t length = 0; // characters from the '%' to the conversion, both included
    bool tooWide = false;   // width or precision beyond kMaxWidth: printed as written
};

bool isConversion(char c) {
    return std::string_view("diuxXoscfgeEG").find(c) != std::string_view::npos;
}

// The number written at `j`, -1 when there is none; `tooLarge` is set above kMaxWidth.
int readNumber(std::string_view fmt, std::size_t& j, bool& tooLarge) {
    int n = -1;
    for (; j < fmt.size() && fmt[j] >= '0' && fmt[j] <= '9'; ++j) {
        n = std::min((n < 0 ? 0 : n * 10) + (fmt[j] - '0'), kMaxWidth + 1);
    }
    tooLarge = tooLarge || n > kMaxWidth;
    return n;
}

// The conversion starting at fmt[i] == '%'; nullopt when it is not one at all.
std::optional<Spec> parseSpec(std::string_view fmt, std::size_t i) {
    Spec s;
    std::size_t j = i + 1;
    while (j < fmt.size() && std::string_view("-+ #0").find(fmt[j]) != std::string_view::npos) {
        if (s.flags.find(fmt[j]) == std::string::npos) {
            s.flags += fmt[j];
        }
        ++j;
    }
    bool tooLarge = false;
    s.width = readNumber(fmt, j, tooLarge);
    if (j < fmt.size() && fmt[j] == '.') {
        ++j;
        s.precision = std::max(readNumber(fmt, j, tooLarge), 0);
    }
    s.tooWide = tooLarge;
    // Length modifiers are dropped: the value's own type decides the length.
    for (std::size_t n = 0; j < fmt.size() && n < 2 &&
                            std::string_view("hljztL").find(fmt[j]) != std::string_view::npos;
         ++n) {
        ++j;
    }
    if (j >= fmt.size() || !isConversion(fmt[j])) {
        return std::nullopt;
    }
    s.conv = fmt[j];
    s.length = j - i + 1;
    return s;
}

std::string printfSpec(const Spec& s, std::string_view length, char conv) {
    std::string f = "%" + s.flags;
    if (s.width >= 0) {
        f += std::to_string(s.width);
    }
    if (s.precision >= 0) {
        f += "." + std::to_string(s.precision);
    }
    return f.append(length) + conv;
}

void appendText(std::string& out, const Spec& s, std::string_view text) {
    if (s.precision >= 0) {
        text = text.substr(0, static_cast<std::size_t>(s.precision));
    }
    const std::size_t pad = s.width > 0
                                ? static_cast<std::size_t>(s.width) -
                                      std::min<std::size_t>(text.size(), std::size_t(s.width))
                                : 0;
    const bool left = s.flags.find('-') != std::string::npos;
    if (!left) {
        out.append(pad, ' ');
    }
    out.append(text);
    if (left) {
        out.append(pad, ' ');
    }
}

// Formats one value with the flags, width and precision of `s`.
void appendOne(std::string& out, const Spec& s, const FmtArg& a) {
    const char conv = s.conv;
    char buf[512];
    int n = 0;
    const bool integerConv = std::string_view("diuxXoc").find(conv) != std::string_view::npos;
    const bool unsignedConv = std::string_view("uxXo").find(conv) != std::string_view::npos;
    switch (a.kind) {
    case FmtArg::Kind::str:
        appendText(out, s, a.s);
        return;
    case FmtArg::Kind::ip4:
    case FmtArg::Kind::ip4Port:
        appendText(out, s, a.addressText());
        return;
    case FmtArg::Kind::f64:
        n = std::snprintf(buf, sizeof buf,
                          printfSpec(s, "", integerConv || conv == 's' ? 'g' : conv).c_str(), a.f);
        break;
    case FmtArg::Kind::i64:
        if (unsignedConv) {
            n = std::snprintf(buf, sizeof buf, printfSpec(s, "ll", conv).c_str(),
                              static_cast<unsigned long long>(a.i));
        } else if (conv == 'c') {
            n = std::snprintf(buf, sizeof buf, printfSpec(s, "", 'c').c_str(),
                              static_cast<int>(a.i));
        } else if (integerConv) {
            n = std::snprintf(buf, sizeof buf, printfSpec(s, "ll", 'd').c_str(),
                              static_cast<long long>(a.i));
        } else {
            n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.i));
        }
        break;
    case FmtArg::Kind::u64:
        if (unsignedConv || conv == 'd' || conv == 'i') {
            n = std::snprintf(buf, sizeof buf,
                              printfSpec(s, "ll", unsignedConv ? conv : 'u').c_str(),
                              static_cast<unsigned long long>(a.u));
        } else if (conv == 'c') {
            n = std::snprintf(buf, sizeof buf, printfSpec(s, "", 'c').c_str(),
                              static_cast<int>(a.u));
        } else {
            n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(a.u));
        }
        break;
    }
    if (n > 0) {
        out.append(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1));
    }
}

} // namespace

std::string formatPrintf(std::string_view fmt, std::span<const FmtArg> args) {
    std::string out;
    out.reserve(fmt.size() + 16 * args.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] != '%') {
            out += fmt[i];
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        const std::optional<Spec> spec = parseSpec(fmt, i);
        if (!spec) {
            out += '%'; // not a conversion: the rest prints as text
            continue;
        }
        if (spec->tooWide) {
            out.append(fmt.substr(i, spec->length));
            ++next; // its value goes with it, so that the others keep their places
        } else if (next >= args.size()) {
            out.append(fmt.substr(i, spec->length));
        } else {
            appendOne(out, *spec, args[next++]);
        }
        i += spec->length - 1;
    }
    return out;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

std::string FmtArg::addressText() const {
    const uint32_t addr = uint32_t(kind == Kind::ip4Port ? u >> 16 : u);
    char buf[24];
    int n = std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", addr >> 24, addr >> 16 & 0xFF,
                          addr >> 8 & 0xFF, addr & 0xFF);
    if (kind == Kind::ip4Port) {
        n += std::snprintf(buf + n, sizeof buf - std::size_t(n), ":%u", unsigned(u & 0xFFFF));
    }
    return std::string(buf, std::size_t(n));
}

} // namespace Host
