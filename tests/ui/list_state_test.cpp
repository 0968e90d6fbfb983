// SPDX-License-Identifier: MIT
#include "ui/list_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace zpmoni;

namespace {

using Bytes = std::vector<uint8_t>;

struct RawColumn { uint8_t visible; uint32_t width; uint32_t order; };
Bytes Block(uint32_t n, int32_t sort, const std::vector<RawColumn>& columns)
{
    Bytes out;
    auto put = [&](uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    };
    put(n);
    put(static_cast<uint32_t>(sort));
    for (const RawColumn& c : columns) {
        out.push_back(c.visible);
        put(c.width);
        put(c.order);
    }
    return out;
}

// Blocks written field by field, independently of the encoder, which the window tests round-trip.
TEST(ListState, DecodesOnlyWhatFitsTheList)
{
    const std::vector<RawColumn> three = {{1, 60, 2}, {0x80, 70, 0}, {0, 80, 1}};
    struct Case {  // applied: columns whose visibility and width apply, -1 when the block is rejected
        const char* name; uint32_t n; int32_t sort; std::vector<RawColumn> columns; int extraBytes; int applied;
        bool applyOrder;
    };
    const Case cases[] = {
        {"fits; any non-zero byte is visible", 3, -3, three, 0, 3, true},
        {"one byte too many", 3, 0, three, 1, -1, false},
        {"one byte short", 3, 0, three, -1, -1, false},
        {"size fits but n does not", 2, 0, three, 0, -1, false},
        {"sort column beyond n", 3, 4, three, 0, -1, false},
        {"most negative sort column", 3, INT32_MIN, three, 0, -1, false},
        {"first order is n", 3, 2, {{0, 10, 3}, {0, 20, 0}, {1, 30, 1}}, 0, 1, false},
        {"second order huge", 3, 2, {{1, 10, 2}, {0, 20, ~0u}, {1, 30, 1}}, 0, 2, false},
        {"two columns share a position", 3, 3, {{1, 10, 1}, {0, 20, 1}, {1, 30, 0}}, 0, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes block = Block(c.n, c.sort, c.columns);
        block.resize(block.size() + c.extraBytes);
        const std::optional<ListStateRestore> r = DecodeListState(block, 3);
        ASSERT_EQ(r.has_value(), c.applied >= 0);
        if (!r)
            continue;
        EXPECT_EQ(r->sortColumn, c.sort);
        ASSERT_EQ(r->columns.size(), static_cast<size_t>(c.applied));
        for (size_t i = 0; i < r->columns.size(); ++i) {
            const RawColumn& raw = c.columns[i];
            EXPECT_EQ(r->columns[i], (ListColumnState{raw.visible != 0, raw.width, raw.order})) << i;
        }
        EXPECT_EQ(r->applyOrder, c.applyOrder);
    }
}

TEST(ListState, SortTint)
{
    EXPECT_EQ(SortTint({241, 241, 241}, 24), (Rgb{233, 233, 233}));  // all at the threshold: darker
    EXPECT_EQ(SortTint({241, 255, 240}, 16), (Rgb{255, 255, 255}));  // one below it: lighter, capped
    EXPECT_EQ(SortTint({0, 9, 10}, 32), (Rgb{0, 9, 11}));            // integer division
    EXPECT_EQ(SortTint({231, 232, 10}, 32), (Rgb{254, 255, 11}));    // 231 still grows, 232 caps
    EXPECT_EQ(SortTint({255, 255, 255}, 9), (Rgb{247, 247, 247}));
    EXPECT_EQ(SortTint({255, 255, 255}, 8), std::nullopt);          // palette displays get no tint
}

}  // namespace
