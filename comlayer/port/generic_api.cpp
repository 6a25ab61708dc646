// Entry points that work on the current port whatever its link type: each
// checks its arguments, logs which class it calls and returns that object's
// result unchanged.
#include <cstring>

#include "comlayer/ethernet/CSvComEth.h"
#include "comlayer/log/CSvLogFile.h"
#include "comlayer/port/PortLayer.h"
#include "comlayer/serial/CSvComSerial.h"
#include "comlayer/usb/CSvComUsb.h"
#include "platform/export.h"

SL_EXPORT int SL_CCALL Open(void) {
    int code;
    PortRecord* port = DispatchTarget("Open - ", true, false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->OpenEth();
        case kLinkUsb:
            return port->usb->OpenUsb();
        default:
            return port->serial->OpenSerial();
    }
}

// A negative length would reach the transports as a huge unsigned count.
SL_EXPORT int SL_CCALL Write(const unsigned char* data, int length) {
    int code;
    PortRecord* port = DispatchTarget("Write - ", data != nullptr && length >= 0, false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->WriteEth(data, length);
        case kLinkUsb:
            return port->usb->WriteUsb(data, static_cast<std::uint32_t>(length));
        default:
            return port->serial->WriteSerial(data, static_cast<std::uint32_t>(length));
    }
}

SL_EXPORT int SL_CCALL WriteF(const char* filePath) {
    int code;
    PortRecord* port =
        DispatchTarget("WriteF - ", filePath != nullptr && filePath[0] != '\0', false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->WriteFileEth(filePath);
        case kLinkUsb:
            return port->usb->WriteFileUsb(filePath);
        default:
            return port->serial->WriteFileSerial(filePath);
    }
}

SL_EXPORT int SL_CCALL Read(char* buffer, int bufferSize, unsigned* bytesRead) {
    int code;
    PortRecord* port = DispatchTarget(
        "Read - ", buffer != nullptr && bytesRead != nullptr && bufferSize >= 0, false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->ReadEth(buffer, bufferSize, bytesRead);
        case kLinkUsb:
            return port->usb->ReadUsb(buffer, static_cast<std::uint32_t>(bufferSize), bytesRead);
        default:
            return port->serial->ReadSerial(buffer, static_cast<std::uint32_t>(bufferSize),
                                            bytesRead);
    }
}

SL_EXPORT int SL_CCALL ReadFIFO(unsigned char* buffer, unsigned length, unsigned* bytesRead) {
    LayerState& layer = Layer();
    if (layer.currentPort == nullptr || buffer == nullptr || bytesRead == nullptr) return 5;
    if (length == 0) {
        *bytesRead = 0;
        return 0;
    }
    if (layer.fifoCount < length) {
        LogCurrent("ReadFIFO - ", "Read From Device", LOG_INFO);
        if (layer.fifoStart > 0) {
            std::memmove(layer.fifoBuffer, layer.fifoBuffer + layer.fifoStart, layer.fifoCount);
            layer.fifoStart = 0;
        }
        unsigned received = 0;
        int result = Read(reinterpret_cast<char*>(layer.fifoBuffer + layer.fifoCount),
                          static_cast<int>(kFifoSize - layer.fifoCount), &received);
        // Never trust a count beyond the free part of the FIFO.
        if (received > kFifoSize - layer.fifoCount) received = kFifoSize - layer.fifoCount;
        layer.fifoCount += received;
        if (result != 0) return result;
        if (layer.fifoCount < length) {
            LogCurrent("ReadFIFO - ", "FIFO Buffer small", LOG_INFO);
            return 3;
        }
    }
    LogCurrent("ReadFIFO - ", "Read From FIFO Buffer", LOG_INFO);
    std::memcpy(buffer, layer.fifoBuffer + layer.fifoStart, length);
    layer.fifoStart += length;
    layer.fifoCount -= length;
    if (layer.fifoCount == 0) layer.fifoStart = 0;
    *bytesRead = length;
    return 0;
}

