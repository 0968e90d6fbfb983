// SPDX-License-Identifier: MIT
#include "capture/connection_list.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace connection_list {

namespace {

int CaseCompare(std::string_view a, std::string_view b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z')
            ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z')
            cb += 'a' - 'A';
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

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

uint32_t HostOrder(std::string_view dotted)
{
    in_addr address{};
    inet_pton(AF_INET, std::string(dotted).c_str(), &address);
    return ntohl(address.s_addr);
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
        std::time_t elapsed = static_cast<std::time_t>(std::max<int64_t>(0, now - r.logonTime));
        std::tm t{};
        gmtime_r(&elapsed, &t);
        char text[16];
        std::strftime(text, sizeof text, "%H:%M:%S", &t);
        row.texts[kConnectTime] = text;
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
    return d * CaseCompare(a, b);
}

int CompareAddress(std::string_view a, std::string_view b, int d)
{
    return Order(HostOrder(a), HostOrder(b), d);
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
    return -d * CaseCompare(a, b);
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
