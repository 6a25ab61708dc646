// Windows Sockets 2 calls with their Windows meanings: results and options
// use Windows values, errors are Windows Sockets numbers (WSAGetLastError).
#pragma once

#include "platform/types.h"

namespace plat {

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
constexpr int kIpprotoTcp = 6;
constexpr int kIpprotoUdp = 17;
constexpr int kSolSocket = 0xffff;
constexpr int kSoBroadcast = 0x0020;
constexpr int kSoSndTimeo = 0x1005;  // milliseconds as a 4-byte integer
constexpr int kSoRcvTimeo = 0x1006;  // milliseconds as a 4-byte integer
constexpr int kSoError = 0x1007;
constexpr int kTcpNodelay = 0x0001;
constexpr long kFionbio = static_cast<long>(0x8004667Eu);
constexpr int kSdSend = 1;  // shutdown: no more sends (the peer sees an orderly close)
constexpr std::uint32_t kInaddrAny = 0;
constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;
constexpr std::uint32_t kInaddrBroadcast = 0xFFFFFFFFu;

constexpr int kWsaEintr = 10004;
constexpr int kWsaEbadf = 10009;
constexpr int kWsaEacces = 10013;
constexpr int kWsaEfault = 10014;
constexpr int kWsaEinval = 10022;
constexpr int kWsaEmfile = 10024;
constexpr int kWsaEwouldblock = 10035;
constexpr int kWsaEinprogress = 10036;
constexpr int kWsaEnotsock = 10038;
constexpr int kWsaEopnotsupp = 10045;
constexpr int kWsaEmsgsize = 10040;
constexpr int kWsaEafnosupport = 10047;
constexpr int kWsaEaddrinuse = 10048;
constexpr int kWsaEaddrnotavail = 10049;
constexpr int kWsaEnetdown = 10050;
constexpr int kWsaEnetunreach = 10051;
constexpr int kWsaEconnaborted = 10053;
constexpr int kWsaEconnreset = 10054;
constexpr int kWsaEnobufs = 10055;
constexpr int kWsaEisconn = 10056;
constexpr int kWsaEnotconn = 10057;
constexpr int kWsaEshutdown = 10058;
constexpr int kWsaEtimedout = 10060;
constexpr int kWsaEconnrefused = 10061;
constexpr int kWsaEhostunreach = 10065;
constexpr int kWsaNotinitialised = 10093;

int WSAStartup(std::uint16_t version);
int WSACleanup();
int WSAGetLastError();

Socket socket(int af, int type, int protocol);
int closesocket(Socket s);
std::uint32_t inet_addr(const char* text);
// Byte order: one portable definition for every backend (common/ByteOrder.cpp).
// A file that also includes the system's socket headers must #undef these
// first: glibc may define them as macros.
std::uint16_t htons(std::uint16_t value);
std::uint32_t htonl(std::uint32_t value);
std::uint16_t ntohs(std::uint16_t value);
std::uint32_t ntohl(std::uint32_t value);
int ioctlsocket(Socket s, long command, std::uint32_t* argument);
int connect(Socket s, const SockAddrIn* address);
// The wait for a non-blocking connect: select() with the socket alone in the
// write set (connected) and the exception set (the attempt failed; its
// error is then SO_ERROR). The number of ready sockets, 0 on time-out,
// kSocketError on failure; *failed tells whether it came back in the
// exception set.
int selectConnect(Socket s, long seconds, long microseconds, bool* failed);
int setsockopt(Socket s, int level, int option, const void* value, int length);
int getsockopt(Socket s, int level, int option, void* value, int* length);
int bind(Socket s, const SockAddrIn* address);
// Never raises a signal on a connection the peer has closed.
int send(Socket s, const void* data, int length, int flags);
int recv(Socket s, void* buffer, int length, int flags);
int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn* to);
int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from, int* fromLength);
int shutdown(Socket s, int how);

// Whether the peer of a connected TCP socket has ended the connection (an
// orderly close or a reset), without waiting and without taking any byte
// that waits to be read: 1 ended, 0 not as far as the system tells,
// kSocketError on failure. Linux also sees a close behind unread bytes;
// Windows only when nothing waits to be read.
int selectPeerClosed(Socket s);

// How far the peer's TCP has acknowledged what a connected TCP socket was
// given: `handed` is the number of bytes given to send since the connection
// was made. Holds on after the connection ended (a reset), so that a sender
// knows where the peer stopped. kSocketError with WSAEOPNOTSUPP where the
// system cannot tell.
struct SendProgress {
    std::uint64_t unacknowledged;  // bytes given but not yet acknowledged
    std::uint64_t unsent;          // of those, bytes never sent: none is in flight
    // The connection is gone (reset, or closed both ways); only told while
    // bytes are outstanding.
    bool ended;
};
int getSendProgress(Socket s, std::uint64_t handed, SendProgress* progress);

}  // namespace plat
