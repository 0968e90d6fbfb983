// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

// Lenient dotted text to a 32-bit address in network byte order (first part in the first
// byte), as the deny list reads its address and mask texts:
// - each of the four parts is read like atoi: leading white space, an optional sign, digits
//   up to the first other character; no digits is 0;
// - a part below 0 or above 255 makes the whole result 0.0.0.0;
// - a text with fewer than four parts gives 255.255.255.255;
// - whatever follows the fourth part is ignored.
uint32_t ParseAddress(std::string_view text);

// The same address with the first part in the most significant byte.
uint32_t HostOrder(uint32_t networkOrder);
