// The RS-232 transport of one communication port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

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
    // Set-up helpers (CSvComSerial.cpp, SerialOpen.cpp).
    int InitParameters(const char* name, int baud, int parityCode, int size, int stops, int flow);
    int Init(const char* name);
    int CheckCom(const char* name);
    int GetSystemVersion(std::uint32_t* outCode, char* outText, int* outError);
    int GetTheLinkPathName(const char* name, char* outDevicePath);
    int CreateComPortLink(const char* name, std::uint32_t versionCode, char* outLink);
    void CloseAfterFailedOpen();
    // Transfer helpers (SerialTransfer.cpp).
    int WritePacket(const char* prefix, const unsigned char* bytes, std::uint32_t length,
                    std::uint32_t firstIndex, std::uint32_t* total);
    void PurgeAfterShortWrite(const char* prefix);
    int SetControlLine(const char* prefix, bool dtr, int on);
    // Listing helper (SerialEnum.cpp).
    int FindPrinters(const char* port, std::string* list);
    // Opens a registry key below HKEY_LOCAL_MACHINE for reading; a failure
    // is recorded and logged with the key's path.
    bool OpenRegistryKey(const char* prefix, const char* path, plat::Hkey* key);
    void RecordError();

    CSvLogFile* logFile = nullptr;
    plat::Handle portHandle = plat::kInvalidHandle;
    int initialized = 0;
    int explicitSettings = 1;
    int opened = 0;
    int baudRate = 0;
    int parity = 0;
    int byteSize = 0;
    int stopBits = 0;
    int flowControl = 0;
    std::uint32_t writePacketSize = 1024;
    std::uint32_t readPacketSize = 1024;
    char portName[1024] = {};
    char linkName[20] = {};
    plat::Dcb lineState = {};
    plat::CommTimeouts timeouts = {};
    int lastSystemError = 0;
    std::unique_ptr<unsigned char[]> transferBuffer;
};
