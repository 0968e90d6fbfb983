// SPDX-License-Identifier: MIT
#include "ui/list_state.h"

#include "base/byte_reader.h"
#include "base/byte_writer.h"

#include <cstdlib>

namespace zpmoni {

namespace {

// Block layout: u32 column count, i32 sort column, then per column u8 visible, u32 width,
// u32 order.
constexpr size_t kCount = 0;
constexpr size_t kSort = 4;
constexpr size_t kColumns = 8;
constexpr size_t kColumnSize = 9;
constexpr size_t kVisible = 0;
constexpr size_t kWidth = 1;
constexpr size_t kOrder = 5;

uint8_t Lighter(uint8_t c)
{
    return c < 232 ? static_cast<uint8_t>(c + c / 10) : 255;
}

}  // namespace

std::vector<uint8_t> EncodeListState(const ListState& state)
{
    std::vector<uint8_t> out(kColumns + kColumnSize * state.columns.size());
    ByteWriter w(out);
    w.Le32(kCount, static_cast<uint32_t>(state.columns.size()));
    w.Le32(kSort, static_cast<uint32_t>(state.sortColumn));
    for (size_t i = 0; i < state.columns.size(); ++i) {
        const ListColumnState& c = state.columns[i];
        const size_t at = kColumns + kColumnSize * i;
        out[at + kVisible] = c.visible ? 1 : 0;
        w.Le32(at + kWidth, c.width);
        w.Le32(at + kOrder, c.order);
    }
    return out;
}

std::optional<ListStateRestore> DecodeListState(std::span<const uint8_t> block, size_t columnCount)
{
    const ByteReader in(block);
    if (block.size() < kColumns || (block.size() - kColumns) / kColumnSize != columnCount ||
        (block.size() - kColumns) % kColumnSize != 0 || in.Le32(kCount) != columnCount)
        return std::nullopt;
    ListStateRestore r;
    r.sortColumn = static_cast<int32_t>(in.Le32(kSort));
    // Widened so that the most negative value cannot overflow.
    if (std::llabs(static_cast<long long>(r.sortColumn)) > static_cast<long long>(columnCount))
        return std::nullopt;

    std::vector<bool> orderTaken(columnCount, false);
    bool ordersSound = true;
    for (size_t i = 0; i < columnCount; ++i) {
        const size_t at = kColumns + kColumnSize * i;
        ListColumnState c;
        c.visible = in.U8(at + kVisible) != 0;
        c.width = in.Le32(at + kWidth);
        c.order = in.Le32(at + kOrder);
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

}  // namespace zpmoni
