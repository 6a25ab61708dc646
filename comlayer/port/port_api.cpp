// Entry points that create, delete, select and describe ports, and the
// library's load/unload handler.
#include <cstdio>
#include <new>

#include "comlayer/ethernet/CSvComEth.h"
#include "comlayer/log/CSvLogFile.h"
#include "comlayer/port/PortLayer.h"
#include "comlayer/serial/CSvComSerial.h"
#include "comlayer/usb/CSvComUsb.h"
#include "platform/export.h"
#include "platform/library_state.h"

namespace {

void DestroyObjects(PortRecord* record) {
    delete record->serial;
    delete record->usb;
    delete record->ethernet;
    delete record->log;
}

void ClearCurrent() {
    Layer().currentPort = nullptr;
    Layer().currentPortId = 0;
}

}  // namespace

SL_EXPORT int SL_CCALL CreateCommunicationPort(int linkType, int logMode, int logLevelMask,
                                               const char* logPath, int* portId) {
    if (portId == nullptr) return 5;
    LayerState& layer = Layer();

    PortRecord* record = new (std::nothrow) PortRecord{};
    CSvComSerial* serial = new (std::nothrow) CSvComSerial();
    CSvComUsb* usb = new (std::nothrow) CSvComUsb();
    CSvComEth* ethernet = new (std::nothrow) CSvComEth();
    CSvLogFile* log = new (std::nothrow) CSvLogFile();
    if (record == nullptr || serial == nullptr || usb == nullptr || ethernet == nullptr ||
        log == nullptr) {
        delete record;
        delete serial;
        delete usb;
        delete ethernet;
        delete log;
        return 5;
    }

    ++layer.lastPortId;
    log->Configure(logMode, logLevelMask);
    log->OpenFile(logPath);
    serial->SetLog(log);
    usb->SetLog(log);
    ethernet->SetLog(log);
    log->Write("CreateCommunicationPort- ", "START\n", LOG_TRACE);

    record->serial = serial;
    record->usb = usb;
    record->ethernet = ethernet;
    record->log = log;
    record->linkType =
        (linkType == kLinkSerial || linkType == kLinkEthernet || linkType == kLinkUsb)
            ? linkType
            : kLinkSerial;
    record->id = layer.lastPortId;

    if (!layer.portList.AddTail(record)) {
        // Out of memory after all: no partial port stays and no ID is used.
        --layer.lastPortId;
        DestroyObjects(record);
        delete record;
        return 5;
    }
    *portId = layer.lastPortId;
    layer.currentPort = record;
    layer.currentPortId = record->id;
    log->Write("CreateCommunicationPort - ", "END\n", LOG_TRACE);
    return 0;
}

SL_EXPORT int SL_CCALL DeleteCommunicationPort(int portId) {
    LayerState& layer = Layer();
    int count = layer.portList.GetCount();
    for (int index = 0; index < count; ++index) {
        PortRecord* record = static_cast<PortRecord*>(layer.portList.GetAt(index));
        if (record == nullptr || record->id != portId) continue;
        char message[64];
        std::snprintf(message, sizeof message, "Deleting object with ID %d \n", portId);
        LogCurrent("DeleteCommunicationPort", message, LOG_INFO);
        DestroyObjects(record);
        layer.portList.RemoveAt(index);
        delete record;
        if (portId == layer.currentPortId) ClearCurrent();
        return 0;
    }
    LogCurrent("DeleteCommunicationPort - ", "ID not found\n", LOG_ERROR);
    return 6;
}

SL_EXPORT int SL_CCALL DeleteAllLayerItems(void) {
    LayerState& layer = Layer();
    LogCurrent("DeleteAllLayerItems - ",
               "Destroying all the communication ports and items associated...\n", LOG_INFO);
    int count = layer.portList.GetCount();
    for (int i = 0; i < count; ++i) {
        PortRecord* record = static_cast<PortRecord*>(layer.portList.RemoveTail());
        if (record != nullptr) {
            DestroyObjects(record);
            delete record;
        }
        ClearCurrent();
    }
    return 0;
}

SL_EXPORT int SL_CCALL SetCommunicationPort(int portId) {
    LayerState& layer = Layer();
    int count = layer.portList.GetCount();
    for (int index = 0; index < count; ++index) {
        PortRecord* record = static_cast<PortRecord*>(layer.portList.GetAt(index));
        if (record == nullptr || record->id != portId) continue;
        char message[64];
        std::snprintf(message, sizeof message, "Communication ID will be setted to %d \n", portId);
        LogCurrent("SetCommunicationPort - ", message, LOG_INFO);
        layer.currentPort = record;
        layer.currentPortId = portId;
        return 0;
    }
    LogCurrent("SetCommunicationPort - ", "ID not found\n", LOG_ERROR);
    return 4;
}

SL_EXPORT int SL_CCALL GetIDPort(int* portId) {
    LayerState& layer = Layer();
    if (layer.currentPort == nullptr || portId == nullptr) return 5;
    layer.currentPort->log->Writef("GetIDPort - ", LOG_INFO, "Current ID port configured: %d \n",
                                   layer.currentPortId);
    *portId = layer.currentPortId;
    return 0;
}

SL_EXPORT int SL_CCALL GetLayerStatus(int* linkType) {
    LayerState& layer = Layer();
    if (layer.currentPort == nullptr || linkType == nullptr) return 5;
    *linkType = layer.currentPort->linkType;
    layer.currentPort->log->Writef("GetLayerStatus - ", LOG_INFO,
                                   "Current communication status: %d \n", *linkType);
    return 0;
}

extern "C" int SorlinkMain(int reason) {
    if (reason == 0) return SorlinkDetach(DetachKind::kReleaseAll);
    // Only attach: a host starts and ends threads at any time (a JVM, a
    // thread pool), and bytes held in the FIFO wait for the caller's next
    // ReadFIFO whichever thread makes it.
    if (reason == 1) EmptyFifo();
    return 1;
}

int SorlinkDetach(DetachKind kind) {
    LayerState& layer = Layer();
    if (layer.currentPort != nullptr) LogCurrent("Main - ", "Process detach\n", LOG_INFO);
    EmptyFifo();
    if (kind == DetachKind::kProcessExit) return 1;
    if (kind == DetachKind::kKeepSocketLibrary) {
        int count = layer.portList.GetCount();
        for (int index = 0; index < count; ++index) {
            auto* record = static_cast<PortRecord*>(layer.portList.GetAt(index));
            if (record != nullptr) record->ethernet->KeepSocketLibrary();
        }
    }
    // Ports left without a current one are freed too (silently, as no log
    // is current), so unloading never leaks them.
    DeleteAllLayerItems();
    ReleaseLayer();
    // A host that loads and unloads the library again and again (a service
    // retrying an offline printer) must not grow by what the backend keeps.
    plat::ReleaseLibraryState();
    return 1;
}

SL_VB_TWIN(CreateCommunicationPort,
           (int linkType, int logMode, int logLevelMask, const char* logPath, int* portId),
           (linkType, logMode, logLevelMask, logPath, portId))
SL_VB_TWIN(DeleteCommunicationPort, (int portId), (portId))
SL_VB_TWIN(DeleteAllLayerItems, (void), ())
SL_VB_TWIN(SetCommunicationPort, (int portId), (portId))
SL_VB_TWIN(GetIDPort, (int* portId), (portId))
SL_VB_TWIN(GetLayerStatus, (int* linkType), (linkType))
