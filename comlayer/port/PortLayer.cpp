#include "comlayer/port/PortLayer.h"

#include <cstring>

#include "comlayer/log/CSvLogFile.h"

namespace {
// Built on first use rather than as a static object: the unload handler may
// run after the C++ runtime has destroyed static objects at process exit.
LayerState* layerState = nullptr;
}  // namespace

LayerState& Layer() {
    if (layerState == nullptr) layerState = new LayerState;
    return *layerState;
}

void ReleaseLayer() {
    delete layerState;
    layerState = nullptr;
}

void LogCurrent(const char* prefix, const char* message, int level) {
    PortRecord* port = Layer().currentPort;
    if (port != nullptr && port->log != nullptr) port->log->Write(prefix, message, level);
}

void EmptyFifo() {
    LayerState& layer = Layer();
    std::memset(layer.fifoBuffer, 0, sizeof layer.fifoBuffer);
    layer.fifoCount = 0;
    layer.fifoStart = 0;
}

static const char* CallingLine(int linkType) {
    switch (linkType) {
        case kLinkEthernet:
            return "Calling function in ethernet class\n";
        case kLinkUsb:
            return "Calling function in usb class\n";
        default:
            return "Calling function in serial class\n";
    }
}

PortRecord* DispatchTarget(const char* prefix, bool argsOk, bool errorLevelForSerialUsb,
                           int* code) {
    PortRecord* port = Layer().currentPort;
    if (port == nullptr || !argsOk) {
        *code = 5;
        return nullptr;
    }
    int level = (errorLevelForSerialUsb && port->linkType != kLinkEthernet) ? LOG_ERROR : LOG_INFO;
    port->log->Write(prefix, CallingLine(port->linkType), level);
    return port;
}

PortRecord* AcceptTransportCall(const char* prefix, int linkType, bool argsOk, int refusalCode,
                                int* code) {
    PortRecord* port = Layer().currentPort;
    if (port == nullptr || !argsOk) {
        *code = 5;
        return nullptr;
    }
    if (port->linkType != linkType) {
        static const char* const kRefusal[] = {
            "Serial function failed: a different com type has been setted\n",
            "Ethernet function failed: a different com type has been setted\n",
            "USB function failed: a different com type has been setted\n",
        };
        port->log->Write(prefix, kRefusal[linkType], LOG_ERROR);
        *code = refusalCode;
        return nullptr;
    }
    port->log->Write(prefix, CallingLine(linkType), LOG_INFO);
    return port;
}
