// SPDX-License-Identifier: MIT
#include "ui/list_state.h"

#include <cstdlib>

namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t GetU32(std::span<const uint8_t> in, size_t at)
{
    return static_cast<uint32_t>(in[at]) | static_cast<uint32_t>(in[at + 1]) << 8 |
           static_cast<uint32_t>(in[at + 2]) << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
}

uint8_t Lighter(uint8_t c)
{
    return c < 232 ? static_cast<uint8_t>(c + c / 10) : 255;
}

}  // namespace

std::vector<uint8_t> EncodeListState(const ListState& state)
{
    std::vector<uint8_t> out;
    out.reserve(8 + 9 * state.columns.size());
    PutU32(out, static_cast<uint32_t>(state.columns.size()));
    PutU32(out, static_cast<uint32_t>(state.sortColumn));
    for (const ListColumnState& c : state.columns) {
        out.push_back(c.visible ? 1 : 0);
        PutU32(out, c.width);
        PutU32(out, c.order);
    }
    return out;
}

std::optional<ListStateRestore> DecodeListState(std::span<const uint8_t> block, size_t columnCount)
{
    if (block.size() < 8 || block.size() != 9 * columnCount + 8 || GetU32(block, 0) != columnCount)
        return std::nullopt;
    ListStateRestore r;
    r.sortColumn = static_cast<int32_t>(GetU32(block, 4));
    // Widened so that the most negative value cannot overflow.
    if (std::llabs(static_cast<long long>(r.sortColumn)) > static_cast<long long>(columnCount))
        return std::nullopt;

    std::vector<bool> orderTaken(columnCount, false);
    bool ordersSound = true;
    for (size_t i = 0; i < columnCount; ++i) {
        const size_t at = 8 + 9 * i;
        ListColumnState c;
        c.visible = block[at] != 0;
        c.width = GetU32(block, at + 1);
        c.order = GetU32(block, at + 5);
        r.columns.push_back(c);
        if (c.order >= columnCount)
            return r;  // applyOrder stays false
        // A repeated position is no column order at all; moving sections by it would scramble
        // the header instead of restoring it.
        if (orderTaken[c.order])
            ordersSound = false;
        orderTaken[c.order] = true;
    }
    r.applyOrder = ordersSound;
    return r;
}

std::optional<Rgb> SortTint(Rgb background, int bitsPerPixel)
{
    if (bitsPerPixel < 9)
        return std::nullopt;
    const Rgb& c = background;
    if (c.r < 241 || c.g < 241 || c.b < 241)
        return Rgb{Lighter(c.r), Lighter(c.g), Lighter(c.b)};
    return Rgb{static_cast<uint8_t>(c.r - 8), static_cast<uint8_t>(c.g - 8), static_cast<uint8_t>(c.b - 8)};
}
