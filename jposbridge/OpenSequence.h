// Opening and closing the device of one WinPortComm object, and applying
// its time-outs, through the communication layer. Each function is called
// with the object's callLock held.
#pragma once

#include "jposbridge/BridgeLog.h"
#include "jposbridge/BridgeState.h"

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

// The longest a read waits in the layer at a time (serial and USB): the
// layer is shared by every object and serves one call at a time.
constexpr int kReadStepMs = 100;

// 0 when the device is open and its time-outs applied, else -1.
int OpenDevice(DeviceState& device, const OpenRequest& request);

// Closes the object's device and deletes its port from the layer; the
// layer stays loaded.
void ReleasePort(DeviceState& device);

// ReleasePort, then the object no longer holds the layer: the last
// object's close unloads it.
void CloseSequence(DeviceState& device);

// Hands the object's time-outs to the layer for its bus. 0 or -1.
int ApplyTimeouts(DeviceState& device);

// "RS232", "Ethernet", "USB" in any case give 0, 1, 2; anything else -1.
int GetDevicePort(const BridgeLog& log, const char* method, const char* deviceBus);

// The layer's level mask for a bridge log level.
int LayerLevelMask(int logLevel);

}  // namespace bridge
