// Serial entry points: accepted on serial ports only.
#include "comlayer/port/PortLayer.h"
#include "comlayer/serial/CSvComSerial.h"
#include "platform/export.h"

namespace {
constexpr int kRefused = 123;

CSvComSerial* Target(const char* prefix, bool argsOk, int* code, int refusal = kRefused) {
    PortRecord* port = AcceptTransportCall(prefix, kLinkSerial, argsOk, refusal, code);
    return port != nullptr ? port->serial : nullptr;
}
}  // namespace

SL_EXPORT int SL_CCALL SerialEnumPorts(char* buffer, unsigned bufferSize) {
    int code;
    CSvComSerial* serial = Target("SerialEnumPorts - ", buffer != nullptr, &code);
    return serial != nullptr ? serial->EnumPorts(buffer, bufferSize) : code;
}

SL_EXPORT int SL_CCALL SerialEnumPrinters(const char* portName, char* buffer, unsigned bufferSize) {
    int code;
    CSvComSerial* serial = Target("SerialEnumPrinters - ", buffer != nullptr, &code);
    return serial != nullptr ? serial->EnumPrinters(portName, buffer, bufferSize) : code;
}

SL_EXPORT int SL_CCALL InitSerialPort(const char* portName, int baudRate, int parity, int byteSize,
                                      int stopBits, int flowControl) {
    int code;
    CSvComSerial* serial = Target("InitSerialPort - ", portName != nullptr, &code);
    return serial != nullptr
               ? serial->InitPort(portName, baudRate, parity, byteSize, stopBits, flowControl)
               : code;
}

SL_EXPORT int SL_CCALL InitSerialPrinter(const char* printerName) {
    int code;
    CSvComSerial* serial = Target("InitSerialPrinter - ", printerName != nullptr, &code, 2048);
    return serial != nullptr ? serial->InitPrinter(printerName) : code;
}

SL_EXPORT int SL_CCALL GetSerialPort(char* portName) {
    int code;
    CSvComSerial* serial = Target("GetSerialPort - ", portName != nullptr, &code);
    return serial != nullptr ? serial->GetPort(portName) : code;
}

SL_EXPORT int SL_CCALL SetSerialTimeout(int readInterval, int readConstant, int readMultiplier,
                                        int writeConstant, int writeMultiplier) {
    int code;
    CSvComSerial* serial = Target("SetSerialTimeout - ", true, &code);
    return serial != nullptr ? serial->SetTimeout(readInterval, readConstant, readMultiplier,
                                                  writeConstant, writeMultiplier)
                             : code;
}

SL_EXPORT int SL_CCALL GetSerialParameters(int* baudRate, int* parity, int* byteSize, int* stopBits,
                                           int* flowControl) {
    int code;
    bool argsOk = baudRate != nullptr && parity != nullptr && byteSize != nullptr &&
                  stopBits != nullptr && flowControl != nullptr;
    CSvComSerial* serial = Target("GetSerialParameters - ", argsOk, &code);
    return serial != nullptr
               ? serial->GetParameters(baudRate, parity, byteSize, stopBits, flowControl)
               : code;
}

SL_EXPORT int SL_CCALL GetSerialTimeout(int* readInterval, int* readConstant, int* readMultiplier,
                                        int* writeConstant, int* writeMultiplier) {
    int code;
    bool argsOk = readInterval != nullptr && readConstant != nullptr && readMultiplier != nullptr &&
                  writeConstant != nullptr && writeMultiplier != nullptr;
    CSvComSerial* serial = Target("GetSerialTimeout - ", argsOk, &code);
    return serial != nullptr ? serial->GetTimeout(readInterval, readConstant, readMultiplier,
                                                  writeConstant, writeMultiplier)
                             : code;
}

SL_EXPORT int SL_CCALL AdvSetSerialDTR(int state) {
    int code;
    CSvComSerial* serial = Target("AdvSetSerialDTR - ", true, &code);
    return serial != nullptr ? serial->SetDTR(state) : code;
}

SL_EXPORT int SL_CCALL AdvSetSerialRTS(int state) {
    int code;
    CSvComSerial* serial = Target("AdvSetSerialRTS - ", true, &code);
    return serial != nullptr ? serial->SetRTS(state) : code;
}

SL_VB_TWIN(SerialEnumPorts, (char* buffer, unsigned bufferSize), (buffer, bufferSize))
SL_VB_TWIN(SerialEnumPrinters, (const char* portName, char* buffer, unsigned bufferSize),
           (portName, buffer, bufferSize))
SL_VB_TWIN(InitSerialPort,
           (const char* portName, int baudRate, int parity, int byteSize, int stopBits,
            int flowControl),
           (portName, baudRate, parity, byteSize, stopBits, flowControl))
SL_VB_TWIN(InitSerialPrinter, (const char* printerName), (printerName))
SL_VB_TWIN(GetSerialPort, (char* portName), (portName))
SL_VB_TWIN(SetSerialTimeout,
           (int readInterval, int readConstant, int readMultiplier, int writeConstant,
            int writeMultiplier),
           (readInterval, readConstant, readMultiplier, writeConstant, writeMultiplier))
SL_VB_TWIN(GetSerialParameters,
           (int* baudRate, int* parity, int* byteSize, int* stopBits, int* flowControl),
           (baudRate, parity, byteSize, stopBits, flowControl))
SL_VB_TWIN(GetSerialTimeout,
           (int* readInterval, int* readConstant, int* readMultiplier, int* writeConstant,
            int* writeMultiplier),
           (readInterval, readConstant, readMultiplier, writeConstant, writeMultiplier))
SL_VB_TWIN(AdvSetSerialDTR, (int state), (state))
SL_VB_TWIN(AdvSetSerialRTS, (int state), (state))
