// SPDX-License-Identifier: MIT
#pragma once

#include "base/local_address_table.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zpmoni {

// The machine's IPv4 addresses (network byte order): non-loopback ones first in the kernel's
// order, loopback ones last, so interface number 0 names the primary address.
std::vector<uint32_t> InterfaceAddresses();

// The index of the interface that holds the address, if any does.
std::optional<int> InterfaceIndexOf(uint32_t address);

// The host's own addresses: the host name's addresses that are on an interface and not loopback,
// then the interface addresses not yet listed, at most four. Nothing when none is found.
std::optional<LocalAddressTable> LocalAddresses();

bool IsLoopback(uint32_t address);

}  // namespace zpmoni
