// SPDX-License-Identifier: MIT
#include "app/replay.h"

#include "capture/capture_file.h"
#include "capture/capture_service.h"
#include "capture/event_log.h"
#include "base/ipv4_address.h"
#include "base/text_escape.h"
#include "platform/system_clock.h"

#include <cstring>

namespace zpmoni {

namespace {

// Everything the decoder reports becomes one line: the event time, a TAB and the text.
class ReplayPrinter final : public DecoderEvents, public LineWriter {
public:
    ReplayPrinter(const Clock& clock, FILE* out, FILE* err) : clock(clock), out(out), err(err), eventLog(*this, clock) {}

    // A log-on held until the server answered keeps the time of its own datagram.
    void OnLogon(int64_t t, const PlayerRecord& r) override { eventTime = t; eventLog.LogonEntry(t, r); }
    void OnLogoff(int64_t t, const PlayerRecord& r) override { eventTime = t; eventLog.LogoffEntry(t, r); }
    void OnJoin(int64_t t, const PlayerRecord& r) override { eventTime = t; eventLog.JoinEntry(t, r); }
    void OnCapturedChat(std::string_view text) override
    {
        std::string line = "CHAT\t";
        AppendEscaped(line, text);
        eventTime = clock.Now();
        WriteLine(line);
    }
    void OnLogonFlood(uint32_t address) override
    {
        std::fprintf(err, "zpmoni: too many log-ons from %s within a minute\n", Ipv4Address::FromNetworkOrder(address).ToString().c_str());
    }
    void WriteLine(std::string_view text) override
    {
        std::string line = FormatTime(clock.LocalTime(eventTime), "%Y-%m-%d %H:%M:%S");
        line.push_back('\t');
        line.append(text);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), out);
    }

private:
    const Clock& clock;
    FILE* out;
    FILE* err;
    int64_t eventTime = 0;
    EventLog eventLog;
};

}  // namespace

std::string ParseReplayArguments(const std::vector<std::string>& args, ReplayOptions& o)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size())
                return false;
            into = args[++i];
            return true;
        };
        std::string v;
        if (a == "--local") {
            if (!value(v))
                return "--local needs an address";
            if (!Ipv4Address::Parse(v))
                return "not an IPv4 address: " + v;
            if (o.localAddresses.size() >= 4)
                return "at most four --local addresses";
            o.localAddresses.push_back(v);
        } else if (a == "--port") {
            if (!value(v))
                return "--port needs a number";
            const std::optional<Port> p = Port::Parse(v);
            if (!p)
                return "not a port: " + v;
            o.port = p->Number();
        } else if (a == "--no-checksum") {
            o.checksum = false;
        } else if (a == "--packs") {
            if (!value(o.packFile))
                return "--packs needs a file";
        } else if (o.file.empty() && !a.starts_with("--")) {
            o.file = a;
        } else {
            return "unexpected argument: " + a;
        }
    }
    if (o.file.empty())
        return "no capture file given";
    if (o.localAddresses.empty())
        return "no --local address given: the server's own address is needed to classify";
    return {};
}

int RunReplay(const ReplayOptions& o, FILE* out, FILE* err)
{
    CaptureFile capture;
    if (const std::string error = capture.Open(o.file); !error.empty()) {
        std::fprintf(err, "zpmoni: cannot read %s: %s\n", o.file.c_str(), error.c_str());
        return 2;
    }

    // The time of the frame being decoded stands for "now"; times print in the system's zone.
    ManualClock clock;
    clock.zone = SystemLocalTime;
    PackIndex packs;
    packs.Load(o.packFile);
    // The datagrams come from the file, and a replay resolves nothing.
    CaptureService service(clock, packs, nullptr, nullptr, nullptr);
    service.SetResolveNames(false);
    ReplayPrinter printer(clock, out, err);
    service.SetEvents(&printer);
    service.Configure(static_cast<uint16_t>(o.port), o.checksum);
    LocalAddressTable local;
    for (size_t i = 0; i < o.localAddresses.size(); ++i)
        local.entries[i] = Ipv4Address::Parse(o.localAddresses[i]).value_or(Ipv4Address()).NetworkOrder();
    service.SetLocalAddresses(local);

    uint64_t datagrams = 0;
    uint64_t rejected = 0;
    CaptureFile::Datagram d;
    while (capture.Next(d)) {
        clock.seconds = d.seconds;
        clock.tick = d.tickMs;
        ++datagrams;
        rejected += service.Feed(d.data, d.size) ? 1 : 0;
    }
    if (!capture.Error().empty()) {
        std::fprintf(err, "zpmoni: cannot read %s: %s\n", o.file.c_str(), capture.Error().c_str());
        return 2;
    }
    if (capture.Skipped() != 0)
        std::fprintf(err, "zpmoni: %s: %llu frames passed over: time stamp out of range\n", o.file.c_str(),
                     static_cast<unsigned long long>(capture.Skipped()));

    const CaptureService::Counts players = service.Players();
    const PlayerTable& table = service.Table();
    std::fprintf(out, "# datagrams=%llu rejected=%llu inbound=%u outbound=%u online=%d flying=%d refused=%u\n",
                 static_cast<unsigned long long>(datagrams),
                 static_cast<unsigned long long>(rejected), table.inboundBytes, table.outboundBytes,
                 players.online, players.flying, table.refusedLogons);
    return 0;
}

}  // namespace zpmoni
