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

// The library's message for the error log: its first line (the lines after it repeat the
// commands, ten thousand entries long for a long list), trimmed and bounded.
std::string ErrorLine(std::string_view message)
{
    message = message.substr(0, message.find('\n'));
    while (!message.empty() && (message.back() == '\r' || message.back() == ' '))
        message.remove_suffix(1);
    constexpr size_t kMax = 300;
    if (message.size() > kMax)
        return std::string(message.substr(0, kMax)) + "...";
    return message.empty() ? "nftables refused the change" : std::string(message);
}

}  // namespace

PacketFilter::~PacketFilter()
{
    if (everInstalled)
        (void)Remove();
}

void PacketFilter::SetFolder(const std::string& f)
{
    folder = f;
    table = DenyRuleset::TableFor(folder);
}

Status PacketFilter::Run(const std::string& commands, bool json)
{
    if (!NetfilterReachable())
        return Failure{"no netfilter netlink socket"};
    // A fresh context each time: it works in the caller's network namespace and keeps no
    // cache that another program's changes could have made stale.
    std::unique_ptr<nft_ctx, decltype(&nft_ctx_free)> ctx(nft_ctx_new(NFT_CTX_DEFAULT), &nft_ctx_free);
    if (!ctx)
        return Failure{"no nftables context"};
    // JSON output makes the library read its input as JSON.
    if (json)
        nft_ctx_output_set_flags(ctx.get(), NFT_CTX_OUTPUT_JSON);
    nft_ctx_buffer_output(ctx.get());
    nft_ctx_buffer_error(ctx.get());
    if (nft_run_cmd_from_buffer(ctx.get(), commands.c_str()) == 0)
        return {};
    const char* error = nft_ctx_get_error_buffer(ctx.get());
    return Failure{ErrorLine(error ? error : "")};
}

Status PacketFilter::Put(DenyRuleset next)
{
    // The comment only names the folder for whoever lists the rule set; it is set when the
    // table is made (JSON cannot carry it) and an existing table keeps its own. When it fails,
    // the install below fails too and tells why.
    (void)Run("add table inet " + table + " { comment " + QuotedFolder(folder) + "; }", false);
    Status done = Run(next.InstallCommands(Now()));
    // The table of an earlier version holds its set without timeouts; tried once more with a new one.
    if (!done && Run(next.ListCommands()))
        done = Run(next.InstallCommands(Now(), true));
    if (!done) {
        installed = false;
        // Nothing of this run was in force yet: a killed monitor's rules stay (they ban what
        // the folder's list banned then); the empty table just made goes.
        if (!everInstalled) {
            leftover = Run(next.ListCommands()).ok();
            if (!leftover)
                (void)Run(next.RemoveCommands());
        }
        return done;
    }
    active = wanted = std::move(next);
    installed = everInstalled = true;
    leftover = false;
    return done;
}

Status PacketFilter::Install(Ipv4Address filterAddress, const DenyList& list)
{
    wanted = DenyRuleset(table, filterAddress, list, Now());
    return Put(wanted);
}

Status PacketFilter::Add(const DenyEntry& entry)
{
    DenyRuleset next = wanted;
    next.Add(entry);
    if (installed) {
        const std::string commands = wanted.AddCommands(entry, Now());
        if (commands.empty() || Run(commands)) {
            active = wanted = std::move(next);
            return {};
        }
    }
    const DenyRuleset asked = wanted;
    Status put = Put(std::move(next));
    if (!put)
        wanted = asked;
    return put;
}

Result<PacketFilter::Check> PacketFilter::Verify()
{
    if (!everInstalled || Run(wanted.ListCommands()))
        return Check::Present;
    active = DenyRuleset();
    installed = false;
    Status put = Put(wanted);
    if (!put)
        return Failure{put.error()};
    return Check::Restored;
}

Status PacketFilter::Remove()
{
    Status removed = Run(DenyRuleset(table, {}, {}).RemoveCommands());
    wanted = active = DenyRuleset();
    installed = everInstalled = leftover = false;
    return removed;
}

}  // namespace zpmoni
