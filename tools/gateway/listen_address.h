#pragma once
// Listening addresses as the configuration writes them: a name, an IPv4 or
// an IPv6 address, resolved once at start.

#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <vector>

namespace vorlan_gateway {

struct ResolvedAddress {
    sockaddr_storage address{};
    socklen_t size = 0;
    std::string text;            // "127.0.0.1:1502", "[::1]:1502"
};

// Every address `host` names, with `port`; empty text on success, else why not.
std::string ResolveListen(const std::string& host, int port, std::vector<ResolvedAddress>& out);

// Listening sockets (non-blocking) on every address `host` names; empty text
// on success. A name giving several addresses may lose some that this host
// lacks (IPv6 turned off), never all of them.
std::string OpenListeners(const std::string& host, int port, int backlog, std::vector<int>& sockets,
                          std::vector<std::string>& where);

// The peer of a socket address as text.
std::string AddressText(const sockaddr* a, socklen_t size);

}  // namespace vorlan_gateway
