// The Ethernet transport of one communication port: a TCP client or UDP.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/types.h"

class CSvLogFile;

class CSvComEth {
public:
    CSvComEth();
    virtual ~CSvComEth();
    CSvComEth(const CSvComEth&) = delete;
    CSvComEth& operator=(const CSvComEth&) = delete;

    void SetLog(CSvLogFile* log) { logFile = log; }
    // Makes the destructor leave this object's reference to the socket
    // library in place: the library's unload handler on Windows runs under
    // the loader lock, where WSACleanup can deadlock. The reference lasts
    // until the process ends.
    void KeepSocketLibrary() { releaseSocketLibrary = false; }

    // Set-up.
    int InitTCPIp(const char* address, int tcpPort);
    int InitUDP(const char* address, int remotePort, int localPort);
    int InitTCPPrinter(const char* printerName);
    int EnumEthernet(char* out, unsigned size);
    int GetIpAndPort(char* address, int* tcpPort);
    int SetConnTimeoutEth(int milliseconds);
    int GetConnTimeoutEth(int* milliseconds);
    int SetTimeoutEth(int sendMs, int receiveMs);
    int GetEthTimeout(int* sendMs, int* receiveMs);
    int OpenEth();
    int CloseEth();

    // Transfer.
    int WriteEth(const unsigned char* bytes, int length);
    int WriteFileEth(const char* path);
    int ReadEth(char* buffer, int size, unsigned* bytesRead);
    int GetIpReceived(char* out, int size);
    int SetPacketEth(int writeSize, int readSize);
    int GetPacketEth(int* writeSize, int* readSize);
    int GetEthError(int* error);
    int ResetEthError();

private:
    static constexpr int kAddressSize = 20;
    static constexpr int kModeNone = 0;
    static constexpr int kModeTcp = 1;
    static constexpr int kModeUdp = 2;
    static constexpr int kReconnectionsPerCall = 5;

    // One TCP job (a Write, or all of a WriteF) and how far it got on the
    // current connection, so that a new connection goes on from the first
    // byte the old one did not have acknowledged.
    struct TcpJob {
        std::uint64_t position;           // job bytes given to a connection so far
        std::uint64_t startOnConnection;  // job byte the current connection began with
        std::uint64_t handedBefore;       // handedOnConnection when it did
    };

    // Connection set-up (CSvComEth.cpp).
    int CheckAddress(const char* prefix, const char* address);
    int OpenTCP();
    int ConnectTCP();
    int OpenUDP();
    void CloseQuietly(plat::Socket* socket);
    int CloseTCP();
    void DiscardInput();
    bool ReconnectAfterAbort(const char* prefix);
    int RetryToConnectAfterAbort();

    // Transfer (CSvComEthTransfer.cpp).
    int WriteByMode(const unsigned char* bytes, std::uint32_t length);
    int WriteUDP(const unsigned char* bytes, std::uint32_t length);
    int BeginTcpJob(const char* prefix, TcpJob* job);
    int SendTcp(const char* prefix, TcpJob* job, const unsigned char* bytes,
                std::uint64_t chunkOffset, std::uint32_t size, bool finish, bool earlier);
    bool FirstUnacknowledged(const TcpJob& job, std::uint64_t* resume);
    int WaitAcknowledged(const char* prefix, std::uint32_t milliseconds, bool quiet);
    int SendPiece(const char* prefix, const unsigned char* bytes, std::uint32_t offset,
                  std::uint32_t size, std::uint32_t* taken);
    int ReadTCP(char* buffer, std::uint32_t size, unsigned* bytesRead);
    int ReadUDP(char* buffer, std::uint32_t size, unsigned* bytesRead);
    int SetTimeoutOption(const char* prefix, plat::Socket socket, int option,
                         std::uint32_t milliseconds);
    void LogSplit(const char* prefix, std::uint32_t length);

    // Installed printer discovery (CSvComEthPrinters.cpp).
    int ExtractIpAndTCPPort(const char* portName, char* address, unsigned* port);
    int KeyNotOpened(const char* prefix, const char* path, long status);

    // Log message at LOG_ERROR and return code; SystemError first records
    // the platform's last error number.
    int Error(const char* prefix, const char* message, int code);
    int SystemError(const char* prefix, const char* message, int code);
    void RecordSystemError();

    CSvLogFile* logFile = nullptr;
    int connected = 0;
    int mode = kModeNone;
    char ipAddress[kAddressSize] = {};
    plat::Socket tcpSocket = plat::kInvalidSocket;
    plat::Socket udpReceiveSocket = plat::kInvalidSocket;
    plat::SockAddrIn udpRemoteAddress{};
    plat::SockAddrIn udpLocalAddress{};
    plat::SockAddrIn tcpRemoteAddress{};
    int tcpPort = 0;
    int udpRemotePort = 0;
    int udpLocalPort = 0;
    std::uint32_t sendTimeout = 10000;
    std::uint32_t receiveTimeout = 10000;
    std::uint32_t connectionTimeout = 10000;
    std::uint32_t writePacketSize = 1024;
    std::uint32_t readPacketSize = 1024;
    char receivedIp[kAddressSize] = {};
    int lastSystemError = 0;
    // Bytes given to the current TCP connection since it was made.
    std::uint64_t handedOnConnection = 0;
    // A read found the TCP connection closed by the printer.
    bool peerEnded = false;
    // ReconnectAfterAbort is closing the old connection.
    bool replacingConnection = false;
    // Reconnections still allowed to the Write, WriteF or Read under way.
    int reconnectionsLeft = 0;
    std::unique_ptr<unsigned char[]> transferBuffer;
    bool releaseSocketLibrary = true;
};
