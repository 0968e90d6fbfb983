// SPDX-License-Identifier: MIT
#include "access/packet_filter.h"

#include <nftables/libnftables.h>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

// libnftables ends the process when it cannot open its netlink socket: find out first.
bool NetfilterReachable()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_NETFILTER);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}  // namespace

CPacketFilter::~CPacketFilter()
{
    if (installed)
        Remove();
}

bool CPacketFilter::Run(const std::string& commands)
{
    if (!NetfilterReachable()) {
        lastError = "no netfilter netlink socket";
        return false;
    }
    // A fresh context each time: it works in the caller's network namespace and keeps no
    // cache that another program's changes could have made stale.
    std::unique_ptr<nft_ctx, decltype(&nft_ctx_free)> ctx(nft_ctx_new(NFT_CTX_DEFAULT), &nft_ctx_free);
    if (!ctx) {
        lastError = "no nftables context";
        return false;
    }
    // JSON output makes the library read its input as JSON.
    nft_ctx_output_set_flags(ctx.get(), NFT_CTX_OUTPUT_JSON);
    nft_ctx_buffer_output(ctx.get());
    nft_ctx_buffer_error(ctx.get());
    const bool ok = nft_run_cmd_from_buffer(ctx.get(), commands.c_str()) == 0;
    const char* error = nft_ctx_get_error_buffer(ctx.get());
    lastError = ok || !error ? std::string() : std::string(error);
    return ok;
}

bool CPacketFilter::Install(uint32_t filterAddress, const DenyList& list)
{
    wanted = DenyRuleset(filterAddress, list);
    installed = Run(wanted.InstallCommands());
    return installed;
}

bool CPacketFilter::Add(const DenyEntry& entry)
{
    DenyRuleset next = wanted;
    next.Add(entry);
    if (installed) {
        const std::string commands = wanted.AddCommands(entry);
        if (commands.empty() || Run(commands)) {
            wanted = std::move(next);
            return true;
        }
    }
    if (!Run(next.InstallCommands()))
        return false;
    wanted = std::move(next);
    installed = true;
    return true;
}

void CPacketFilter::Remove()
{
    Run(DenyRuleset::RemoveCommands());
    wanted = DenyRuleset();
    installed = false;
}
