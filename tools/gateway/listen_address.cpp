#include "listen_address.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "log.h"

namespace vorlan_gateway {

std::string AddressText(const sockaddr* a, socklen_t size) {
    char host[INET6_ADDRSTRLEN + 1] = {};
    char port[16] = {};
    if (getnameinfo(a, size, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return a->sa_family == AF_INET6 ? "[" + std::string(host) + "]:" + port : std::string(host) + ":" + port;
}

std::string ResolveListen(const std::string& host, int port, std::vector<ResolvedAddress>& out) {
    out.clear();
    std::string name = host;
    // "[::1]" is accepted as well as "::1".
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0) return "the listen address '" + host + "' can't be resolved: " + gai_strerror(rc);
    for (addrinfo* a = found; a; a = a->ai_next) {
        ResolvedAddress r;
        std::memcpy(&r.address, a->ai_addr, a->ai_addrlen);
        r.size = a->ai_addrlen;
        r.text = AddressText(a->ai_addr, a->ai_addrlen);
        bool twice = false;
        for (const ResolvedAddress& o : out) twice = twice || o.text == r.text;
        if (!twice) out.push_back(r);
    }
    freeaddrinfo(found);
    if (out.empty()) return "the listen address '" + host + "' names no address";
    return {};
}

namespace {

// One listening socket; -1 with the reason in `error`.
int Listen(const ResolvedAddress& r, bool v6Only, int backlog, std::string& error, int& err) {
    const int s = socket(r.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
        err = errno;
        error = r.text + ": " + std::strerror(err);
        return -1;
    }
    const int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (r.address.ss_family == AF_INET6 && v6Only) setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    if (bind(s, reinterpret_cast<const sockaddr*>(&r.address), r.size) != 0 || listen(s, backlog) != 0) {
        err = errno;
        error = "can't listen on " + r.text + ": " + std::strerror(err);
        close(s);
        return -1;
    }
    return s;
}

}  // namespace

std::string OpenListeners(const std::string& host, int port, int backlog, std::vector<int>& sockets,
                          std::vector<std::string>& where) {
    std::vector<ResolvedAddress> addresses;
    if (std::string e = ResolveListen(host, port, addresses); !e.empty()) return e;
    std::string firstError;
    for (const ResolvedAddress& r : addresses) {
        std::string error;
        int err = 0;
        const int s = Listen(r, addresses.size() > 1, backlog, error, err);
        if (s >= 0) {
            sockets.push_back(s);
            where.push_back(r.text);
            continue;
        }
        if (firstError.empty()) firstError = error;
        // A name's address this host does not have is left out; anything else is refused.
        if (addresses.size() == 1 || (err != EADDRNOTAVAIL && err != EAFNOSUPPORT)) break;
        Log(kWarning, "'" + host + "' also names " + r.text + ", which this host can't use: " + error);
        firstError.clear();
    }
    if (!firstError.empty() || sockets.empty()) {
        for (int s : sockets) close(s);
        sockets.clear();
        where.clear();
        return firstError.empty() ? "nothing to listen on for '" + host + "'" : firstError;
    }
    return {};
}

}  // namespace vorlan_gateway
