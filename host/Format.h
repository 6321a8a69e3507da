#pragma once
// printf-style formatting over a list of typed values, shared by the log messages, the ring
// trace and its decoder. A conversion whose value has another type prints the value in its own
// form (a string for %d prints the string); a conversion without a value prints as written.
//
// Format strings may come from a file (the ring trace's dictionary), so only the conversions
// the system writes are taken: flags "-+ #0", a width and a precision of at most kMaxWidth, a
// length modifier, and one of "diuxXoscfgeEG". Anything else prints as written.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace Host {

constexpr int kMaxWidth = 128;

struct FmtArg {
    // ip4 holds an IPv4 address, ip4Port an address (bits 16-47) and a port (bits 0-15); both
    // print as text ("10.0.0.5", "10.0.0.5:80"), so that a record stores them as numbers.
    enum class Kind : uint8_t { i64, u64, f64, str, ip4, ip4Port };

    Kind kind;
    union {
        int64_t i;
        uint64_t u;
        double f;
    };
    std::string_view s;

    template <class T>
    requires std::is_integral_v<T> FmtArg(T v) {
        if constexpr (std::is_signed_v<T>) {
            kind = Kind::i64;
            i = v;
        } else {
            kind = Kind::u64;
            u = v;
        }
    }
    FmtArg(double v) : kind(Kind::f64), f(v) {}
    FmtArg(std::string_view v) : kind(Kind::str), u(0), s(v) {}
    FmtArg(const char* v) : FmtArg(std::string_view(v ? v : "(null)")) {}
    FmtArg(const std::string& v) : FmtArg(std::string_view(v)) {}
    // A value type that says how it is passed.
    template <class T>
    requires requires(const T& t) { t.fmtArg(); }
    FmtArg(const T& v) : FmtArg(v.fmtArg()) {}

    static FmtArg ip4(uint32_t addr) { return withKind(Kind::ip4, addr); }
    static FmtArg ip4Port(uint32_t addr, uint16_t port) {
        return withKind(Kind::ip4Port, uint64_t(addr) << 16 | port);
    }
    // The text of an address kind.
    std::string addressText() const;

private:
    static FmtArg withKind(Kind k, uint64_t v) {
        FmtArg a(v);
        a.kind = k;
        return a;
    }
};

std::string formatPrintf(std::string_view format, std::span<const FmtArg> args);

template <class... A> std::string format(std::string_view fmt, const A&... args) {
    const FmtArg list[] = {FmtArg(args)..., FmtArg(0)};
    return formatPrintf(fmt, std::span<const FmtArg>(list, sizeof...(A)));
}

// Text safe to print on a terminal, on one line: control characters (escape sequences, line
// breaks) are shown escaped as \n, \t or \xNN.
std::string printable(std::string_view text);

} // namespace Host
