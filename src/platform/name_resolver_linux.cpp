// SPDX-License-Identifier: MIT
#include "platform/name_resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

std::optional<std::string> ResolveHostName(uint32_t address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    // NI_NAMEREQD: a dotted number is no name; the record keeps its own dotted text then.
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return std::string(host);
}
