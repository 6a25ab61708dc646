// Placeholder operations: replaced by the transport implementation.
#include "comlayer/serial/CSvComSerial.h"

CSvComSerial::CSvComSerial() = default;
CSvComSerial::~CSvComSerial() = default;

int CSvComSerial::InitPort(const char* /*name*/, int /*baudRate*/, int /*parity*/, int /*byteSize*/,
                           int /*stopBits*/, int /*flowControl*/) {
    return -1;
}
int CSvComSerial::InitPrinter(const char* /*printerName*/) {
    return -1;
}
int CSvComSerial::GetPort(char* /*out*/) {
    return -1;
}
int CSvComSerial::SetTimeout(int /*readInterval*/, int /*readConstant*/, int /*readMultiplier*/,
                             int /*writeConstant*/, int /*writeMultiplier*/) {
    return -1;
}
int CSvComSerial::GetTimeout(int* /*readInterval*/, int* /*readConstant*/, int* /*readMultiplier*/,
                             int* /*writeConstant*/, int* /*writeMultiplier*/) {
    return -1;
}
int CSvComSerial::GetParameters(int* /*baudRate*/, int* /*parity*/, int* /*byteSize*/,
                                int* /*stopBits*/, int* /*flowControl*/) {
    return -1;
}
int CSvComSerial::SetDTR(int /*on*/) {
    return -1;
}
int CSvComSerial::SetRTS(int /*on*/) {
    return -1;
}
int CSvComSerial::OpenSerial() {
    return -1;
}
int CSvComSerial::WriteSerial(const unsigned char* /*bytes*/, std::uint32_t /*count*/) {
    return -1;
}
int CSvComSerial::WriteFileSerial(const char* /*path*/) {
    return -1;
}
int CSvComSerial::ReadSerial(char* /*buffer*/, std::uint32_t /*size*/, unsigned* /*bytesRead*/) {
    return -1;
}
int CSvComSerial::CleanSerial(int /*clearOutput*/, int /*clearInput*/) {
    return -1;
}
int CSvComSerial::CloseSerial() {
    return -1;
}
int CSvComSerial::SetPacketSerial(int /*writeSize*/, int /*readSize*/) {
    return -1;
}
int CSvComSerial::GetPacketSerial(int* /*writeSize*/, int* /*readSize*/) {
    return -1;
}
int CSvComSerial::GetSerialError(int* /*error*/) {
    return -1;
}
int CSvComSerial::ResetSerialError() {
    return -1;
}
int CSvComSerial::EnumPorts(char* /*out*/, unsigned /*size*/) {
    return -1;
}
int CSvComSerial::EnumPrinters(const char* /*portName*/, char* /*out*/, unsigned /*size*/) {
    return -1;
}
