// SPDX-License-Identifier: MIT
#pragma once

#include "capture/player_table.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zpmoni {

// What the connection list shows of the player table, and how it orders it.
namespace connection_list {

enum Column {
    kConnectTime,
    kUserName,
    kAddress,
    kHostName,
    kPort,
    kState,
    kIff,
    kAircraft,
    kPack,
    kColumnCount
};

struct Row {
    int slot;
    std::array<std::string, kColumnCount> texts;
};

// One row per record that is online and has a user name, in slot order.
std::vector<Row> BuildRows(const PlayerTable& table, int64_t now);

// Comparisons of two sort texts under a direction d (+1 or -1); below 0 puts a first.
int CompareNumber(std::string_view a, std::string_view b, int d);
int CompareText(std::string_view a, std::string_view b, int d);
int CompareAddress(std::string_view a, std::string_view b, int d);
int CompareUserName(std::string_view a, std::string_view b, int d);
int CompareConnectTime(std::string_view a, std::string_view b, int d);
int Compare(int column, std::string_view a, std::string_view b, int d);

// Orders the rows by the column's text, cut to 32 characters as the list keeps it.
void SortRows(std::vector<Row>& rows, int column, int direction);

struct Sort {
    int column = 0;
    int direction = 1;
};
// A header click: the sort column flips its direction, another column sorts ascending.
Sort AfterClick(Sort current, int clicked);
// The sort kept by the list control (signed: 0 none, k column k-1 ascending, -k descending).
Sort FromSavedState(int signedColumn);

}  // namespace connection_list

}  // namespace zpmoni
