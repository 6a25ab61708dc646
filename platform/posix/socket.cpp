// Windows Sockets on BSD sockets: Windows option numbers and time-outs in
// milliseconds are translated, failures become Windows Sockets error numbers
// (through the one errno table of errors.cpp) readable by WSAGetLastError.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "platform/posix/errors.h"
#include "platform/system.h"

// glibc may define these as macros, which would break calls to the plat:: ones.
#undef htons
#undef htonl
#undef ntohs
#undef ntohl

namespace plat {

namespace {

constexpr int kWsaEnoprotoopt = 10042;

int Fd(Socket s) {
    return s > static_cast<Socket>(INT_MAX) ? -1 : static_cast<int>(s);
}

int FailWith(int wsaError) {
    SetLastError(static_cast<std::uint32_t>(wsaError));
    return kSocketError;
}

int FailFromErrno(int error) {
    return FailWith(posix::WsaErrorFromErrno(error));
}

bool IsBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK) == 0;
}

// A blocking call that ran out of its SO_SNDTIMEO/SO_RCVTIMEO reports
// EAGAIN here but WSAETIMEDOUT on Windows.
int FailTransfer(int fd, int error) {
    if ((error == EAGAIN || error == EWOULDBLOCK) && IsBlocking(fd)) error = ETIMEDOUT;
    return FailFromErrno(error);
}

// Linux never restarts a socket call that has a time-out when a handled
// signal interrupts it (signal(7)), and every transfer here has one; on
// Windows a signal never cuts a blocking send or receive short. So an
// interrupted call waits on with poll for what is left of the socket's own
// time-out (SO_SNDTIMEO or SO_RCVTIMEO, zero for ever) and then takes what
// is ready without blocking again: a stream of signals can neither end the
// wait nor stretch it. Out of time it fails as the time-out would (EAGAIN).
template <typename Transfer>
ssize_t Uninterrupted(int fd, int timeOutOption, short event, Transfer transfer) {
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    ssize_t done = transfer(0);
    if (done >= 0 || errno != EINTR) return done;
    timeval limit{};
    socklen_t size = sizeof limit;
    bool forEver = ::getsockopt(fd, SOL_SOCKET, timeOutOption, &limit, &size) != 0 ||
                   (limit.tv_sec == 0 && limit.tv_usec == 0);
    auto deadline =
        start + std::chrono::seconds(limit.tv_sec) + std::chrono::microseconds(limit.tv_usec);
    for (;;) {
        int waitMs = -1;
        if (!forEver) {
            auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                errno = EAGAIN;
                return -1;
            }
            long long leftMs = (left.count() + 999) / 1000;
            waitMs = leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
        }
        pollfd entry{fd, event, 0};
        int ready = ::poll(&entry, 1, waitMs);
        if (ready < 0 && errno != EINTR) return -1;
        if (ready <= 0) continue;
        done = transfer(MSG_DONTWAIT);
        if (done >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            return done;
        }
    }
}

sockaddr_in ToNative(const SockAddrIn& address) {
    sockaddr_in native{};
    native.sin_family = address.sin_family == kAfInet ? AF_INET : AF_UNSPEC;
    native.sin_port = address.sin_port;
    native.sin_addr.s_addr = address.sin_addr;
    return native;
}

SockAddrIn FromNative(const sockaddr_in& native) {
    SockAddrIn address{};
    address.sin_family = native.sin_family == AF_INET ? kAfInet : 0;
    address.sin_port = native.sin_port;
    address.sin_addr = native.sin_addr.s_addr;
    return address;
}

// Windows (level, option) pairs and their Linux counterparts.
struct NativeOption {
    int level;
    int option;
    bool milliseconds;  // a DWORD of milliseconds on Windows, a timeval here
};

