// Scripted sockets for the unit tests: no network, only a peer whose
// answers and failures the test decides.
#include "tests/fake/fake_socket.h"

#include <arpa/inet.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "platform/socket.h"
#include "platform/system.h"
#include "tests/fake/fake_platform.h"

#undef htons
#undef htonl
#undef ntohs
#undef ntohl

namespace fake {
namespace {

struct Chunk {
    std::string bytes;
    plat::SockAddrIn from;
};

// What became of a socket's connect.
enum class Attempt { kUnderWay, kRefused };

struct Network {
    std::mutex lock;
    std::set<plat::Socket> open;
    std::set<plat::Socket> datagrams;
    std::set<plat::Socket> sendShutDown;
    plat::Socket next = 100;
    int created = 0;
    int timeOuts = 0;
    int refusals = 0;
    std::map<plat::Socket, Attempt> attempts;
    int sendLimit = 0;
    int sendsTakingNothing = 0;
    std::deque<Chunk> incoming;
    bool peerClosed = false;
    std::string sent;
    std::vector<int> sendSizes;
    std::vector<int> receiveSizes;
    plat::SockAddrIn destination{};
    plat::SockAddrIn bound{};
    std::map<std::pair<int, int>, int> options;
    std::size_t actionAfter = 0;
    std::function<void()> action;
};

Network& Net() {
    static Network* network = new Network;
    return *network;
}

// The call fails when a fault was injected for it.
bool Injected(const char* call) {
    std::uint32_t error = 0;
    return ShouldFail(call, &error);
}

int Fail(int wsaError) {
    plat::SetLastError(static_cast<std::uint32_t>(wsaError));
    return plat::kSocketError;
}

bool IsOpen(plat::Socket s) {
    return Net().open.count(s) != 0;
}

}  // namespace

void ResetSockets() {
    Network& n = Net();
    std::lock_guard<std::mutex> guard(n.lock);
    n.open.clear();
    n.datagrams.clear();
    n.sendShutDown.clear();
    n.next = 100;
    n.created = 0;
    n.timeOuts = 0;
    n.refusals = 0;
    n.attempts.clear();
    n.sendLimit = 0;
    n.sendsTakingNothing = 0;
    n.incoming.clear();
    n.peerClosed = false;
    n.sent.clear();
    n.sendSizes.clear();
    n.receiveSizes.clear();
    n.destination = plat::SockAddrIn{};
    n.bound = plat::SockAddrIn{};
    n.options.clear();
    n.action = nullptr;
}

void ConnectTimesOut(int count) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().timeOuts = count;
}

void ConnectRefused(int count) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().refusals = count;
}

void LimitSend(int bytes) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().sendLimit = bytes;
}

void SendTakesNothing(int count) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().sendsTakingNothing = count;
}

void QueueReceive(const std::string& bytes, const char* fromAddress, std::uint16_t fromPort) {
    plat::SockAddrIn from{};
    from.sin_family = plat::kAfInet;
    from.sin_port = ::htons(fromPort);
    from.sin_addr = ::inet_addr(fromAddress);
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().incoming.push_back(Chunk{bytes, from});
}

void SetPeerClosed(bool closed) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().peerClosed = closed;
}

void WhenSent(std::size_t bytes, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(Net().lock);
    Net().actionAfter = bytes;
    Net().action = std::move(action);
}

std::string Sent() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().sent;
}

std::vector<int> SendSizes() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().sendSizes;
}

std::vector<int> ReceiveSizes() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().receiveSizes;
}

plat::SockAddrIn LastDestination() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().destination;
}

plat::SockAddrIn LastBound() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().bound;
}

int LastOption(int level, int option) {
    std::lock_guard<std::mutex> guard(Net().lock);
    auto it = Net().options.find({level, option});
    return it == Net().options.end() ? -1 : it->second;
}

int OpenSockets() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return static_cast<int>(Net().open.size());
}

int CreatedSockets() {
    std::lock_guard<std::mutex> guard(Net().lock);
    return Net().created;
}

}  // namespace fake

