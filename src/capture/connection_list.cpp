// SPDX-License-Identifier: MIT
#include "capture/connection_list.h"

#include "base/ascii.h"
#include "base/ipv4_address.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace zpmoni {

namespace connection_list {

namespace {

int Order(auto a, auto b, int d)
{
    return a > b ? d : (a < b ? -d : 0);
}

// Where a placeholder (an empty text, "unknown") goes: after the real texts under direction d.
// Two placeholders compare equal, so that the order stays consistent for the sort.
std::optional<int> PlaceholderOrder(bool aIsPlaceholder, bool bIsPlaceholder, int d)
{
    if (aIsPlaceholder && bIsPlaceholder)
        return 0;
    if (aIsPlaceholder)
        return d;
    if (bIsPlaceholder)
        return -d;
    return std::nullopt;
}


}  // namespace

std::vector<Row> BuildRows(const PlayerTable& table, int64_t now)
{
    std::vector<Row> rows;
    for (int slot = 0; slot < PlayerTable::kSlots; ++slot) {
        const PlayerRecord& r = table.Slot(slot);
        if (!r.Online() || r.userName.Empty())
            continue;
        Row row{slot, {}};
        // Elapsed time as a UTC time of day: the hours wrap at 24.
        row.texts[kConnectTime] = FormatTime(UtcTime(static_cast<int64_t>(std::min<uint64_t>(SecondsAfter(r.logonTime, now), INT64_MAX))), "%H:%M:%S");
        row.texts[kUserName] = r.userName.View();
        row.texts[kAddress] = r.addressText.View();
        row.texts[kHostName] = r.HostText();
        row.texts[kPort] = std::to_string(r.port);
        row.texts[kState] = r.Flying() ? "FLYING" : "ON LINE";
        if (r.Flying()) {
            row.texts[kIff] = std::to_string(static_cast<int32_t>(r.iff));
            row.texts[kAircraft] = r.aircraftName.View();
            row.texts[kPack] = r.packName.View();
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

int CompareNumber(std::string_view a, std::string_view b, int d)
{
    if (auto order = PlaceholderOrder(a.empty(), b.empty(), d))
        return *order;
    return Order(std::atol(std::string(a).c_str()), std::atol(std::string(b).c_str()), d);
}

int CompareText(std::string_view a, std::string_view b, int d)
{
    if (auto order = PlaceholderOrder(a.empty(), b.empty(), d))
        return *order;
    return d * AsciiCompareNoCase(a, b);
}

int CompareAddress(std::string_view a, std::string_view b, int d)
{
    return Order(Ipv4Address::Parse(a).value_or(Ipv4Address()), Ipv4Address::Parse(b).value_or(Ipv4Address()), d);
}

int CompareUserName(std::string_view a, std::string_view b, int d)
{
    if (auto order = PlaceholderOrder(a == "unknown", b == "unknown", d))
        return *order;
    return CompareText(a, b, d);
}

int CompareConnectTime(std::string_view a, std::string_view b, int d)
{
    // Empty times come first in the direction's order, not last.
    if (auto order = PlaceholderOrder(a.empty(), b.empty(), -d))
        return *order;
    return -d * AsciiCompareNoCase(a, b);
}

int Compare(int column, std::string_view a, std::string_view b, int d)
{
    switch (column) {
    case kConnectTime:
        return CompareConnectTime(a, b, d);
    case kUserName:
        return CompareUserName(a, b, d);
    case kAddress:
        return CompareAddress(a, b, d);
    case kPort:
    case kIff:
        return CompareNumber(a, b, d);
    default:
        return CompareText(a, b, d);
    }
}

void SortRows(std::vector<Row>& rows, int column, int direction)
{
    if (column < 0 || column >= kColumnCount)
        return;
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& x, const Row& y) {
        std::string_view a = std::string_view(x.texts[column]).substr(0, 32);
        std::string_view b = std::string_view(y.texts[column]).substr(0, 32);
        return Compare(column, a, b, direction) < 0;
    });
}

Sort AfterClick(Sort current, int clicked)
{
    if (clicked == current.column)
        return {clicked, current.direction > 0 ? -1 : 1};
    return {clicked, 1};
}

Sort FromSavedState(int s)
{
    return {s != 0 ? std::abs(s) - 1 : 0, s >= 0 ? 1 : -1};
}

}  // namespace connection_list

}  // namespace zpmoni
