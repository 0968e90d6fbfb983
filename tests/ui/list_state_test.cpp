// SPDX-License-Identifier: MIT
#include "ui/list_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct RawColumn { uint8_t visible; uint32_t width; uint32_t order; };
Bytes Block(uint32_t n, int32_t sort, const std::vector<RawColumn>& columns)
{
    Bytes out;
    auto put = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
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

uint32_t At(const Bytes& b, size_t i)
{
    return b[i] | b[i + 1] << 8 | b[i + 2] << 16 | static_cast<uint32_t>(b[i + 3]) << 24;
}

// Blocks written field by field, independently of the encoder, which the window tests round-trip.
TEST(ListState, DecodesOnlyWhatFitsTheList)
{
    const std::vector<RawColumn> three = {{1, 60, 2}, {0x80, 70, 0}, {0, 80, 1}};
    Bytes longer = Block(3, 0, three);
    longer.push_back(0);
    struct Case { const char* name; Bytes block; int applied; bool applyOrder; };  // applied -1: rejected
    const Case cases[] = {
        {"fits; any non-zero byte is visible", Block(3, -3, three), 3, true},
        {"one byte too many", longer, -1, false},
        {"one byte short", Bytes(longer.begin(), longer.end() - 2), -1, false},
        {"size fits but n does not", Block(2, 0, three), -1, false},
        {"sort column beyond n", Block(3, 4, three), -1, false},
        {"most negative sort column", Block(3, INT32_MIN, three), -1, false},
        {"first order is n", Block(3, 2, {{0, 10, 3}, {0, 20, 0}, {1, 30, 1}}), 1, false},
        {"second order huge", Block(3, 2, {{1, 10, 2}, {0, 20, ~0u}, {1, 30, 1}}), 2, false},
        {"two columns share a position", Block(3, 3, {{1, 10, 1}, {0, 20, 1}, {1, 30, 0}}), 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ListStateRestore> r = DecodeListState(c.block, 3);
        ASSERT_EQ(r.has_value(), c.applied >= 0);
        if (!r)
            continue;
        EXPECT_EQ(r->sortColumn, static_cast<int32_t>(At(c.block, 4)));
        ASSERT_EQ(r->columns.size(), static_cast<size_t>(c.applied));
        for (size_t i = 0; i < r->columns.size(); ++i) {
            const size_t at = 8 + 9 * i;
            EXPECT_EQ(r->columns[i], (ListColumnState{c.block[at] != 0, At(c.block, at + 1), At(c.block, at + 5)})) << i;
        }
        EXPECT_EQ(r->applyOrder, c.applyOrder);
    }
}

TEST(ListState, SortTint)
{
    EXPECT_EQ(SortTint({255, 255, 255}, 32), (Rgb{247, 247, 247}));
    EXPECT_EQ(SortTint({100, 200, 240}, 32), (Rgb{110, 220, 255}));
    EXPECT_EQ(SortTint({241, 241, 241}, 24), (Rgb{233, 233, 233}));  // all at the threshold: darker
    EXPECT_EQ(SortTint({241, 255, 240}, 16), (Rgb{255, 255, 255}));  // one below it: lighter, capped
    EXPECT_EQ(SortTint({0, 9, 10}, 32), (Rgb{0, 9, 11}));            // integer division
    EXPECT_EQ(SortTint({231, 232, 10}, 32), (Rgb{254, 255, 11}));    // 231 still grows, 232 caps
    EXPECT_EQ(SortTint({255, 255, 255}, 9), (Rgb{247, 247, 247}));
    EXPECT_EQ(SortTint({255, 255, 255}, 8), std::nullopt);          // palette displays get no tint
}

}  // namespace
