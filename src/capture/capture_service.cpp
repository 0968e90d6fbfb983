// SPDX-License-Identifier: MIT
#include "capture/capture_service.h"

#include <string>

namespace zpmoni {

CaptureService::CaptureService(const Clock& clock, PackIndex& packs, std::unique_ptr<DatagramSource> source,
                               std::unique_ptr<NameResolver> resolver, std::function<void(std::string_view)> report)
    : source(std::move(source)), resolver(std::move(resolver)), report(std::move(report)),
      table(clock, this->resolver.get()), decoder(table, packs, clock)
{
}

// The source goes first: no datagram reaches the decoder while the rest is taken down.
CaptureService::~CaptureService()
{
    if (source)
        source->Stop();
}

void CaptureService::SetLocalAddresses(const LocalAddressTable& addresses)
{
    local = addresses;
    decoder.SetLocalAddresses(local);
}

void CaptureService::SetResolveNames(bool on)
{
    table.SetResolveNames(on);
    if (on)
        table.RestartResolvers();
}

void CaptureService::Configure(uint16_t serverPort, bool checksum)
{
    port = serverPort;
    decoder.SetPort(port);
    decoder.SetChecksum(checksum);
}

Status CaptureService::Start(int interfaceNumber)
{
    if (!source)
        return Failure{"Capture is not available in this run"};
    // Drops of an earlier run are no news of this one.
    dropping = false;
    return source->Start(interfaceNumber, port, [this](const uint8_t* data, size_t length, ChecksumStatus status) {
        rejects += decoder.HandleDatagram(data, length, status) != 0;
    });
}

void CaptureService::Stop()
{
    if (source)
        source->Stop();
}

bool CaptureService::Feed(const uint8_t* data, size_t length, ChecksumStatus status)
{
    const bool rejected = decoder.HandleDatagram(data, length, status) != 0;
    rejects += rejected;
    return rejected;
}


StatusFigures CaptureService::Tick(int64_t now)
{
    // Not only when a datagram arrives: on a quiet server an idle record would never leave.
    table.IdleSweep(now);
    StatusFigures figures = table.ComputeStatus();
    figures.dropped = source ? source->TakeDrops() : 0;
    drops += figures.dropped;
    // A lost log-on or log-off leaves the table wrong until the player's next one: said once
    // per run of lossy seconds, with the first second's count; the status line shows the rest.
    if (figures.dropped != 0 && !dropping && report)
        report("Capture lost " + std::to_string(figures.dropped) +
               " datagrams the kernel had no room for; the player list may be wrong until they log on again");
    if (figures.dropped != 0 && !dropping && onDropEpisode)
        onDropEpisode(figures.dropped);
    dropping = figures.dropped != 0;
    return figures;
}

}  // namespace zpmoni
