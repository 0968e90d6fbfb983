// SPDX-License-Identifier: MIT
#pragma once

#include "base/clock.h"
#include "base/local_address_table.h"
#include "base/result.h"
#include "capture/decoder.h"
#include "capture/player_table.h"
#include "packlist/pack_index.h"
#include "platform/name_resolver.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace zpmoni {

// Where captured datagrams come from: the packet socket's ring in the program, a fake in tests.
class DatagramSource {
public:
    using Handler = std::function<void(const uint8_t* datagram, size_t length, ChecksumStatus)>;

    virtual ~DatagramSource() = default;
    // Captures on the interface that holds entry n of the interface address table, for the
    // datagrams whose transport header carries `port`; a running capture is replaced.
    virtual Status Start(int interfaceNumber, uint16_t port, Handler handler) = 0;
    virtual void Stop() = 0;
    virtual bool IsRunning() const = 0;
    // Datagrams the kernel dropped for want of room since the previous call; none while stopped.
    virtual uint64_t TakeDrops() = 0;
};

// The capture feature as the rest of the program sees it: the datagram source, the decoder,
// the player table, the host's own addresses and the reverse lookups of the players' names.
// Everything runs on the event-loop thread.
class CaptureService {
public:
    // Either part may be missing: without a source nothing is captured (a replay feeds the
    // datagrams itself), without a resolver every player shows its dotted address.
    // `report` takes the error-log lines of what happens between calls (lost datagrams).
    CaptureService(const Clock& clock, PackIndex& packs, std::unique_ptr<DatagramSource> source,
                   std::unique_ptr<NameResolver> resolver, std::function<void(std::string_view)> report);
    ~CaptureService();
    CaptureService(const CaptureService&) = delete;
    CaptureService& operator=(const CaptureService&) = delete;

    // The host's own addresses: never counted as a denied source, and what tells the server's
    // side of a connection.
    void SetLocalAddresses(const LocalAddressTable& table);
    const LocalAddressTable& LocalAddresses() const { return local; }

    // What the decoder reports to, and the deny rules' test of a datagram's source.
    void SetEvents(DecoderEvents* events) { decoder.SetEvents(events); }
    void SetSourceFilter(Decoder::SourceFilter filter) { decoder.SetSourceFilter(std::move(filter)); }
    // Whether a new player's host name is looked up; switching it on looks up every player on line.
    void SetResolveNames(bool on);
    // The server's port and the checksum test, taken over by the decoder at once.
    void Configure(uint16_t port, bool checksum);

    // Starts capturing the server's port on the interface numbered as the address table counts;
    // the failure says why, in the error log's words.
    Status Start(int interfaceNumber);
    void Stop();
    bool Running() const { return source && source->IsRunning(); }

    // One datagram decoded as if captured; whether it was rejected (truncated, bad checksum).
    bool Feed(const uint8_t* data, size_t length, ChecksumStatus status = ChecksumStatus::Unknown);

    using Counts = PlayerCounts;
    Counts Players() const { return table.Count(); }
    PlayerTable& Table() { return table; }
    const PlayerTable& Table() const { return table; }

    // The once-a-second step: idle players leave, and the status figures since the previous
    // tick, with the datagrams the kernel dropped meanwhile. The first tick of a run of ticks
    // with drops tells the error log.
    StatusFigures Tick(int64_t now);
    // Told with the first tick of each run of ticks with drops, as the error log is.
    std::function<void(uint64_t dropped)> onDropEpisode;

    // The run's datagrams the decoder rejected (truncated, bad checksum) and those the kernel
    // dropped, as the ticks took them.
    uint64_t Rejects() const { return rejects; }
    uint64_t Drops() const { return drops; }

private:
    std::unique_ptr<DatagramSource> source;
    std::unique_ptr<NameResolver> resolver;  // before the table, which holds it
    std::function<void(std::string_view)> report;
    PlayerTable table;
    Decoder decoder;
    LocalAddressTable local;
    uint16_t port = kDefaultPort;
    bool dropping = false;  // the previous tick saw drops
    uint64_t rejects = 0;
    uint64_t drops = 0;
};

}  // namespace zpmoni
