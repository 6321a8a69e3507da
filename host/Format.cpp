#include "host/Format.h"

#include <cstdio>

namespace Host {

namespace {

bool isConversion(char c) {
    return std::string_view("diuxXoscfgeEG").find(c) != std::string_view::npos;
}

// Formats one value with the flags, width and precision of `spec` ("%-8s" and the like).
void appendOne(std::string& out, std::string_view spec, char conv, const FmtArg& a) {
    std::string f(spec.substr(0, spec.size() - 1));
    // Drop length modifiers; the value's own type decides the length.
    while (!f.empty() && std::string_view("hljztL").find(f.back()) != std::string_view::npos) {
        f.pop_back();
    }
    char buf[512];
    int n = 0;
    bool integerConv = std::string_view("diuxXoc").find(conv) != std::string_view::npos;
    switch (a.kind) {
    case FmtArg::Kind::str:
        n = std::snprintf(buf, sizeof buf, (f + "s").c_str(),
                          std::string(a.s).c_str()); // NOLINT: format built from a checked spec
        break;
    case FmtArg::Kind::f64:
        n = std::snprintf(buf, sizeof buf, (f + (integerConv || conv == 's' ? 'g' : conv)).c_str(),
                          a.f);
        break;
    case FmtArg::Kind::i64:
        if (conv == 'u' || conv == 'x' || conv == 'X' || conv == 'o') {
            n = std::snprintf(buf, sizeof buf, (f + "ll" + conv).c_str(),
                              static_cast<unsigned long long>(a.i));
        } else if (integerConv && conv != 'c') {
            n = std::snprintf(buf, sizeof buf, (f + "lld").c_str(), static_cast<long long>(a.i));
        } else if (conv == 'c') {
            n = std::snprintf(buf, sizeof buf, (f + "c").c_str(), static_cast<int>(a.i));
        } else {
            n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.i));
        }
        break;
    case FmtArg::Kind::u64:
        if (conv == 'x' || conv == 'X' || conv == 'o' || conv == 'u') {
            n = std::snprintf(buf, sizeof buf, (f + "ll" + conv).c_str(),
                              static_cast<unsigned long long>(a.u));
        } else if (conv == 'd' || conv == 'i') {
            n = std::snprintf(buf, sizeof buf, (f + "llu").c_str(),
                              static_cast<unsigned long long>(a.u));
        } else if (conv == 'c') {
            n = std::snprintf(buf, sizeof buf, (f + "c").c_str(), static_cast<int>(a.u));
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
        std::size_t j = i + 1;
        while (j < fmt.size() &&
               std::string_view("-+ #0123456789.hljztL").find(fmt[j]) != std::string_view::npos) {
            ++j;
        }
        if (j >= fmt.size() || !isConversion(fmt[j]) || next >= args.size()) {
            std::size_t end = std::min(j + 1, fmt.size());
            out.append(fmt.substr(i, end - i));
            i = end - 1;
            continue;
        }
        appendOne(out, fmt.substr(i, j - i + 1), fmt[j], args[next++]);
        i = j;
    }
    return out;
}

} // namespace Host
