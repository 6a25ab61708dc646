#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/sorlink/HostAddress.h"

namespace sorlink_tool {

bool ResolveIpv4(const std::string& host, std::string* address, std::string* error) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        *error = "Windows Sockets did not start";
        return false;
    }
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    bool ok = status == 0 && found != nullptr;
    if (ok) {
        // inet_ntop is not on Windows XP, which the tool still runs on.
        auto* ipv4 = reinterpret_cast<struct sockaddr_in*>(found->ai_addr);
        const char* text = inet_ntoa(ipv4->sin_addr);
        ok = text != nullptr;
        if (ok) *address = text;
        freeaddrinfo(found);
    }
    if (!ok) *error = "no IPv4 address (Windows Sockets error " + std::to_string(status) + ")";
    WSACleanup();
    return ok;
}

}  // namespace sorlink_tool
