// Connection set-up of the Ethernet transport: addresses, time-outs, opening
// and closing the sockets, and the reconnection after an aborted connection.
#include "comlayer/ethernet/CSvComEth.h"

#include <cstring>
#include <initializer_list>

#include "comlayer/log/CSvLogFile.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace {
const char kBroadcastText[] = "255.255.255.255";
const char kAlreadyActive[] = "Init failed: a TCP connection is already active\n";
const char kNotOpened[] =
    "Impossible to perform the operation: socket and connections are not opened\n";
const char kZeroTimeout[] = "Ethernet timeout values cannot be =0 \n";
const char kSocketCreation[] = "Socket creation is failed \n";
const char kAborted[] = "Socket connection aborted for inactivity: try to connect 3 times\n";

plat::SockAddrIn MakeAddress(int port, std::uint32_t networkAddress) {
    plat::SockAddrIn address{};
    address.sin_family = plat::kAfInet;
    address.sin_port = plat::htons(static_cast<std::uint16_t>(port & 0xFFFF));
    address.sin_addr = networkAddress;
    return address;
}

// Why a dotted address is refused before the parser sees it, or nullptr.
// inet_addr reads a part with a leading zero as octal (or hex after 0x), so
// 192.168.001.050 would reach 192.168.1.40, it stops at a blank, so
// "127.0.0.2 kitchen" would pass, and it fills a missing part with zeros,
// so 192.168.1 (a part forgotten) would reach 192.168.0.1; none of these
// is what a technician meant.
const char* AddressFault(const char* text) {
    const char* c = text;
    for (int part = 0; part < 4; ++part) {
        const char* digits = c;
        while (*c >= '0' && *c <= '9') ++c;
        if (c == digits) return nullptr;  // not dotted decimal: the parser decides
        if (digits[0] == '0' && (c - digits > 1 || *c == 'x' || *c == 'X')) {
            return "Init failed: an address part starts with 0 (read as octal or hex): %s\n";
        }
        if (*c == '\0' && part < 3) return "Init failed: the address has fewer than 4 parts: %s\n";
        if (*c == '\0') return nullptr;
        if (*c != '.') return "Init failed: text after the address: %s\n";
        ++c;
    }
    return "Init failed: text after the address: %s\n";
}
}  // namespace

CSvComEth::CSvComEth() : transferBuffer(new unsigned char[1024 + 100]()) {
    plat::WSAStartup(0x0202);
}

// The port layer deletes its objects without closing them first: a POS
// application that deletes a connected port must not leak its sockets.
CSvComEth::~CSvComEth() {
    if (connected == 1 && mode == kModeTcp && CloseTCP() != plat::kSocketError) {
        tcpSocket = plat::kInvalidSocket;
    }
    CloseQuietly(&tcpSocket);
    CloseQuietly(&udpReceiveSocket);
    if (releaseSocketLibrary) plat::WSACleanup();
}

void CSvComEth::RecordSystemError() {
    lastSystemError = static_cast<int>(plat::GetLastError());
}

int CSvComEth::Error(const char* prefix, const char* message, int code) {
    logFile->Write(prefix, message, LOG_ERROR);
    return code;
}

int CSvComEth::SystemError(const char* prefix, const char* message, int code) {
    RecordSystemError();
    return Error(prefix, message, code);
}

void CSvComEth::CloseQuietly(plat::Socket* socket) {
    if (*socket == plat::kInvalidSocket) return;
    plat::closesocket(*socket);
    *socket = plat::kInvalidSocket;
}

// The address field holds 19 characters: a longer text (which the parser may
// still accept, with leading zeros) is refused rather than cut into another
// address.
int CSvComEth::CheckAddress(const char* prefix, const char* address) {
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 1) return Error(prefix, kAlreadyActive, 200);
    bool fits = address != nullptr && std::memchr(address, '\0', kAddressSize) != nullptr;
    const char* fault =
        fits && std::strcmp(address, kBroadcastText) != 0 ? AddressFault(address) : nullptr;
    if (fault != nullptr) {
        plat::SetLastError(static_cast<std::uint32_t>(plat::kWsaEinval));
        logFile->Writef(prefix, LOG_ERROR, fault, address);
    }
    bool accepted = fits && fault == nullptr &&
                    (std::strcmp(address, kBroadcastText) == 0 ||
                     plat::inet_addr(address) != plat::kInaddrNone);
    if (!accepted) {
        mode = kModeNone;
        return SystemError(prefix, "Init failed: IP format not correct \n", 205);
    }
    std::memset(ipAddress, 0, sizeof ipAddress);
    std::strcpy(ipAddress, address);
    return 0;
}

