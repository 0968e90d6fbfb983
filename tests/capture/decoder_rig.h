// SPDX-License-Identifier: MIT
#pragma once

#include "capture/decoder.h"

#include <algorithm>
#include <initializer_list>

using namespace zpmoni;

// A decoder on a manual clock, with no name lookups and no pack list, that takes the given
// addresses (network order) as the machine's own.
struct DecoderRig {
    explicit DecoderRig(std::initializer_list<uint32_t> own)
    {
        table.SetResolveNames(false);
        LocalAddressTable local;
        std::copy(own.begin(), own.end(), local.entries.begin());
        decoder.SetLocalAddresses(local);
    }
    ManualClock clock;
    PlayerTable table{clock};
    PackIndex packs;
    Decoder decoder{table, packs, clock};
};
