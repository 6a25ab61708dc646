#include "jposbridge/OpenSequence.h"

#include <algorithm>
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

int Fail(const BridgeLog& log, const char* method, int level, const char* message) {
    log.Write(level, method, "%s", message);
    log.Write(kLevelStartEnd, method, "END");
    return -1;
}

struct SerialSettings {
    int parity = kParityOdd;
    int byteSize = 7;
    int stopBits = kOneStopBit;
    int flowControl = kFlowHardware;
};

// The three characters of portParams: parity, data bits, stop bits.
bool ParsePortParams(const BridgeLog& log, const OpenRequest& request, SerialSettings* settings) {
    const char* method = request.method;
    const char* params = request.portParams;
    log.Write(kLevelValue, method, "Port Params = %s", params);
    if (std::strlen(params) != 3) {
        Fail(log, method, kLevelFailure, "ERROR string size is not 3");
        return false;
    }
    switch (params[0]) {
        case 'N':
        case 'n':
            settings->parity = kParityNone;
            log.Write(kLevelStep, method, "Parity NONE");
            break;
        case 'O':
        case 'o':
            settings->parity = kParityOdd;
            log.Write(kLevelStep, method, "Parity ODD");
            break;
        default:
            settings->parity = kParityEven;
            log.Write(kLevelStep, method, "Parity EVEN");
            break;
    }
    settings->byteSize = params[1] == '8' ? 8 : 7;
    log.Write(kLevelStep, method, "Byte Size %d", settings->byteSize);
    settings->stopBits = params[2] == '2' ? kTwoStopBits : kOneStopBit;
    log.Write(kLevelStep, method, "Stop bit %d", params[2] == '2' ? 2 : 1);
    if (request.flowControl == kJavaFlowNone) {
        settings->flowControl = kFlowNone;
        log.Write(kLevelStep, method, "Flow Control NONE");
    } else if (request.flowControl == kJavaFlowSoftware) {
        settings->flowControl = kFlowSoftware;
        log.Write(kLevelStep, method, "Flow Control SOFTWARE");
    } else {
        settings->flowControl = kFlowHardware;
        log.Write(kLevelStep, method, "Flow Control HARDWARE");
    }
    return true;
}

// "address" or "address:port". An address or port text too long for the
// layer, or a port that is not a TCP port number, is refused rather than
// cut to something that would reach another host.
int InitEthernet(const BridgeLog& log, const char* portName) {
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
    log.Write(kLevelStep, "CommunicationDll_Eth_Init", "IP = %s", address.c_str());
    log.Write(kLevelStep, "CommunicationDll_Eth_Init", "IP PORT = %d", tcpPort);
    return layer::InitEthTCP(address.c_str(), tcpPort);
}