int CSvComEth::InitTCPIp(const char* address, int port) {
    const char* prefix = "CSvComEth::InitTCPIp - ";
    int result = CheckAddress(prefix, address);
    if (result != 0) return result;
    tcpPort = port;
    mode = kModeTcp;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::InitUDP(const char* address, int remotePort, int localPort) {
    const char* prefix = "CSvComEth::InitUDP - ";
    int result = CheckAddress(prefix, address);
    if (result != 0) return result;
    udpRemotePort = remotePort;
    udpLocalPort = localPort;
    mode = kModeUdp;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::SetConnTimeoutEth(int milliseconds) {
    const char* prefix = "CSvComEth::SetConnTimeoutEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (milliseconds == 0) return Error(prefix, kZeroTimeout, 204);
    connectionTimeout = static_cast<std::uint32_t>(milliseconds);
    logFile->Writef(prefix, LOG_INFO,
                    "Connection Timeout value for ethernet communication setted to: [connection "
                    "timeout] = [%d]\n",
                    milliseconds);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetConnTimeoutEth(int* milliseconds) {
    const char* prefix = "CSvComEth::GetConnTimeoutEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (milliseconds != nullptr) *milliseconds = static_cast<int>(connectionTimeout);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::SetTimeoutEth(int sendMs, int receiveMs) {
    const char* prefix = "CSvComEth::SetTimeoutEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (sendMs == 0 || receiveMs == 0) return Error(prefix, kZeroTimeout, 204);
    sendTimeout = static_cast<std::uint32_t>(sendMs);
    receiveTimeout = static_cast<std::uint32_t>(receiveMs);
    logFile->Writef(prefix, LOG_INFO,
                    "Timeout values for ethernet communication setted to: [send timeout, receive "
                    "timeout] = [%d , %d ]\n",
                    sendMs, receiveMs);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::GetEthTimeout(int* sendMs, int* receiveMs) {
    const char* prefix = "CSvComEth::GetEthTimeout - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (sendMs != nullptr) *sendMs = static_cast<int>(sendTimeout);
    if (receiveMs != nullptr) *receiveMs = static_cast<int>(receiveTimeout);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComEth::OpenEth() {
    const char* prefix = "CSvComEth::OpenEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (mode == kModeNone) return Error(prefix, "Open ethernet failed: no init was done\n", 201);
    if (connected == 1) {
        return Error(prefix, "Open ethernet failed: a connection is already active\n", 202);
    }
    int result = mode == kModeTcp ? OpenTCP() : OpenUDP();
    if (result != 0) return result;
    connected = 1;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// A failed open closes what it created: the object stays not connected and
// nothing else would ever close those sockets.
int CSvComEth::OpenTCP() {
    const char* prefix = "CSvComEth::OpenEth - ";
    tcpSocket = plat::socket(plat::kAfInet, plat::kSockStream, 0);
    if (tcpSocket == plat::kInvalidSocket) return SystemError(prefix, kSocketCreation, 207);

    tcpRemoteAddress = MakeAddress(tcpPort, plat::inet_addr(ipAddress));
    std::uint32_t nonBlocking = 1;
    plat::ioctlsocket(tcpSocket, plat::kFionbio, &nonBlocking);
    int error = ConnectTCP();
    std::uint32_t blocking = 0;
    plat::ioctlsocket(tcpSocket, plat::kFionbio, &blocking);
    if (error == 0) {
        // A write returns once the printer acknowledged its last byte: with
        // Nagle the tail of a job would wait for the printer's delayed
        // acknowledgement of the piece before it (40 to 200 ms a job).
        int on = 1;
        plat::setsockopt(tcpSocket, plat::kIpprotoTcp, plat::kTcpNodelay, &on,
                         static_cast<int>(sizeof on));
        handedOnConnection = 0;
        peerEnded = false;
        logFile->Writef(prefix, LOG_INFO, "TCP connect successful with %s \n", ipAddress);
        return 0;
    }
    plat::SetLastError(static_cast<std::uint32_t>(error));
    RecordSystemError();
    logFile->Write(prefix, "Open TCP has failed: impossibile to connect the socket \n", LOG_ERROR);
    CloseQuietly(&tcpSocket);
    return 215;
}

// The Windows Sockets error that ended the attempt, 0 only for a connection
// that really completed. A connect that fails at once (no route, a broadcast
// address, no free local port) is not waited for: Linux would then report
// the unconnected socket writable with no pending error. A time-out reports
// itself rather than the "would block" the connect left behind.
int CSvComEth::ConnectTCP() {
    auto failure = [](int error) { return error != 0 ? error : plat::kWsaEnotconn; };
    if (plat::connect(tcpSocket, &tcpRemoteAddress) != 0) {
        int error = plat::WSAGetLastError();
        if (error != plat::kWsaEwouldblock) return failure(error);
    }
    bool failed = false;
    int ready = plat::selectConnect(tcpSocket, static_cast<long>(connectionTimeout / 1000),
                                    static_cast<long>(connectionTimeout % 1000) * 1000, &failed);
    if (ready == 0) return plat::kWsaEtimedout;
    if (ready < 0) return failure(plat::WSAGetLastError());
    // Ready is not yet connected: the attempt's own error decides (connect(2)).
    int pendingError = 0;
    int length = static_cast<int>(sizeof pendingError);
    if (plat::getsockopt(tcpSocket, plat::kSolSocket, plat::kSoError, &pendingError, &length) !=
        0) {
        return failure(plat::WSAGetLastError());
    }
    if (pendingError != 0 || failed) return failure(pendingError);
    return 0;
}

// Datagrams go out from the socket bound to the local port: a printer
// that answers to the request's source port then reaches the socket that
// reads. No second socket is made for sending.
int CSvComEth::OpenUDP() {
    const char* prefix = "CSvComEth::OpenEth - ";
    udpReceiveSocket = plat::socket(plat::kAfInet, plat::kSockDgram, plat::kIpprotoUdp);
    if (udpReceiveSocket == plat::kInvalidSocket) return SystemError(prefix, kSocketCreation, 207);

    std::uint32_t destination = plat::inet_addr(ipAddress);
    bool broadcast = std::strcmp(ipAddress, kBroadcastText) == 0 || destination == 0;
    if (broadcast) destination = plat::kInaddrBroadcast;
    udpRemoteAddress = MakeAddress(udpRemotePort, destination);
    udpLocalAddress = MakeAddress(udpLocalPort, plat::htonl(plat::kInaddrAny));

    int result = 0;
    int on = 1;
    if (broadcast && plat::setsockopt(udpReceiveSocket, plat::kSolSocket, plat::kSoBroadcast, &on,
                                      static_cast<int>(sizeof on)) == plat::kSocketError) {
        result = SystemError(prefix, "Error socket: setsockoption() failed\n", 208);
    } else if (plat::bind(udpReceiveSocket, &udpLocalAddress) == plat::kSocketError) {
        result = SystemError(prefix, "Socket bind error \n", 210);
    }
    if (result != 0) CloseQuietly(&udpReceiveSocket);
    return result;
}

// Takes what the printer sent and nobody read: Linux answers a close with
// unread input by a reset, which throws away what is still queued to send.
void CSvComEth::DiscardInput() {
    std::uint32_t nonBlocking = 1;
    plat::ioctlsocket(tcpSocket, plat::kFionbio, &nonBlocking);
    char unread[4096];
    for (int k = 0; k < 1024 && plat::recv(tcpSocket, unread, sizeof unread, 0) > 0; ++k) {
    }
    std::uint32_t blocking = 0;
    plat::ioctlsocket(tcpSocket, plat::kFionbio, &blocking);
}

// An orderly close after the last byte: unread input discarded, the end of
// the stream announced, what is still unacknowledged given the send
// time-out to arrive, input that came meanwhile discarded, then closed.
// A connection being replaced after an abort or the printer's close is
// closed at once: nothing of it can arrive any more, nothing is waited for.
int CSvComEth::CloseTCP() {
    if (replacingConnection) return plat::closesocket(tcpSocket);
    DiscardInput();
    plat::shutdown(tcpSocket, plat::kSdSend);
    WaitAcknowledged("CSvComEth::CloseEth - ", sendTimeout, true);
    DiscardInput();
    return plat::closesocket(tcpSocket);
}

int CSvComEth::CloseEth() {
    const char* prefix = "CSvComEth::CloseEth - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (connected == 0) return Error(prefix, kNotOpened, 206);
    if (mode == kModeTcp) {
        if (CloseTCP() == plat::kSocketError) {
            return SystemError(prefix, kNotOpened, 206);
        }
        tcpSocket = plat::kInvalidSocket;
    } else {
        // Invalid when an earlier attempt closed it already.
        if (udpReceiveSocket != plat::kInvalidSocket) {
            if (plat::closesocket(udpReceiveSocket) == plat::kSocketError) {
                return SystemError(prefix, "Impossibile to close sockets \n", 217);
            }
            udpReceiveSocket = plat::kInvalidSocket;
        }
    }
    connected = 0;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

// One Write, WriteF or Read reconnects at most kReconnectionsPerCall times.
// An idle connection that the printer dropped needs one reconnection; a
// printer or a network that takes every connection and aborts it at once
// would otherwise keep the call reconnecting, and logging, for ever.
bool CSvComEth::ReconnectAfterAbort(const char* prefix) {
    logFile->Write(prefix, kAborted, LOG_INFO);
    if (reconnectionsLeft <= 0) {
        logFile->Writef(prefix, LOG_INFO, "No reconnection: %d already made during this call\n",
                        kReconnectionsPerCall);
        CloseEth();
        return false;
    }
    --reconnectionsLeft;
    replacingConnection = true;
    bool made = RetryToConnectAfterAbort() == 1;
    replacingConnection = false;
    return made;
}

int CSvComEth::RetryToConnectAfterAbort() {
    const char* prefix = "CSvComEth::RetryToConnectAfterAbort - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    bool closed = false;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        logFile->Writef(prefix, LOG_INFO, "Iteration #%d \n", attempt);
        if (!closed) closed = CloseEth() == 0;
        if (closed && OpenEth() == 0) {
            logFile->Write(prefix, "END\n", LOG_TRACE);
            return 1;
        }
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}
