#include "jposbridge/LayerBinding.h"

#include <string>

#include "platform/system.h"
// Only the declarations, for the exports' signatures: nothing of the layer
// is linked into the bridge.
#include "sorlink.h"

namespace bridge {
namespace layer {

namespace {

plat::Module libraryHandle = nullptr;

// Looked up at every use, so a layer without some export still serves
// every other call.
template <typename Function, typename... Args>
int Call(const char* exportName, Args... args) {
    if (libraryHandle == nullptr) return -1;
    auto function = reinterpret_cast<Function>(plat::GetProcAddress(libraryHandle, exportName));
    if (function == nullptr) return -1;
    return function(args...) == 0 ? 0 : -1;
}

}  // namespace

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

bool IsLoaded() {
    return libraryHandle != nullptr;
}

void Unload() {
    if (libraryHandle != nullptr) plat::FreeLibrary(libraryHandle);
    libraryHandle = nullptr;
}

int CreateCommunicationPort(int linkType, int logMode, int logLevelMask, const char* logPath,
                            int* portId) {
    return Call<decltype(&::CreateCommunicationPort)>("CreateCommunicationPort", linkType, logMode,
                                                      logLevelMask, logPath, portId);
}

int DeleteAllLayerItems() {
    return Call<decltype(&::DeleteAllLayerItems)>("DeleteAllLayerItems");
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
    return Call<decltype(&::Read)>("Read", buffer, bufferSize, bytesRead);
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
