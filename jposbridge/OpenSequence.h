// Opening and closing the one device the bridge serves, and applying its
// time-outs, through the communication layer.
#pragma once

namespace bridge {

// The exports' names start every line they log.
constexpr const char* kOpenDevice = "Java_com_sorvane_jpos_services_WinPortComm_openDevice";
constexpr const char* kOpenDeviceWParam =
    "Java_com_sorvane_jpos_services_WinPortComm_openDeviceWParam";
constexpr const char* kCloseDevice = "Java_com_sorvane_jpos_services_WinPortComm_closeDevice";
constexpr const char* kReadData = "Java_com_sorvane_jpos_services_WinPortComm_readData";
constexpr const char* kWriteData = "Java_com_sorvane_jpos_services_WinPortComm_writeData";
constexpr const char* kSetDeviceBuffer =
    "Java_com_sorvane_jpos_services_WinPortComm_SetDeviceBuffer";
constexpr const char* kSetDeviceTimeout =
    "Java_com_sorvane_jpos_services_WinPortComm_SetDeviceTimeout";

// Text arguments are null when Java passed null, the text could not be
// obtained from the VM, or it holds a character the layer's 8-bit text
// cannot (textOutsideCodePage then names the argument); the open then fails.
struct OpenRequest {
    const char* method;  // the export doing the open, for its log lines
    const char* deviceBus;
    const char* portName;
    int baudRate;
    bool withPortParams;  // openDeviceWParam: the next two apply
    const char* portParams;
    int flowControl;
    const char* textOutsideCodePage;
    bool logEnabled;
    int logLevel;
};

// 0 when the device is open and its time-outs applied, else -1.
int OpenDevice(const OpenRequest& request);

// Closes the device and empties the layer, then unloads it.
void CloseSequence();

// Hands the stored time-outs to the layer for the current bus. 0 or -1.
int ApplyTimeouts();

// "RS232", "Ethernet", "USB" in any case give 0, 1, 2; anything else -1.
int GetDevicePort(const char* method, const char* deviceBus);

// The layer's level mask for a bridge log level.
int LayerLevelMask(int logLevel);

}  // namespace bridge
