// The RS-232 transport of one communication port.
#pragma once

#include <cstdint>

class CSvLogFile;

class CSvComSerial {
public:
    CSvComSerial();
    virtual ~CSvComSerial();
    CSvComSerial(const CSvComSerial&) = delete;
    CSvComSerial& operator=(const CSvComSerial&) = delete;

    void SetLog(CSvLogFile* log) { logFile = log; }

    // Set-up and line control.
    int InitPort(const char* name, int baudRate, int parity, int byteSize, int stopBits,
                 int flowControl);
    int InitPrinter(const char* printerName);
    int GetPort(char* out);
    int SetTimeout(int readInterval, int readConstant, int readMultiplier, int writeConstant,
                   int writeMultiplier);
    int GetTimeout(int* readInterval, int* readConstant, int* readMultiplier, int* writeConstant,
                   int* writeMultiplier);
    int GetParameters(int* baudRate, int* parity, int* byteSize, int* stopBits, int* flowControl);
    int SetDTR(int on);
    int SetRTS(int on);
    int OpenSerial();

    // Transfer.
    int WriteSerial(const unsigned char* bytes, std::uint32_t count);
    int WriteFileSerial(const char* path);
    int ReadSerial(char* buffer, std::uint32_t size, unsigned* bytesRead);
    int CleanSerial(int clearOutput, int clearInput);
    int CloseSerial();
    int SetPacketSerial(int writeSize, int readSize);
    int GetPacketSerial(int* writeSize, int* readSize);
    int GetSerialError(int* error);
    int ResetSerialError();

    // Listing.
    int EnumPorts(char* out, unsigned size);
    int EnumPrinters(const char* portName, char* out, unsigned size);

private:
    CSvLogFile* logFile = nullptr;
};
