// SPDX-License-Identifier: MIT
#pragma once

#include "packlist/pack_index.h"
#include "packlist/pack_list_builder.h"

namespace zpmoni {

// The pack list builder's view of a pack list file: the same reader and look-up as the
// decoder's index, in an instance of its own.
class KnownAircraft final : public AircraftIndex {
public:
    void Load(std::string_view text) override { index.Parse(text); }
    std::optional<std::string> PackOf(std::string_view identifier) override
    {
        if (std::optional<std::string_view> pack = index.Find(identifier))
            return std::string(*pack);
        return std::nullopt;
    }

private:
    PackIndex index;
};

}  // namespace zpmoni
