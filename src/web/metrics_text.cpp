// SPDX-License-Identifier: MIT
#include "web/metrics_text.h"

#include <string_view>

namespace zpmoni {

namespace {

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help)
{
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void Sample(std::string& out, std::string_view name, std::string_view labels, uint64_t value)
{
    out.append(name);
    if (!labels.empty())
        out.append("{").append(labels).append("}");
    out.append(" ").append(std::to_string(value)).append("\n");
}

// A family of one sample without labels.
void Single(std::string& out, std::string_view name, std::string_view type, std::string_view help, uint64_t value)
{
    Family(out, name, type, help);
    Sample(out, name, "", value);
}

// A label value as the exposition format quotes it: backslash, double quote and newline escaped.
std::string LabelValue(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\')
            out.append("\\\\");
        else if (c == '"')
            out.append("\\\"");
        else if (c == '\n')
            out.append("\\n");
        else
            out.push_back(c);
    }
    return out;
}

}  // namespace

std::string MetricsText(const MetricsSnapshot& m, size_t liveClients, std::string_view version)
{
    std::string out;
    out.reserve(3072);
    Single(out, "zpmoni_players_online", "gauge", "Players logged on to the server.", m.playersOnline);
    Single(out, "zpmoni_players_flying", "gauge", "Players in an aircraft.", m.playersFlying);
    Family(out, "zpmoni_datagrams_total", "counter", "Datagrams seen, to the server (in) and from it (out).");
    Sample(out, "zpmoni_datagrams_total", "direction=\"in\"", m.datagramsIn);
    Sample(out, "zpmoni_datagrams_total", "direction=\"out\"", m.datagramsOut);
    Family(out, "zpmoni_bytes_total", "counter", "Bytes seen, to the server (in) and from it (out).");
    Sample(out, "zpmoni_bytes_total", "direction=\"in\"", m.bytesIn);
    Sample(out, "zpmoni_bytes_total", "direction=\"out\"", m.bytesOut);
    Single(out, "zpmoni_capture_drops_total", "counter", "Packets the capture dropped.", m.captureDrops);
    Single(out, "zpmoni_decoder_rejects_total", "counter", "Datagrams the decoder refused as malformed.", m.decoderRejects);
    Single(out, "zpmoni_server_up", "gauge", "1 while the server process runs.", m.serverUp ? 1 : 0);
    Family(out, "zpmoni_server_restarts_total", "counter", "Server restarts by cause.");
    // Every cause always, so a rate over a cause never starts from a missing series.
    for (const char* cause : {"operator", "schedule", "crash", "hang"}) {
        const auto it = m.restartsByCause.find(cause);
        Sample(out, "zpmoni_server_restarts_total", "cause=\"" + LabelValue(cause) + "\"",
               it == m.restartsByCause.end() ? 0 : it->second);
    }
    Single(out, "zpmoni_glimit_damage_sent_total", "counter", "Damage sent to pilots over the G limit.", m.damageSent);
    Single(out, "zpmoni_bans_in_force", "gauge", "Deny-list entries in force in the packet filter.", m.bansInForce);
    Single(out, "zpmoni_client_connected", "gauge", "1 while the client connection is logged on.", m.clientConnected ? 1 : 0);
    Single(out, "zpmoni_log_write_failures_total", "counter", "Log lines that could not be written.", m.logWriteFailures);
    Single(out, "zpmoni_console_live_clients", "gauge", "WebSocket clients of the console.", liveClients);
    Family(out, "zpmoni_build_info", "gauge", "The monitor's version; always 1.");
    Sample(out, "zpmoni_build_info", "version=\"" + LabelValue(version) + "\"", 1);
    return out;
}

}  // namespace zpmoni
