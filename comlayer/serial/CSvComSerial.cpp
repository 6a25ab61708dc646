// Choosing a port (by name with explicit line settings, or by an installed
// printer), its time-outs, parameters and the manual DTR/RTS controls.
#include "comlayer/serial/CSvComSerial.h"

#include <cstring>
#include <string>

#include "comlayer/log/CSvLogFile.h"
#include "comlayer/registry/CRegistry.h"
#include "comlayer/serial/SerialShared.h"
#include "platform/device.h"
#include "platform/registry.h"
#include "platform/system.h"

using namespace serial_shared;

namespace {

const char kGetStateFailed[] = "Impossible to get parameters: GetCommState has failed\n";

const char* const kBaudTexts[] = {"1200",  "2400",  "4800",  "9600",
                                  "19200", "38400", "57600", "115200"};
const char* const kParityTexts[] = {"None", "Odd", "Even"};
const char* const kFlowTexts[] = {"Hardware", "Xon/Xoff", "None"};

}  // namespace

CSvComSerial::CSvComSerial() : transferBuffer(new unsigned char[writePacketSize + 100]()) {
    timeouts.ReadIntervalTimeout = 10;
    timeouts.ReadTotalTimeoutMultiplier = 10;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutMultiplier = 100;
    timeouts.WriteTotalTimeoutConstant = 1000;
}

CSvComSerial::~CSvComSerial() {
    if (opened != 0) plat::CloseHandle(portHandle);
}

void CSvComSerial::RecordError() {
    lastSystemError = static_cast<int>(plat::GetLastError());
}

int CSvComSerial::InitPort(const char* name, int baud, int parityCode, int size, int stops,
                           int flow) {
    const char* prefix = "CSvComSerial::InitPort - ";
    initialized = 1;
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened != 0) {
        logFile->Write(prefix, "Init failed: serial device already opened\n", LOG_ERROR);
        return 1024;
    }
    if (CheckCom(name) == 0) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: comm port %.1023s not found\n", name);
        return 256;
    }
    int result = InitParameters(name, baud, parityCode, size, stops, flow);
    if (result == 0) {
        explicitSettings = 1;
        result = Init(name);
    }
    logFile->Write("CSvComSerial::InitPort", "END\n", LOG_TRACE);
    return result;
}