bool Translate(int level, int option, NativeOption* native) {
    if (level == kSolSocket) {
        switch (option) {
            case kSoBroadcast:
                *native = {SOL_SOCKET, SO_BROADCAST, false};
                return true;
            case kSoSndTimeo:
                *native = {SOL_SOCKET, SO_SNDTIMEO, true};
                return true;
            case kSoRcvTimeo:
                *native = {SOL_SOCKET, SO_RCVTIMEO, true};
                return true;
            case kSoError:
                *native = {SOL_SOCKET, SO_ERROR, false};
                return true;
            default:
                return false;
        }
    }
    if (level == kIpprotoTcp && option == kTcpNodelay) {
        *native = {IPPROTO_TCP, TCP_NODELAY, false};
        return true;
    }
    return false;
}

}  // namespace

// Nothing to start or stop on Linux.
int WSAStartup(std::uint16_t /*version*/) {
    return 0;
}

int WSACleanup() {
    return 0;
}

// As on Windows, the socket error is the thread's last error.
int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

Socket socket(int af, int type, int protocol) {
    int nativeType = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : -1;
    int nativeProtocol = protocol == kIpprotoTcp   ? IPPROTO_TCP
                         : protocol == kIpprotoUdp ? IPPROTO_UDP
                                                   : protocol;
    if (af != kAfInet) {
        FailWith(kWsaEafnosupport);
        return kInvalidSocket;
    }
    if (nativeType < 0) {
        FailWith(kWsaEinval);
        return kInvalidSocket;
    }
    // Close-on-exec: a POS application that starts another program must not
    // hand it the printer connection.
    int fd = ::socket(AF_INET, nativeType | SOCK_CLOEXEC, nativeProtocol);
    if (fd < 0) {
        FailFromErrno(errno);
        return kInvalidSocket;
    }
    return static_cast<Socket>(fd);
}

// Linux releases the descriptor even when close reports EINTR or EIO, so
// only a descriptor that was not open is a failure: reporting the others
// would make a caller close a number that may already be reused.
int closesocket(Socket s) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (::close(fd) != 0 && errno == EBADF) return FailFromErrno(errno);
    return 0;
}

std::uint32_t inet_addr(const char* text) {
    if (text == nullptr) return kInaddrNone;
    return ::inet_addr(text);
}

int ioctlsocket(Socket s, long command, std::uint32_t* argument) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (command != kFionbio || argument == nullptr) return FailWith(kWsaEinval);
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return FailFromErrno(errno);
    flags = *argument != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(fd, F_SETFL, flags) != 0) return FailFromErrno(errno);
    return 0;
}

int connect(Socket s, const SockAddrIn* address) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (address == nullptr) return FailWith(kWsaEfault);
    sockaddr_in native = ToNative(*address);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0) return 0;
    // A non-blocking connect under way is "would block" on Windows. Every
    // other error ended the attempt at once (connect(2)); EAGAIN among them
    // means no local port or routing entry was free for a TCP socket, not
    // "try again later" as it would for a transfer.
    if (errno == EINPROGRESS) return FailWith(kWsaEwouldblock);
    if (errno == EAGAIN) return FailWith(kWsaEnobufs);
    return FailFromErrno(errno);
}

// poll rather than select: select cannot watch a descriptor numbered
// FD_SETSIZE or above, which a busy POS process may well hand out. Linux
// marks a failed attempt POLLERR (a refusal: SO_ERROR holds ECONNREFUSED)
// or POLLHUP (a socket left unconnected: POLLOUT|POLLHUP with SO_ERROR 0,
// tcp_poll), both beside POLLOUT; Windows puts a failed attempt in the
// exception set alone, so either one is a failure here.
int selectConnect(Socket s, long seconds, long microseconds, bool* failed) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (seconds < 0 || microseconds < 0 || failed == nullptr) return FailWith(kWsaEinval);
    *failed = false;
    using Clock = std::chrono::steady_clock;
    auto deadline =
        Clock::now() + std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        long long leftMs = left.count() <= 0 ? 0 : (left.count() + 999) / 1000;
        pollfd entry{fd, POLLOUT, 0};
        int ready = ::poll(&entry, 1, leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs));
        if (ready > 0) {
            if ((entry.revents & POLLNVAL) != 0) return FailWith(kWsaEnotsock);
            *failed = (entry.revents & (POLLERR | POLLHUP)) != 0;
            return 1;
        }
        if (ready == 0 && Clock::now() >= deadline) return 0;
        if (ready < 0 && errno != EINTR) return FailFromErrno(errno);
    }
}