// Returns 0, -1 for a layer failure, or 1 when the failure is already
// logged (malformed serial parameters).
int InitLink(const BridgeLog& log, const OpenRequest& request, int busType) {
    switch (busType) {
        case kBusSerial: {
            SerialSettings settings;
            if (request.withPortParams) {
                if (request.portParams == nullptr) return -1;
                if (!ParsePortParams(log, request, &settings)) return 1;
            }
            return layer::InitSerialPort(request.portName, request.baudRate, settings.parity,
                                         settings.byteSize, settings.stopBits,
                                         settings.flowControl);
        }
        case kBusEthernet:
            return InitEthernet(log, request.portName);
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

int GetDevicePort(const BridgeLog& log, const char* method, const char* deviceBus) {
    if (SameTextIgnoringCase(deviceBus, "RS232")) {
        log.Write(kLevelStep, method, "GetDevicePort: COM PORT Recognized");
        return kBusSerial;
    }
    if (SameTextIgnoringCase(deviceBus, "Ethernet")) {
        log.Write(kLevelStep, method, "GetDevicePort: ETH PORT Recognized");
        return kBusEthernet;
    }
    if (SameTextIgnoringCase(deviceBus, "USB")) {
        log.Write(kLevelStep, method, "GetDevicePort: USB PORT Recognized");
        return kBusUsb;
    }
    log.Write(kLevelStep, method, "GetDevicePort: PORT  NOT Recognized");
    return kBusUnknown;
}

// A read waits in steps of at most kReadStepMs (see ReadWithinTimeout), so
// the serial and USB layer reads are given that time-out and the bridge
// counts the object's own. The serial read multiplier is 0: a read waits
// its time-out, not 10 ms more per byte it asks for. At least 1 ms, since a
// serial read without any total time-out would wait for ever.
int ApplyTimeouts(DeviceState& device) {
    int readStepMs = std::min(device.readTimeoutMs, kReadStepMs);
    layer::Session session(device.portId);
    if (device.portId == 0 || !session.Selected()) return -1;
    switch (device.busType) {
        case kBusSerial:
            return layer::SetSerialTimeout(kSerialIntervalAndMultiplier, std::max(readStepMs, 1), 0,
                                           device.writeTimeoutMs, kSerialIntervalAndMultiplier);
        case kBusEthernet:
            // The layer's TCP read waits 5 ms whatever it is told; the
            // bridge waits the rest.
            return layer::SetEthTimeout(device.writeTimeoutMs, device.readTimeoutMs);
        case kBusUsb:
            return layer::SetUsbTimeout(device.writeTimeoutMs, readStepMs);
        default:
            return -1;
    }
}

void ReleasePort(DeviceState& device) {
    ++device.generation;
    device.deviceOpened = false;
    if (device.portId == 0) return;
    layer::Session session(device.portId);
    if (session.Selected()) layer::Close();
    layer::DeletePort(device.portId);
    device.portId = 0;
}

void CloseSequence(DeviceState& device) {
    ReleasePort(device);
    if (!device.holdsLayer) return;
    layer::Session session(0);
    layer::Release();
    device.holdsLayer = false;
}

int OpenDevice(DeviceState& device, const OpenRequest& request) {
    const char* method = request.method;
    BridgeLog& log = device.log;
    std::string version = VersionText();
    int logLevel = request.logEnabled ? request.logLevel : 0;
    log.Configure(logLevel);

    log.Write(kLevelStartEnd, method, "START");
    log.Write(kLevelStartEnd, method, "DLL version %s", version.c_str());
    // Every open starts without a port of its own. An open that failed
    // after its port was created left it there with no device open; a
    // service retrying an offline printer would otherwise pile up one port
    // per try, so that port goes and the layer stays loaded for the new one.
    // An open device is closed as closeDevice closes it: when no other
    // object holds the layer it is unloaded and loaded afresh, and the new
    // port gets the first ID again.
    if (device.deviceOpened) {
        log.Write(kLevelStartEnd, method, "DLL Already Opened. Close it");
        CloseSequence(device);
        device.FreeReadBuffer();
    } else {
        ReleasePort(device);
    }

    if (!device.holdsLayer) {
        layer::Session session(0);
        device.holdsLayer = layer::Hold();
    }
    if (!device.holdsLayer) {
        log.Write(kLevelStep, method, "ERROR Init %s", plat::kLayerLibraryFileName);
        log.Write(kLevelStartEnd, method, "END");
        return -1;
    }
    log.Write(kLevelStep, method, "Init Com DLL");

    // On Windows a name with a character outside the system's code page
    // can name no printer or port: the layer's calls read every name in it.
    if (request.textOutsideCodePage != nullptr) {
        log.Write(kLevelFailure, method,
                  "ERROR %s has a character the system code page cannot hold",
                  request.textOutsideCodePage);
        log.Write(kLevelStartEnd, method, "END");
        return -1;
    }
    if (request.deviceBus == nullptr || request.portName == nullptr) {
        return Fail(log, method, kLevelFailure, "ERROR Java String not available");
    }
    log.Write(kLevelValue, method, "DeviceBus = %s", request.deviceBus);
    log.Write(kLevelValue, method, "portName = %s", request.portName);

    device.busType = GetDevicePort(log, method, request.deviceBus);
    if (device.busType == kBusUnknown) {
        return Fail(log, method, kLevelFailure, "ERROR, Port non Recognized");
    }
    log.Write(kLevelValue, method, "Recognized %d Port Type", device.busType);

    const std::string& layerLog = log.LayerLogPath();
    int created = -1;
    {
        layer::Session session(0);
        int portId = 0;
        created = layer::CreateCommunicationPort(
            device.busType, logLevel != 0 ? kLogModeFile : kLogModeNone, LayerLevelMask(logLevel),
            layerLog.empty() ? nullptr : layerLog.c_str(), &portId);
        if (created == 0) device.portId = portId;
    }
    if (created != 0) return Fail(log, method, kLevelFailure, "ERROR Create Port on Com DLL");
    log.Write(kLevelStep, method, "Create Port on Com DLL");
    log.Write(kLevelStartEnd, method, "Create Port on Com DLL with %d ID", device.portId);

    int init = -1;
    {
        layer::Session session(device.portId);
        if (session.Selected()) init = InitLink(log, request, device.busType);
    }
    if (init > 0) return -1;
    if (init != 0) return Fail(log, method, kLevelFailure, "ERROR Init Port on Com DLL");
    log.Write(kLevelStep, method, "Init Port on Com DLL");

    int opened = -1;
    {
        layer::Session session(device.portId);
        if (session.Selected()) opened = layer::Open();
    }
    if (opened != 0) return Fail(log, method, kLevelFailure, "ERROR Open Port on Com DLL");
    log.Write(kLevelStep, method, "Open Port on Com DLL");
    device.deviceOpened = true;

    // A failed open must not keep the device: a printer that takes one
    // connection would stay held by a service that believes it is closed.
    if (ApplyTimeouts(device) != 0) {
        log.Write(kLevelFailure, method, "ERROR Set Timeouts on Com DLL");
        ReleasePort(device);
        log.Write(kLevelStartEnd, method, "END");
        return -1;
    }
    log.Write(kLevelStep, method, "Set Timeouts on Com DLL");

    device.AllocateReadBuffer(device.readBufferSize);
    log.Write(kLevelStartEnd, method, "END");
    return 0;
}

}  // namespace bridge