namespace plat {

using fake::Injected;
using fake::Net;

int WSAStartup(std::uint16_t /*version*/) {
    return Injected("WSAStartup") ? fake::Fail(kWsaEinval) : 0;
}

int WSACleanup() {
    return Injected("WSACleanup") ? fake::Fail(kWsaNotinitialised) : 0;
}

int WSAGetLastError() {
    return static_cast<int>(GetLastError());
}

Socket socket(int af, int type, int /*protocol*/) {
    if (Injected("socket")) return kInvalidSocket;
    if (af != kAfInet || (type != kSockStream && type != kSockDgram)) {
        fake::Fail(kWsaEafnosupport);
        return kInvalidSocket;
    }
    std::lock_guard<std::mutex> guard(Net().lock);
    Socket s = Net().next++;
    Net().open.insert(s);
    if (type == kSockDgram) Net().datagrams.insert(s);
    ++Net().created;
    return s;
}

int closesocket(Socket s) {
    if (Injected("closesocket")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (Net().open.erase(s) == 0) return fake::Fail(kWsaEnotsock);
    Net().datagrams.erase(s);
    return 0;
}

std::uint32_t inet_addr(const char* text) {
    return text == nullptr ? kInaddrNone : ::inet_addr(text);
}

int ioctlsocket(Socket s, long /*command*/, std::uint32_t* /*argument*/) {
    if (Injected("ioctlsocket")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    return fake::IsOpen(s) ? 0 : fake::Fail(kWsaEnotsock);
}

// A connect that fails at once (connect(2): ENETUNREACH, EACCES,
// EADDRNOTAVAIL...) is scripted with FailCall("connect", error); the socket
// then stays unconnected.
int connect(Socket s, const SockAddrIn* /*address*/) {
    if (Injected("connect")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    fake::Attempt attempt = fake::Attempt::kUnderWay;
    if (Net().refusals > 0) {
        --Net().refusals;
        attempt = fake::Attempt::kRefused;
    }
    Net().attempts[s] = attempt;
    return fake::Fail(kWsaEwouldblock);
}

int selectConnect(Socket s, long /*seconds*/, long /*microseconds*/, bool* failed) {
    if (Injected("selectConnect")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    if (failed == nullptr) return fake::Fail(kWsaEfault);
    if (Net().timeOuts > 0) {
        --Net().timeOuts;
        return 0;
    }
    auto it = Net().attempts.find(s);
    // A refused attempt is in the exception set with SO_ERROR 10061 (Windows
    // select; Linux poll: POLLOUT|POLLERR|POLLHUP). A socket whose connect
    // failed at once, or never ran, polls POLLOUT|POLLHUP with SO_ERROR 0 on
    // Linux (tcp_poll), which the Linux backend reports as failed too. Both
    // cases run on real sockets: TcpEthernet.ARefusedConnectionFailsAtOnce
    // and TcpEthernet.WithoutARouteOpenFailsAtOnceWithTheReason.
    *failed = it == Net().attempts.end() || it->second != fake::Attempt::kUnderWay;
    return 1;
}

int setsockopt(Socket s, int level, int option, const void* value, int length) {
    if (Injected("setsockopt")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    if (value == nullptr || length < 4) return fake::Fail(kWsaEfault);
    Net().options[{level, option}] = *static_cast<const int*>(value);
    return 0;
}

int getsockopt(Socket s, int level, int option, void* value, int* length) {
    if (Injected("getsockopt")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    if (value == nullptr || length == nullptr || *length < 4) return fake::Fail(kWsaEfault);
    int answer = 0;
    if (level == kSolSocket && option == kSoError) {
        auto it = Net().attempts.find(s);
        bool refused = it != Net().attempts.end() && it->second == fake::Attempt::kRefused;
        answer = refused ? kWsaEconnrefused : 0;
    } else {
        auto it = Net().options.find({level, option});
        answer = it == Net().options.end() ? 0 : it->second;
    }
    *static_cast<int*>(value) = answer;
    *length = 4;
    return 0;
}

int bind(Socket s, const SockAddrIn* address) {
    if (Injected("bind")) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    Net().bound = *address;
    return 0;
}

namespace {

// The largest UDP payload over IPv4: 65535 less the IP and UDP headers.
constexpr int kMaxDatagram = 65507;

bool IsDatagram(Socket s) {
    return Net().datagrams.count(s) != 0;
}

int TakeLocked(Socket s, const void* data, int length) {
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    // A send after shutdown(SD_SEND) fails (Windows WSAESHUTDOWN; Linux
    // send(2): EPIPE, reported by the POSIX backend as WSAECONNABORTED).
    if (Net().sendShutDown.count(s) != 0) return fake::Fail(kWsaEshutdown);
    Net().sendSizes.push_back(length);
    // A datagram goes whole or not at all; one too long for UDP fails with
    // WSAEMSGSIZE (Windows sendto; Linux sendto(2): EMSGSIZE; on loopback in
    // UdpEthernet.AWriteLargerThanAPacketGoesAsSeveralDatagrams). The limits
    // below model a stream socket's send buffer.
    if (IsDatagram(s)) {
        if (length > kMaxDatagram) return fake::Fail(kWsaEmsgsize);
        Net().sent.append(static_cast<const char*>(data), static_cast<std::size_t>(length));
        return length;
    }
    if (Net().sendsTakingNothing > 0) {
        --Net().sendsTakingNothing;
        return 0;
    }
    int taken = Net().sendLimit > 0 && Net().sendLimit < length ? Net().sendLimit : length;
    Net().sent.append(static_cast<const char*>(data), static_cast<std::size_t>(taken));
    return taken;
}

int Take(const char* call, Socket s, const void* data, int length) {
    if (Injected(call)) return kSocketError;
    std::function<void()> action;
    int taken;
    {
        std::lock_guard<std::mutex> guard(Net().lock);
        taken = TakeLocked(s, data, length);
        if (Net().action && Net().sent.size() >= Net().actionAfter) std::swap(action, Net().action);
    }
    if (action) action();
    return taken;
}

int Give(const char* call, Socket s, void* buffer, int length, SockAddrIn* from) {
    if (Injected(call)) return kSocketError;
    std::lock_guard<std::mutex> guard(Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    Net().receiveSizes.push_back(length);
    bool datagram = IsDatagram(s);
    // UDP has no close: 0 comes from a stream whose peer closed, or from a
    // zero-length datagram (recv(2)).
    if (Net().incoming.empty()) {
        return Net().peerClosed && !datagram ? 0 : fake::Fail(kWsaEtimedout);
    }
    fake::Chunk& chunk = Net().incoming.front();
    // A datagram longer than the buffer fills it, the rest is lost and the
    // call fails with WSAEMSGSIZE (Windows recvfrom; the Linux backend
    // reports MSG_TRUNC so, checked on loopback by
    // UdpEthernet.ReadsTimeOutAfterTheReceiveTimeOutAndRefuseOverlongDatagrams).
    if (datagram && static_cast<int>(chunk.bytes.size()) > length) {
        chunk.bytes.copy(static_cast<char*>(buffer), static_cast<std::size_t>(length));
        if (from != nullptr) *from = chunk.from;
        Net().incoming.pop_front();
        return fake::Fail(kWsaEmsgsize);
    }
    int given = static_cast<int>(chunk.bytes.size()) < length ? static_cast<int>(chunk.bytes.size())
                                                              : length;
    chunk.bytes.copy(static_cast<char*>(buffer), static_cast<std::size_t>(given));
    if (from != nullptr) *from = chunk.from;
    chunk.bytes.erase(0, static_cast<std::size_t>(given));
    if (chunk.bytes.empty()) Net().incoming.pop_front();
    return given;
}
}  // namespace

int send(Socket s, const void* data, int length, int /*flags*/) {
    return Take("send", s, data, length);
}

int recv(Socket s, void* buffer, int length, int /*flags*/) {
    return Give("recv", s, buffer, length, nullptr);
}

int sendto(Socket s, const void* data, int length, int /*flags*/, const SockAddrIn* to) {
    int taken = Take("sendto", s, data, length);
    if (taken >= 0 && to != nullptr) {
        std::lock_guard<std::mutex> guard(Net().lock);
        Net().destination = *to;
    }
    return taken;
}

int recvfrom(Socket s, void* buffer, int length, int /*flags*/, SockAddrIn* from, int* fromLength) {
    if (from != nullptr && (fromLength == nullptr || *fromLength < 16)) {
        return fake::Fail(kWsaEfault);
    }
    return Give("recvfrom", s, buffer, length, from);
}

}  // namespace plat

namespace plat {

// shutdown(SD_SEND): the peer sees the close, later sends fail. Any other
// `how` is refused as the POSIX backend refuses it (WSAEINVAL).
int shutdown(Socket s, int how) {
    if (fake::Injected("shutdown")) return kSocketError;
    std::lock_guard<std::mutex> guard(fake::Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    if (how != kSdSend) return fake::Fail(kWsaEinval);
    fake::Net().sendShutDown.insert(s);
    return 0;
}

// A peer that closed shows once the bytes it sent before have been read
// (Windows: select readable, recv peeks 0).
int selectPeerClosed(Socket s) {
    if (fake::Injected("selectPeerClosed")) return kSocketError;
    std::lock_guard<std::mutex> guard(fake::Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    return fake::Net().peerClosed && fake::Net().incoming.empty() ? 1 : 0;
}

// The peer's TCP acknowledges what a send took as soon as it took it
// (loopback, a printer keeping up).
int getSendProgress(Socket s, std::uint64_t /*handed*/, SendProgress* progress) {
    if (fake::Injected("getSendProgress")) return kSocketError;
    std::lock_guard<std::mutex> guard(fake::Net().lock);
    if (!fake::IsOpen(s)) return fake::Fail(kWsaEnotsock);
    if (progress == nullptr) return fake::Fail(kWsaEfault);  // as both backends
    *progress = SendProgress{0, 0, false};
    return 0;
}

}  // namespace plat
