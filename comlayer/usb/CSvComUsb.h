// The USB transport of one communication port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/types.h"

class CSvLogFile;

// How the device is reached once opened.
enum UsbInterfaceType {
    USB_INTERFACE_0 = 0,        // vendor control requests on the whole device
    USB_INTERFACE_PRINTER = 1,  // printer-class pipes
    USB_INTERFACE_VENDOR = 2,   // vendor-class pipes
    USB_INTERFACE_SCANNER = 3,  // scanner-class pipes, named by serial number only
};

class CSvComUsb {
public:
    static constexpr unsigned kTextSize = 1024;  // paths, serial numbers, prefixes, lists

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
    // Outcome of one overlapped pipe request.
    enum class Completion { Done, QueryFailed, TimedOut, DeviceGone, WaitFailed };
    // What a failed write or read request reports: message and code per outcome.
    struct RequestFailures {
        const char* queryFailed;
        int queryFailedCode;
        const char* timedOut;
        int timedOutCode;
        const char* waitFailed;
        int waitFailedCode;
    };
    static const RequestFailures kWriteFailures;
    static const RequestFailures kReadFailures;
    // 0 for a completed request; otherwise logs the outcome's message and
    // returns its code. A device that has gone is closed first (330).
    int FailedRequest(const char* prefix, Completion completion, const RequestFailures& failures);
    // The refusal of every operation that needs an open device: 309.
    int NotOpen(const char* prefix);
    // Empties the interface-0 answer store.
    void EmptyControlStore();

    int FindHardwareIdOfPrefix(const char* prefixId, char* hardwareIdOut);

    // Discovery (CSvComUsbDiscovery.cpp).
    const plat::Guid& ClassGuid() const;
    // Calls visit(path) for each present interface of the type's class that
    // opens; visit returns true to end the walk. An interface that is
    // present but refused (access denied, in use) is logged and given to
    // refused. Every test handle and the device-information set are
    // released before it returns.
    void WalkInterfaces(const std::function<bool(const char* path)>& visit,
                        const std::function<void(const char* path, int error)>& refused = {});
    plat::Handle OpenInterface(plat::DevInfo set, const plat::DeviceInterfaceData* data,
                               char* pathOut);
    bool ExtractParentPrefixID(const char* printerName, char* prefixOut);
    // Logs its failures with prefix, or not at all when prefix is null.
    bool ReadParentPrefix(const char* prefix, const char* keyPath, char* prefixOut);
    // Both look-ups: 1 found, 0 not present, kFoundButRefused present but
    // not to be opened (lastSystemError holds why).
    static constexpr int kFoundButRefused = 2;
    int FindSymbolicLinkFromName(char* linkOut, const char* vendorId, const char* productId,
                                 const char* parentPrefix);
    int FindSymbolicLinkFromSerial(char* linkOut, const char* vendorId, const char* productId,
                                   const char* serial);
    int CheckList(int printers, char* list);
    bool ListPrinterOf(const char* hardwareId, const char* instance, char* list);
    bool ListDeviceOf(const char* vendorId, const char* productId, const char* instance,
                      char* list);
    int CopyList(const char* prefix, const char* list, char* out, unsigned size);

    // Transfer (CSvComUsbTransfer.cpp).
    Completion RunRequest(plat::Handle handle, bool isRead, void* buffer, std::uint32_t count,
                          std::uint32_t timeoutMs, std::uint32_t* transferred);
    static Completion FailedWith(std::uint32_t error);
    int WritePiece(const unsigned char* data, std::uint32_t offset, std::uint32_t length,
                   std::uint32_t* total);
    int WriteInterface0(const unsigned char* data, std::uint32_t count);
    Completion DrainReadPipe();
    // Records the platform's error of a refused cancellation: 321.
    int CleanFailed(const char* prefix);

    CSvLogFile* logFile = nullptr;
    plat::Handle writeHandle = plat::kInvalidHandle;
    plat::Handle readHandle = plat::kInvalidHandle;
    plat::Handle controlHandle = plat::kInvalidHandle;
    plat::Guid printerClassGuid{};
    plat::Guid vendorClassGuid{};
    plat::Guid scannerClassGuid{};
    std::uint32_t writePacketSize = 64;
    std::uint32_t readPacketSize = 1024;
    int opened = 0;
    int initialized = 0;
    int byPrinterName = 0;
    std::uint32_t controlCount = 0;
    int interfaceType = USB_INTERFACE_PRINTER;
    std::uint32_t sendTimeout = 10000;
    std::uint32_t receiveTimeout = 10000;
    char vid[5] = {};
    char pid[5] = {};
    char deviceLink[kTextSize] = {};
    char serialNumber[kTextSize] = {};
    int lastSystemError = 0;
    char parentPrefixId[kTextSize] = {};
    std::unique_ptr<unsigned char[]> transferBuffer;
    unsigned char* controlBuffer = nullptr;
};
