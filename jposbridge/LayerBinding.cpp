#include "jposbridge/LayerBinding.h"

#include <string>

#include "platform/system.h"
#include "platform/thread.h"
// Only the declarations, for the exports' signatures: nothing of the layer
// is linked into the bridge.
#include "sorlink.h"

namespace bridge {
namespace layer {

namespace {

// Held by a Session; guards everything below and every call into the layer.
// Made on first use and never freed: a thread of the VM may still call in
// while the process ends and static objects are destroyed.
plat::TurnLock& BindingLock() {
    static auto* lock = new plat::TurnLock;
    return *lock;
}

plat::Module libraryHandle = nullptr;
int holders = 0;
// The bridge's view of the layer's current port (0: none), so that a port
// is selected only when another one is current, and a single device's
// layer log reads as it always did.
int currentPortId = 0;
int livePorts = 0;

// Looked up at every use, so a layer without some export still serves
// every other call.
template <typename Function, typename... Args>
int RawCall(const char* exportName, Args... args) {
    if (libraryHandle == nullptr) return -1;
    auto function = reinterpret_cast<Function>(plat::GetProcAddress(libraryHandle, exportName));
    if (function == nullptr) return -1;
    return function(args...);
}

template <typename Function, typename... Args>
int Call(const char* exportName, Args... args) {
    return RawCall<Function>(exportName, args...) == 0 ? 0 : -1;
}

bool Load() {
    if (libraryHandle != nullptr) return true;
    // A layer installed beside the bridge wins over one elsewhere on the
    // search path, so a service always gets the layer it was shipped with.
    char folder[260];
    if (plat::GetOwnModuleFolder(folder, sizeof folder)) {
        std::string besideBridge =
            std::string(folder) + plat::kPathSeparator + plat::kLayerLibraryFileName;
        if (plat::GetFileAttributesA(besideBridge.c_str()) != plat::kInvalidFileAttributes) {
            libraryHandle = plat::LoadLibraryA(besideBridge.c_str());
        }
    }
    if (libraryHandle == nullptr) libraryHandle = plat::LoadLibraryA(plat::kLayerLibraryFileName);
    return libraryHandle != nullptr;
}

void Unload() {
    if (libraryHandle != nullptr) plat::FreeLibrary(libraryHandle);
    libraryHandle = nullptr;
    currentPortId = 0;
    livePorts = 0;
}

}  // namespace

Session::Session(int portId) : locked(true) {
    BindingLock().lock();
    Select(portId);
}

Session::Session(int portId, std::uint32_t waitMs) : locked(BindingLock().TryLockFor(waitMs)) {
    if (locked) Select(portId);
}

void Session::Select(int portId) {
    if (portId != 0 && portId != currentPortId &&
        Call<decltype(&::SetCommunicationPort)>("SetCommunicationPort", portId) == 0) {
        currentPortId = portId;
    }
    selected = portId == 0 || portId == currentPortId;
}

Session::~Session() {
    if (locked) BindingLock().unlock();
}

bool Hold() {
    if (!Load()) return false;
    ++holders;
    return true;
}

void Release() {
    if (holders > 0 && --holders == 0) Unload();
}

int LivePorts() {
    return livePorts;
}

int CreateCommunicationPort(int linkType, int logMode, int logLevelMask, const char* logPath,
                            int* portId) {
    int result = Call<decltype(&::CreateCommunicationPort)>("CreateCommunicationPort", linkType,
                                                            logMode, logLevelMask, logPath, portId);
    if (result == 0) {
        currentPortId = *portId;
        ++livePorts;
    }
    return result;
}

void DeletePort(int portId) {
    if (livePorts <= 1) {
        Call<decltype(&::DeleteAllLayerItems)>("DeleteAllLayerItems");
        livePorts = 0;
        currentPortId = 0;
        return;
    }
    if (Call<decltype(&::DeleteCommunicationPort)>("DeleteCommunicationPort", portId) == 0) {
        --livePorts;
        if (portId == currentPortId) currentPortId = 0;
    }
}

int InitSerialPort(const char* portName, int baudRate, int parity, int byteSize, int stopBits,
                   int flowControl) {
    return Call<decltype(&::InitSerialPort)>("InitSerialPort", portName, baudRate, parity, byteSize,
                                             stopBits, flowControl);
}

int InitEthTCP(const char* ipAddress, int tcpPort) {
    return Call<decltype(&::InitEthTCP)>("InitEthTCP", ipAddress, tcpPort);
}

int InitUsbPrinter(const char* printerName) {
    return Call<decltype(&::InitUsbPrinter)>("InitUsbPrinter", printerName);
}

int Open() {
    return Call<decltype(&::Open)>("Open");
}

int Close() {
    return Call<decltype(&::Close)>("Close");
}

int Write(const unsigned char* data, int length) {
    return Call<decltype(&::Write)>("Write", data, length);
}

int Read(char* buffer, int bufferSize, unsigned* bytesRead) {
    return RawCall<decltype(&::Read)>("Read", buffer, bufferSize, bytesRead);
}

int SetSerialTimeout(int readInterval, int readConstant, int readMultiplier, int writeConstant,
                     int writeMultiplier) {
    return Call<decltype(&::SetSerialTimeout)>("SetSerialTimeout", readInterval, readConstant,
                                               readMultiplier, writeConstant, writeMultiplier);
}

int SetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs) {
    return Call<decltype(&::SetEthTimeout)>("SetEthTimeout", sendTimeoutMs, receiveTimeoutMs);
}

int SetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs) {
    return Call<decltype(&::SetUsbTimeout)>("SetUsbTimeout", sendTimeoutMs, receiveTimeoutMs);
}

}  // namespace layer
}  // namespace bridge
