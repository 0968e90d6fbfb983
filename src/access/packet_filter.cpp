// SPDX-License-Identifier: MIT
#include "access/packet_filter.h"

#include <nftables/libnftables.h>

#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace zpmoni {

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

// The folder as a quoted nftables string (which knows no escapes): printable ASCII stays, every
// other byte and the quote become \xNN; a long path keeps its end, within the kernel's 128 bytes.
std::string QuotedFolder(std::string_view folder)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (char c : folder) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '"' || c == '\\')
            text += {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
        else
            text += c;
    }
    constexpr size_t kMax = 120;
    if (text.size() > kMax)
        text = "..." + text.substr(text.size() - (kMax - 3));
    return '"' + text + '"';
}

}  // namespace

PacketFilter::~PacketFilter()
{
    if (everInstalled)
        Remove();
}

void PacketFilter::SetFolder(const std::string& f)
{
    folder = f;
    table = DenyRuleset::TableFor(folder);
}

bool PacketFilter::Run(const std::string& commands, bool json)
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
    if (json)
        nft_ctx_output_set_flags(ctx.get(), NFT_CTX_OUTPUT_JSON);
    nft_ctx_buffer_output(ctx.get());
    nft_ctx_buffer_error(ctx.get());
    const bool ok = nft_run_cmd_from_buffer(ctx.get(), commands.c_str()) == 0;
    const char* error = nft_ctx_get_error_buffer(ctx.get());
    lastError = ok || !error ? std::string() : std::string(error);
    return ok;
}

bool PacketFilter::Put(DenyRuleset next)
{
    // The comment only names the folder for whoever lists the rule set; it is set when the
    // table is made (JSON cannot carry it) and an existing table keeps its own.
    Run("add table inet " + table + " { comment " + QuotedFolder(folder) + "; }", false);
    if (!Run(next.InstallCommands())) {
        installed = false;
        // Nothing of this run was in force yet: a killed monitor's rules stay (they ban what
        // the folder's list banned then); the empty table just made goes.
        if (!everInstalled) {
            const std::string error = lastError;
            leftover = Run(next.ListCommands());
            if (!leftover)
                Run(next.RemoveCommands());
            lastError = error;
        }
        return false;
    }
    active = wanted = std::move(next);
    installed = everInstalled = true;
    leftover = false;
    return true;
}

bool PacketFilter::Install(uint32_t filterAddress, const DenyList& list)
{
    wanted = DenyRuleset(table, filterAddress, list);
    return Put(wanted);
}

bool PacketFilter::Add(const DenyEntry& entry)
{
    DenyRuleset next = wanted;
    next.Add(entry);
    if (installed) {
        const std::string commands = wanted.AddCommands(entry);
        if (commands.empty() || Run(commands)) {
            active = wanted = std::move(next);
            return true;
        }
    }
    const DenyRuleset asked = wanted;
    if (Put(std::move(next)))
        return true;
    wanted = asked;
    return false;
}

PacketFilter::Check PacketFilter::Verify()
{
    if (!everInstalled || Run(wanted.ListCommands()))
        return Check::Present;
    active = DenyRuleset();
    installed = false;
    return Put(wanted) ? Check::Restored : Check::Missing;
}

void PacketFilter::Remove()
{
    Run(DenyRuleset(table, 0, {}).RemoveCommands());
    wanted = active = DenyRuleset();
    installed = everInstalled = leftover = false;
}

}  // namespace zpmoni