int CSvComSerial::InitParameters(const char* name, int baud, int parityCode, int size, int stops,
                                 int flow) {
    const char* prefix = "CSvComSerial::InitParameters - ";
    int result = 0;
    logFile->Write(prefix, "START\n", LOG_TRACE);
    logFile->Writef(prefix, LOG_INFO, "COM port setted to %s \n", name);

    const char* baudText = nullptr;
    for (const char* text : kBaudTexts) {
        if (std::to_string(baud) == text) baudText = text;
    }
    if (baudText != nullptr) {
        baudRate = baud;
        logFile->Writef(prefix, LOG_INFO, "BaudRate setted to %s \n", baudText);
    } else {
        initialized = 0;
        logFile->Write(prefix, "BaudRate not setted, wrong parameter\n", LOG_INFO);
        result += 1;
    }

    if (parityCode >= 0 && parityCode <= 2) {
        parity = parityCode;
        logFile->Writef(prefix, LOG_INFO, "Parity setted to %s \n", kParityTexts[parityCode]);
    } else {
        initialized = 0;
        logFile->Write(prefix, "Parity not setted, wrong parameter\n", LOG_INFO);
        result += 2;
    }

    if (size == 7 || size == 8) {
        byteSize = size;
        logFile->Writef(prefix, LOG_INFO, "Byte Size setted to %d \n", size);
    } else {
        initialized = 0;
        logFile->Write(prefix, "Byte Size not setted, wrong parameter\n", LOG_INFO);
        result += 4;
    }

    if (stops == plat::kOneStopBit || stops == plat::kTwoStopBits) {
        stopBits = stops;
        logFile->Writef(prefix, LOG_INFO, "Stop Byte setted to %s \n", stops == 0 ? "1" : "2");
    } else {
        initialized = 0;
        logFile->Write(prefix, "Stop Byte not setted, wrong parameter\n", LOG_INFO);
        result += 8;
    }

    if (flow >= 0 && flow <= 2) {
        flowControl = flow;
        logFile->Writef(prefix, LOG_INFO, "Flux Control setted to %s \n", kFlowTexts[flow]);
    } else {
        initialized = 0;
        logFile->Write(prefix, "Flux Control not setted, wrong parameter\n", LOG_ERROR);
        result += 16;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return result;
}

int CSvComSerial::Init(const char* name) {
    const char* prefix = "CSvComSerial::Init - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    std::memset(portName, 0, sizeof portName);
    std::memcpy(portName, name, strnlen(name, sizeof portName - 1));
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::CheckCom(const char* name) {
    const char* prefix = "CSvComSerial::CheckCom - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    char ports[1024] = {};
    if (EnumPorts(ports, sizeof ports) != 0) return 0;
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return ListContains(ports, name) ? 1 : 0;
}

int CSvComSerial::InitPrinter(const char* printerName) {
    const char* prefix = "CSvComSerial::InitPrinter - ";
    initialized = 1;
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened != 0) {
        logFile->Write(prefix, "Init failed: serial device already opened\n", LOG_ERROR);
        return 1024;
    }
    char printers[1024] = {};
    if (EnumPrinters(nullptr, printers, sizeof printers) != 0 ||
        !ListContains(printers, printerName)) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: printer %.1023s not found\n", printerName);
        return 512;
    }
    logFile->Writef(prefix, LOG_INFO, "Try to init printer %s\n", printerName);

    plat::Hkey key = 0;
    if (!OpenRegistryKey(prefix, kPrintersKey, &key)) {
        initialized = 0;
        return 4096;
    }
    plat::RegCloseKey(key);
    char port[CRegistry::kValueSize] = {};
    std::string printerKey = std::string(kPrintersKey) + printerName;
    if (CRegistry().ReadString(plat::kHkeyLocalMachine, printerKey.c_str(), "Port", port) == 0) {
        initialized = 0;
        logFile->Write(prefix, "Error reading registry value\n", LOG_ERROR);
        return 4096;
    }
    if (port[0] == '\0') {
        initialized = 0;
        logFile->Write(prefix, "Value PORT from registry is empty\n", LOG_ERROR);
        return 4096;
    }
    port[std::strlen(port) - 1] = '\0';  // "COM1:" names port COM1
    if (CheckCom(port) == 0) {
        initialized = 0;
        logFile->Writef(prefix, LOG_ERROR, "Init failed: comm port %s not found\n", port);
        return 256;
    }
    explicitSettings = 0;
    int result = Init(port);
    logFile->Write("CSvComSerial::InitPrinter", "END\n", LOG_TRACE);
    return result;
}

