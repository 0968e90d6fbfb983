// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// The registered name of an IPv4 address (network byte order), or nothing when it has none.
std::optional<std::string> ResolveHostName(uint32_t address);
