// SPDX-License-Identifier: MIT
#pragma once

#include <bit>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zpmoni {

// An IPv4 address, held in host byte order (first part in the most significant byte), so that
// masks and ranges are plain arithmetic; the byte order of sockets and captures is converted
// only at FromNetworkOrder and NetworkOrder.
class Ipv4Address {
public:
    // Whether a part may have leading zeros ("010" read as 10, as the deny file has always
    // meant them) or not (as inet_pton reads an address).
    enum class LeadingZeros { Refused, Decimal };

    constexpr Ipv4Address() = default;
    constexpr explicit Ipv4Address(uint32_t hostOrder) : value(hostOrder) {}
    static constexpr Ipv4Address FromNetworkOrder(uint32_t networkOrder) { return Ipv4Address(Swapped(networkOrder)); }
    static constexpr Ipv4Address Loopback() { return Ipv4Address(0x7F000001); }

    // Strict dotted-quad text "a.b.c.d": exactly four decimal parts of one to three digits,
    // each 0-255, no sign, nothing before, between or after; nothing for any other text.
    static constexpr std::optional<Ipv4Address> Parse(std::string_view text,
                                                      LeadingZeros zeros = LeadingZeros::Refused);

    constexpr uint32_t HostOrder() const { return value; }
    constexpr uint32_t NetworkOrder() const { return Swapped(value); }
    constexpr bool IsAny() const { return value == 0; }
    // 127.0.0.0/8.
    constexpr bool IsLoopback() const { return value >> 24 == 127; }
    // A mask of leading one bits only (255.255.254.0, not 255.0.255.0), as a prefix length can say.
    constexpr bool IsPrefixMask() const { return ((~value) & (~value + 1)) == 0; }
    constexpr int OneBits() const { return std::popcount(value); }

    // "a.b.c.d".
    std::string ToString() const
    {
        std::string text;
        for (int shift = 24; shift >= 0; shift -= 8) {
            text += std::to_string(value >> shift & 0xFF);
            if (shift)
                text += '.';
        }
        return text;
    }

    constexpr auto operator<=>(const Ipv4Address&) const = default;

private:
    static constexpr uint32_t Swapped(uint32_t v)
    {
        if constexpr (std::endian::native == std::endian::big)
            return v;
        return (v >> 24) | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | (v << 24);
    }

    uint32_t value = 0;
};

constexpr std::optional<Ipv4Address> Ipv4Address::Parse(std::string_view text, LeadingZeros zeros)
{
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        size_t digits = 0;
        uint32_t number = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
            number = number * 10 + static_cast<uint32_t>(text[digits] - '0');
            if (++digits > 3 || number > 255)
                return std::nullopt;
        }
        if (digits == 0 || (zeros == LeadingZeros::Refused && digits > 1 && text.front() == '0'))
            return std::nullopt;
        text.remove_prefix(digits);
        address = address << 8 | number;
    }
    if (!text.empty())
        return std::nullopt;
    return Ipv4Address(address);
}

// A TCP or UDP port number, in host byte order.
class Port {
public:
    constexpr Port() = default;
    constexpr explicit Port(uint16_t number) : number(number) {}

    // Decimal digits only, 0-65535.
    static constexpr std::optional<Port> Parse(std::string_view text)
    {
        if (text.empty() || text.size() > 5)
            return std::nullopt;
        uint32_t n = 0;
        for (char c : text) {
            if (c < '0' || c > '9')
                return std::nullopt;
            n = n * 10 + static_cast<uint32_t>(c - '0');
        }
        if (n > 0xFFFF)
            return std::nullopt;
        return Port(static_cast<uint16_t>(n));
    }

    constexpr uint16_t Number() const { return number; }
    std::string ToString() const { return std::to_string(number); }
    constexpr auto operator<=>(const Port&) const = default;

private:
    uint16_t number = 0;
};

}  // namespace zpmoni
