// Windows Sockets 2 on Windows: forwarded. The platform layer already uses
// the Windows values for options, flags and errors.
#include "platform/socket.h"

#include <winsock2.h>

namespace plat {

static_assert(sizeof(Socket) == sizeof(SOCKET), "SOCKET width");
static_assert(sizeof(SockAddrIn) == sizeof(sockaddr_in), "sockaddr_in layout");

namespace {

const sockaddr* ToWindows(const SockAddrIn* address) {
    return reinterpret_cast<const sockaddr*>(address);
}

}  // namespace

int WSAStartup(std::uint16_t version) {
    WSADATA data;
    return ::WSAStartup(version, &data);
}

int WSACleanup() {
    return ::WSACleanup();
}

int WSAGetLastError() {
    return ::WSAGetLastError();
}

Socket socket(int af, int type, int protocol) {
    return ::socket(af, type, protocol);
}

int closesocket(Socket s) {
    return ::closesocket(s);
}

std::uint32_t inet_addr(const char* text) {
    if (text == nullptr) return kInaddrNone;
    return ::inet_addr(text);
}

int ioctlsocket(Socket s, long command, std::uint32_t* argument) {
    u_long value = argument != nullptr ? *argument : 0;
    int result = ::ioctlsocket(s, command, &value);
    if (argument != nullptr) *argument = value;
    return result;
}

int connect(Socket s, const SockAddrIn* address) {
    return ::connect(s, ToWindows(address), sizeof(sockaddr_in));
}

// Windows reports a failed non-blocking connect (a refusal among others) in
// the exception set only; with the write set alone the wait would run to
// its time-out.
int selectConnect(Socket s, long seconds, long microseconds, bool* failed) {
    fd_set writable;
    fd_set exceptions;
    FD_ZERO(&writable);
    FD_ZERO(&exceptions);
    FD_SET(s, &writable);
    FD_SET(s, &exceptions);
    timeval limit;
    limit.tv_sec = seconds;
    limit.tv_usec = microseconds;
    int ready = ::select(0, nullptr, &writable, &exceptions, &limit);
    if (failed != nullptr) *failed = ready > 0 && FD_ISSET(s, &exceptions);
    return ready;
}

int setsockopt(Socket s, int level, int option, const void* value, int length) {
    return ::setsockopt(s, level, option, static_cast<const char*>(value), length);
}

int getsockopt(Socket s, int level, int option, void* value, int* length) {
    return ::getsockopt(s, level, option, static_cast<char*>(value), length);
}

int bind(Socket s, const SockAddrIn* address) {
    return ::bind(s, ToWindows(address), sizeof(sockaddr_in));
}

int send(Socket s, const void* data, int length, int flags) {
    return ::send(s, static_cast<const char*>(data), length, flags);
}

int recv(Socket s, void* buffer, int length, int flags) {
    return ::recv(s, static_cast<char*>(buffer), length, flags);
}

int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn* to) {
    return ::sendto(s, static_cast<const char*>(data), length, flags, ToWindows(to),
                    sizeof(sockaddr_in));
}

int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from, int* fromLength) {
    return ::recvfrom(s, static_cast<char*>(buffer), length, flags,
                      reinterpret_cast<sockaddr*>(from), fromLength);
}

}  // namespace plat
