// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zpmoni {

// Dotted text as the deny list reads an address or a mask: exactly four decimal parts of one to
// three digits, each 0-255, joined by dots, nothing before, between or after. Leading zeros are
// read as decimal (010 is 10), as the file has always meant them. The address in host byte
// order (first part in the most significant byte); nothing for any other text, so that a typo
// never turns into a block nobody asked for.
std::optional<uint32_t> ParseDenyQuad(std::string_view text);

// The same address with the first part in the most significant byte.
uint32_t HostOrder(uint32_t networkOrder);

}  // namespace zpmoni
