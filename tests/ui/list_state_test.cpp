// SPDX-License-Identifier: MIT
#include "ui/list_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A block written field by field, independently of the encoder.
struct RawColumn { uint8_t visible; uint32_t width; uint32_t order; };
Bytes Block(uint32_t n, int32_t sort, const std::vector<RawColumn>& columns)
{
    Bytes out;
    Put32(out, n);
    Put32(out, static_cast<uint32_t>(sort));
    for (const RawColumn& c : columns) {
        out.push_back(c.visible);
        Put32(out, c.width);
        Put32(out, c.order);
    }
    return out;
}

TEST(ListState, EncodesTheBlockByteForByte)
{
    ListState state;
    state.sortColumn = -3;
    state.columns = {{true, 60, 2}, {false, 0x01020304, 0}, {true, 131, 1}};
    const Bytes expected = {
        0x03, 0x00, 0x00, 0x00,                          // n
        0xFD, 0xFF, 0xFF, 0xFF,                          // sort column -3
        0x01, 0x3C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // column 0
        0x00, 0x04, 0x03, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00,  // column 1
        0x01, 0x83, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  // column 2
    };
    EXPECT_EQ(EncodeListState(state), expected);
    EXPECT_EQ(EncodeListState(ListState{}), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ListState, DecodesWhatWasEncoded)
{
    ListState state;
    state.sortColumn = 9;
    for (uint32_t i = 0; i < 9; ++i)
        state.columns.push_back({i % 2 == 0, 40 + i, 8 - i});
    const std::optional<ListStateRestore> r = DecodeListState(EncodeListState(state), 9);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->sortColumn, 9);
    EXPECT_EQ(r->columns, state.columns);
    EXPECT_TRUE(r->applyOrder);
}

TEST(ListState, RejectsBlocksThatDoNotFitTheList)
{
    const std::vector<RawColumn> three = {{1, 60, 0}, {1, 70, 1}, {1, 80, 2}};
    Bytes longer = Block(3, 0, three);
    longer.push_back(0);
    Bytes shorter = Block(3, 0, three);
    shorter.pop_back();

    struct Case { const char* name; Bytes block; size_t columns; bool accepted; };
    const Case cases[] = {
        {"fits", Block(3, 0, three), 3, true},
        {"written with fewer columns", Block(3, 0, three), 4, false},
        {"written with more columns", Block(3, 0, three), 2, false},
        {"one byte too many", longer, 3, false},
        {"one byte short", shorter, 3, false},
        {"size fits but n does not", Block(2, 0, three), 3, false},
        {"empty", Bytes{}, 3, false},
        {"shorter than the head", Bytes{3, 0, 0}, 0, false},
        {"sort column n ascending", Block(3, 3, three), 3, true},
        {"sort column n descending", Block(3, -3, three), 3, true},
        {"sort column beyond n", Block(3, 4, three), 3, false},
        {"sort column beyond -n", Block(3, -4, three), 3, false},
        {"most negative sort column", Block(3, INT32_MIN, three), 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeListState(c.block, c.columns).has_value(), c.accepted);
    }
}

TEST(ListState, OrderOutOfRangeStopsAtThatColumn)
{
    struct Case {
        const char* name;
        std::vector<RawColumn> columns;
        size_t applied;  // columns whose visibility and width apply
        bool applyOrder;
    };
    const Case cases[] = {
        {"all in range", {{1, 10, 2}, {0, 20, 0}, {1, 30, 1}}, 3, true},
        {"first column's order is n", {{0, 10, 3}, {0, 20, 0}, {1, 30, 1}}, 1, false},
        {"second column's order is huge", {{1, 10, 2}, {0, 20, 0xFFFFFFFF}, {1, 30, 1}}, 2, false},
        {"last column's order is n", {{1, 10, 2}, {0, 20, 0}, {1, 30, 3}}, 3, false},
        {"two columns share a position", {{1, 10, 1}, {0, 20, 1}, {1, 30, 0}}, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ListStateRestore> r = DecodeListState(Block(3, -2, c.columns), 3);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->sortColumn, -2);
        ASSERT_EQ(r->columns.size(), c.applied);
        for (size_t i = 0; i < c.applied; ++i) {
            EXPECT_EQ(r->columns[i].visible, c.columns[i].visible != 0) << "column " << i;
            EXPECT_EQ(r->columns[i].width, c.columns[i].width) << "column " << i;
        }
        EXPECT_EQ(r->applyOrder, c.applyOrder);
    }
}

TEST(ListState, VisibleFlagIsAnyNonZeroByte)
{
    const std::optional<ListStateRestore> r = DecodeListState(Block(2, 0, {{0x80, 1, 1}, {0, 2, 0}}), 2);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->columns[0].visible);
    EXPECT_FALSE(r->columns[1].visible);
}

TEST(ListState, SortTintTable)
{
    struct Case { Rgb background; int bits; std::optional<Rgb> tint; };
    const Case cases[] = {
        {{255, 255, 255}, 32, Rgb{247, 247, 247}},
        {{100, 200, 240}, 32, Rgb{110, 220, 255}},
        {{241, 241, 241}, 24, Rgb{233, 233, 233}},      // all at the threshold: darker
        {{241, 255, 240}, 16, Rgb{255, 255, 255}},      // one below it: lighter, near-white caps
        {{0, 9, 10}, 32, Rgb{0, 9, 11}},                // integer division
        {{231, 232, 10}, 32, Rgb{254, 255, 11}},        // 231 still grows, 232 caps
        {{255, 255, 255}, 9, Rgb{247, 247, 247}},
        {{255, 255, 255}, 8, std::nullopt},             // palette displays get no tint
        {{100, 200, 240}, 4, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.background.r) + "," + std::to_string(c.background.g) + "," +
                     std::to_string(c.background.b) + " at " + std::to_string(c.bits) + " bits");
        const std::optional<Rgb> tint = SortTint(c.background, c.bits);
        ASSERT_EQ(tint.has_value(), c.tint.has_value());
        if (tint) {
            EXPECT_EQ(tint->r, c.tint->r);
            EXPECT_EQ(tint->g, c.tint->g);
            EXPECT_EQ(tint->b, c.tint->b);
        }
    }
}

}  // namespace
