// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zpmoni {

// The column layout of a report list as kept in the settings file, and the colour of its sort
// column. Plain data so the rules can be checked without a window.

// One logical column of the layout.
struct ListColumnState {
    bool visible = true;  // always true for a column the user may not hide
    uint32_t width = 0;   // the live width when shown, the width to restore when hidden
    uint32_t order = 0;   // position among all logical columns, hidden ones included
    bool operator==(const ListColumnState&) const = default;
};

struct ListState {
    // 0 none, k > 0 logical column k-1 ascending, -k the same column descending.
    int32_t sortColumn = 0;
    std::vector<ListColumnState> columns;  // logical order
};

// Byte block: u32 n, i32 sort column, then per column u8 visible, u32 width, u32 order;
// little-endian, 9 * n + 8 bytes.
std::vector<uint8_t> EncodeListState(const ListState& state);

// What a saved block lets a list of a given column count apply.
struct ListStateRestore {
    int32_t sortColumn = 0;
    // Visibility and width apply to these columns, counted from column 0. It falls short of the
    // column count when a column's display order is out of range: that column is the last one
    // read, and nothing after it applies.
    std::vector<ListColumnState> columns;
    // The display orders apply only when every column has one in range and no two share one;
    // otherwise the list keeps its current order.
    bool applyOrder = false;
};

// Nothing (the list keeps its defaults) when the block is not 9 * n + 8 bytes, names another
// column count than n, or names a sort column beyond n.
std::optional<ListStateRestore> DecodeListState(std::span<const uint8_t> block, size_t columnCount);

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// The sort column's background for a list background: a little lighter, or a little darker when
// the background is already near white. None on displays of fewer than 9 bits per pixel, where
// a tint would dither.
std::optional<Rgb> SortTint(Rgb background, int bitsPerPixel);

}  // namespace zpmoni
