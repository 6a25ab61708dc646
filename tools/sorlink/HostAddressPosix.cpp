#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include "tools/sorlink/HostAddress.h"

namespace sorlink_tool {

bool ResolveIpv4(const std::string& host, std::string* address, std::string* error) {
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0 || found == nullptr) {
        *error = status != 0 ? gai_strerror(status) : "no IPv4 address";
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const struct sockaddr_in*>(found->ai_addr);
    bool ok = inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text) != nullptr;
    freeaddrinfo(found);
    if (!ok) {
        *error = "no IPv4 address";
        return false;
    }
    *address = text;
    return true;
}

}  // namespace sorlink_tool