int setsockopt(Socket s, int level, int option, const void* value, int length) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    NativeOption native{};
    if (!Translate(level, option, &native)) return FailWith(kWsaEnoprotoopt);
    if (value == nullptr || length < static_cast<int>(sizeof(std::uint32_t))) {
        return FailWith(kWsaEfault);
    }
    std::uint32_t given = 0;
    std::memcpy(&given, value, sizeof given);
    int result;
    if (native.milliseconds) {
        // Windows reads an unsigned count of milliseconds; 0 waits for ever,
        // as a zero timeval does here.
        timeval time{};
        time.tv_sec = static_cast<time_t>(given / 1000);
        time.tv_usec = static_cast<suseconds_t>((given % 1000) * 1000);
        result = ::setsockopt(fd, native.level, native.option, &time, sizeof time);
    } else {
        int flag = static_cast<int>(given);
        result = ::setsockopt(fd, native.level, native.option, &flag, sizeof flag);
    }
    return result == 0 ? 0 : FailFromErrno(errno);
}

int getsockopt(Socket s, int level, int option, void* value, int* length) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    NativeOption native{};
    if (!Translate(level, option, &native)) return FailWith(kWsaEnoprotoopt);
    if (value == nullptr || length == nullptr || *length < static_cast<int>(sizeof(int))) {
        return FailWith(kWsaEfault);
    }
    int answer = 0;
    if (native.milliseconds) {
        timeval time{};
        socklen_t size = sizeof time;
        if (::getsockopt(fd, native.level, native.option, &time, &size) != 0) {
            return FailFromErrno(errno);
        }
        answer = static_cast<int>(time.tv_sec * 1000 + time.tv_usec / 1000);
    } else {
        socklen_t size = sizeof answer;
        if (::getsockopt(fd, native.level, native.option, &answer, &size) != 0) {
            return FailFromErrno(errno);
        }
        // The pending error is a Windows Sockets number on Windows.
        if (native.option == SO_ERROR) answer = posix::WsaErrorFromErrno(answer);
    }
    std::memcpy(value, &answer, sizeof answer);
    *length = static_cast<int>(sizeof answer);
    return 0;
}

int bind(Socket s, const SockAddrIn* address) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (address == nullptr) return FailWith(kWsaEfault);
    sockaddr_in native = ToNative(*address);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&native), sizeof native) != 0) {
        return FailFromErrno(errno);
    }
    return 0;
}

// MSG_NOSIGNAL: a printer that closed the connection gives an error, never a
// SIGPIPE that would end the POS application or the Java VM.
int send(Socket s, const void* data, int length, int flags) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (length < 0 || (data == nullptr && length > 0)) return FailWith(kWsaEfault);
    ssize_t sent = Uninterrupted(fd, SO_SNDTIMEO, POLLOUT, [&](int more) {
        return ::send(fd, data, static_cast<std::size_t>(length), flags | more | MSG_NOSIGNAL);
    });
    if (sent < 0) return FailTransfer(fd, errno);
    return static_cast<int>(sent);
}

int recv(Socket s, void* buffer, int length, int flags) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (length < 0 || (buffer == nullptr && length > 0)) return FailWith(kWsaEfault);
    ssize_t received = Uninterrupted(fd, SO_RCVTIMEO, POLLIN, [&](int more) {
        return ::recv(fd, buffer, static_cast<std::size_t>(length), flags | more);
    });
    if (received < 0) return FailTransfer(fd, errno);
    return static_cast<int>(received);
}

