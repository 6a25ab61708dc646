// The USB transport of one communication port.
#pragma once

#include <cstdint>

class CSvLogFile;

class CSvComUsb {
public:
    CSvComUsb();
    virtual ~CSvComUsb();
    CSvComUsb(const CSvComUsb&) = delete;
    CSvComUsb& operator=(const CSvComUsb&) = delete;

    void SetLog(CSvLogFile* log) { logFile = log; }

    // Set-up.
    int InitInterface(int type);
    int InitPrinter(const char* printerName);
    int InitVidPidSerial(const char* vendorId, const char* productId, const char* serialNumber);
    int GetVidPid(char* vendorId, char* productId);
    int SetTimeout(int sendMs, int receiveMs);
    int GetTimeout(int* sendMs, int* receiveMs);
    int OpenUsb();
    int CloseUsb();

    // Discovery.
    int EnumDevices(char* out, unsigned size);
    int EnumPrinters(char* out, unsigned size);
    int UsbIsAvailable();

    // Transfer.
    int WriteUsb(const unsigned char* data, std::uint32_t count);
    int WriteFileUsb(const char* path);
    int ReadUsb(char* buffer, std::uint32_t size, unsigned* bytesRead);
    int CleanUsb(int cleanWrite, int cleanRead);
    int SetPacketUsb(int writeSize, int readSize);
    int GetPacketUsb(int* writeSize, int* readSize);
    int GetUsbError(int* error);
    int ResetUsbError();

private:
    CSvLogFile* logFile = nullptr;
};
