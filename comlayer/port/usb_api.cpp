// USB entry points: accepted on USB ports only.
#include "comlayer/port/PortLayer.h"
#include "comlayer/usb/CSvComUsb.h"
#include "platform/export.h"

namespace {
CSvComUsb* Target(const char* prefix, bool argsOk, int* code) {
    PortRecord* port = AcceptTransportCall(prefix, kLinkUsb, argsOk, 300, code);
    return port != nullptr ? port->usb : nullptr;
}
}  // namespace

SL_EXPORT int SL_CCALL InitUsbInterface(int interfaceType) {
    int code;
    CSvComUsb* usb = Target("InitUsbInterface - ", true, &code);
    return usb != nullptr ? usb->InitInterface(interfaceType) : code;
}

SL_EXPORT int SL_CCALL InitUsbPrinter(const char* printerName) {
    int code;
    CSvComUsb* usb = Target("InitUsbPrinter - ", printerName != nullptr, &code);
    return usb != nullptr ? usb->InitPrinter(printerName) : code;
}

SL_EXPORT int SL_CCALL GetUsbVidPid(char* vendorId, char* productId) {
    int code;
    CSvComUsb* usb = Target("GetUsbVidPid - ", vendorId != nullptr && productId != nullptr, &code);
    return usb != nullptr ? usb->GetVidPid(vendorId, productId) : code;
}

SL_EXPORT int SL_CCALL InitUsbVidPidSerial(const char* vendorId, const char* productId,
                                           const char* serialNumber) {
    int code;
    CSvComUsb* usb = Target("InitUsbVidPidSerial - ", true, &code);
    return usb != nullptr ? usb->InitVidPidSerial(vendorId, productId, serialNumber) : code;
}

SL_EXPORT int SL_CCALL SetUsbTimeout(int sendTimeoutMs, int receiveTimeoutMs) {
    int code;
    CSvComUsb* usb = Target("SetUsbTimeout - ", true, &code);
    return usb != nullptr ? usb->SetTimeout(sendTimeoutMs, receiveTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL GetUsbTimeout(int* sendTimeoutMs, int* receiveTimeoutMs) {
    int code;
    CSvComUsb* usb =
        Target("GetUsbTimeout - ", sendTimeoutMs != nullptr && receiveTimeoutMs != nullptr, &code);
    return usb != nullptr ? usb->GetTimeout(sendTimeoutMs, receiveTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL UsbEnumDevices(char* buffer, unsigned bufferSize) {
    int code;
    CSvComUsb* usb = Target("UsbEnumDevices - ", buffer != nullptr, &code);
    return usb != nullptr ? usb->EnumDevices(buffer, bufferSize) : code;
}

SL_EXPORT int SL_CCALL UsbEnumPrinters(char* buffer, unsigned bufferSize) {
    int code;
    CSvComUsb* usb = Target("UsbEnumPrinters - ", buffer != nullptr, &code);
    return usb != nullptr ? usb->EnumPrinters(buffer, bufferSize) : code;
}

SL_VB_TWIN(InitUsbInterface, (int interfaceType), (interfaceType))
SL_VB_TWIN(InitUsbPrinter, (const char* printerName), (printerName))
SL_VB_TWIN(GetUsbVidPid, (char* vendorId, char* productId), (vendorId, productId))
SL_VB_TWIN(InitUsbVidPidSerial,
           (const char* vendorId, const char* productId, const char* serialNumber),
           (vendorId, productId, serialNumber))
SL_VB_TWIN(SetUsbTimeout, (int sendTimeoutMs, int receiveTimeoutMs),
           (sendTimeoutMs, receiveTimeoutMs))
SL_VB_TWIN(GetUsbTimeout, (int* sendTimeoutMs, int* receiveTimeoutMs),
           (sendTimeoutMs, receiveTimeoutMs))
SL_VB_TWIN(UsbEnumDevices, (char* buffer, unsigned bufferSize), (buffer, bufferSize))
SL_VB_TWIN(UsbEnumPrinters, (char* buffer, unsigned bufferSize), (buffer, bufferSize))