int sendto(Socket s, const void* data, int length, int flags, const SockAddrIn* to) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (to == nullptr || length < 0 || (data == nullptr && length > 0)) {
        return FailWith(kWsaEfault);
    }
    sockaddr_in native = ToNative(*to);
    ssize_t sent = Uninterrupted(fd, SO_SNDTIMEO, POLLOUT, [&](int more) {
        return ::sendto(fd, data, static_cast<std::size_t>(length), flags | more | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&native), sizeof native);
    });
    if (sent < 0) return FailTransfer(fd, errno);
    return static_cast<int>(sent);
}

// A datagram longer than the buffer is an error (WSAEMSGSIZE) on Windows,
// not a silently shortened read.
int recvfrom(Socket s, void* buffer, int length, int flags, SockAddrIn* from, int* fromLength) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (length < 0 || (buffer == nullptr && length > 0)) return FailWith(kWsaEfault);
    if (from != nullptr &&
        (fromLength == nullptr || *fromLength < static_cast<int>(sizeof *from))) {
        return FailWith(kWsaEfault);
    }
    sockaddr_in sender{};
    iovec part{buffer, static_cast<std::size_t>(length)};
    msghdr message{};
    ssize_t received = Uninterrupted(fd, SO_RCVTIMEO, POLLIN, [&](int more) {
        message = msghdr{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        return ::recvmsg(fd, &message, flags | more);
    });
    if (received < 0) return FailTransfer(fd, errno);
    if (from != nullptr) {
        *from = FromNative(sender);
        *fromLength = static_cast<int>(sizeof *from);
    }
    if ((message.msg_flags & MSG_TRUNC) != 0) return FailWith(kWsaEmsgsize);
    return static_cast<int>(received);
}

int shutdown(Socket s, int how) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (how != kSdSend) return FailWith(kWsaEinval);
    return ::shutdown(fd, SHUT_WR) == 0 ? 0 : FailFromErrno(errno);
}

// POLLRDHUP reports the peer's FIN even behind bytes not yet read; POLLHUP
// and POLLERR a reset or a connection gone both ways (tcp_poll).
int selectPeerClosed(Socket s) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    pollfd entry{fd, POLLIN | POLLRDHUP, 0};
    int ready = ::poll(&entry, 1, 0);
    if (ready < 0) return FailFromErrno(errno);
    if ((entry.revents & POLLNVAL) != 0) return FailWith(kWsaEnotsock);
    return (entry.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 ? 1 : 0;
}

// SIOCOUTQ is write_seq - snd_una (tcp(7)): every byte given and not yet
// acknowledged, sent or not; SIOCOUTQNSD write_seq - snd_nxt, the bytes not
// sent. None of these is cleared when a reset ends the connection, so they
// still tell where the peer stopped.
int getSendProgress(Socket s, std::uint64_t /*handed*/, SendProgress* progress) {
    int fd = Fd(s);
    if (fd < 0) return FailWith(kWsaEnotsock);
    if (progress == nullptr) return FailWith(kWsaEfault);
    int queued = 0;
    int unsent = 0;
    if (::ioctl(fd, SIOCOUTQ, &queued) != 0) return FailFromErrno(errno);
    // All acknowledged, the usual answer at the end of a write: one call.
    if (queued <= 0) {
        *progress = SendProgress{0, 0, false};
        return 0;
    }
    if (::ioctl(fd, SIOCOUTQNSD, &unsent) != 0) return FailFromErrno(errno);
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) return FailFromErrno(errno);
    progress->unacknowledged = queued < 0 ? 0 : static_cast<std::uint64_t>(queued);
    progress->unsent = unsent < 0 || unsent > queued ? 0 : static_cast<std::uint64_t>(unsent);
    progress->ended = info.tcpi_state == TCP_CLOSE;
    return 0;
}

}  // namespace plat
