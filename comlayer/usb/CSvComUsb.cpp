// Placeholder operations: replaced by the transport implementation.
#include "comlayer/usb/CSvComUsb.h"

CSvComUsb::CSvComUsb() = default;
CSvComUsb::~CSvComUsb() = default;

int CSvComUsb::InitInterface(int /*type*/) {
    return -1;
}
int CSvComUsb::InitPrinter(const char* /*printerName*/) {
    return -1;
}
int CSvComUsb::InitVidPidSerial(const char* /*vendorId*/, const char* /*productId*/,
                                const char* /*serialNumber*/) {
    return -1;
}
int CSvComUsb::GetVidPid(char* /*vendorId*/, char* /*productId*/) {
    return -1;
}
int CSvComUsb::SetTimeout(int /*sendMs*/, int /*receiveMs*/) {
    return -1;
}
int CSvComUsb::GetTimeout(int* /*sendMs*/, int* /*receiveMs*/) {
    return -1;
}
int CSvComUsb::OpenUsb() {
    return -1;
}
int CSvComUsb::CloseUsb() {
    return -1;
}
int CSvComUsb::EnumDevices(char* /*out*/, unsigned /*size*/) {
    return -1;
}
int CSvComUsb::EnumPrinters(char* /*out*/, unsigned /*size*/) {
    return -1;
}
int CSvComUsb::UsbIsAvailable() {
    return -1;
}
int CSvComUsb::WriteUsb(const unsigned char* /*data*/, std::uint32_t /*count*/) {
    return -1;
}
int CSvComUsb::WriteFileUsb(const char* /*path*/) {
    return -1;
}
int CSvComUsb::ReadUsb(char* /*buffer*/, std::uint32_t /*size*/, unsigned* /*bytesRead*/) {
    return -1;
}
int CSvComUsb::CleanUsb(int /*cleanWrite*/, int /*cleanRead*/) {
    return -1;
}
int CSvComUsb::SetPacketUsb(int /*writeSize*/, int /*readSize*/) {
    return -1;
}
int CSvComUsb::GetPacketUsb(int* /*writeSize*/, int* /*readSize*/) {
    return -1;
}
int CSvComUsb::GetUsbError(int* /*error*/) {
    return -1;
}
int CSvComUsb::ResetUsbError() {
    return -1;
}
