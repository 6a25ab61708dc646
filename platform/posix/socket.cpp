// Placeholder: replaced by the socket implementation.
#include "platform/socket.h"

#include "platform/system.h"

namespace plat {

int WSAStartup(std::uint16_t /*version*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int WSACleanup() {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int WSAGetLastError() {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

Socket socket(int /*af*/, int /*type*/, int /*protocol*/) {
    SetLastError(kErrorNotSupported);
    return kInvalidSocket;
}

int closesocket(Socket /*s*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

std::uint32_t inet_addr(const char* /*text*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

std::uint16_t htons(std::uint16_t /*value*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

std::uint32_t htonl(std::uint32_t /*value*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

std::uint16_t ntohs(std::uint16_t /*value*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

std::uint32_t ntohl(std::uint32_t /*value*/) {
    SetLastError(kErrorNotSupported);
    return 0;
}

int ioctlsocket(Socket /*s*/, long /*command*/, std::uint32_t* /*argument*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int connect(Socket /*s*/, const SockAddrIn* /*address*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int selectWritable(Socket /*s*/, long /*seconds*/, long /*microseconds*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int setsockopt(Socket /*s*/, int /*level*/, int /*option*/, const void* /*value*/, int /*length*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int getsockopt(Socket /*s*/, int /*level*/, int /*option*/, void* /*value*/, int* /*length*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int bind(Socket /*s*/, const SockAddrIn* /*address*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int send(Socket /*s*/, const void* /*data*/, int /*length*/, int /*flags*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int recv(Socket /*s*/, void* /*buffer*/, int /*length*/, int /*flags*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int sendto(Socket /*s*/, const void* /*data*/, int /*length*/, int /*flags*/,
           const SockAddrIn* /*to*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

int recvfrom(Socket /*s*/, void* /*buffer*/, int /*length*/, int /*flags*/, SockAddrIn* /*from*/,
             int* /*fromLength*/) {
    SetLastError(kErrorNotSupported);
    return kSocketError;
}

}  // namespace plat
