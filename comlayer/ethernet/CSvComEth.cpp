// Placeholder operations: replaced by the transport implementation.
#include "comlayer/ethernet/CSvComEth.h"

CSvComEth::CSvComEth() = default;
CSvComEth::~CSvComEth() = default;

int CSvComEth::InitTCPIp(const char* /*address*/, int /*tcpPort*/) {
    return -1;
}
int CSvComEth::InitUDP(const char* /*address*/, int /*remotePort*/, int /*localPort*/) {
    return -1;
}
int CSvComEth::InitTCPPrinter(const char* /*printerName*/) {
    return -1;
}
int CSvComEth::EnumEthernet(char* /*out*/, unsigned /*size*/) {
    return -1;
}
int CSvComEth::GetIpAndPort(char* /*address*/, int* /*tcpPort*/) {
    return -1;
}
int CSvComEth::SetConnTimeoutEth(int /*milliseconds*/) {
    return -1;
}
int CSvComEth::GetConnTimeoutEth(int* /*milliseconds*/) {
    return -1;
}
int CSvComEth::SetTimeoutEth(int /*sendMs*/, int /*receiveMs*/) {
    return -1;
}
int CSvComEth::GetEthTimeout(int* /*sendMs*/, int* /*receiveMs*/) {
    return -1;
}
int CSvComEth::OpenEth() {
    return -1;
}
int CSvComEth::CloseEth() {
    return -1;
}
int CSvComEth::WriteEth(const unsigned char* /*bytes*/, int /*length*/) {
    return -1;
}
int CSvComEth::WriteFileEth(const char* /*path*/) {
    return -1;
}
int CSvComEth::ReadEth(char* /*buffer*/, int /*size*/, unsigned* /*bytesRead*/) {
    return -1;
}
int CSvComEth::GetIpReceived(char* /*out*/, int /*size*/) {
    return -1;
}
int CSvComEth::SetPacketEth(int /*writeSize*/, int /*readSize*/) {
    return -1;
}
int CSvComEth::GetPacketEth(int* /*writeSize*/, int* /*readSize*/) {
    return -1;
}
int CSvComEth::GetEthError(int* /*error*/) {
    return -1;
}
int CSvComEth::ResetEthError() {
    return -1;
}
