#include "jposbridge/OpenSequence.h"

#include <cctype>
#include <cstring>
#include <string>

#include "jposbridge/BridgeLog.h"
#include "jposbridge/BridgeState.h"
#include "jposbridge/LayerBinding.h"
#include "platform/system.h"

namespace bridge {

namespace {

// Layer codes (serial set-up and log).
constexpr int kLogModeNone = 0;
constexpr int kLogModeFile = 1;
constexpr int kParityNone = 0;
constexpr int kParityOdd = 1;
constexpr int kParityEven = 2;
constexpr int kOneStopBit = 0;
constexpr int kTwoStopBits = 2;
constexpr int kFlowHardware = 0;
constexpr int kFlowSoftware = 1;
constexpr int kFlowNone = 2;

// Java-side flow-control values of openDeviceWParam.
constexpr int kJavaFlowNone = 0;
constexpr int kJavaFlowSoftware = 2;

constexpr int kDefaultTcpPort = 9100;
constexpr std::size_t kMaxAddressText = 19;
constexpr std::size_t kMaxPortText = 19;
constexpr int kSerialIntervalAndMultiplier = 10;

bool SameTextIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

int Fail(const char* method, int level, const char* message) {
    BridgeLog::Write(level, method, "%s", message);
    BridgeLog::Write(kLevelStartEnd, method, "END");
    return -1;
}

struct SerialSettings {
    int parity = kParityOdd;
    int byteSize = 7;
    int stopBits = kOneStopBit;
    int flowControl = kFlowHardware;
};

// The three characters of portParams: parity, data bits, stop bits.
bool ParsePortParams(const OpenRequest& request, SerialSettings* settings) {
    const char* method = request.method;
    const char* params = request.portParams;
    BridgeLog::Write(kLevelValue, method, "Port Params = %s", params);
    if (std::strlen(params) != 3) {
        Fail(method, kLevelFailure, "ERROR string size is not 3");
        return false;
    }
    switch (params[0]) {
        case 'N':
        case 'n':
            settings->parity = kParityNone;
            BridgeLog::Write(kLevelStep, method, "Parity NONE");
            break;
        case 'O':
        case 'o':
            settings->parity = kParityOdd;
            BridgeLog::Write(kLevelStep, method, "Parity ODD");
            break;
        default:
            settings->parity = kParityEven;
            BridgeLog::Write(kLevelStep, method, "Parity EVEN");
            break;
    }
    settings->byteSize = params[1] == '8' ? 8 : 7;
    BridgeLog::Write(kLevelStep, method, "Byte Size %d", settings->byteSize);
    settings->stopBits = params[2] == '2' ? kTwoStopBits : kOneStopBit;
    BridgeLog::Write(kLevelStep, method, "Stop bit %d", params[2] == '2' ? 2 : 1);
    if (request.flowControl == kJavaFlowNone) {
        settings->flowControl = kFlowNone;
        BridgeLog::Write(kLevelStep, method, "Flow Control NONE");
    } else if (request.flowControl == kJavaFlowSoftware) {
        settings->flowControl = kFlowSoftware;
        BridgeLog::Write(kLevelStep, method, "Flow Control SOFTWARE");
    } else {
        settings->flowControl = kFlowHardware;
        BridgeLog::Write(kLevelStep, method, "Flow Control HARDWARE");
    }
    return true;
}

// "address" or "address:port". An address or port text too long for the
// layer, or a port that is not a TCP port number, is refused rather than
// cut to something that would reach another host.
int InitEthernet(const char* portName) {
    const char* colon = std::strchr(portName, ':');
    std::string address = colon == nullptr ? portName : std::string(portName, colon);
    int tcpPort = kDefaultTcpPort;
    if (address.size() > kMaxAddressText) return -1;
    if (colon != nullptr) {
        std::string portText = colon + 1;
        if (portText.empty() || portText.size() > kMaxPortText) return -1;
        long value = 0;
        for (char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
            value = value * 10 + (c - '0');
            if (value > 65535) return -1;
        }
        tcpPort = static_cast<int>(value);
    }
    BridgeLog::Write(kLevelStep, "CommunicationDll_Eth_Init", "IP = %s", address.c_str());
    BridgeLog::Write(kLevelStep, "CommunicationDll_Eth_Init", "IP PORT = %d", tcpPort);
    return layer::InitEthTCP(address.c_str(), tcpPort);
}

// Returns 0, -1 for a layer failure, or 1 when the failure is already
// logged (malformed serial parameters).
int InitLink(const OpenRequest& request, int busType) {
    switch (busType) {
        case kBusSerial: {
            SerialSettings settings;
            if (request.withPortParams) {
                if (request.portParams == nullptr) return -1;
                if (!ParsePortParams(request, &settings)) return 1;
            }
            return layer::InitSerialPort(request.portName, request.baudRate, settings.parity,
                                         settings.byteSize, settings.stopBits,
                                         settings.flowControl);
        }
        case kBusEthernet:
            return InitEthernet(request.portName);
        default:
            return layer::InitUsbPrinter(request.portName);
    }
}

}  // namespace

int LayerLevelMask(int logLevel) {
    switch (logLevel) {
        case 0:
            return 0;
        case 2:
            return 12;
        case 3:
            return 14;
        case 4:
        case 5:
            return 15;
        default:
            return 8;
    }
}

int GetDevicePort(const char* method, const char* deviceBus) {
    if (SameTextIgnoringCase(deviceBus, "RS232")) {
        BridgeLog::Write(kLevelStep, method, "GetDevicePort: COM PORT Recognized");
        return kBusSerial;
    }
    if (SameTextIgnoringCase(deviceBus, "Ethernet")) {
        BridgeLog::Write(kLevelStep, method, "GetDevicePort: ETH PORT Recognized");
        return kBusEthernet;
    }
    if (SameTextIgnoringCase(deviceBus, "USB")) {
        BridgeLog::Write(kLevelStep, method, "GetDevicePort: USB PORT Recognized");
        return kBusUsb;
    }
    BridgeLog::Write(kLevelStep, method, "GetDevicePort: PORT  NOT Recognized");
    return kBusUnknown;
}

int ApplyTimeouts() {
    DeviceState& device = Device();
    switch (device.busType) {
        case kBusSerial:
            return layer::SetSerialTimeout(kSerialIntervalAndMultiplier, device.readTimeoutMs,
                                           kSerialIntervalAndMultiplier, device.writeTimeoutMs,
                                           kSerialIntervalAndMultiplier);
        case kBusEthernet:
            return layer::SetEthTimeout(device.writeTimeoutMs, device.readTimeoutMs);
        case kBusUsb:
            return layer::SetUsbTimeout(device.writeTimeoutMs, device.readTimeoutMs);
        default:
            return -1;
    }
}

void CloseSequence() {
    layer::Close();
    layer::DeleteAllLayerItems();
    layer::Unload();
    Device().deviceOpened = false;
}

int OpenDevice(const OpenRequest& request) {
    const char* method = request.method;
    DeviceState& device = Device();
    std::string version = VersionText();
    int logLevel = request.logEnabled ? request.logLevel : 0;
    BridgeLog::Configure(logLevel);

    BridgeLog::Write(kLevelStartEnd, method, "START");
    BridgeLog::Write(kLevelStartEnd, method, "DLL version %s", version.c_str());
    // Every open starts from an empty layer. An open that failed after the
    // layer was loaded left its port there with no device open; a service
    // retrying an offline printer would otherwise pile up one port per try.
    if (device.deviceOpened) {
        BridgeLog::Write(kLevelStartEnd, method, "DLL Already Opened. Close it");
        CloseSequence();
        FreeReadBuffer();
    } else if (layer::IsLoaded()) {
        CloseSequence();
    }

    if (!layer::Load()) {
        BridgeLog::Write(kLevelStep, method, "ERROR Init %s", plat::kLayerLibraryFileName);
        BridgeLog::Write(kLevelStartEnd, method, "END");
        return -1;
    }
    BridgeLog::Write(kLevelStep, method, "Init Com DLL");

    // On Windows a name with a character outside the system's code page
    // can name no printer or port: the layer's calls read every name in it.
    if (request.textOutsideCodePage != nullptr) {
        BridgeLog::Write(kLevelFailure, method,
                         "ERROR %s has a character the system code page cannot hold",
                         request.textOutsideCodePage);
        BridgeLog::Write(kLevelStartEnd, method, "END");
        return -1;
    }
    if (request.deviceBus == nullptr || request.portName == nullptr) {
        return Fail(method, kLevelFailure, "ERROR Java String not available");
    }
    BridgeLog::Write(kLevelValue, method, "DeviceBus = %s", request.deviceBus);
    BridgeLog::Write(kLevelValue, method, "portName = %s", request.portName);

    device.busType = GetDevicePort(method, request.deviceBus);
    if (device.busType == kBusUnknown) {
        return Fail(method, kLevelFailure, "ERROR, Port non Recognized");
    }
    BridgeLog::Write(kLevelValue, method, "Recognized %d Port Type", device.busType);

    const std::string& layerLog = BridgeLog::LayerLogPath();
    if (layer::CreateCommunicationPort(
            device.busType, logLevel != 0 ? kLogModeFile : kLogModeNone, LayerLevelMask(logLevel),
            layerLog.empty() ? nullptr : layerLog.c_str(), &device.portId) != 0) {
        return Fail(method, kLevelFailure, "ERROR Create Port on Com DLL");
    }
    BridgeLog::Write(kLevelStep, method, "Create Port on Com DLL");
    BridgeLog::Write(kLevelStartEnd, method, "Create Port on Com DLL with %d ID", device.portId);

    int init = InitLink(request, device.busType);
    if (init > 0) return -1;
    if (init != 0) return Fail(method, kLevelFailure, "ERROR Init Port on Com DLL");
    BridgeLog::Write(kLevelStep, method, "Init Port on Com DLL");

    if (layer::Open() != 0) return Fail(method, kLevelFailure, "ERROR Open Port on Com DLL");
    BridgeLog::Write(kLevelStep, method, "Open Port on Com DLL");
    device.deviceOpened = true;

    // A failed open must not keep the device: a printer that takes one
    // connection would stay held by a service that believes it is closed.
    if (ApplyTimeouts() != 0) {
        BridgeLog::Write(kLevelFailure, method, "ERROR Set Timeouts on Com DLL");
        CloseSequence();
        BridgeLog::Write(kLevelStartEnd, method, "END");
        return -1;
    }
    BridgeLog::Write(kLevelStep, method, "Set Timeouts on Com DLL");

    AllocateReadBuffer(device.readBufferSize);
    BridgeLog::Write(kLevelStartEnd, method, "END");
    return 0;
}

}  // namespace bridge
