// SPDX-License-Identifier: MIT
#include "capture/event_log.h"

#include "base/text_escape.h"

#include <algorithm>

namespace zpmoni {

namespace {

// Join lines are kept to 7-bit text: a name with a byte of 0x80 or above gets its row only.
template <size_t N>
bool HasHighByte(const FixedText<N>& text)
{
    std::string_view v = text.View().substr(0, 32);
    return std::any_of(v.begin(), v.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

void EventLog::LogonEntry(int64_t eventTime, const PlayerRecord& record)
{
    PresenceEntry(eventTime, record, "LOGIN");
}

void EventLog::LogoffEntry(int64_t eventTime, const PlayerRecord& record)
{
    PresenceEntry(eventTime, record, "LOGOUT");
}

void EventLog::PresenceEntry(int64_t eventTime, const PlayerRecord& r, const char* word)
{
    if (!displayLogin)
        return;
    if (rows) {
        rows->AppendRow({FormatTime(clock.LocalTime(eventTime), "%H:%M:%S"), std::string(r.userName.View()),
                         std::string(r.addressText.View()), std::to_string(r.port), std::string(),
                         word, std::string(), std::string()});
    }
    if (createLogfile) {
        // Texts from the network are escaped so that they cannot forge a line or a field.
        std::string line;
        line.append(r.addressText.View()).append("\t");
        AppendEscaped(line, r.userName.View());
        line.append("\t").append(word);
        dailyLog.WriteLineAt(eventTime, line);
    }
}

void EventLog::JoinEntry(int64_t eventTime, const PlayerRecord& r)
{
    if (!displayJoin)
        return;
    if (rows) {
        rows->AppendRow({FormatTime(clock.LocalTime(eventTime), "%H:%M:%S"), std::string(r.userName.View()),
                         std::string(r.addressText.View()), std::to_string(r.port),
                         std::to_string(static_cast<int32_t>(r.iff)), std::string(r.aircraftName.View()),
                         std::string(r.packName.View()), std::string(r.startPosition.View())});
    }
    if (createLogfile && !HasHighByte(r.aircraftName) && !HasHighByte(r.startPosition)) {
        std::string line;
        line.append(r.addressText.View()).append("\t");
        AppendEscaped(line, r.userName.View());
        line.append("\tJOIN\t").append(std::to_string(static_cast<int32_t>(r.iff))).append("\t");
        AppendEscaped(line, r.aircraftName.View());
        line.append("\t");
        AppendEscaped(line, r.startPosition.View());
        line.append("\t");
        AppendEscaped(line, r.packName.View());
        dailyLog.WriteLineAt(eventTime, line);
    }
}

}  // namespace zpmoni
