// SPDX-License-Identifier: MIT
#include "platform/address_table.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace zpmoni {

namespace {

template <typename Visit>
void ForEachInterfaceAddress(Visit&& visit)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET)
            visit(*a, reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
    }
    freeifaddrs(list);
}

}  // namespace

bool IsLoopback(uint32_t address)
{
    return (ntohl(address) >> 24) == 127;
}

std::vector<uint32_t> InterfaceAddresses()
{
    std::vector<uint32_t> all;
    ForEachInterfaceAddress([&](const ifaddrs&, uint32_t address) { all.push_back(address); });
    std::stable_partition(all.begin(), all.end(), [](uint32_t a) { return !IsLoopback(a); });
    return all;
}

std::optional<int> InterfaceIndexOf(uint32_t address)
{
    std::optional<int> index;
    ForEachInterfaceAddress([&](const ifaddrs& a, uint32_t found) {
        if (!index && found == address) {
            if (unsigned i = if_nametoindex(a.ifa_name))
                index = static_cast<int>(i);
        }
    });
    return index;
}

std::optional<LocalAddressTable> LocalAddresses()
{
    const std::vector<uint32_t> interfaces = InterfaceAddresses();
    std::vector<uint32_t> found;
    // Only addresses of an interface: a stale hosts entry (common on rented servers) names an
    // address no datagram of this machine carries.
    auto add = [&](uint32_t a) {
        if (!IsLoopback(a) && std::find(interfaces.begin(), interfaces.end(), a) != interfaces.end() &&
            std::find(found.begin(), found.end(), a) == found.end())
            found.push_back(a);
    };
    // Debian maps the host name to 127.0.1.1: the name alone would leave the decoder blind,
    // so the interfaces' addresses follow the name's.
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* result = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &result) == 0) {
            for (addrinfo* r = result; r; r = r->ai_next)
                add(reinterpret_cast<const sockaddr_in*>(r->ai_addr)->sin_addr.s_addr);
            freeaddrinfo(result);
        }
    }
    for (uint32_t a : interfaces)
        add(a);
    if (found.empty())
        return std::nullopt;
    LocalAddressTable table;
    for (size_t i = 0; i < found.size() && i < table.entries.size(); ++i)
        table.entries[i] = found[i];
    return table;
}

}  // namespace zpmoni
