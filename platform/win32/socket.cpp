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

int shutdown(Socket s, int how) {
    return ::shutdown(s, how);
}

// Nothing to read and readable: the peer closed (recv peeks 0) or reset the
// connection (the peek fails). Bytes waiting to be read hide a close behind
// them; the acknowledgement wait of a write then finds the reset.
int selectPeerClosed(Socket s) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval now = {0, 0};
    int ready = ::select(0, &readable, nullptr, nullptr, &now);
    if (ready == SOCKET_ERROR) return kSocketError;
    if (ready == 0) return 0;
    char first;
    int peeked = ::recv(s, &first, 1, MSG_PEEK);
    if (peeked > 0) return 0;
    if (peeked == 0) return 1;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? 0 : 1;
}

namespace {

// SIO_TCP_INFO with version 0 (Windows 10 1703 and later; mstcpip.h), not
// declared for the Windows XP headers this library is built against.
constexpr DWORD kSioTcpInfo = 0xD8000027u;  // _WSAIORW(IOC_VENDOR, 39)
struct TcpInfoV0 {
    int State;  // TCPSTATE: 0 closed
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};

}  // namespace

// Windows tells what is in flight (sent, not acknowledged) and how much was
// sent, not what still waits in the send buffer: given bytes beyond what
// was sent count as unacknowledged too. Older systems (and Wine) refuse
// the request: WSAEOPNOTSUPP, nothing known.
int getSendProgress(Socket s, std::uint64_t handed, SendProgress* progress) {
    if (progress == nullptr) {
        ::WSASetLastError(WSAEFAULT);
        return kSocketError;
    }
    DWORD version = 0;
    TcpInfoV0 info = {};
    DWORD size = 0;
    if (::WSAIoctl(s, kSioTcpInfo, &version, sizeof version, &info, sizeof info, &size, nullptr,
                   nullptr) == SOCKET_ERROR ||
        size < sizeof info) {
        ::WSASetLastError(WSAEOPNOTSUPP);
        return kSocketError;
    }
    std::uint64_t unsent = handed > info.BytesOut ? handed - info.BytesOut : 0;
    progress->unacknowledged = unsent + info.BytesInFlight;
    progress->unsent = unsent;
    progress->ended = info.State == 0;
    return 0;
}

}  // namespace plat
