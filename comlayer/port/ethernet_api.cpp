// Ethernet entry points: accepted on Ethernet ports only.
#include "comlayer/ethernet/CSvComEth.h"
#include "comlayer/port/PortLayer.h"
#include "platform/export.h"

namespace {
CSvComEth* Target(const char* prefix, bool argsOk, int* code) {
    PortRecord* port = AcceptTransportCall(prefix, kLinkEthernet, argsOk, 203, code);
    return port != nullptr ? port->ethernet : nullptr;
}
}  // namespace

SL_EXPORT int SL_CCALL InitEthUDP(const char* ipAddress, int remotePort, int localPort) {
    int code;
    CSvComEth* eth = Target("InitEthUDP - ", ipAddress != nullptr, &code);
    return eth != nullptr ? eth->InitUDP(ipAddress, remotePort, localPort) : code;
}

SL_EXPORT int SL_CCALL InitEthTCP(const char* ipAddress, int tcpPort) {
    int code;
    CSvComEth* eth = Target("InitEthTCP - ", ipAddress != nullptr, &code);
    return eth != nullptr ? eth->InitTCPIp(ipAddress, tcpPort) : code;
}

SL_EXPORT int SL_CCALL InitEthTCPPrinter(const char* printerName) {
    int code;
    CSvComEth* eth = Target("InitEthTCPPrinter - ", printerName != nullptr, &code);
    return eth != nullptr ? eth->InitTCPPrinter(printerName) : code;
}

SL_EXPORT int SL_CCALL EthEnumPrinters(char* buffer, unsigned bufferSize) {
    int code;
    CSvComEth* eth = Target("EthEnumPrinters - ", buffer != nullptr, &code);
    return eth != nullptr ? eth->EnumEthernet(buffer, bufferSize) : code;
}

SL_EXPORT int SL_CCALL GetEthIpAndPort(char* ipAddress, int* tcpPort) {
    int code;
    CSvComEth* eth =
        Target("GetEthIpAndPort - ", ipAddress != nullptr && tcpPort != nullptr, &code);
    return eth != nullptr ? eth->GetIpAndPort(ipAddress, tcpPort) : code;
}

SL_EXPORT int SL_CCALL SetEthConnTimeout(int connectTimeoutMs) {
    int code;
    CSvComEth* eth = Target("SetEthConnTimeout - ", true, &code);
    return eth != nullptr ? eth->SetConnTimeoutEth(connectTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL GetEthConnTimeout(int* connectTimeoutMs) {
    int code;
    CSvComEth* eth = Target("GetEthConnTimeout - ", connectTimeoutMs != nullptr, &code);
    return eth != nullptr ? eth->GetConnTimeoutEth(connectTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL SetEthTimeout(int sendTimeoutMs, int receiveTimeoutMs) {
    int code;
    CSvComEth* eth = Target("SetEthTimeout - ", true, &code);
    return eth != nullptr ? eth->SetTimeoutEth(sendTimeoutMs, receiveTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL GetEthTimeout(int* sendTimeoutMs, int* receiveTimeoutMs) {
    int code;
    CSvComEth* eth =
        Target("GetEthTimeout - ", sendTimeoutMs != nullptr && receiveTimeoutMs != nullptr, &code);
    return eth != nullptr ? eth->GetEthTimeout(sendTimeoutMs, receiveTimeoutMs) : code;
}

SL_EXPORT int SL_CCALL AdvGetEthIpReceived(char* buffer, int bufferSize) {
    int code;
    CSvComEth* eth = Target("AdvGetEthIpReceived - ", buffer != nullptr, &code);
    return eth != nullptr ? eth->GetIpReceived(buffer, bufferSize) : code;
}

SL_VB_TWIN(InitEthUDP, (const char* ipAddress, int remotePort, int localPort),
           (ipAddress, remotePort, localPort))
SL_VB_TWIN(InitEthTCP, (const char* ipAddress, int tcpPort), (ipAddress, tcpPort))
SL_VB_TWIN(InitEthTCPPrinter, (const char* printerName), (printerName))
SL_VB_TWIN(EthEnumPrinters, (char* buffer, unsigned bufferSize), (buffer, bufferSize))
SL_VB_TWIN(GetEthIpAndPort, (char* ipAddress, int* tcpPort), (ipAddress, tcpPort))
SL_VB_TWIN(SetEthConnTimeout, (int connectTimeoutMs), (connectTimeoutMs))
SL_VB_TWIN(GetEthConnTimeout, (int* connectTimeoutMs), (connectTimeoutMs))
SL_VB_TWIN(SetEthTimeout, (int sendTimeoutMs, int receiveTimeoutMs),
           (sendTimeoutMs, receiveTimeoutMs))
SL_VB_TWIN(GetEthTimeout, (int* sendTimeoutMs, int* receiveTimeoutMs),
           (sendTimeoutMs, receiveTimeoutMs))
SL_VB_TWIN(AdvGetEthIpReceived, (char* buffer, int bufferSize), (buffer, bufferSize))