int CSvComSerial::GetPort(char* out) {
    const char* prefix = "CSvComSerial::GetPort - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (initialized == 0) {
        logFile->Write(prefix, kNotInitialised, LOG_ERROR);
        return 101;
    }
    // The caller's buffer holds 1024 characters; only the name and its
    // terminator are written.
    std::memcpy(out, portName, std::strlen(portName) + 1);
    logFile->Writef(prefix, LOG_INFO, "Get port: %s\n", portName);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::SetTimeout(int readInterval, int readConstant, int readMultiplier,
                             int writeConstant, int writeMultiplier) {
    const char* prefix = "CSvComSerial::SetTimeout - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    timeouts.ReadIntervalTimeout = static_cast<std::uint32_t>(readInterval);
    timeouts.ReadTotalTimeoutConstant = static_cast<std::uint32_t>(readConstant);
    timeouts.ReadTotalTimeoutMultiplier = static_cast<std::uint32_t>(readMultiplier);
    timeouts.WriteTotalTimeoutConstant = static_cast<std::uint32_t>(writeConstant);
    timeouts.WriteTotalTimeoutMultiplier = static_cast<std::uint32_t>(writeMultiplier);
    if (opened != 0 && !plat::SetCommTimeouts(portHandle, &timeouts)) {
        RecordError();
        logFile->Write(prefix, "Open failed: error during SetCommTimeouts \n", LOG_ERROR);
        return 107;
    }
    logFile->Writef("CSvComSerial::SetTimeout", LOG_INFO,
                    "Timeout values setted to: [read interval, read constant, read multiplier, "
                    "constant, write multiplier] = [%d %d %d %d %d]\n",
                    readInterval, readConstant, readMultiplier, writeConstant, writeMultiplier);
    logFile->Write("CSvComSerial::SetTimeout", "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::GetTimeout(int* readInterval, int* readConstant, int* readMultiplier,
                             int* writeConstant, int* writeMultiplier) {
    const char* prefix = "CSvComSerial::GetTimeout - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    *readInterval = static_cast<int>(timeouts.ReadIntervalTimeout);
    *readConstant = static_cast<int>(timeouts.ReadTotalTimeoutConstant);
    *readMultiplier = static_cast<int>(timeouts.ReadTotalTimeoutMultiplier);
    *writeConstant = static_cast<int>(timeouts.WriteTotalTimeoutConstant);
    *writeMultiplier = static_cast<int>(timeouts.WriteTotalTimeoutMultiplier);
    logFile->Writef(prefix, LOG_INFO,
                    "Timeout values returned: [read interval, read constant, read multiplier, "
                    "constant, write multiplier] = [%d %d %d %d %d]\n",
                    *readInterval, *readConstant, *readMultiplier, *writeConstant,
                    *writeMultiplier);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::GetParameters(int* outBaud, int* outParity, int* outByteSize, int* outStopBits,
                                int* outFlow) {
    const char* prefix = "CSvComSerial::GetParameters - ";
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (initialized == 0) {
        logFile->Write(prefix, kNotInitialised, LOG_ERROR);
        return 101;
    }
    if (opened != 0) {
        plat::Dcb state{};
        state.DCBlength = plat::kDcbLength;
        if (!plat::GetCommState(portHandle, &state)) {
            RecordError();
            logFile->Write(prefix, kGetStateFailed, LOG_ERROR);
            return 115;
        }
        *outBaud = static_cast<int>(state.BaudRate);
        *outParity = state.Parity;
        *outByteSize = state.ByteSize;
        *outStopBits = state.StopBits;
        if (state.fOutX != 0 && state.fInX != 0) {
            *outFlow = 1;
        } else if (state.fOutX == 0 && state.fInX == 0) {
            *outFlow = state.fOutxCtsFlow != 0 ? 0 : 2;
        }
    } else if (explicitSettings != 0) {
        *outBaud = baudRate;
        *outParity = parity;
        *outByteSize = byteSize;
        *outStopBits = stopBits;
        *outFlow = flowControl;
    } else {
        logFile->Write(prefix,
                       "Impossible to get parameters before open the device,InitPrinter has not "
                       "setted values\n",
                       LOG_ERROR);
        return 116;
    }
    logFile->Writef(prefix, LOG_INFO,
                    "Status parameters returned: [baudrate,parity,byte size, byte stop, flux "
                    "control] = [%d %d %d %d %d]\n",
                    *outBaud, *outParity, *outByteSize, *outStopBits, *outFlow);
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}

int CSvComSerial::SetDTR(int on) {
    return SetControlLine("CSvComSerial::SetDTR - ", true, on);
}

int CSvComSerial::SetRTS(int on) {
    return SetControlLine("CSvComSerial::SetRTS - ", false, on);
}

// DTR and RTS follow the same steps; only the DCB field, the escape
// functions, the messages and the codes differ.
int CSvComSerial::SetControlLine(const char* prefix, bool dtr, int on) {
    logFile->Write(prefix, "START\n", LOG_TRACE);
    if (opened == 0) {
        logFile->Write(prefix, kNotOpen, LOG_ERROR);
        return 103;
    }
    lineState.DCBlength = plat::kDcbLength;
    if (!plat::GetCommState(portHandle, &lineState)) {
        RecordError();
        logFile->Write(prefix, kGetStateFailed, LOG_ERROR);
        return 115;
    }
    std::uint32_t& mode = dtr ? lineState.fDtrControl : lineState.fRtsControl;
    if (mode != plat::kDtrControlEnable && mode != plat::kDtrControlHandshake) {
        logFile->Write(prefix,
                       dtr ? "Impossibile to set/reset DTR: DTR control disabled\n"
                           : "Impossibile to set/reset DTR: RTS control disabled\n",
                       LOG_ERROR);
        return dtr ? 120 : 121;
    }
    mode = plat::kDtrControlEnable;
    if (!plat::SetCommState(portHandle, &lineState)) {
        RecordError();
        logFile->Write(prefix, "Open failed: error during SetCommState \n", LOG_ERROR);
        return 108;
    }
    std::uint32_t function =
        dtr ? (on != 0 ? plat::kSetDtr : plat::kClrDtr) : (on != 0 ? plat::kSetRts : plat::kClrRts);
    if (!plat::EscapeCommFunction(portHandle, function)) {
        RecordError();
        logFile->Write(prefix,
                       dtr ? "EscapeCommFunctions() error, SetDTR has failed\n"
                           : "EscapeCommFunctions() error, SetRTS has failed\n",
                       LOG_ERROR);
        return dtr ? 118 : 119;
    }
    logFile->Write(prefix, "END\n", LOG_TRACE);
    return 0;
}
