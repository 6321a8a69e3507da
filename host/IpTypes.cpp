#include "host/IpTypes.h"

#include <charconv>

namespace Ip {

namespace {

bool parseNumber(std::string_view text, uint32_t max, uint32_t& out) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

} // namespace

std::optional<IpAddr> IpAddr::parse(std::string_view text) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        uint32_t octet;
        if (!parseNumber(text.substr(0, dot), 255, octet)) {
            return std::nullopt;
        }
        value = value << 8 | octet;
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return IpAddr(value);
}

std::string IpAddr::toString() const {
    return std::to_string(value >> 24) + "." + std::to_string(value >> 16 & 0xff) + "." +
           std::to_string(value >> 8 & 0xff) + "." + std::to_string(value & 0xff);
}

std::string IpAndPort::toString() const {
    return ip.toString() + ":" + std::to_string(port);
}

std::optional<IpAddrWithFullMask> IpAddrWithFullMask::parse(std::string_view text) {
    std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    auto addr = IpAddr::parse(text.substr(0, slash));
    std::string_view rest = text.substr(slash + 1);
    if (!addr) {
        return std::nullopt;
    }
    uint32_t len;
    if (parseNumber(rest, 32, len)) {
        return IpAddrWithFullMask{*addr, maskOfLength(len)};
    }
    if (auto mask = IpAddr::parse(rest)) {
        return IpAddrWithFullMask{*addr, mask->value};
    }
    return std::nullopt;
}

std::string IpAddrWithFullMask::toString() const {
    return addr.toString() + "/" + IpAddr(mask).toString();
}

std::optional<Prefix> Prefix::parse(std::string_view text) {
    std::size_t slash = text.find('/');
    uint32_t len;
    if (slash == std::string_view::npos || !parseNumber(text.substr(slash + 1), 32, len)) {
        return std::nullopt;
    }
    auto addr = IpAddr::parse(text.substr(0, slash));
    if (!addr) {
        return std::nullopt;
    }
    return Prefix{*addr, static_cast<uint8_t>(len)};
}

std::string Prefix::toString() const {
    return addr.toString() + "/" + std::to_string(len);
}

std::string ConnTuple::toString() const {
    return src.toString() + " -> " + dst.toString() + " proto " + std::to_string(protocol);
}

} // namespace Ip