SL_EXPORT int SL_CCALL Clean(int cleanTx, int cleanRx) {
    LayerState& layer = Layer();
    if (layer.currentPort == nullptr) return 5;
    if (cleanRx != 0 && layer.fifoCount > 0) EmptyFifo();
    if (layer.currentPort->linkType == kLinkEthernet) {
        LogCurrent("Clean - ", "Clean not supported for ethernet com type\n", LOG_INFO);
        return 221;
    }
    int code;
    PortRecord* port = DispatchTarget("Clean - ", true, false, &code);
    if (port == nullptr) return code;
    if (port->linkType == kLinkUsb) return port->usb->CleanUsb(cleanTx, cleanRx);
    return port->serial->CleanSerial(cleanTx, cleanRx);
}

SL_EXPORT int SL_CCALL Close(void) {
    int code;
    PortRecord* port = DispatchTarget("Close - ", true, true, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->CloseEth();
        case kLinkUsb:
            return port->usb->CloseUsb();
        default:
            return port->serial->CloseSerial();
    }
}

SL_EXPORT int SL_CCALL IsDeviceAvailable(void) {
    LayerState& layer = Layer();
    if (layer.currentPort == nullptr) return 5;
    switch (layer.currentPort->linkType) {
        case kLinkEthernet:
            return 0;
        case kLinkSerial:
            LogCurrent("IsDeviceAvailable - ", "IsDeviceAvailable() not supported for serial com\n",
                       LOG_ERROR);
            return 122;
        default:
            break;
    }
    int code;
    PortRecord* port = DispatchTarget("IsDeviceAvailable - ", true, false, &code);
    if (port == nullptr) return code;
    return port->usb->UsbIsAvailable();
}

SL_EXPORT int SL_CCALL SetPacketSize(int writePacketSize, int readPacketSize) {
    int code;
    PortRecord* port = DispatchTarget("SetPacketSize - ", true, true, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->SetPacketEth(writePacketSize, readPacketSize);
        case kLinkUsb:
            return port->usb->SetPacketUsb(writePacketSize, readPacketSize);
        default:
            return port->serial->SetPacketSerial(writePacketSize, readPacketSize);
    }
}

SL_EXPORT int SL_CCALL GetPacketSize(int* writePacketSize, int* readPacketSize) {
    int code;
    PortRecord* port = DispatchTarget(
        "GetPacketSize - ", writePacketSize != nullptr && readPacketSize != nullptr, true, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->GetPacketEth(writePacketSize, readPacketSize);
        case kLinkUsb:
            return port->usb->GetPacketUsb(writePacketSize, readPacketSize);
        default:
            return port->serial->GetPacketSerial(writePacketSize, readPacketSize);
    }
}

SL_EXPORT int SL_CCALL GetLastErrorComm(int* error) {
    int code;
    PortRecord* port = DispatchTarget("GetLastErrorComm - ", error != nullptr, false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->GetEthError(error);
        case kLinkUsb:
            return port->usb->GetUsbError(error);
        default:
            return port->serial->GetSerialError(error);
    }
}

SL_EXPORT int SL_CCALL ResetLastErrorComm(void) {
    int code;
    PortRecord* port = DispatchTarget("ResetLastErrorComm - ", true, false, &code);
    if (port == nullptr) return code;
    switch (port->linkType) {
        case kLinkEthernet:
            return port->ethernet->ResetEthError();
        case kLinkUsb:
            return port->usb->ResetUsbError();
        default:
            return port->serial->ResetSerialError();
    }
}

SL_VB_TWIN(Open, (void), ())
SL_VB_TWIN(Write, (const unsigned char* data, int length), (data, length))
SL_VB_TWIN(WriteF, (const char* filePath), (filePath))
SL_VB_TWIN(Read, (char* buffer, int bufferSize, unsigned* bytesRead),
           (buffer, bufferSize, bytesRead))
SL_VB_TWIN(ReadFIFO, (unsigned char* buffer, unsigned length, unsigned* bytesRead),
           (buffer, length, bytesRead))
SL_VB_TWIN(Clean, (int cleanTx, int cleanRx), (cleanTx, cleanRx))
SL_VB_TWIN(Close, (void), ())
SL_VB_TWIN(IsDeviceAvailable, (void), ())
SL_VB_TWIN(SetPacketSize, (int writePacketSize, int readPacketSize),
           (writePacketSize, readPacketSize))
SL_VB_TWIN(GetPacketSize, (int* writePacketSize, int* readPacketSize),
           (writePacketSize, readPacketSize))
SL_VB_TWIN(GetLastErrorComm, (int* error), (error))
SL_VB_TWIN(ResetLastErrorComm, (void), ())
