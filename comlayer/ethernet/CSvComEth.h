// The Ethernet transport of one communication port: a TCP client or UDP.
#pragma once

#include <cstdint>

class CSvLogFile;

class CSvComEth {
public:
    CSvComEth();
    virtual ~CSvComEth();
    CSvComEth(const CSvComEth&) = delete;
    CSvComEth& operator=(const CSvComEth&) = delete;

    void SetLog(CSvLogFile* log) { logFile = log; }

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
    CSvLogFile* logFile = nullptr;
};
